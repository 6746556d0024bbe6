// Stop signals through a self-pipe: the handler only writes a byte, and a socket notifier on the
// pipe's other end hands the signal to the program's thread, where stopping is safe.
#include "platform/stopsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};
std::function<void(int)> stopHandler;
std::function<void()> reloadHandler;

void onSignal(int number) {
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
}

// The pipe and its notifier, made once; false when no pipe could be made.
bool openPipe() {
    if (pipeEnds[0] >= 0)
        return true;
    if (::pipe(pipeEnds) != 0)
        return false;
    for (int end : pipeEnds)
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    auto *notifier =
        new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char byte = 0;
        while (::read(pipeEnds[0], &byte, 1) == 1) {
            if (byte == SIGHUP) {
                if (reloadHandler)
                    reloadHandler();
            } else if (stopHandler) {
                stopHandler(byte);
            }
        }
    });
    return true;
}

void catchSignal(int number) {
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(number, &action, nullptr);
}

} // namespace

void installStopSignals(std::function<void(int)> onStop) {
    stopHandler = std::move(onStop);
    if (!openPipe())
        return;
    catchSignal(SIGTERM);
    catchSignal(SIGINT);
}

void installReloadSignal(std::function<void()> onReload) {
    reloadHandler = std::move(onReload);
    if (openPipe())
        catchSignal(SIGHUP);
}
