// What a USB serial adapter's driver says about its latency timer.
#include "platform/rs232.h"

#include <QFile>
#include <QFileInfo>

int portLatencyTimer(const std::string &device) {
#ifdef __linux__
    // /dev/serial/by-id/... names are links: the tty's own name is what sysfs knows.
    const QString real = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
    if (real.isEmpty())
        return -1;
    QFile timer("/sys/class/tty/" + QFileInfo(real).fileName() + "/device/latency_timer");
    if (!timer.open(QIODevice::ReadOnly))
        return -1;
    bool number = false;
    const int ms = timer.readAll().trimmed().toInt(&number);
    return number && ms >= 0 ? ms : -1;
#else
    (void)device;
    return -1;
#endif
}
