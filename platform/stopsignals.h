// SIGTERM, SIGINT and SIGHUP as events of the program's thread.
#pragma once

#include <functional>

// From now on SIGTERM and SIGINT call `onStop` with the signal number, inside
// ProcessSystemEvents, instead of ending the process.
void installStopSignals(std::function<void(int)> onStop);
// From now on SIGHUP calls `onReload` the same way instead of ending the process.
void installReloadSignal(std::function<void()> onReload);
