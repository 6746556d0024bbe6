// The plain payload to and from protobuf-c's generated structures. Only this file sees them.
#include "gateway/faces/sparkplug/payload.h"

#include "sparkplug_b.pb-c.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

namespace sparkplug {

namespace {

using PbPayload = Org__Eclipse__Tahu__Protobuf__Payload;
using PbMetric = Org__Eclipse__Tahu__Protobuf__Payload__Metric;
using PbPropertySet = Org__Eclipse__Tahu__Protobuf__Payload__PropertySet;
using PbPropertyValue = Org__Eclipse__Tahu__Protobuf__Payload__PropertyValue;

// UInt32 goes into the 64-bit field, as the reference implementation (Eclipse Tahu) reads it.
bool isLong(uint32_t type) {
    return type == Int64 || type == UInt32 || type == UInt64 || type == DateTime;
}

} // namespace

std::string encodePayload(const Payload &payload) {
    // The structures point into `payload` and into these vectors; protobuf-c copies nothing.
    const std::size_t n = payload.metrics.size();
    std::vector<PbMetric> metrics(n);
    std::vector<PbMetric *> metricPointers(n);
    std::vector<PbPropertySet> sets(n);
    std::vector<PbPropertyValue> units(n);
    std::vector<PbPropertyValue *> unitPointers(n);
    std::vector<char *> keys(n);
    static char engUnit[] = "engUnit";
    for (std::size_t i = 0; i < n; ++i) {
        const Metric &m = payload.metrics[i];
        PbMetric &pb = metrics[i];
        org__eclipse__tahu__protobuf__payload__metric__init(&pb);
        pb.name = const_cast<char *>(m.name.c_str());
        pb.has_datatype = 1;
        pb.datatype = m.datatype;
        // Births and data need a timestamp on every metric: the payload's when it has none.
        if (m.timestamp != 0 || payload.timestamp != 0) {
            pb.has_timestamp = 1;
            pb.timestamp = m.timestamp != 0 ? m.timestamp : payload.timestamp;
        }
        if (m.historical) {
            pb.has_is_historical = 1;
            pb.is_historical = 1;
        }
        if (m.isNull) {
            pb.has_is_null = 1;
            pb.is_null = 1;
        } else if (m.datatype == Boolean) {
            pb.value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE;
            pb.boolean_value = m.boolean;
        } else if (m.datatype == String) {
            pb.value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_STRING_VALUE;
            pb.string_value = const_cast<char *>(m.text.c_str());
        } else if (m.datatype == Double) {
            pb.value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_DOUBLE_VALUE;
            pb.double_value = m.real;
        } else if (m.datatype == Float) {
            pb.value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_FLOAT_VALUE;
            pb.float_value = static_cast<float>(m.real);
        } else if (isLong(m.datatype)) {
            pb.value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_LONG_VALUE;
            pb.long_value = m.integer;
        } else {
            pb.value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_INT_VALUE;
            pb.int_value = static_cast<uint32_t>(m.integer);
        }
        if (!m.unit.empty()) {
            PbPropertyValue &unit = units[i];
            org__eclipse__tahu__protobuf__payload__property_value__init(&unit);
            unit.has_type = 1;
            unit.type = String;
            unit.value_case =
                ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_STRING_VALUE;
            unit.string_value = const_cast<char *>(m.unit.c_str());
            unitPointers[i] = &unit;
            keys[i] = engUnit;
            PbPropertySet &set = sets[i];
            org__eclipse__tahu__protobuf__payload__property_set__init(&set);
            set.n_keys = 1;
            set.keys = &keys[i];
            set.n_values = 1;
            set.values = &unitPointers[i];
            pb.properties = &set;
        }
        metricPointers[i] = &pb;
    }
    PbPayload pb;
    org__eclipse__tahu__protobuf__payload__init(&pb);
    if (payload.timestamp != 0) {
        pb.has_timestamp = 1;
        pb.timestamp = payload.timestamp;
    }
    pb.has_seq = payload.hasSeq;
    pb.seq = payload.seq;
    pb.n_metrics = n;
    pb.metrics = metricPointers.data();
    std::string bytes(org__eclipse__tahu__protobuf__payload__get_packed_size(&pb), '\0');
    org__eclipse__tahu__protobuf__payload__pack(&pb, reinterpret_cast<uint8_t *>(&bytes[0]));
    return bytes;
}

bool decodePayload(const std::string &bytes, Payload *payload) {
    const std::unique_ptr<PbPayload, void (*)(PbPayload *)> pb(
        org__eclipse__tahu__protobuf__payload__unpack(
            nullptr, bytes.size(), reinterpret_cast<const uint8_t *>(bytes.data())),
        [](PbPayload *p) {
            if (p)
                org__eclipse__tahu__protobuf__payload__free_unpacked(p, nullptr);
        });
    if (!pb)
        return false;
    *payload = Payload();
    payload->timestamp = pb->has_timestamp ? pb->timestamp : 0;
    payload->hasSeq = pb->has_seq;
    payload->seq = pb->seq;
    for (std::size_t i = 0; i < pb->n_metrics; ++i) {
        const PbMetric &pm = *pb->metrics[i];
        Metric m;
        m.name = pm.name ? pm.name : "";
        m.datatype = pm.has_datatype ? pm.datatype : 0;
        m.timestamp = pm.has_timestamp ? pm.timestamp : 0;
        m.historical = pm.has_is_historical && pm.is_historical;
        m.isNull = pm.has_is_null && pm.is_null;
        switch (pm.value_case) {
        case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_INT_VALUE:
            m.integer = pm.int_value;
            break;
        case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_LONG_VALUE:
            m.integer = pm.long_value;
            break;
        case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_FLOAT_VALUE:
            m.real = pm.float_value;
            break;
        case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_DOUBLE_VALUE:
            m.real = pm.double_value;
            break;
        case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE:
            m.boolean = pm.boolean_value;
            break;
        case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_STRING_VALUE:
            m.text = pm.string_value ? pm.string_value : "";
            break;
        default:
            // No value the gateway reads (a data set, a template, bytes): is_null for it.
            m.isNull = true;
            break;
        }
        payload->metrics.push_back(std::move(m));
    }
    return true;
}

Metric unsignedMetric(const std::string &name, DataType type, uint64_t value,
                      const std::string &unit) {
    Metric m;
    m.name = name;
    m.datatype = type;
    m.integer = value;
    m.unit = unit;
    return m;
}

Metric doubleMetric(const std::string &name, double value, const std::string &unit) {
    Metric m;
    m.name = name;
    m.datatype = Double;
    m.real = value;
    m.isNull = !std::isfinite(value);
    m.unit = unit;
    return m;
}

Metric booleanMetric(const std::string &name, bool value) {
    Metric m;
    m.name = name;
    m.datatype = Boolean;
    m.boolean = value;
    return m;
}

Metric stringMetric(const std::string &name, const std::string &value) {
    Metric m;
    m.name = name;
    m.datatype = String;
    m.text = value;
    return m;
}

uint64_t nowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

} // namespace sparkplug
