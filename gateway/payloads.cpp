// Hand-written JSON over the shared string quoting: the bodies are small and fixed, and numbers
// keep their exact form.
#include "gateway/payloads.h"
#include "gateway/core/sampletime.h"

#include <cmath>
#include <cstdio>

namespace {

std::string jsonNumberOrNull(double value, const char *format) {
    if (std::isnan(value) || std::isinf(value))
        return "null";
    char text[40];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string number(double value) {
    return jsonNumberOrNull(value, "%.6g");
}

std::string sampleObject(const GatewaySample &s) {
    char epoch[40] = "";
    if (s.epoch != 0)
        std::snprintf(epoch, sizeof epoch, ",\"store_epoch\":%lld",
                      static_cast<long long>(s.epoch));
    char text[360];
    std::snprintf(text, sizeof text,
                  "{\"ts\":\"%s\",\"seq\":%u%s,\"left\":%u,\"right\":%u,\"value\":%u,\"um\":%s,"
                  "\"setpoint\":%u,\"tol\":%u,\"in_tol\":%s,\"ana_max\":%u,\"ana_min\":%u%s}",
                  isoTimeOfMs(s.timeMs).c_str(), static_cast<unsigned>(s.seq), epoch, s.left,
                  s.right, s.value, jsonNumberOrNull(s.um, "%.3f").c_str(), s.setpoint, s.tol,
                  s.inTol ? "true" : "false", s.anaMax, s.anaMin,
                  s.replay ? ",\"replay\":true" : "");
    return text;
}

// "signal_reserve","reserve_state","contrast","saturated", null before the first reading.
std::string readingFigures(const ReserveReading &r, bool known = true) {
    if (!known)
        return "\"signal_reserve\":null,\"reserve_state\":null,\"contrast\":null,"
               "\"saturated\":null";
    return "\"signal_reserve\":" + jsonNumberOrNull(r.ratio, "%.3f") +
           ",\"reserve_state\":" + jsonString(r.state) +
           ",\"contrast\":" + jsonNumberOrNull(r.contrast, "%.3f") +
           ",\"saturated\":" + (r.saturated ? "true" : "false");
}

std::string advice(const ReserveHealth &health) {
    return reserveWarns(health) ? jsonString("clean the lens or check the light") : "null";
}

std::string reserveFigures(const ReserveHealth &health) {
    return "," + readingFigures(health.last, health.known) +
           ",\"reserve_failures\":" + std::to_string(health.failures) +
           ",\"advice\":" + advice(health);
}

} // namespace

std::string defaultTopicPrefix(const std::string &host, const std::string &devicePath) {
    const auto slash = devicePath.rfind('/');
    std::string name =
        host + "-" + (slash == std::string::npos ? devicePath : devicePath.substr(slash + 1));
    for (char &c : name)
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return "kvex/" + name;
}

std::string measJson(const std::vector<GatewaySample> &samples) {
    if (samples.size() == 1)
        return sampleObject(samples.front());
    std::string out = "[";
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (i > 0)
            out += ',';
        out += sampleObject(samples[i]);
    }
    return out + "]";
}

std::string infoJson(const SensorInfo &info) {
    std::string firmware = info.firmware;
    while (!firmware.empty() && (firmware.back() == ' ' || firmware.back() == '\0'))
        firmware.pop_back();
    return "{\"sensor_type\":" + std::to_string(info.ccdtype) +
           ",\"board\":" + std::to_string(info.pcbtype) +
           ",\"pixels\":" + std::to_string(info.pixels) + ",\"firmware\":" + jsonString(firmware) +
           ",\"pitch_um\":" + jsonNumberOrNull(info.pitchMicrons, "%.3f") +
           ",\"device\":" + jsonString(info.device) + ",\"version\":" + jsonString(info.version) +
           ",\"dropped\":" + std::to_string(info.dropped) +
           (info.storeEpoch == 0
                ? std::string()
                : ",\"store_epoch\":" + std::to_string(info.storeEpoch) + ",\"store\":" +
                      jsonString(info.storeFault.empty() ? std::string("ok")
                                                         : "failing: " + info.storeFault)) +
           "}";
}

std::string paramsJson(const uint16_t words[16]) {
    return parametersJson(words);
}

