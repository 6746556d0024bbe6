// Serial port services over Qt SerialPort, with receive callbacks delivered on the program's
// thread.
#include "platform/rs232.h"
#include "platform/core/internal.h"
#include "platform/qtaccess.h"
#include "platform/utility.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <map>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace {

constexpr int kMaxPortNumber = 1000;
constexpr int kDefaultQueueSize = 512;
// Port errors with no data in between after which the device counts as gone.
constexpr int kErrorsOfALostDevice = 20;
// How long before an answer can be complete the port watches the line again: room for a late
// timer, paid for with a wake-up for each of the few bytes that come meanwhile.
constexpr double kListenEarlySeconds = 0.003;

struct ComPort;
void listenAgain(ComPort *p);

struct ComPort {
    ComPort() {
        quietTimer.setSingleShot(true);
        quietTimer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&quietTimer, &QTimer::timeout, [this] { listenAgain(this); });
    }
    QSerialPort serial;
    double timeoutSeconds = 10.0;
    int eventMask = 0;
    int notifyCount = 0;
    ComCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    // The device vanished (USB adapter pulled, pseudo-terminal closed): every call treats the
    // port as closed from then on, without an error storm.
    bool gone = false;
    int errorsInARow = 0;
    // The driver's VMIN as last set; the port opens with 0.
    int wakeCount = 0;
    // Bytes a wait loop without a callback waits for (SetComWakeCount).
    int awaitedBytes = 0;
    // The last write, on Timer()'s clock: its answer cannot be complete before the written and
    // the awaited bytes have crossed the wire.
    double sentAt = 0.0;
    int sentBytes = 0;
    // Until Timer() reaches this, the port does not watch the line; 0 while it does.
    double quietUntil = 0.0;
    // Qt's read notification of the port: while it is off, the event loop does not poll the
    // device, so the kernel has no reason to wake the thread for each byte that arrives.
    QPointer<QSocketNotifier> readNotifier;
    QTimer quietTimer;
};

std::map<int, std::unique_ptr<ComPort>> openPorts;
// Port number -> device path and description.
std::map<int, std::pair<std::string, std::string>> boundDevices;
std::vector<SerialPortEntry> enumeratedPorts;
bool portsEnumerated = false;
bool callbackRunning = false;
ComTapPtr comTap = nullptr;
bool dispatchQueued = false;
bool wireWait = true;

bool isUsbAdapter(const QSerialPortInfo &info) {
    const QString name = info.portName();
    return info.hasVendorIdentifier() || name.startsWith("ttyUSB") || name.startsWith("ttyACM") ||
           name.contains("usb", Qt::CaseInsensitive);
}

// "ttyS10" after "ttyS2": compare the text part, then the number at the end.
bool naturalLess(const QString &a, const QString &b) {
    auto split = [](const QString &s) {
        int i = s.size();
        while (i > 0 && s.at(i - 1).isDigit())
            --i;
        return std::make_pair(s.left(i), s.mid(i).isEmpty() ? -1 : s.mid(i).toInt());
    };
    return split(a) < split(b);
}

void enumeratePorts() {
    if (portsEnumerated)
        return;
    portsEnumerated = true;
#ifndef Q_OS_WIN
    QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
#ifdef Q_OS_MACOS
    // The call-out devices; their tty twins wait for carrier detect on open.
    infos.erase(
        std::remove_if(infos.begin(), infos.end(),
                       [](const QSerialPortInfo &i) { return i.portName().startsWith("tty."); }),
        infos.end());
#endif
    std::stable_sort(infos.begin(), infos.end(),
                     [](const QSerialPortInfo &a, const QSerialPortInfo &b) {
                         const bool ua = isUsbAdapter(a), ub = isUsbAdapter(b);
                         if (ua != ub)
                             return ua;
                         return naturalLess(a.portName(), b.portName());
                     });
    int number = 1;
    for (const QSerialPortInfo &info : infos) {
        QString description = info.description();
        if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer()))
            description = description.isEmpty() ? info.manufacturer()
                                                : description + " (" + info.manufacturer() + ")";
        // Two adapters of one make differ only in their serial number.
        if (!info.serialNumber().isEmpty())
            description += (description.isEmpty() ? "S/N " : ", S/N ") + info.serialNumber();
        enumeratedPorts.push_back(
            {number++, info.systemLocation().toStdString(), description.toStdString()});
    }
