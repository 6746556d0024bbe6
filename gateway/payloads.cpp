// Hand-written JSON: the payloads are small and fixed, and numbers keep their exact form.
#include "gateway/payloads.h"

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

std::string sampleObject(const GatewaySample &s) {
    char epoch[40] = "";
    if (s.epoch != 0)
        std::snprintf(epoch, sizeof epoch, ",\"store_epoch\":%lld",
                      static_cast<long long>(s.epoch));
    char text[360];
    std::snprintf(text, sizeof text,
                  "{\"ts\":\"%s\",\"seq\":%u%s,\"left\":%u,\"right\":%u,\"value\":%u,\"um\":%s,"
                  "\"setpoint\":%u,\"tol\":%u,\"in_tol\":%s,\"ana_max\":%u,\"ana_min\":%u%s}",
                  s.ts, static_cast<unsigned>(s.seq), epoch, s.left, s.right, s.value,
                  jsonNumberOrNull(s.um, "%.3f").c_str(), s.setpoint, s.tol,
                  s.inTol ? "true" : "false", s.anaMax, s.anaMin,
                  s.replay ? ",\"replay\":true" : "");
    return text;
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