std::string statusJson(const GatewayState &state, double now, bool writesEnabled) {
    const bool answering = state.sensorAnswering;
    const long long ageMs = state.sampleAt < 0 ? -1 : std::llround((now - state.sampleAt) * 1000.0);
    return std::string("{\"status\":\"") + (answering ? "online" : "no-sensor") +
           "\",\"sensor_answering\":" + (answering ? "true" : "false") +
           ",\"mqtt\":" + jsonString(state.broker) +
           ",\"queue_depth\":" + std::to_string(state.queueDepth) +
           ",\"dropped\":" + std::to_string(state.dropped) +
           ",\"samples\":" + std::to_string(state.samples) +
           ",\"store\":" + jsonString(state.store) +
           ",\"serial_errors\":" + std::to_string(state.serialErrors) +
           ",\"last_sample_age_ms\":" + (ageMs < 0 ? "null" : std::to_string(ageMs)) +
           ",\"uptime_s\":" + std::to_string(std::llround(now - state.startedAt)) +
           ",\"version\":" + jsonString(state.version) +
           ",\"writes_enabled\":" + (writesEnabled ? "true" : "false") + ",\"health\":\"" +
           healthWord(state.reserve) + "\"" + reserveFigures(state.reserve) + "}";
}

std::string limitsJson(const ParameterLimit limits[16]) {
    std::string out = "{";
    for (int word = 0; word < 16; ++word)
        out += std::string(word ? "," : "") + "\"" + parameterJsonKey(word) +
               "\":{\"word\":" + std::to_string(word) +
               ",\"min\":" + std::to_string(limits[word].min) +
               ",\"max\":" + std::to_string(limits[word].max) + "}";
    return out + "}";
}

std::string statsJson(const StatsFigures &stats) {
    std::string out =
        "{\"count\":" + std::to_string(stats.count) + ",\"mean\":" + number(stats.mean) +
        ",\"std_dev\":" + number(stats.stdDev) + ",\"min\":" + number(stats.min) +
        ",\"max\":" + number(stats.max) + ",\"in_tol_share\":" + number(stats.inTolShare) +
        ",\"cp\":" + number(stats.cp) + ",\"cpk\":" + number(stats.cpk) +
        ",\"cp_reason\":" + (stats.cpReason.empty() ? "null" : jsonString(stats.cpReason)) +
        ",\"window\":" +
        (stats.haveWindow ? "{\"lower\":" + std::to_string(stats.windowLower) +
                                ",\"upper\":" + std::to_string(stats.windowUpper) + "}"
                          : std::string("null"));
    if (!stats.haveHistogram)
        return out + ",\"histogram\":null}";
    out += ",\"histogram\":{\"lower\":" + std::to_string(stats.histogramLower) +
           ",\"width\":" + std::to_string(stats.histogramWidth) + ",\"counts\":[";
    for (std::size_t i = 0; i < stats.histogramCounts.size(); ++i)
        out += (i ? "," : "") + std::to_string(stats.histogramCounts[i]);
    return out + "]}}";
}

std::string videoJson(const VideoLine &line) {
    std::string out = "{\"ts\":" + jsonString(line.ts) + ",\"pixels\":[";
    for (std::size_t i = 0; i < line.pixels.size(); ++i)
        out += (i ? "," : "") + std::to_string(line.pixels[i]);
    return out + "],\"threshold\":" + std::to_string(line.threshold) +
           ",\"left\":" + std::to_string(line.left) + ",\"right\":" + std::to_string(line.right) +
           ",\"value\":" + std::to_string(line.value) +
           ",\"eval_begin\":" + std::to_string(line.evalBegin) +
           ",\"eval_end\":" + std::to_string(line.evalEnd) +
           ",\"pixel_count\":" + std::to_string(line.pixelCount) +
           ",\"positions\":" + std::to_string(line.positions) +
           ",\"x_step\":" + number(line.xStep) +
           ",\"full_scale\":" + std::to_string(line.fullScale) + "," +
           readingFigures(line.reserve) + "}";
}

std::string reserveReadingJson(const ReserveReading &reading) {
    return "{\"ts\":" + jsonString(reading.ts) + "," + readingFigures(reading) + "}";
}

std::string healthJson(const ReserveHealth &health) {
    return std::string("{\"health\":\"") + healthWord(health) + "\"," +
           readingFigures(health.last, health.known) +
           ",\"ts\":" + (health.known ? jsonString(health.last.ts) : std::string("null")) +
           ",\"reserve_warn\":" + number(health.warnBelow) +
           ",\"reserve_failures\":" + std::to_string(health.failures) +
           ",\"advice\":" + advice(health) + "}";
}

std::string healthMessage(const ReserveHealth &health) {
    return "{\"type\":\"health\"," + healthJson(health).substr(1);
}

