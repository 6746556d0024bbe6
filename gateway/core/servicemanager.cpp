// sd_notify over $NOTIFY_SOCKET; sd_watchdog_enabled reads WatchdogSec= from the environment.
#include "gateway/core/servicemanager.h"

#include <chrono>
#include <systemd/sd-daemon.h>

namespace {

double secondsNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Half the watchdog's period in seconds, 0 without one; read once.
double pingInterval() {
    static const double interval = [] {
        uint64_t usec = 0;
        return sd_watchdog_enabled(0, &usec) > 0 ? static_cast<double>(usec) / 2e6 : 0.0;
    }();
    return interval;
}

} // namespace

void serviceReady(const std::string &status) {
    sd_notify(0, ("READY=1\nSTATUS=" + status).c_str());
    serviceAlive();
}

void serviceAlive() {
    static double last = -1e9;
    const double interval = pingInterval();
    if (interval <= 0.0)
        return;
    const double now = secondsNow();
    if (now - last < interval)
        return;
    last = now;
    sd_notify(0, "WATCHDOG=1");
}

void serviceStopping() {
    sd_notify(0, "STOPPING=1");
}
