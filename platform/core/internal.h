// Hooks between the platform's serial and event parts; not for the program's code.
#pragma once

#include "platform/portcheck.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kvexplatform {
// Runs the receive callbacks whose ports hold enough bytes; a no-op inside a running callback.
void dispatchComCallbacks();
// Copies count values of a program array of the given VAL_ type; false for a type not handled.
bool readNumberArray(const void *array, int type, int count, std::vector<double> &out);
// FileToArray's reading of a file's content (unsigned numbers), so it can be read from memory:
// 0, UIE_FILE_FORMAT_ERROR or UIE_FILE_TOO_SHORT, the array unchanged unless 0.
int textToArray(const char *text, std::size_t size, unsigned int *array, int numberOfElements);
// Keeps the reason the device would not open for lastOpenFailure; an empty device clears it.
void recordOpenFailure(const std::string &device, const std::string &systemText);

// What the open-failure text and the port check both find out about a device (POSIX only).
// A process that holds the device, through its lock file and then /proc; pid 0 when none.
// ignorePid is a process not to count (the port check's own), 0 for none.
struct PortHolder {
    long pid = 0;
    std::string program; // its name in /proc, "" when unknown
};
PortHolder findPortHolder(const std::string &device, long ignorePid);
// "\"minicom\", process 1234", or "process 1234" when the name is unknown.
std::string holderText(const PortHolder &holder);
// "ports here: 1: /dev/ttyS0, 2: /dev/ttyUSB0" without `missing`, or that there are none.
std::string portsHereText(const std::string &missing);
// Whether this login may read and write the device, why not, and what fixes it.
struct AccessVerdict {
    bool allowed = true;
    std::string reason; // "it belongs to group ..."; when allowed, what gives access
    std::string fix;    // "" when allowed
};
AccessVerdict deviceAccessVerdict(const std::string &device);
// The port check's brltty finding from the USB devices under sysRoot (/sys) and the processes
// under procRoot (/proc).
PortCheck checkBrlttyUnder(const std::string &sysRoot, const std::string &procRoot);
// The port check's latency_timer finding for a timer of ms (-1: none) on the tty of that name.
PortCheck latencyTimerFinding(int ms, const std::string &tty);
// After a port opened: asks its driver for low latency where that is wanted, and keeps the
// adapter's latency timer for comLatencyTimer.
void askForLowLatency(int port, const std::string &device);
} // namespace kvexplatform
