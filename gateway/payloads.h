// Topic names and the JSON payloads the gateway publishes.
#pragma once

#include "app/jsontext.h"
#include "gateway/sample.h"

#include <cstdint>
#include <string>
#include <vector>

struct SensorInfo {
    unsigned ccdtype, pcbtype, pixels;
    std::string firmware;
    double pitchMicrons; // NaN when not known
    std::string device;  // the serial device path
    std::string version;
    uint64_t dropped;
    int64_t storeEpoch = 0; // 0 without a store
    std::string storeFault; // empty while the store's file is written
};

// kvex/<host>-<port name>, with characters that would split or widen a topic replaced.
std::string defaultTopicPrefix(const std::string &host, const std::string &devicePath);
// One sample as an object, or several as an array.
std::string measJson(const std::vector<GatewaySample> &samples);
std::string infoJson(const SensorInfo &info);
// The 16 parameter words under their names.
std::string paramsJson(const uint16_t words[16]);
