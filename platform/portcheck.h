// What the machine says about a serial device without opening it: is it there, may this login
// use it, who holds it, what else on the system may take it, and its adapter's latency timer.
#pragma once

#include <string>
#include <vector>

enum class CheckResult { Ok, Warn, Fail, Skip };

// One finding of the port check: a short machine name ("device", "access", ...), the verdict,
// what was found, and for a warning or failure the step or command that fixes it.
struct PortCheck {
    std::string name;
    CheckResult result = CheckResult::Skip;
    std::string detail;
    std::string fix;
};

// "ok", "warn", "fail" or "skip".
inline const char *checkResultName(CheckResult result) {
    switch (result) {
    case CheckResult::Ok:
        return "ok";
    case CheckResult::Warn:
        return "warn";
    case CheckResult::Fail:
        return "fail";
    default:
        return "skip";
    }
}

// The checks that need only the machine, in this order: device (it exists; else the ports there
// are), access (its group and mode against this login's groups and the group database), in_use
// (another process that holds it, through its lock file or /proc; this process does not count),
// modem_manager (running on the system bus and not told to ignore the device; skipped without a
// system bus) and brltty (holding a CH340 or CP210x adapter, which then has no tty). An empty
// device fails the first check.
std::vector<PortCheck> checkDeviceOnMachine(const std::string &device);

// latency_timer: the USB adapter's latency timer against the 1 ms the link wants; skipped where
// the device has none (portLatencyTimer).
PortCheck checkLatencyTimer(const std::string &device);
