// The device watch: a timer on the program's thread that looks for the device's path.
#include "platform/devicewatch.h"
#include "platform/rs232.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace {

// Finds a device plugged back in at once, at the cost of a file-system look-up.
constexpr int kPollMs = 500;

QPointer<QTimer> timer;
bool offered = false;

} // namespace

void watchDeviceReturn(std::function<int()> port, std::function<void()> back) {
    stopDeviceWatch();
    if (!QCoreApplication::instance())
        return;
    timer = new QTimer(QCoreApplication::instance());
    offered = false;
    QObject::connect(timer, &QTimer::timeout, [port = std::move(port), back = std::move(back)] {
        const int p = port();
        if (!comDeviceGone(p)) {
            offered = false;
            return;
        }
        if (!offered && comDevicePresent(p)) {
            offered = true;
            back();
        }
    });
    timer->start(kPollMs);
}

void stopDeviceWatch() {
    delete timer;
}
