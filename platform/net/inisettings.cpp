// INI files through QSettings, so the format is the one Qt programs and their tools share.
#include "platform/inisettings.h"

#include <QFileInfo>
#include <QSettings>

bool readIniFile(const std::string &path, std::map<std::string, std::string> *values,
                 std::string *error) {
    const QString file = QString::fromStdString(path);
    const QFileInfo info(file);
    if (!info.isFile() || !info.isReadable()) {
        *error = "cannot read " + path;
        return false;
    }
    const QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        *error = path + " is not an INI file";
        return false;
    }
    for (const QString &key : settings.allKeys()) {
        const QVariant value = settings.value(key);
        // A value with commas reads as a list; the gateway's keys take it as written.
        const QString text = value.typeId() == QMetaType::QStringList
                                 ? value.toStringList().join(QLatin1Char(','))
                                 : value.toString();
        (*values)[key.toStdString()] = text.toStdString();
    }
    return true;
}
