// The Prometheus exposition of the gateway: the sensor's figures, the gateway's health, the web
// server's counts and the process metrics Prometheus' own client libraries export.
#include "gateway/faces/metrics/metrics.h"
#include "gateway/core/weblistener.h"
#include "gateway/options.h"
#include "platform/processfigures.h"

#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

// A metric's value; the JSON bodies' numbers are written in payloads.cpp.
std::string metricNumber(double value, const char *format) {
    if (!std::isfinite(value))
        return "null";
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string labelValue(const std::string &text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

class MetricsFace : public GatewayFace {
  public:
    explicit MetricsFace(FaceServices &services) {
        WebListener &web = *services.web;
        const bool reserveOn = services.options.reserveEvery > 0.0;
        web.route("/metrics", [&services, &web, reserveOn](const HttpRequest &request,
                                                           const HttpServer::Reply &) {
            if (request.method != "GET" && request.method != "HEAD")
                return methodNotAllowed("GET");
            HttpResponse response = jsonResponse(
                200, metricsText(*services.snapshot(), steadySeconds(), web.stats(), reserveOn,
                                 services.options.modbus ? &services.modbusRefusals : nullptr));
            response.contentType = "text/plain; version=0.0.4; charset=utf-8";
            return response;
        });
    }
};

} // namespace

std::string metricsText(const GatewayState &state, double now, const HttpStats &web, bool reserveOn,
                        const ConnectionRefusals *modbus) {
    const ReserveHealth &reserve = state.reserve;
    const SensorInfo &info = state.info;
    const GatewaySample &sample = state.sample;
    std::string out;
    auto metric = [&](const char *name, const char *type, const char *help,
                      const std::vector<std::pair<std::string, std::string>> &values) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
        for (const auto &value : values)
            out += name + value.first + " " + value.second + "\n";
    };
    auto one = [](const std::string &value) {
        return std::vector<std::pair<std::string, std::string>>{{"", value}};
    };
    metric("kvex_up", "gauge", "Whether the sensor answers (1) or not (0).",
           one(state.sensorAnswering ? "1" : "0"));
    if (state.identified)
        metric("kvex_info", "gauge", "The sensor's and the gateway's identity.",
               {{"{sensor_type=\"" + std::to_string(info.ccdtype) + "\",board=\"" +
                     std::to_string(info.pcbtype) + "\",pixels=\"" + std::to_string(info.pixels) +
                     "\",firmware=\"" + labelValue(info.firmware) + "\",device=\"" +
                     labelValue(info.device) + "\",version=\"" + labelValue(info.version) + "\"}",
                 "1"}});
    if (state.haveSample) {
        metric("kvex_measured_value", "gauge", "The last measured value in the sensor's positions.",
               one(std::to_string(sample.value)));
        metric("kvex_edge_position", "gauge", "The last left and right edge in positions.",
               {{"{edge=\"left\"}", std::to_string(sample.left)},
                {"{edge=\"right\"}", std::to_string(sample.right)}});
        if (std::isfinite(sample.um))
            metric("kvex_measured_value_meters", "gauge",
                   "The last measured value in metres (the sensor's pitch known).",
                   one(metricNumber(sample.um * 1e-6, "%.9g")));
        metric("kvex_setpoint", "gauge", "The set-point in positions, as the sensor reports it.",
               one(std::to_string(sample.setpoint)));
        metric("kvex_tolerance", "gauge", "The tolerance in positions, as the sensor reports it.",
               one(std::to_string(sample.tol)));
        metric("kvex_in_tolerance", "gauge", "Whether the last value is in tolerance (1).",
               one(sample.inTol ? "1" : "0"));
        metric("kvex_last_sample_age_seconds", "gauge", "Time since the last answer.",
               one(metricNumber(now - state.sampleAt, "%.3f")));
    }
    if (reserveOn) {
        metric("kvex_signal_reserve_warn_ratio", "gauge",
               "The signal reserve below which the gateway warns.",
               one(metricNumber(reserve.warnBelow, "%.3f")));
        metric("kvex_reserve_line_failures_total", "counter",
               "Reserve lines that did not come whole since the gateway started.",
               one(std::to_string(reserve.failures)));
    }
    if (reserve.known) {
        if (std::isfinite(reserve.last.ratio))
            metric("kvex_signal_reserve_ratio", "gauge",
                   "How far the nearer side of the last reserve line stands from the video "
                   "threshold, as a share of it (0: edges lost).",
                   one(metricNumber(reserve.last.ratio, "%.4f")));
        if (std::isfinite(reserve.last.contrast))
            metric("kvex_signal_contrast_ratio", "gauge",
                   "(lit - shadow) / (lit + shadow) of the last reserve line.",
                   one(metricNumber(reserve.last.contrast, "%.4f")));
        metric("kvex_video_saturated", "gauge",
               "Whether the last reserve line reached the top of the video scale (1).",
               one(reserve.last.saturated ? "1" : "0"));
        metric("kvex_signal_reserve_warning", "gauge",
               "Whether the reserve is below the warning level or the edges are lost (1).",
               one(reserveWarns(reserve) ? "1" : "0"));
    }
    const DriftHealth &drift = state.drift;
    if (drift.enabled)
        metric("kvex_parameter_drift_check_failures_total", "counter",
               "Drift checks whose parameter sets did not come whole since the gateway started.",
               one(std::to_string(drift.failures)));
    if (drift.known) {
        // Without an approved set only RAM against EEPROM is compared: the others are left out
        // rather than given as 0, which would say the sensor agrees with it.
        std::vector<std::pair<std::string, std::string>> differing;
        for (int c = 0; c < DRIFT_COMPARES; ++c)
            if (c == DRIFT_RAM_EEPROM || drift.last.haveGolden)
                differing.push_back({std::string("{compare=\"") +
                                         driftCompareKey(static_cast<DriftCompare>(c)) + "\"}",
                                     std::to_string(drift.last.differing[c])});
        metric("kvex_parameter_drift_words", "gauge",
               "Parameter words that differ at the last drift check: RAM against EEPROM (unsaved "
               "changes), EEPROM and RAM against the approved set.",
               differing);
        metric("kvex_parameter_drift_checked_timestamp_seconds", "gauge",
               "When the last drift check came whole (seconds since 1970).",
               one(metricNumber(static_cast<double>(drift.checkedMs) / 1000.0, "%.3f")));
    }
    metric("kvex_samples_total", "counter", "Answers taken since the gateway started.",
           one(std::to_string(state.samples)));
    metric("kvex_serial_errors_total", "counter",
           "Answers that came back broken since the gateway started.",
           one(std::to_string(state.serialErrors)));
    metric("kvex_mqtt_connected", "gauge", "Whether the broker connection is up (1).",
           one(std::string(state.broker) == "connected" ? "1" : "0"));
    metric("kvex_queue_depth", "gauge", "Samples waiting for the broker.",
           one(std::to_string(state.queueDepth)));
    metric("kvex_dropped_samples_total", "counter", "Samples dropped because the queue was full.",
           one(std::to_string(state.dropped)));
    metric("kvex_samples_lost_total", "counter",
           "Samples that never reached the broker nor the store, by cause: the queue full, not "
           "published before a stop without --store, held only in memory while the store could "
           "not be written at a stop.",
           {{"{cause=\"queue_full\"}", std::to_string(state.dropped)},
            {"{cause=\"stop\"}", std::to_string(state.lostAtStop)},
            {"{cause=\"store_failing\"}", std::to_string(state.lostStoreFailing)}});
    metric("kvex_stream_clients", "gauge", "Live pages connected.", one(std::to_string(web.pages)));
    metric("kvex_stream_dropped_messages_total", "counter",
           "Messages not sent to a live page that read too slowly.",
           one(std::to_string(web.droppedMessages)));
    metric("kvex_uptime_seconds", "gauge", "Time since the gateway started.",
           one(metricNumber(now - state.startedAt, "%.0f")));
    metric("kvex_http_connections", "gauge", "Web connections open: live pages and the rest.",
           {{"{kind=\"page\"}", std::to_string(web.pages)},
            {"{kind=\"request\"}", std::to_string(web.requests)}});
    metric("kvex_http_connection_capacity", "gauge", "Web connections the gateway holds at most.",
           one(std::to_string(web.capacity)));
    std::vector<std::pair<std::string, std::string>> refused;
    for (const char *cause : {"address_cap", "descriptors", "total_cap"}) {
        const auto found = web.refused.find(cause);
        refused.push_back({std::string("{cause=\"") + cause + "\"}",
                           std::to_string(found == web.refused.end() ? 0 : found->second)});
    }
    metric("kvex_http_connections_refused_total", "counter",
           "New web connections closed at once, by cause.", refused);
    if (modbus)
        metric("kvex_modbus_connections_refused_total", "counter",
               "Modbus TCP connections closed at once over a cap, or after idling, by cause.",
               {{"{cause=\"address_cap\"}", std::to_string(modbus->addressCap.load())},
                {"{cause=\"total_cap\"}", std::to_string(modbus->totalCap.load())},
                {"{cause=\"idle\"}", std::to_string(modbus->idle.load())}});
    std::vector<std::pair<std::string, std::string>> answers;
    for (const auto &[code, count] : web.answers)
        answers.push_back({"{code=\"" + std::to_string(code) + "\"}", std::to_string(count)});
    if (!answers.empty())
        metric("kvex_http_requests_total", "counter",
               "Web answers sent, by status code (the server's own refusals included).", answers);
    ProcessFigures process;
    if (readProcessFigures(&process)) {
        metric("process_cpu_seconds_total", "counter",
               "Total user and system CPU time spent in seconds.",
               one(metricNumber(process.cpuSeconds, "%.2f")));
        metric("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
               one(metricNumber(process.residentBytes, "%.0f")));
        metric("process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.",
               one(metricNumber(process.virtualBytes, "%.0f")));
        metric("process_open_fds", "gauge", "Number of open file descriptors.",
               one(metricNumber(process.openDescriptors, "%.0f")));
        metric("process_max_fds", "gauge", "Maximum number of open file descriptors.",
               one(metricNumber(process.maxDescriptors, "%.0f")));
        metric("process_start_time_seconds", "gauge",
               "Start time of the process since unix epoch in seconds.",
               one(metricNumber(process.startTimeSeconds, "%.2f")));
    }
    return out;
}

std::unique_ptr<GatewayFace> makeMetricsFace(FaceServices &services) {
    if (!services.web)
        return nullptr;
    return std::make_unique<MetricsFace>(services);
}
