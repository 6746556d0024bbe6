// The gateway under systemd (Type=notify): ready once every face listens, a watchdog kept by the
// polling loop, stopping and reloading said. Outside systemd each call does nothing.
#pragma once

#include <string>

void serviceReady(const std::string &status);
// From the polling loop, as often as it likes: a ping goes out at half the unit's WatchdogSec,
// so a poller stuck in a call gets the service restarted.
void serviceAlive();
void serviceStopping();
