// The `serve` command: polls one sensor and publishes every measurement over MQTT and Modbus TCP.
#pragma once

#include <string>
#include <vector>

// `port` is a port number already bound to its device (bindPortDevice); `args` are the words
// after `serve`. Needs a QCoreApplication (or QApplication) and runs until SIGTERM or SIGINT.
// Returns the process exit code: 0 after a clean stop, 1 when a service cannot start, 2 for
// bad options.
int runServeCommand(int port, const std::vector<std::string> &args);
