// Noticing that the device of a vanished port is back (a USB adapter plugged in again).
#pragma once

#include <functional>

// While armed, polls twice a second: when the port that `port()` names has lost its device and
// that device is present again, calls `back` once (again only after a new loss).
void watchDeviceReturn(std::function<int()> port, std::function<void()> back);
void stopDeviceWatch();