#endif
}

ComPort *openPort(int port) {
    auto it = openPorts.find(port);
    if (it == openPorts.end() || it->second->gone || !it->second->serial.isOpen())
        return nullptr;
    return it->second.get();
}

// Moves what the operating system holds into the port's queue without running any callback.
void pullArrivedBytes(ComPort *p) {
    if (p->serial.isOpen() && !p->gone)
        p->serial.waitForReadyRead(0);
}

// Bytes arrive one at a time; waking the program for each of them costs more than everything
// else a live loop does. While a receive callback waits for its notification, the driver is
// told to report the port readable only once the rest of it is in (VMIN), so a wait loop sleeps
// until a whole frame came or its time ran out. `count` 0 reports every byte.
void setWakeCount(ComPort *p, int count) {
#ifdef Q_OS_UNIX
    count = std::clamp(count, 0, 255);
    const int fd = static_cast<int>(p->serial.handle());
    termios settings{};
    if (count == p->wakeCount || fd < 0 || tcgetattr(fd, &settings) != 0)
        return;
    settings.c_cc[VMIN] = static_cast<cc_t>(count);
    if (tcsetattr(fd, TCSANOW, &settings) == 0)
        p->wakeCount = count;
#else
    (void)p;
    (void)count;
#endif
}

// The bytes an armed receive callback's notification or a wait loop is waiting for; 0: none.
int answerBytes(const ComPort *p) {
    const bool callbackWaits =
        p->callback && p->notifyCount > 0 && (p->eventMask & LWRS_RECEIVE) != 0;
    return callbackWaits ? p->notifyCount : p->awaitedBytes;
}

// The bytes the callback or a wait loop still waits for, or 0 when nothing waits.
int bytesStillAwaited(ComPort *p) {
    const int awaited = answerBytes(p);
    if (awaited <= 0)
        return 0;
    return std::max(1, awaited - static_cast<int>(p->serial.bytesAvailable()));
}

// Bytes the driver holds that the port's queue has not taken yet: with a wake count set, a
// readiness check does not see them.
int bytesHeldByDriver(ComPort *p) {
#ifdef Q_OS_UNIX
    int held = 0;
    if (ioctl(static_cast<int>(p->serial.handle()), FIONREAD, &held) == 0 && held > 0)
        return held;
#else
    (void)p;
#endif
    return 0;
}

// Qt SerialPort has no call that stops it watching the device; its read notifier is a child of
// the port, looked up once per opening.
QSocketNotifier *readNotifierOf(ComPort *p) {
    if (!p->readNotifier)
        for (QSocketNotifier *n :
             p->serial.findChildren<QSocketNotifier *>(Qt::FindDirectChildrenOnly))
            if (n->type() == QSocketNotifier::Read)
                p->readNotifier = n;
    return p->readNotifier;
}

void watchLine(ComPort *p, bool on) {
    QSocketNotifier *notifier = readNotifierOf(p);
    if (notifier && notifier->isEnabled() != on)
        notifier->setEnabled(on);
}

void listenAgain(ComPort *p) {
    p->quietUntil = 0.0;
    p->quietTimer.stop();
    if (p->serial.isOpen() && !p->gone)
        watchLine(p, true);
}

// Seconds one character takes on the wire: start bit, data bits, parity and stop bits.
double characterSeconds(const QSerialPort &serial) {
    const double stopBits = serial.stopBits() == QSerialPort::TwoStop          ? 2.0
                            : serial.stopBits() == QSerialPort::OneAndHalfStop ? 1.5
                                                                               : 1.0;
    const double bits =
        1 + serial.dataBits() + (serial.parity() == QSerialPort::NoParity ? 0 : 1) + stopBits;
    return serial.baudRate() > 0 ? bits / serial.baudRate() : 0.0;
}

