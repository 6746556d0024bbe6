// One published measurement, compact enough to keep an hour of them while the broker is away.
#pragma once

#include <cstdint>

struct GatewaySample {
    char ts[25]; // ISO-8601 UTC with milliseconds, when the answer arrived
    uint32_t seq;
    uint16_t left, right, value;
    double um; // NaN when the sensor's pitch is not known
    uint16_t setpoint, tol;
    bool inTol;
    uint16_t anaMax, anaMin;
    bool replay;   // sent late, from the queue
    int64_t epoch; // the store's epoch; 0 without a store
};
