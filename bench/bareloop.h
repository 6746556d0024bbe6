// The bare request/answer loop on the sensor's line: the ceiling the program is measured against.
#pragma once

#include <string>

struct BareLoopRun {
    bool opened = false;
    long cycles = 0;        // answers read whole
    double wallSeconds = 0; // from the first request to the last answer
};

// Opens `device` raw at 19 200 baud, then writes the run-mode request and blocks until its
// 36-byte answer is in, with nothing else to do, until `maxCycles` answers are in or
// `maxSeconds` have passed (0: no limit of that kind), or an answer does not come whole.
BareLoopRun runBareLoop(const std::string &device, long maxCycles, double maxSeconds);