// After a write, with a known number of bytes awaited, the answer cannot be complete before the
// written and the awaited bytes have crossed the wire: the port stops watching the line until
// shortly before then, and a timer brings it back. The event loop serves everything else
// meanwhile; only the bytes of the answer go unnoticed until they can all be there.
void quietenForTheWire(ComPort *p) {
    const int awaited = answerBytes(p);
    const double until =
        p->sentAt + (p->sentBytes + awaited) * characterSeconds(p->serial) - kListenEarlySeconds;
    const double left = until - Timer();
    if (!wireWait || p->sentBytes <= 0 || awaited <= 0 || left <= 0.0 ||
        !QCoreApplication::instance()) {
        if (p->quietUntil > 0.0)
            listenAgain(p);
        return;
    }
    p->quietUntil = until;
    watchLine(p, false);
    p->quietTimer.start(static_cast<int>(left * 1000.0));
}

void queueDispatch() {
    if (dispatchQueued || !QCoreApplication::instance())
        return;
    dispatchQueued = true;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            dispatchQueued = false;
            kvexplatform::dispatchComCallbacks();
        },
        Qt::QueuedConnection);
}

int openErrorCode(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return kComCannotOpenPort;
    case QSerialPort::ResourceError:
        return kComUnknownIOError;
    case QSerialPort::UnsupportedOperationError:
        return kComInvalidParameter;
    default:
        return kComUnknownSystemError;
    }
}

} // namespace

namespace kvexplatform {

QSerialPort *serialPort(int port) {
    ComPort *p = openPort(port);
    return p ? &p->serial : nullptr;
}

void dispatchComCallbacks() {
    if (callbackRunning)
        return;
    std::vector<int> numbers;
    for (const auto &entry : openPorts)
        numbers.push_back(entry.first);
    for (int number : numbers) {
        ComPort *p = openPort(number);
        if (!p || !p->callback || p->notifyCount <= 0 || !(p->eventMask & LWRS_RECEIVE))
            continue;
        // Bytes the system holds are pending events too.
        if (p->serial.bytesAvailable() < p->notifyCount)
            pullArrivedBytes(p);
        if (p->serial.bytesAvailable() < p->notifyCount) {
            setWakeCount(p, bytesStillAwaited(p));
            continue;
        }
        ComCallbackPtr callback = p->callback;
        void *data = p->callbackData;
        callbackRunning = true;
        callback(number, LWRS_RECEIVE, data);
        callbackRunning = false;
        // The callback may have closed or re-armed the port; look it up again.
        ComPort *after = openPort(number);
        if (after && after->callback && after->notifyCount > 0 &&
            after->serial.bytesAvailable() >= after->notifyCount)
            queueDispatch();
    }
}

} // namespace kvexplatform

std::vector<SerialPortEntry> listSerialPorts() {
    enumeratePorts();
#ifdef Q_OS_WIN
    std::vector<SerialPortEntry> list;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString name = info.portName();
        if (name.startsWith("COM"))
            list.push_back(
                {name.mid(3).toInt(), name.toStdString(), info.description().toStdString()});
    }
    std::sort(list.begin(), list.end(), [](const SerialPortEntry &a, const SerialPortEntry &b) {
        return a.number < b.number;
    });
#else
    std::vector<SerialPortEntry> list = enumeratedPorts;
#endif
    for (const auto &binding : boundDevices) {
        auto same = std::find_if(list.begin(), list.end(), [&](const SerialPortEntry &e) {
            return e.number == binding.first;
        });
        const SerialPortEntry entry{binding.first, binding.second.first, binding.second.second};
        if (same != list.end())
            *same = entry;
        else
            list.push_back(entry);
    }
    std::sort(list.begin(), list.end(), [](const SerialPortEntry &a, const SerialPortEntry &b) {
        return a.number < b.number;
    });
    return list;
}

void bindPortDevice(int port, const std::string &devicePath, const std::string &description) {
    if (devicePath.empty())
        boundDevices.erase(port);
    else
        boundDevices[port] = {devicePath, description};
}

std::string portDevicePath(int port) {
    auto bound = boundDevices.find(port);
    if (bound != boundDevices.end())
        return bound->second.first;
#ifdef Q_OS_WIN
    return "COM" + std::to_string(port);
#else
    enumeratePorts();
    if (port >= 1 && port <= static_cast<int>(enumeratedPorts.size()))
        return enumeratedPorts[port - 1].device;
    return "";
#endif
}

