// Hooks between the platform's serial and event parts; not for the program's code.
#pragma once

namespace kvexplatform {
// Runs the receive callbacks whose ports hold enough bytes; a no-op inside a running callback.
void dispatchComCallbacks();
} // namespace kvexplatform
