// The event wait of the gateway's loops: one blocking pass of the event dispatcher, woken by a
// timer at the latest.
#include "platform/eventwait.h"
#include "platform/core/internal.h"
#include "platform/utility.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>

void waitForEvents(double seconds) {
    QAbstractEventDispatcher *dispatcher =
        QCoreApplication::instance() ? QAbstractEventDispatcher::instance(QThread::currentThread())
                                     : nullptr;
    if (!dispatcher) {
        Delay(seconds);
        return;
    }
    static QPointer<QTimer> wake;
    if (!wake) {
        wake = new QTimer(QCoreApplication::instance());
        wake->setSingleShot(true);
        wake->setTimerType(Qt::PreciseTimer);
    }
    wake->start(std::max(0, static_cast<int>(seconds * 1000.0)));
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wake->stop();
    kvexplatform::dispatchComCallbacks();
}