int OpenComConfig(int port, const char *deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize) {
    if (port < 1 || port > kMaxPortNumber)
        return kComInvalidPortNumber;
    if (baudRate <= 0 || parity < 0 || parity > 4 || dataBits < 5 || dataBits > 8 || stopBits < 1 ||
        stopBits > 2 || inputQueueSize < 0 || outputQueueSize < 0)
        return kComInvalidParameter;
    CloseCom(port);
    kvexplatform::recordOpenFailure("", "");

    std::string device = deviceName && *deviceName ? deviceName : portDevicePath(port);
    if (device.empty()) {
        enumeratePorts();
        return enumeratedPorts.empty() && boundDevices.empty() ? kComNoSerialPortFound
                                                               : kComInvalidPortNumber;
    }

    auto p = std::make_unique<ComPort>();
    p->serial.setPortName(QString::fromStdString(device));
    if (!p->serial.open(QIODevice::ReadWrite)) {
        kvexplatform::recordOpenFailure(device, p->serial.errorString().toStdString());
        return openErrorCode(p->serial.error());
    }

    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                   QSerialPort::SpaceParity};
    const bool configured =
        p->serial.setBaudRate(static_cast<qint32>(baudRate)) &&
        p->serial.setDataBits(static_cast<QSerialPort::DataBits>(dataBits)) &&
        p->serial.setParity(parities[parity]) &&
        p->serial.setStopBits(stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
        p->serial.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        p->serial.close();
        return kComInvalidParameter;
    }
    p->serial.setReadBufferSize(inputQueueSize > 0 ? inputQueueSize : kDefaultQueueSize);

    ComPort *raw = p.get();
    QObject::connect(&raw->serial, &QSerialPort::readyRead, [raw] {
        raw->errorsInARow = 0;
        // Bytes arrive one by one; only a complete notification is worth a dispatch.
        if (raw->callback && raw->serial.bytesAvailable() >= raw->notifyCount)
            queueDispatch();
    });
    QObject::connect(&raw->serial, &QSerialPort::bytesWritten, [raw] { raw->errorsInARow = 0; });
    QObject::connect(&raw->serial, &QSerialPort::errorOccurred,
                     [raw, port](QSerialPort::SerialPortError error) {
                         // A vanished device shows as read or resource errors that repeat for
                         // as long as the port stays open. One such error on its own can be a
                         // passing one (a queue flushed under a pending notification, a full
                         // buffer), so only a run of them without data in between counts.
                         if (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
                             error != QSerialPort::ResourceError)
                             return;
                         if (++raw->errorsInARow < kErrorsOfALostDevice || raw->gone)
                             return;
                         raw->gone = true;
                         // Closing from inside the port's own notification is not safe; the
                         // port is treated as closed from here on anyway.
                         QMetaObject::invokeMethod(
                             QCoreApplication::instance(),
                             [port, raw] {
                                 auto it = openPorts.find(port);
                                 if (it != openPorts.end() && it->second.get() == raw)
                                     raw->serial.close();
                             },
                             Qt::QueuedConnection);
                     });
    openPorts[port] = std::move(p);
    kvexplatform::askForLowLatency(port, device);
    return 0;
}

int CloseCom(int port) {
    auto it = openPorts.find(port);
    if (it == openPorts.end())
        return 0;
    it->second->serial.close();
    openPorts.erase(it);
    return 0;
}

int SetComTime(int port, double timeoutSeconds) {
    auto it = openPorts.find(port);
    if (it == openPorts.end())
        return kComPortNotOpen;
    if (timeoutSeconds < 0)
        return kComInvalidParameter;
    it->second->timeoutSeconds = timeoutSeconds;
    return 0;
}

int SetCTSMode(int port, int mode) {
    ComPort *p = openPort(port);
    if (!p)
        return kComPortNotOpen;
    return p->serial.setFlowControl(mode ? QSerialPort::HardwareControl
                                         : QSerialPort::NoFlowControl)
               ? 0
               : kComInvalidParameter;
}

