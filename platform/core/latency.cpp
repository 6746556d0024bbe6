// What a USB serial adapter's driver says about its latency timer, and asking it for low latency.
#include "platform/core/internal.h"
#include "platform/qtaccess.h"
#include "platform/rs232.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>

#include <map>

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

bool lowLatencyWanted = true;
// Port number -> the latency timer read back when it was last opened.
std::map<int, int> openedTimers;

} // namespace

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

void setLowLatencyRequested(bool on) {
    lowLatencyWanted = on;
}

bool lowLatencyRequested() {
    return lowLatencyWanted;
}

int comLatencyTimer(int port) {
    const auto it = openedTimers.find(port);
    return it != openedTimers.end() && kvexplatform::serialPort(port) ? it->second : -1;
}

namespace kvexplatform {

void askForLowLatency(int port, const std::string &device) {
#ifdef __linux__
    const QSerialPort *open = serialPort(port);
    const int fd = open ? static_cast<int>(open->handle()) : -1;
    // An unprivileged caller may change only the user flags, and the driver compares everything
    // else with what it has: the request must carry back exactly what the driver reported.
    serial_struct serial{};
    if (lowLatencyWanted && fd >= 0 && ioctl(fd, TIOCGSERIAL, &serial) == 0 &&
        (serial.flags & ASYNC_LOW_LATENCY) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        // Pseudo-terminals and drivers before Linux 5.13 refuse; the port works as before.
        ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
    // What the driver made of the request, not what was asked.
    openedTimers[port] = portLatencyTimer(device);
}

} // namespace kvexplatform
