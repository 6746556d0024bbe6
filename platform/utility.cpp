// Timing and the event pump that every wait loop of the program calls.
#include "platform/utility.h"
#include "platform/internal.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <thread>

namespace {
// Long enough for a wait loop to cost next to nothing, short enough to be invisible next to
// the 18.75 ms that a 36-byte frame takes on the wire.
constexpr int kIdleWaitMs = 2;

const auto clockStart = std::chrono::steady_clock::now();
} // namespace

double Timer() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - clockStart).count();
}

void Delay(double seconds) {
    if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int ProcessSystemEvents() {
    if (!QCoreApplication::instance())
        return 0;
    QAbstractEventDispatcher *dispatcher =
        QAbstractEventDispatcher::instance(QThread::currentThread());
    if (dispatcher && !dispatcher->processEvents(QEventLoop::AllEvents)) {
        static QPointer<QTimer> wake;
        if (!wake) {
            wake = new QTimer(QCoreApplication::instance());
            wake->setSingleShot(true);
            wake->setTimerType(Qt::PreciseTimer);
        }
        wake->start(kIdleWaitMs);
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        wake->stop();
    }
    kvexplatform::dispatchComCallbacks();
    return 0;
}