int InstallComCallback(int port, int eventMask, int notifyCount, int, ComCallbackPtr callback,
                       void *callbackData) {
    auto it = openPorts.find(port);
    if (it == openPorts.end())
        return kComPortNotOpen;
    if (notifyCount < 0)
        return kComInvalidParameter;
    ComPort *p = it->second.get();
    p->eventMask = callback ? eventMask : 0;
    p->notifyCount = notifyCount;
    p->callback = callback;
    p->callbackData = callbackData;
    setWakeCount(p, bytesStillAwaited(p));
    quietenForTheWire(p);
    if (callback)
        queueDispatch();
    return 0;
}

int SetComWakeCount(int port, int count) {
    ComPort *p = openPort(port);
    if (!p)
        return kComPortNotOpen;
    if (count < 0)
        return kComInvalidParameter;
    p->awaitedBytes = count;
    setWakeCount(p, bytesStillAwaited(p));
    quietenForTheWire(p);
    return 0;
}

int ComWrt(int port, const char *buffer, int count) {
    ComPort *p = openPort(port);
    if (!p)
        return kComPortNotOpen;
    if (!buffer || count < 0)
        return kComInvalidParameter;
    const double sentAt = Timer();
    const qint64 written = p->serial.write(buffer, count);
    if (written < 0)
        return kComUnknownIOError;
    // Hand the bytes to the driver now: the caller may not pump events for a while.
    p->serial.flush();
    p->sentAt = sentAt;
    p->sentBytes = static_cast<int>(written);
    quietenForTheWire(p);
    if (comTap)
        comTap(port, true, buffer, static_cast<int>(written), count);
    return static_cast<int>(written);
}

int ComRd(int port, char *buffer, int count) {
    ComPort *p = openPort(port);
    if (!p)
        return kComPortNotOpen;
    if (!buffer || count < 0)
        return kComInvalidParameter;
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = static_cast<qint64>(p->timeoutSeconds * 1000.0);
    int got = 0;
    while (got < count) {
        const qint64 n = p->serial.read(buffer + got, count - got);
        if (n > 0)
            got += static_cast<int>(n);
        if (got >= count)
            break;
        const qint64 remaining = limitMs - clock.elapsed();
        // A read waits for the bytes it asks for, not for the callback's notification.
        setWakeCount(p, 0);
        if (remaining <= 0 || p->gone || !p->serial.waitForReadyRead(static_cast<int>(remaining)))
            break;
    }
    // Reading makes Qt watch the device again.
    if (p->quietUntil > 0.0)
        watchLine(p, false);
    if (comTap)
        comTap(port, false, buffer, got, count);
    return got;
}

int GetInQLen(int port) {
    ComPort *p = openPort(port);
    if (!p)
        return kComPortNotOpen;
    pullArrivedBytes(p);
    setWakeCount(p, bytesStillAwaited(p));
    return static_cast<int>(p->serial.bytesAvailable()) + bytesHeldByDriver(p);
}

int FlushInQ(int port) {
    ComPort *p = openPort(port);
    if (!p)
        return kComPortNotOpen;
    p->serial.clear(QSerialPort::Input);
    return 0;
}

int FlushOutQ(int port) {
    ComPort *p = openPort(port);
    if (!p)
        return kComPortNotOpen;
    p->serial.clear(QSerialPort::Output);
    return 0;
}

bool comDeviceGone(int port) {
    auto it = openPorts.find(port);
    return it != openPorts.end() && it->second->gone;
}

bool comDevicePresent(int port) {
    const std::string path = portDevicePath(port);
    if (path.empty())
        return false;
#ifdef Q_OS_WIN
    const QString name = QString::fromStdString(path);
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (info.portName() == name)
            return true;
    return false;
#else
    return QFileInfo::exists(QString::fromStdString(path));
#endif
}

void setComTap(ComTapPtr tap) {
    comTap = tap;
}

void setComWireWait(bool on) {
    wireWait = on;
    if (!on)
        for (const auto &entry : openPorts)
            if (entry.second->quietUntil > 0.0)
                listenAgain(entry.second.get());
}
