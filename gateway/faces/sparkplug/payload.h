// A Sparkplug B payload as plain data, and its protobuf form: the encoder and decoder are the
// ones protobuf-c generates from sparkplug_b.proto at build time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sparkplug {

// Sparkplug's data types that the gateway uses (sparkplug_b.proto lists them all).
enum DataType : uint32_t {
    Int32 = 3,
    Int64 = 4,
    UInt16 = 6,
    UInt32 = 7,
    UInt64 = 8,
    Float = 9,
    Double = 10,
    Boolean = 11,
    String = 12,
    DateTime = 13, // milliseconds since 1970 UTC
};

struct Metric {
    std::string name;
    uint32_t datatype = 0;
    uint64_t timestamp = 0; // milliseconds since 1970 UTC; 0: the payload's
    bool historical = false;
    bool isNull = false;
    // The value in the member its datatype uses: the integer types in `integer` (two's
    // complement for the signed ones), Float and Double in `real`.
    uint64_t integer = 0;
    double real = 0.0;
    bool boolean = false;
    std::string text;
    // The engineering unit, sent as the property "engUnit"; empty: none.
    std::string unit;
};

struct Payload {
    uint64_t timestamp = 0;
    bool hasSeq = false;
    uint64_t seq = 0;
    std::vector<Metric> metrics;
};

std::string encodePayload(const Payload &payload);
// False when the bytes are no Sparkplug B payload.
bool decodePayload(const std::string &bytes, Payload *payload);

// Short forms for the metrics the gateway sends.
Metric unsignedMetric(const std::string &name, DataType type, uint64_t value,
                      const std::string &unit = {});
Metric doubleMetric(const std::string &name, double value, const std::string &unit = {});
Metric booleanMetric(const std::string &name, bool value);
Metric stringMetric(const std::string &name, const std::string &value);

uint64_t nowMs();

} // namespace sparkplug
