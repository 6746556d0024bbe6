// Hooks between the platform's serial and event parts; not for the program's code.
#pragma once

#include <string>
#include <vector>

namespace kvexplatform {
// Runs the receive callbacks whose ports hold enough bytes; a no-op inside a running callback.
void dispatchComCallbacks();
// Copies count values of a program array of the given VAL_ type; false for a type not handled.
bool readNumberArray(const void *array, int type, int count, std::vector<double> &out);
// Keeps the reason the device would not open for lastOpenFailure; an empty device clears it.
void recordOpenFailure(const std::string &device, const std::string &systemText);
// After a port opened: asks its driver for low latency where that is wanted, and keeps the
// adapter's latency timer for comLatencyTimer.
void askForLowLatency(int port, const std::string &device);
} // namespace kvexplatform
