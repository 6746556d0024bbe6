// Timing and the event pump that every wait loop of the program calls.
#include "platform/utility.h"
#include "platform/core/internal.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <thread>

namespace {
// The longest an idle wait blocks when no event comes: serial bytes, timers and input wake it at
// once, so this only bounds how late a wait loop sees its own time limit pass.
constexpr int kIdleWaitMs = 50;

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
