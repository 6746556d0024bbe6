// The operator's language: choosing it, loading the catalogues, and translating program texts.
#include "platform/language.h"
#include "platform/core/translation.h"
#include "platform/tr.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

#include <clocale>
#include <map>
#include <memory>
#include <mutex>

namespace {

// The gateway translates on its polling thread and its web thread while the language may be
// switched on the main one: language, translating and translatedTexts are read and written under
// stateLock only. The catalogues themselves belong to the thread that calls useLanguage; Qt's own
// lock covers translating with them while they are installed or removed.
std::mutex stateLock;
std::string language = "en";
// Whether the program's catalogue is installed: what the translating functions look at instead of
// programCatalogue, which useLanguage replaces.
bool translating = false;
std::unique_ptr<QTranslator> programCatalogue;
std::unique_ptr<QTranslator> qtCatalogue;
// Per language, so a text handed out stays valid when a test switches languages; std::map's nodes
// never move, so a pointer into one outlives the lock.
std::map<std::string, std::map<std::string, std::string>> translatedTexts;

std::string lockedLanguage() {
    const std::lock_guard<std::mutex> lock(stateLock);
    return language;
}

bool isTranslating() {
    const std::lock_guard<std::mutex> lock(stateLock);
    return translating;
}

void setLanguageState(const std::string &code, bool catalogue) {
    const std::lock_guard<std::mutex> lock(stateLock);
    language = code;
    translating = catalogue;
}

// The text in the installed catalogue's language as UTF-8, or the program's bytes unchanged.
std::string translatedBytes(const char *text) {
    if (*text) {
        const QString translated = QCoreApplication::translate(kvexplatform::kTextContext, text);
        if (translated != QString::fromUtf8(text))
            return translated.toStdString();
    }
    return text;
}

std::unique_ptr<QSettings> openSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "kvex-rtn",
                                       "kvex-rtn");
}

// Beside the program, then the data folder of an installation wherever its root lies, then the
// one it was built for: where the panel file is found.
QStringList catalogueFolders() {
    const QString programFolder = QCoreApplication::applicationDirPath();
    QStringList folders{programFolder, QDir(programFolder).filePath("../share/kvex-rtn")};
#ifdef KVEX_DATA_DIR
    folders << QStringLiteral(KVEX_DATA_DIR);
#endif
    return folders;
}

bool loadProgramCatalogue(QTranslator &translator, const std::string &code) {
    const QString name = QStringLiteral("kvex-rtn_%1.qm").arg(QString::fromStdString(code));
    for (const QString &folder : catalogueFolders()) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path) && translator.load(path))
            return true;
    }
    return false;
}

void removeCatalogues() {
    if (programCatalogue)
        QCoreApplication::removeTranslator(programCatalogue.get());
    if (qtCatalogue)
        QCoreApplication::removeTranslator(qtCatalogue.get());
    programCatalogue.reset();
    qtCatalogue.reset();
}

// Spin boxes and the like format with the default locale: the language's decimal separator, no
// thousands separator, so raw words stay plain integers.
void setShownNumbers() {
    QLocale numbers = lockedLanguage() == "de" ? QLocale(QLocale::German, QLocale::Germany)
                                               : QLocale(QLocale::English, QLocale::UnitedStates);
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    QLocale::setDefault(numbers);
}

std::string systemLanguage() {
    return QLocale::system().language() == QLocale::German ? "de" : "en";
}

} // namespace

namespace kvexplatform {

bool languageOption(int argc, char **argv, std::string &value) {
    value.clear();
    for (int i = 1; i < argc && argv[i]; ++i) {
        const std::string arg = argv[i];
        if (arg == "--lang")
            value = i + 1 < argc && argv[i + 1] ? argv[i + 1] : "";
        else if (arg.rfind("--lang=", 0) == 0)
            value = arg.substr(7);
        else
            continue;
        return value == "de" || value == "en";
    }
    return true;
}

std::string useLanguage(const std::string &wanted, bool useStoredChoice) {
    keepNumbersPortable();
    std::string code = wanted;
    if (code.empty() && useStoredChoice)
        code = storedLanguage();
    if (code.empty())
        code = systemLanguage();
    // Texts asked for from now on are English until the German catalogue is in place.
    setLanguageState("en", false);
    removeCatalogues();
    setShownNumbers();
    if (code != "de" || !QCoreApplication::instance())
        return "en";
    auto program = std::make_unique<QTranslator>();
    if (!loadProgramCatalogue(*program, code))
        return "en";
    QCoreApplication::installTranslator(program.get());
    programCatalogue = std::move(program);
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(QLocale(QLocale::German), "qtbase", "_",
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        qtCatalogue = std::move(qt);
    }
    setLanguageState(code, true);
    setShownNumbers();
    return code;
}

std::string currentLanguage() {
    return lockedLanguage();
}

char shownDecimalSeparator() {
    return lockedLanguage() == "de" ? ',' : '.';
}

std::string storedLanguage() {
    const std::string value = openSettings()->value("language").toString().toStdString();
    return value == "de" || value == "en" ? value : std::string();
}

void storeLanguage(const std::string &value) {
    const std::unique_ptr<QSettings> settings = openSettings();
    if (value == "de" || value == "en")
        settings->setValue("language", QString::fromStdString(value));
    else
        settings->remove("language");
    settings->sync();
}

void keepNumbersPortable() {
    std::setlocale(LC_NUMERIC, "C");
}

QString programText(const char *text) {
    const QByteArray bytes(text ? text : "");
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : utf8;
}

QString shownText(const char *text) {
    if (text && *text && isTranslating()) {
        const QString translated = QCoreApplication::translate(kTextContext, text);
        if (translated != QString::fromUtf8(text))
            return translated;
    }
    return programText(text);
}

std::string shownBytes(const char *text) {
    if (!text)
        return "";
    return isTranslating() ? translatedBytes(text) : text;
}

} // namespace kvexplatform

namespace kvex {

const char *trNow(const char *text) {
    if (!text)
        return text;
    const std::lock_guard<std::mutex> lock(stateLock);
    if (!translating)
        return text;
    std::map<std::string, std::string> &texts = translatedTexts[language];
    auto it = texts.find(text);
    if (it == texts.end())
        it = texts.emplace(text, translatedBytes(text)).first;
    return it->second.c_str();
}

std::string trArgs(const char *text, std::initializer_list<std::string> args) {
    const std::string pattern = trNow(text);
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        const size_t index = static_cast<size_t>(next - '1');
        if (pattern[i] == '%' && next >= '1' && next <= '9' && index < args.size()) {
            out += *(args.begin() + index);
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

} // namespace kvex
