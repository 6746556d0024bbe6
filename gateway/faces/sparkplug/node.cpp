// The edge node's messages and state. Every message but NDEATH carries the node's seq, 0 in
// NBIRTH and one more (mod 256) in each after it, as hosts check it to notice a lost message.
#include "gateway/faces/sparkplug/node.h"
#include "app/jsontext.h"
#include "app/parameterwords.h"
#include "gateway/core/statefiles.h"
#include "gateway/faces/sparkplug/payload.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace sparkplug;

namespace {

const char *const kNamespace = "spBv1.0";
const char *const kRebirth = "Node Control/Rebirth";
const char *const kTeach = "Device Control/Teach";
const char *const kReset = "Device Control/Reset Max Min";
const char *const kResult = "Device Control/Write Result";
// How far ahead of this machine's clock a host's STATE may be and still count.
constexpr uint64_t kStateClockSkewMs = 60 * 1000;
// The sensor reports lengths in its positions; the micrometres need the pitch.
const char *const kPositions = "positions";
const char *const kMicrons = "um";

std::string sanitised(std::string id) {
    for (char &c : id)
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return id;
}

// The live values of one sample, as measJson names them.
void addSampleMetrics(std::vector<Metric> *metrics, const GatewaySample &s, bool withMicrons,
                      uint64_t timestamp, bool historical, bool isNull) {
    std::vector<Metric> m = {
        unsignedMetric("value", UInt16, s.value, kPositions),
        unsignedMetric("left", UInt16, s.left, kPositions),
        unsignedMetric("right", UInt16, s.right, kPositions),
        unsignedMetric("setpoint", UInt16, s.setpoint, kPositions),
        unsignedMetric("tol", UInt16, s.tol, kPositions),
        booleanMetric("in_tol", s.inTol),
        unsignedMetric("ana_max", UInt16, s.anaMax, kPositions),
        unsignedMetric("ana_min", UInt16, s.anaMin, kPositions),
        unsignedMetric("seq", UInt32, s.seq),
    };
    if (withMicrons)
        m.insert(m.begin() + 3, doubleMetric("um", s.um, kMicrons));
    for (Metric &metric : m) {
        metric.timestamp = timestamp;
        metric.historical = historical;
        metric.isNull = metric.isNull || isNull;
        metrics->push_back(std::move(metric));
    }
}

std::string parameterName(int word) {
    return std::string("Parameters/") + parameterJsonKey(word);
}

// The health figures that differ from `before` (all of them without one).
void addHealthMetrics(std::vector<Metric> *m, const GatewayState &h, const GatewayState *before) {
    auto changed = [&](auto member) { return !before || before->*member != h.*member; };
    if (changed(&GatewayState::queueDepth))
        m->push_back(unsignedMetric("Gateway/queue_depth", UInt64, h.queueDepth));
    if (changed(&GatewayState::dropped))
        m->push_back(unsignedMetric("Gateway/dropped", UInt64, h.dropped));
    if (changed(&GatewayState::serialErrors))
        m->push_back(unsignedMetric("Gateway/serial_errors", UInt64, h.serialErrors));
    if (changed(&GatewayState::samples))
        m->push_back(unsignedMetric("Gateway/samples", UInt64, h.samples));
    if (changed(&GatewayState::store))
        m->push_back(stringMetric("Gateway/store", h.store));
    if (changed(&GatewayState::sensorAnswering))
        m->push_back(booleanMetric("Gateway/sensor_answering", h.sensorAnswering));
}

// The last drift check: its verdict, the words that differ per comparison (null before a check,
// and those against the approved set without one), the words themselves and when it ran.
void addDriftMetrics(std::vector<Metric> *m, const DriftHealth &drift, uint64_t timestamp) {
    std::string words;
    for (const std::string &line : driftLines(drift.last))
        words += (words.empty() ? "" : "; ") + line;
    m->push_back(stringMetric("Drift/state", driftWord(drift)));
    for (int c = 0; c < DRIFT_COMPARES; ++c) {
        Metric count =
            unsignedMetric(std::string("Drift/") + driftCompareKey(static_cast<DriftCompare>(c)),
                           UInt32, static_cast<uint64_t>(drift.last.differing[c]));
        count.isNull = !drift.known || (c != DRIFT_RAM_EEPROM && !drift.last.haveGolden);
        m->push_back(count);
    }
    m->push_back(stringMetric("Drift/words", drift.known ? words : ""));
    Metric checked =
        unsignedMetric("Drift/checked", DateTime, static_cast<uint64_t>(drift.checkedMs));
    checked.isNull = !drift.known;
    m->push_back(checked);
    for (Metric &metric : *m)
        if (metric.name.rfind("Drift/", 0) == 0)
            metric.timestamp = timestamp;
}

// The STATE of a primary host: {"online":true,"timestamp":…}, or the older plain ONLINE.
bool readState(const std::string &payload, bool *online, uint64_t *timestamp) {
    *timestamp = 0;
    if (payload == "ONLINE" || payload == "OFFLINE") {
        *online = payload == "ONLINE";
        return true;
    }
    auto valueAfter = [&](const char *key) -> std::size_t {
        const std::size_t at = payload.find(std::string("\"") + key + "\"");
        if (at == std::string::npos)
            return std::string::npos;
        std::size_t colon = payload.find(':', at);
        if (colon == std::string::npos)
            return std::string::npos;
        ++colon;
        while (colon < payload.size() && std::isspace(static_cast<unsigned char>(payload[colon])))
            ++colon;
        return colon;
    };
    const std::size_t flag = valueAfter("online");
    if (flag == std::string::npos)
        return false;
    if (payload.compare(flag, 4, "true") == 0)
        *online = true;
    else if (payload.compare(flag, 5, "false") == 0)
        *online = false;
    else
        return false;
    const std::size_t time = valueAfter("timestamp");
    if (time != std::string::npos) {
        // Below zero is no time at all (strtoull would wrap it to the largest one).
        if (time >= payload.size() || !std::isdigit(static_cast<unsigned char>(payload[time])))
            return false;
        *timestamp = std::strtoull(payload.c_str() + time, nullptr, 10);
    }
    return true;
}

} // namespace

