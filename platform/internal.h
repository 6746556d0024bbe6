// Hooks between the platform's serial and event parts; not for the program's code.
#pragma once

#include <string>

namespace kvexplatform {
// Runs the receive callbacks whose ports hold enough bytes; a no-op inside a running callback.
void dispatchComCallbacks();
// Keeps the reason the device would not open for lastOpenFailure; an empty device clears it.
void recordOpenFailure(const std::string &device, const std::string &systemText);
} // namespace kvexplatform
