// The port check: what the machine says about a port's device, then the link's own line check
// and identification; one report for kvex-rtn-cli doctor and the panel's Check port… window.
#pragma once

#include "platform/portcheck.h"

#include <string>
#include <vector>

struct PortReport {
    std::string name; // the port as the operator named it: its number, or a device path
    std::string device;
    // device, access, in_use, modem_manager, brltty, latency_timer, line, sensor
    std::vector<PortCheck> checks;
    // The LinkOutcome of opening the port, the line check and the identification; LINK_NO_PORT
    // when the port could not be opened or was not tried.
    int outcome;
    double answerMs = -1.0; // the echo's answer time, request written to answer read; -1: none
    std::string firmware;   // the sensor's firmware text (Latin-1), "" when none came
};

// Runs every check on port number `port`, never changing anything on the system. The line check
// opens the port again (a port this program held stays open and connected after it); while an
// exchange or a live mode uses the port, the line check and the identification are skipped.
PortReport examinePort(int port);

// One line per check (OK, WARN, FAIL or SKIP, its name and what was found), each warning or
// failure followed by the line that fixes it.
std::string portReportText(const PortReport &report);
// The same as one JSON object: port, device, ok, answer_ms, firmware and checks (name, result,
// detail, fix).
std::string portReportJson(const PortReport &report);

int CC_BTNCheckPort(int panel, int control, int event, void *callbackData, int eventData1,
                    int eventData2);