bool validSparkplugId(const std::string &id) {
    if (id.empty())
        return false;
    for (const char c : id)
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

std::string defaultSparkplugNode(const std::string &host, const std::string &devicePath) {
    const auto slash = devicePath.rfind('/');
    return sanitised(host + "-" +
                     (slash == std::string::npos ? devicePath : devicePath.substr(slash + 1)));
}

std::string sparkplugBdSeqFile(const std::string &store, const std::string &group,
                               const std::string &node) {
    return gatewayStateFile(store,
                            "sparkplug-" + sanitised(group) + "-" + sanitised(node) + ".bdseq");
}

SparkplugNode::SparkplugNode(SparkplugSettings settings) : s_(std::move(settings)) {
    hostOnline_ = s_.primaryHost.empty();
}

std::string SparkplugNode::topic(const char *type, bool device) const {
    return std::string(kNamespace) + "/" + s_.group + "/" + type + "/" + s_.node +
           (device ? "/" + s_.device : std::string());
}

uint64_t SparkplugNode::nextSeq() {
    seq_ = (seq_ + 1) % 256;
    return seq_;
}

SparkplugMessage SparkplugNode::nextWill(std::string *error) {
    long last = -1;
    if (FILE *in = std::fopen(s_.bdSeqFile.c_str(), "r")) {
        if (std::fscanf(in, "%ld", &last) != 1 || last < 0 || last > 255)
            last = -1;
        std::fclose(in);
    }
    bdSeq_ = static_cast<uint64_t>((last + 1) % 256);
    error->clear();
    writeFileAtomically(s_.bdSeqFile, std::to_string(bdSeq_) + "\n", 0644, error);
    return nodeDeath();
}

SparkplugMessage SparkplugNode::nodeDeath() {
    Payload p;
    p.timestamp = nowMs();
    p.metrics.push_back(unsignedMetric("bdSeq", UInt64, bdSeq_));
    return {topic("NDEATH", false), encodePayload(p)};
}

std::vector<std::string> SparkplugNode::subscriptions() const {
    std::vector<std::string> filters = {topic("NCMD", false), topic("DCMD", true)};
    if (!s_.primaryHost.empty())
        filters.push_back(std::string(kNamespace) + "/STATE/" + s_.primaryHost);
    return filters;
}

void SparkplugNode::connectionUp() {
    up_ = true;
    born_ = false;
    deviceBorn_ = false;
    // A host's retained STATE arrives right after the subscription; until then it is away.
    hostOnline_ = s_.primaryHost.empty();
}

void SparkplugNode::connectionLost() {
    up_ = false;
    born_ = false;
    deviceBorn_ = false;
}

std::vector<SparkplugMessage> SparkplugNode::births(const GatewayState &state) {
    Payload p;
    p.timestamp = nowMs();
    p.hasSeq = true;
    p.seq = seq_ = 0;
    p.metrics.push_back(unsignedMetric("bdSeq", UInt64, bdSeq_));
    p.metrics.push_back(booleanMetric(kRebirth, false));
    p.metrics.push_back(stringMetric("Gateway/version", s_.version));
    addHealthMetrics(&p.metrics, state, nullptr);
    healthSent_ = state;
    born_ = true;
    deviceBorn_ = false;
    std::vector<SparkplugMessage> out = {{topic("NBIRTH", false), encodePayload(p)}};
    if (state.sensorChecked && state.sensorAnswering)
        out.push_back(deviceBirth(state));
    return out;
}

SparkplugMessage SparkplugNode::deviceBirth(const GatewayState &state) {
    const SensorInfo &sensor = state.info;
    const ParameterSet &params = state.params;
    const GatewaySample *latest = state.haveSample ? &state.sample : nullptr;
    const uint64_t now = nowMs();
    Payload p;
    p.timestamp = now;
    p.hasSeq = true;
    p.seq = nextSeq();
    GatewaySample none{};
    none.um = std::nan("");
    const bool microns = std::isfinite(sensor.pitchMicrons);
    addSampleMetrics(&p.metrics, latest ? *latest : none, microns,
                     latest ? static_cast<uint64_t>(latest->timeMs) : now, false,
                     latest == nullptr);
    for (int word = 0; word < 16; ++word)
        p.metrics.push_back(unsignedMetric(parameterName(word), UInt16, params[word]));
    p.metrics.push_back(unsignedMetric("Info/sensor_type", UInt32, sensor.ccdtype));
    p.metrics.push_back(unsignedMetric("Info/board", UInt32, sensor.pcbtype));
    p.metrics.push_back(unsignedMetric("Info/pixels", UInt32, sensor.pixels));
    p.metrics.push_back(stringMetric("Info/firmware", sensor.firmware));
    p.metrics.push_back(doubleMetric("Info/pitch_um", sensor.pitchMicrons, kMicrons));
    p.metrics.push_back(stringMetric("Info/device", sensor.device));
    p.metrics.push_back(booleanMetric(kTeach, false));
    p.metrics.push_back(booleanMetric(kReset, false));
    p.metrics.push_back(stringMetric(kResult, answer_));
    if (state.drift.enabled)
        addDriftMetrics(&p.metrics, state.drift, now);
    answerWaiting_ = false;
    paramsSent_ = params;
    sendAllParams_ = false;
    deviceBorn_ = true;
    return {topic("DBIRTH", true), encodePayload(p)};
}

SparkplugMessage SparkplugNode::deviceDeath() {
    Payload p;
    p.timestamp = nowMs();
    p.hasSeq = true;
    p.seq = nextSeq();
    deviceBorn_ = false;
    return {topic("DDEATH", true), encodePayload(p)};
}

SparkplugMessage SparkplugNode::deviceData(const std::vector<GatewaySample> &samples,
                                           const ParameterSet &params) {
    const uint64_t now = nowMs();
    Payload p;
    p.timestamp = now;
    p.hasSeq = true;
    p.seq = nextSeq();
    for (const GatewaySample &s : samples)
        addSampleMetrics(&p.metrics, s, std::isfinite(s.um), static_cast<uint64_t>(s.timeMs),
                         s.replay, false);
    for (int word = 0; word < 16; ++word)
        if (sendAllParams_ || params[word] != paramsSent_[word]) {
            Metric m = unsignedMetric(parameterName(word), UInt16, params[word]);
            m.timestamp = now;
            p.metrics.push_back(m);
        }
    paramsSent_ = params;
    sendAllParams_ = false;
    if (answerWaiting_) {
        Metric m = stringMetric(kResult, answer_);
        m.timestamp = now;
        p.metrics.push_back(m);
        answerWaiting_ = false;
    }
    return {topic("DDATA", true), encodePayload(p)};
}

SparkplugMessage SparkplugNode::driftData(const DriftHealth &drift) {
    Payload p;
    p.timestamp = nowMs();
    p.hasSeq = true;
    p.seq = nextSeq();
    addDriftMetrics(&p.metrics, drift, p.timestamp);
    return {topic("DDATA", true), encodePayload(p)};
}

bool SparkplugNode::nodeData(const GatewayState &state, SparkplugMessage *message) {
    std::vector<Metric> changed;
    addHealthMetrics(&changed, state, &healthSent_);
    if (changed.empty())
        return false;
    Payload p;
    p.timestamp = nowMs();
    p.hasSeq = true;
    p.seq = nextSeq();
    p.metrics = std::move(changed);
    for (Metric &m : p.metrics)
        m.timestamp = p.timestamp;
    healthSent_ = state;
    *message = {topic("NDATA", false), encodePayload(p)};
    return true;
}

void SparkplugNode::commandAnswered(const std::string &result) {
    answer_ = result;
    answerWaiting_ = true;
    sendAllParams_ = true;
}

SparkplugRequest SparkplugNode::handle(const std::string &topicName, const std::string &bytes,
                                       bool retained) {
    SparkplugRequest request;
    if (!s_.primaryHost.empty() &&
        topicName == std::string(kNamespace) + "/STATE/" + s_.primaryHost) {
        bool online = false;
        uint64_t timestamp = 0;
        // An older STATE than the one in force is a message that overtook it: ignored. So is
        // one from the future, which would make every true STATE after it look old.
        if (!readState(bytes, &online, &timestamp) || timestamp < hostTimestamp_ ||
            timestamp > nowMs() + kStateClockSkewMs)
            return request;
        hostTimestamp_ = timestamp;
        hostOnline_ = online;
        request.kind = online ? SparkplugRequest::HostOnline : SparkplugRequest::HostOffline;
        return request;
    }
    const bool node = topicName == topic("NCMD", false);
    if (!node && topicName != topic("DCMD", true))
        return request;
    Payload p;
    if (!decodePayload(bytes, &p)) {
        if (node)
            return request;
        request.kind = SparkplugRequest::Command;
        request.refusal = "not a Sparkplug B payload";
        request.what = "DCMD";
        return request;
    }
    if (node) {
        for (const Metric &m : p.metrics)
            if (m.name == kRebirth && m.datatype == Boolean && m.boolean)
                request.kind = SparkplugRequest::Rebirth;
        request.retained = retained;
        request.what = kRebirth;
        return request;
    }
    request.kind = SparkplugRequest::Command;
    request.retained = retained;
    std::set<std::string> seen;
    for (const Metric &m : p.metrics) {
        if (!seen.insert(m.name).second && request.refusal.empty())
            request.refusal = m.name + " given twice";
        request.what += (request.what.empty() ? "" : ", ") + m.name;
        const bool integer = m.datatype >= 1 && m.datatype <= 8 && !m.isNull;
        const bool truth = m.datatype == Boolean && !m.isNull && m.boolean;
        if (integer)
            request.what += "=" + std::to_string(m.integer);
        const auto slash = m.name.find('/');
        const std::string folder = slash == std::string::npos ? "" : m.name.substr(0, slash);
        const std::string word = slash == std::string::npos ? "" : m.name.substr(slash + 1);
        if ((folder == "Parameters" || folder == "EEPROM") && integer) {
            // Signed types carry two's complement: a negative value stays negative, and out
            // of range.
            long long value = static_cast<long long>(m.integer);
            if (m.datatype <= 3)
                value = static_cast<int32_t>(static_cast<uint32_t>(m.integer));
            (folder == "EEPROM" ? request.eeprom : request.ram).push_back({word, value});
        } else if (m.name == kTeach && truth) {
            request.teach = true;
        } else if (m.name == kReset && truth) {
            request.reset = true;
        } else if (request.refusal.empty()) {
            request.refusal = "no writable metric " + m.name + " of that type and value";
        }
    }
    if (request.what.empty())
        request.refusal = "no metric in the DCMD";
    return request;
}