std::string driftStateJson(const DriftHealth &drift) {
    std::string says;
    if (drift.known)
        for (const std::string &text : driftSays(drift.last))
            says += (says.empty() ? "" : ",") + jsonString(text);
    const std::string file = drift.goldenFile.substr(drift.goldenFile.find_last_of('/') + 1);
    std::string out =
        std::string("{\"drift\":\"") + driftWord(drift) + "\",\"says\":[" + says +
        "],\"ts\":" + (drift.known ? jsonString(drift.ts) : std::string("null")) +
        ",\"golden_file\":" + (file.empty() ? std::string("null") : jsonString(file)) +
        ",\"failures\":" + std::to_string(drift.failures) + ",";
    if (drift.known)
        return out + driftJson(drift.last).substr(1);
    return out + "\"golden\":" + (file.empty() ? "false" : "true") +
           ",\"ram_eeprom\":null,\"eeprom_golden\":null,\"ram_golden\":null,\"words\":[]}";
}

std::string driftMessage(const DriftHealth &drift) {
    return "{\"type\":\"drift\"," + driftStateJson(drift).substr(1);
}

std::string reserveTrendJson(double warnBelow, const std::deque<ReserveReading> &readings) {
    std::string out = "{\"reserve_warn\":" + number(warnBelow) + ",\"readings\":[";
    for (std::size_t i = 0; i < readings.size(); ++i)
        out += (i ? "," : "") + reserveReadingJson(readings[i]);
    return out + "]}";
}

std::string reserveProposalJson(const ReserveProposal &p) {
    std::string out = std::string("{\"known\":") + (p.known ? "true" : "false") +
                      ",\"ts\":" + (p.ts.empty() ? "null" : jsonString(p.ts)) +
                      ",\"proposed\":" + (p.proposed ? "true" : "false");
    if (!p.proposed)
        return out + ",\"reason\":" + (p.reason.empty() ? "null" : jsonString(p.reason)) +
               ",\"advice\":" + (p.advice.empty() ? "null" : jsonString(p.advice)) + "}";
    return out + ",\"v_thd\":" + std::to_string(p.threshold) +
           ",\"e_beg\":" + std::to_string(p.evalBegin) + ",\"e_end\":" + std::to_string(p.evalEnd) +
           ",\"lit_margin\":" + number(p.litMargin) +
           ",\"shadow_margin\":" + number(p.shadowMargin) +
           ",\"signal_reserve\":" + number(p.reserve) + ",\"contrast\":" + number(p.contrast) + "}";
}

std::string writeResultJson(bool eeprom, bool verified, const uint16_t readBack[16]) {
    return std::string("{\"memory\":\"") + (eeprom ? "eeprom" : "ram") +
           "\",\"verified\":" + (verified ? "true" : "false") +
           ",\"params\":" + parametersJson(readBack) + "}";
}

std::string teachResultJson(const uint16_t words[16]) {
    return "{\"params\":" + parametersJson(words) + "}";
}

std::string resetResultJson() {
    return "{\"reset\":true}";
}

std::string auditEntryJson(const std::string &ts, const std::string &client,
                           const std::string &what, const std::string &result) {
    return "{\"ts\":" + jsonString(ts) + ",\"client\":" + jsonString(client) +
           ",\"what\":" + jsonString(what) + ",\"result\":" + jsonString(result) + "}";
}

std::string auditListJson(const std::deque<std::string> &entries) {
    std::string out = "[";
    for (std::size_t i = 0; i < entries.size(); ++i)
        out += (i ? "," : "") + entries[i];
    return out + "]";
}

std::string errorJson(const std::string &text) {
    return "{\"error\":" + jsonString(text) + "}";
}

std::string rangeErrorJson(const std::string &name, int word, long long value,
                           ParameterLimit limit) {
    return "{\"error\":" +
           jsonString(name + " (word " + std::to_string(word) + ") is " + std::to_string(value) +
                      ", allowed " + std::to_string(limit.min) + " to " +
                      std::to_string(limit.max)) +
           ",\"word\":" + jsonString(name) + ",\"value\":" + std::to_string(value) +
           ",\"min\":" + std::to_string(limit.min) + ",\"max\":" + std::to_string(limit.max) + "}";
}

std::string measMessage(const std::string &sampleJson) {
    return "{\"type\":\"meas\",\"sample\":" + sampleJson + "}";
}

std::string infoMessage(const std::string &infoJson) {
    return "{\"type\":\"info\",\"info\":" + infoJson + "}";
}

std::string paramsMessage(const std::string &paramsJson) {
    return "{\"type\":\"params\",\"params\":" + paramsJson + "}";
}

std::string auditMessage(const std::string &entryJson) {
    return "{\"type\":\"audit\",\"entry\":" + entryJson + "}";
}

std::string statusMessage(const GatewayState &state, double now, bool writesEnabled) {
    return "{\"type\":\"status\"," + statusJson(state, now, writesEnabled).substr(1);
}
