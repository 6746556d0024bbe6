// The web API: routes, snapshots, the queue of requests for the polling thread, writes behind a
// token, the audit list and the Prometheus metrics.
#include "gateway/webapi.h"
#include "app/commissioning/runstatistics.h"
#include "app/jsontext.h"
#include "app/measurement.h"
#include "app/parameterwords.h"
#include "app/porttools/portdoctor.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "gateway/options.h"
#include "gateway/core/sensorjobs.h"
#include "gateway/faces/web/webbody.h"
#include "gateway/faces/web/webfiles.h"
#include "gateway/core/wordwrites.h"
#include "platform/httpserver.h"
#include "platform/processfigures.h"
#include "platform/tr.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#ifndef KVEX_VERSION
#define KVEX_VERSION "unknown"
#endif

namespace {

// The longest a request waits for the polling thread; a sensor that does not answer takes
// 1.5 s per exchange, a write three exchanges.
constexpr double kJobWaitSeconds = 15.0;
constexpr double kVideoInterval = 1.0;
constexpr double kStatusInterval = 1.0;
constexpr std::size_t kAuditKept = 50;
// Panel's histogram: about this many bins over the values seen and the tolerance window.

double steadyNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A metric's value; the JSON bodies' numbers are written in payloads.cpp.
std::string metricNumber(double value, const char *format) {
    if (!std::isfinite(value))
        return "null";
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

HttpResponse json(int status, std::string body) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

const char *contentTypeOf(const std::string &path) {
    static const std::pair<const char *, const char *> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".woff2", "font/woff2"},
        {".txt", "text/plain; charset=utf-8"},
    };
    for (const auto &type : types) {
        const std::string ending = type.first;
        if (path.size() >= ending.size() &&
            path.compare(path.size() - ending.size(), ending.size(), ending) == 0)
            return type.second;
    }
    return "application/octet-stream";
}

// The Host header as far as it can name a host: anything else is left out of the policy.
std::string safeHost(const std::string &host) {
    for (const char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' ||
              c == '[' || c == ']'))
            return {};
    return host;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A browser names the page's origin; a request from another site's page is refused. Clients
// that are not browsers send neither header.
bool crossSite(const HttpRequest &request) {
    const std::string site = lower(request.header("sec-fetch-site"));
    if (!site.empty() && site != "same-origin" && site != "none")
        return true;
    std::string origin = lower(request.header("origin"));
    if (origin.empty())
        return false;
    for (const char *scheme : {"http://", "https://"})
        if (origin.rfind(scheme, 0) == 0)
            origin = origin.substr(std::string(scheme).size());
    return origin != lower(request.header("host"));
}

bool sameText(const std::string &a, const std::string &b) {
    // Compares every byte whatever the first difference, so the time says nothing of the token.
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i % std::max<std::size_t>(b.size(), 1)]);
    return difference == 0 && !b.empty();
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

} // namespace

struct WebApi::Impl {
    // Work for the polling thread, and where its answer goes.
    struct Job {
        bool needsSensor;
        std::function<HttpResponse()> work;
        HttpServer::Reply reply;
        double deadline;
    };

    HttpSettings settings;
    std::string token;
    bool reserveOn = false;
    int serialPort;
    Hooks hooks;
    HttpServer server;
    const double started = steadyNow();

    // What the polling thread published; the server's threads read copies.
    mutable std::mutex snapshotMutex;
    std::string sampleJson;
    GatewaySample sample{};
    double lastSample = -1.0;
    bool haveInfo = false;
    SensorInfo info{};
    std::string infoJson;
    bool haveParams = false;
    uint16_t params[16] = {};
    std::string paramsJson;
    int positions = -1;
    WebHealth health;
    uint64_t serialErrors = 0;
    std::deque<std::string> auditList;
    ReserveHealth reserve;
    std::deque<ReserveReading> trend;
    // Entries made on a server thread, published by the polling thread.
    std::vector<std::string> auditPending;

    mutable std::mutex jobsMutex;
    std::deque<std::shared_ptr<Job>> jobs;
    bool stopping = false;

    std::mutex limitMutex;
    double lastVideo = -1e9;
    int failures = 0;
    double lastFailure = -1e9;

    // The polling thread's own.
    RunStatistics statistics;
    double lastStatus = -1e9;

    GatewayStatus status() const {
        const std::lock_guard<std::mutex> lock(snapshotMutex);
        const double now = steadyNow();
        GatewayStatus out;
        out.sensorAnswering = health.sensorPresent;
        out.mqtt = health.mqtt;
        out.queueDepth = health.queueDepth;
        out.dropped = health.dropped;
        out.samples = health.samples;
        out.store = health.store;
        out.serialErrors = serialErrors;
        out.lastSampleAgeMs = lastSample < 0 ? -1 : std::lround((now - lastSample) * 1000.0);
        out.uptimeSeconds = std::lround(now - started);
        out.version = KVEX_VERSION;
        out.writesEnabled = !token.empty();
        out.reserve = reserve;
        return out;
    }

    std::string limitsBody() const {
        int known = -1;
        {
            const std::lock_guard<std::mutex> lock(snapshotMutex);
            known = positions;
        }
        ParameterLimit limits[16];
        for (int word = 0; word < 16; ++word)
            limits[word] = parameterLimit(word, known);
        return limitsJson(limits);
    }

    std::string metricsText() const {
        const std::lock_guard<std::mutex> lock(snapshotMutex);
        std::string out;
        auto metric = [&](const char *name, const char *type, const char *help,
                          const std::vector<std::pair<std::string, std::string>> &values) {
            out +=
                std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
            for (const auto &value : values)
                out += name + value.first + " " + value.second + "\n";
        };
        auto one = [](const std::string &value) {
            return std::vector<std::pair<std::string, std::string>>{{"", value}};
        };
        metric("kvex_up", "gauge", "Whether the sensor answers (1) or not (0).",
               one(health.sensorPresent ? "1" : "0"));
        if (haveInfo)
            metric(
                "kvex_info", "gauge", "The sensor's and the gateway's identity.",
                {{"{sensor_type=\"" + std::to_string(info.ccdtype) + "\",board=\"" +
                      std::to_string(info.pcbtype) + "\",pixels=\"" + std::to_string(info.pixels) +
                      "\",firmware=\"" + labelValue(info.firmware) + "\",device=\"" +
                      labelValue(info.device) + "\",version=\"" + labelValue(info.version) + "\"}",
                  "1"}});
        if (lastSample >= 0) {
            metric("kvex_measured_value", "gauge",
                   "The last measured value in the sensor's positions.",
                   one(std::to_string(sample.value)));
            metric("kvex_edge_position", "gauge", "The last left and right edge in positions.",
                   {{"{edge=\"left\"}", std::to_string(sample.left)},
                    {"{edge=\"right\"}", std::to_string(sample.right)}});
            if (std::isfinite(sample.um))
                metric("kvex_measured_value_meters", "gauge",
                       "The last measured value in metres (the sensor's pitch known).",
                       one(metricNumber(sample.um * 1e-6, "%.9g")));
            metric("kvex_setpoint", "gauge",
                   "The set-point in positions, as the sensor reports it.",
                   one(std::to_string(sample.setpoint)));
            metric("kvex_tolerance", "gauge",
                   "The tolerance in positions, as the sensor reports it.",
                   one(std::to_string(sample.tol)));
            metric("kvex_in_tolerance", "gauge", "Whether the last value is in tolerance (1).",
                   one(sample.inTol ? "1" : "0"));
            metric("kvex_last_sample_age_seconds", "gauge", "Time since the last answer.",
                   one(metricNumber(steadyNow() - lastSample, "%.3f")));
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
                       "How far the working side of the last reserve line stands from the video "
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
        metric("kvex_samples_total", "counter", "Answers taken since the gateway started.",
               one(std::to_string(health.samples)));
        metric("kvex_serial_errors_total", "counter",
               "Answers that came back broken since the gateway started.",
               one(std::to_string(serialErrors)));
        metric("kvex_mqtt_connected", "gauge", "Whether the broker connection is up (1).",
               one(std::string(health.mqtt) == "connected" ? "1" : "0"));
        metric("kvex_queue_depth", "gauge", "Samples waiting for the broker.",
               one(std::to_string(health.queueDepth)));
        metric("kvex_dropped_samples_total", "counter",
               "Samples dropped because the queue was full.", one(std::to_string(health.dropped)));
        metric("kvex_stream_clients", "gauge", "Live pages connected.",
               one(std::to_string(server.websockets())));
        metric("kvex_stream_dropped_messages_total", "counter",
               "Messages not sent to a live page that read too slowly.",
               one(std::to_string(server.droppedMessages())));
        metric("kvex_uptime_seconds", "gauge", "Time since the gateway started.",
               one(metricNumber(steadyNow() - started, "%.0f")));
        const HttpStats web = server.stats();
        metric("kvex_http_connections", "gauge", "Web connections open: live pages and the rest.",
               {{"{kind=\"page\"}", std::to_string(web.pages)},
                {"{kind=\"request\"}", std::to_string(web.requests)}});
        metric("kvex_http_connection_capacity", "gauge",
               "Web connections the gateway holds at most.", one(std::to_string(web.capacity)));
        std::vector<std::pair<std::string, std::string>> refused;
        for (const char *cause : {"address_cap", "descriptors", "total_cap"}) {
            const auto found = web.refused.find(cause);
            refused.push_back({std::string("{cause=\"") + cause + "\"}",
                               std::to_string(found == web.refused.end() ? 0 : found->second)});
        }
        metric("kvex_http_connections_refused_total", "counter",
               "New web connections closed at once, by cause.", refused);
        std::vector<std::pair<std::string, std::string>> answers;
        for (const auto &[code, count] : web.answers)
            answers.push_back({"{code=\"" + std::to_string(code) + "\"}", std::to_string(count)});
        if (!answers.empty())
            metric("kvex_http_requests_total", "counter",
                   "Web answers sent, by status code (the server's own refusals included).",
                   answers);
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

    // Runs on the polling thread.
    std::string statsBody() {
        StatsFigures figures;
        int lower = 0, upper = 0;
        const bool window = toleranceWindow(&lower, &upper);
        const Capability capability = processCapability(statistics, window, lower, upper);
        figures.count = statistics.count();
        figures.mean = statistics.mean();
        figures.stdDev = statistics.standardDeviation();
        figures.min = statistics.minimum();
        figures.max = statistics.maximum();
        figures.inTolShare = statistics.inToleranceShare();
        figures.cp = capability.cp;
        figures.cpk = capability.cpk;
        figures.cpReason = capability.reason;
        figures.haveWindow = window;
        figures.windowLower = lower;
        figures.windowUpper = upper;
        figures.haveHistogram = statistics.count() > 0;
        if (figures.haveHistogram) {
            // The panel's bins, so the page's histogram is the one the operator knows.
            const HistogramBins bins =
                histogramBins(statistics, window, lower, upper, kHistogramBins);
            figures.histogramLower = std::lround(bins.lower + 0.5);
            figures.histogramWidth = bins.width;
            figures.histogramCounts = bins.counts;
        }
        return statsJson(figures);
    }

    // Queues `work` for the polling thread, which answers through `reply`; 504 when it does
    // not get to it in time. The network thread goes on meanwhile: what it returns (status 0)
    // says the answer comes later.
    HttpResponse onPollingThread(bool needsSensor, std::function<HttpResponse()> work,
                                 const HttpServer::Reply &reply) {
        auto job = std::make_shared<Job>();
        job->needsSensor = needsSensor;
        job->work = std::move(work);
        job->reply = reply;
        job->deadline = steadyNow() + kJobWaitSeconds;
        const std::lock_guard<std::mutex> lock(jobsMutex);
        if (stopping)
            return json(503, errorJson("the gateway is stopping"));
        jobs.push_back(job);
        return answerLater();
    }

    static HttpResponse answerLater() {
        HttpResponse response;
        response.status = 0;
        return response;
    }

    void runJobs(bool betweenCycles) {
        std::deque<std::shared_ptr<Job>> taken;
        {
            const std::lock_guard<std::mutex> lock(jobsMutex);
            taken.swap(jobs);
        }
        if (taken.empty())
            return;
        const double now = steadyNow();
        bool present = false;
        {
            const std::lock_guard<std::mutex> lock(snapshotMutex);
            present = health.sensorPresent;
        }
        std::deque<std::shared_ptr<Job>> later;
        for (const auto &job : taken) {
            // Between two cycles the sensor is there; otherwise its work waits for the next pause
            // or, while no sensor answers, is refused.
            if (now > job->deadline) {
                job->reply(json(504, errorJson("the gateway did not get to the request in time")));
                continue;
            }
            if (job->needsSensor && !betweenCycles && present) {
                later.push_back(job);
                continue;
            }
            job->reply(job->needsSensor && !betweenCycles
                           ? json(503, errorJson("no sensor answering"))
                           : job->work());
        }
        const std::lock_guard<std::mutex> lock(jobsMutex);
        jobs.insert(jobs.begin(), later.begin(), later.end());
    }

    // Logs one write: stderr, the audit list, and (from the polling thread) the stream and the
    // broker.
    void audit(const std::string &client, const std::string &rawWhat, const std::string &result,
               const char *format = kvex::tr("web write from %s: %s: %s")) {
        // What a client sent goes into the journal as one line whatever it holds.
        std::string what = rawWhat;
        for (char &c : what)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = ' ';
        std::fprintf(stderr, kvex::trNow(format), client.c_str(), what.c_str(), result.c_str());
        std::fputc('\n', stderr);
        std::fflush(stderr);
        const std::string entry = auditEntryJson(isoTimeNow(), client, what, result);
        const std::lock_guard<std::mutex> lock(snapshotMutex);
        auditList.push_back(entry);
        if (auditList.size() > kAuditKept)
            auditList.pop_front();
        auditPending.push_back(entry);
    }

    // Nothing when the request may write; otherwise the refusal.
    std::optional<HttpResponse> refuseWrite(const HttpRequest &request, const std::string &what) {
        if (crossSite(request))
            return json(403, errorJson("cross-site request refused"));
        if (token.empty())
            return json(403, errorJson("writes are off: start the gateway with --http-token-file "
                                       "FILE (INI key http-token-file) to turn them on"));
        const std::string authorization = request.header("authorization");
        const std::string scheme = "Bearer ";
        if (authorization.size() > scheme.size() &&
            lower(authorization.substr(0, scheme.size())) == lower(scheme) &&
            sameText(authorization.substr(scheme.size()), token))
            return std::nullopt;
        double delay = 0.0;
        {
            // Each failure within a minute of the last doubles the wait, up to 5 s.
            const std::lock_guard<std::mutex> lock(limitMutex);
            const double now = steadyNow();
            failures = now - lastFailure > 60.0 ? 1 : std::min(failures + 1, 10);
            lastFailure = now;
            delay = std::min(0.2 * (1 << std::min(failures, 5)), 5.0);
        }
        audit(request.remoteAddress, what,
              authorization.empty() ? "refused: no token" : "refused: wrong token");
        HttpResponse response = json(401, errorJson("a valid token is needed: "
                                                    "Authorization: Bearer TOKEN"));
        response.headers.push_back({"WWW-Authenticate", "Bearer"});
        response.delayMs = static_cast<int>(delay * 1000.0);
        return response;
    }

    HttpResponse putParams(const HttpRequest &request, const HttpServer::Reply &reply) {
        const bool eeprom = request.query == "to=eeprom";
        if (!request.query.empty() && !eeprom && request.query != "to=ram")
            return json(400, errorJson("expected ?to=ram or ?to=eeprom"));
        if (auto refused = refuseWrite(request, std::string("parameter words to ") +
                                                    (eeprom ? "EEPROM" : "RAM")))
            return *refused;
        std::vector<WordValue> values;
        std::string error;
        if (!parseWordObject(request.body, &values, &error))
            return json(400, errorJson(error));
        int known = -1;
        {
            const std::lock_guard<std::mutex> lock(snapshotMutex);
            known = positions;
        }
        CheckedWrite write;
        int status = 0;
        std::string refusal;
        if (!checkWordWrite(values, eeprom, known, &write, &status, &refusal))
            return json(status, refusal);
        const std::string client = request.remoteAddress;
        return onPollingThread(
            true, [this, write, client] { return finish(client, write.what, runWordWrite(write)); },
            reply);
    }

    // The audit entry of a write, the gateway told of new RAM words, and the client's answer.
    HttpResponse finish(const std::string &client, const std::string &what,
                        const WriteOutcome &outcome) {
        audit(client, what, outcome.result);
        if (outcome.ramChanged)
            hooks.paramsChanged(outcome.words);
        return json(outcome.status, outcome.body);
    }

    HttpResponse teach(const HttpRequest &request, const HttpServer::Reply &reply) {
        if (auto refused = refuseWrite(request, "teach"))
            return *refused;
        const std::string client = request.remoteAddress;
        return onPollingThread(
            true, [this, client] { return finish(client, "teach", runTeach()); }, reply);
    }

    HttpResponse resetMaxMin(const HttpRequest &request, const HttpServer::Reply &reply) {
        if (auto refused = refuseWrite(request, "reset max/min"))
            return *refused;
        const std::string client = request.remoteAddress;
        return onPollingThread(
            true, [this, client] { return finish(client, "reset max/min", runResetMaxMin()); },
            reply);
    }

    HttpResponse video(const HttpServer::Reply &reply) {
        {
            const std::lock_guard<std::mutex> lock(limitMutex);
            const double now = steadyNow();
            if (now - lastVideo < kVideoInterval) {
                HttpResponse response =
                    json(429, errorJson("one video line a second for all clients together"));
                response.headers.push_back({"Retry-After", "1"});
                return response;
            }
            lastVideo = now;
        }
        return onPollingThread(true, [this] {
            uint16_t line[256];
            if (!readSensorVideoLine(line))
                return json(504, errorJson("the video line did not come whole"));
            VideoLine out;
            out.ts = isoTimeNow();
            out.pixels.assign(line, line + 256);
            out.xStep = xArray8[1];
            out.fullScale = YAXISMAX;
            const std::lock_guard<std::mutex> lock(snapshotMutex);
            out.reserve = lineReserve(line, params, out.ts);
            out.threshold = params[2];
            out.left = sample.left;
            out.right = sample.right;
            out.value = sample.value;
            out.evalBegin = params[6];
            out.evalEnd = params[7];
            out.pixelCount = info.pixels;
            out.positions = positions;
            return json(200, videoJson(out));
        },
                               reply);
    }

    HttpResponse doctor(const HttpServer::Reply &reply) {
        return onPollingThread(
            true,
            [this] {
                // The gateway holds the port between two cycles; the check may use it meanwhile.
                const int depth = exchangeDepth;
                exchangeDepth = 0;
                const PortReport report = examinePort(serialPort);
                exchangeDepth = depth;
                return json(200, portReportJson(report));
            },
            reply);
    }

    HttpResponse staticFile(const std::string &path) {
        const std::string name = path == "/" ? "index.html" : path.substr(1);
        for (const WebFile &file : webFiles())
            if (name == file.path) {
                HttpResponse response;
                response.contentType = contentTypeOf(name);
                response.body.assign(reinterpret_cast<const char *>(file.data), file.size);
                response.headers.push_back({"Cache-Control", "no-cache"});
                return response;
            }
        return json(404, errorJson("not found"));
    }

    HttpResponse route(const HttpRequest &request, const HttpServer::Reply &reply) {
        const std::string &path = request.path;
        const std::string &method = request.method;
        const bool get = method == "GET" || method == "HEAD";
        auto only = [&](bool allowed, const char *allow, const std::function<HttpResponse()> &f) {
            if (allowed)
                return f();
            HttpResponse response = json(405, errorJson("method not allowed"));
            response.headers.push_back({"Allow", allow});
            return response;
        };
        auto copy = [this](const std::string &text) {
            const std::lock_guard<std::mutex> lock(snapshotMutex);
            return text;
        };
        if (path == "/api/sample")
            return only(get, "GET", [&] {
                const std::string text = copy(sampleJson);
                return text.empty() ? json(503, errorJson("no sample yet")) : json(200, text);
            });
        if (path == "/api/info")
            return only(get, "GET", [&] {
                const std::string text = copy(infoJson);
                return text.empty() ? json(503, errorJson("no sensor identified yet"))
                                    : json(200, text);
            });
        if (path == "/api/params") {
            if (method == "PUT")
                return putParams(request, reply);
            return only(get, "GET, PUT", [&] {
                if (request.query == "from=eeprom")
                    return onPollingThread(
                        true,
                        [] {
                            uint16_t words[16];
                            return readSensorWords(WordMemory::Eeprom, words)
                                       ? json(200, parametersJson(words))
                                       : json(504, errorJson("the sensor did not answer"));
                        },
                        reply);
                const std::string text = copy(paramsJson);
                return text.empty() ? json(503, errorJson("no sensor identified yet"))
                                    : json(200, text);
            });
        }
        if (path == "/api/limits")
            return only(get, "GET", [&] { return json(200, limitsBody()); });
        if (path == "/api/status")
            return only(get, "GET", [&] { return json(200, statusJson(status())); });
        if (path == "/api/stats")
            return only(get, "GET", [&] {
                return onPollingThread(
                    false, [this] { return json(200, statsBody()); }, reply);
            });
        if (path == "/api/stats/reset")
            return only(method == "POST", "POST", [&] {
                if (crossSite(request))
                    return json(403, errorJson("cross-site request refused"));
                return onPollingThread(
                    false,
                    [this] {
                        statistics.reset();
                        return json(200, statsBody());
                    },
                    reply);
            });
        if (path == "/api/video")
            return only(get, "GET", [&] { return video(reply); });
        if (path == "/api/reserve")
            return only(get, "GET", [&] {
                const std::lock_guard<std::mutex> lock(snapshotMutex);
                return json(200, reserveTrendJson(reserve.warnBelow, trend));
            });
        if (path == "/api/doctor")
            return only(get, "GET", [&] { return doctor(reply); });
        if (path == "/api/audit")
            return only(get, "GET", [&] {
                const std::lock_guard<std::mutex> lock(snapshotMutex);
                return json(200, auditListJson(auditList));
            });
        if (path == "/api/teach")
            return only(method == "POST", "POST", [&] { return teach(request, reply); });
        if (path == "/api/reset-max-min")
            return only(method == "POST", "POST", [&] { return resetMaxMin(request, reply); });
        if (path == "/metrics")
            return only(get, "GET", [&] {
                HttpResponse response = json(200, metricsText());
                response.contentType = "text/plain; version=0.0.4; charset=utf-8";
                return response;
            });
        if (path.rfind("/api/", 0) == 0)
            return json(404, errorJson("no such endpoint"));
        return only(get, "GET", [&] { return staticFile(path); });
    }

    // On the network thread: answers at once, or leaves the answer to the polling thread.
    void handle(const HttpRequest &request, const HttpServer::Reply &reply) {
        HttpResponse response = route(request, reply);
        if (response.status != 0)
            reply(std::move(response));
    }

    // Every answer, the server's own refusals included, carries the page's policy.
    static void secure(const HttpRequest &request, HttpResponse *out) {
        HttpResponse &response = *out;
        const std::string host = safeHost(request.header("host"));
        const std::string sockets = host.empty() ? "" : " ws://" + host + " wss://" + host;
        response.headers.push_back(
            {"Content-Security-Policy",
             "default-src 'self'; connect-src 'self'" + sockets +
                 "; img-src 'self' data:; style-src 'self'; script-src 'self'; "
                 "frame-ancestors 'none'; base-uri 'none'; form-action 'self'"});
        response.headers.push_back({"X-Content-Type-Options", "nosniff"});
        response.headers.push_back({"Referrer-Policy", "no-referrer"});
        response.headers.push_back({"X-Frame-Options", "DENY"});
        if (std::none_of(response.headers.begin(), response.headers.end(),
                         [](const auto &h) { return h.first == "Cache-Control"; }))
            response.headers.push_back({"Cache-Control", "no-store"});
    }
};

WebApi::WebApi(const GatewayOptions &options, std::string token, int port, Hooks hooks)
    : impl_(std::make_unique<Impl>()) {
    impl_->settings.address = options.httpAddress;
    impl_->settings.port = options.httpPort;
    impl_->settings.certFile = options.httpCert;
    impl_->settings.keyFile = options.httpKey;
    impl_->settings.limits = options.httpLimits;
    impl_->token = std::move(token);
    impl_->reserveOn = options.reserveEvery > 0.0;
    impl_->reserve.warnBelow = options.reserveWarn;
    impl_->reserve.enabled = impl_->reserveOn;
    impl_->serialPort = port;
    impl_->hooks = std::move(hooks);
}

WebApi::~WebApi() {
    {
        const std::lock_guard<std::mutex> lock(impl_->jobsMutex);
        impl_->stopping = true;
        for (const auto &job : impl_->jobs)
            job->reply(json(503, errorJson("the gateway is stopping")));
        impl_->jobs.clear();
    }
    impl_->server.stop();
}

bool WebApi::sensorWorkWaiting() const {
    const std::lock_guard<std::mutex> lock(impl_->jobsMutex);
    return std::any_of(impl_->jobs.begin(), impl_->jobs.end(),
                       [](const auto &job) { return job->needsSensor; });
}

bool WebApi::start(std::string *error) {
    Impl *impl = impl_.get();
    impl->settings.decorate = &Impl::secure;
    impl->settings.log = [](const std::string &line) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    };
    return impl->server.start(
        impl->settings,
        [impl](const HttpRequest &request, HttpServer::Reply reply) {
            impl->handle(request, reply);
        },
        "/ws", [](const HttpRequest &request) { return !crossSite(request); }, error);
}

int WebApi::listeningPort() const {
    return impl_->server.port();
}

void WebApi::publishSample(const GatewaySample &sample, bool serialError) {
    Impl &d = *impl_;
    d.statistics.add(sample.value, sample.inTol);
    const std::string text = measJson({sample});
    {
        const std::lock_guard<std::mutex> lock(d.snapshotMutex);
        d.sampleJson = text;
        d.sample = sample;
        d.lastSample = steadyNow();
        d.serialErrors += serialError ? 1 : 0;
        d.health.samples = sample.seq;
        d.health.sensorPresent = true;
    }
    d.server.broadcast(measMessage(text), "meas");
}

void WebApi::publishInfo(const SensorInfo &info) {
    Impl &d = *impl_;
    const std::string text = infoJson(info);
    bool changed = false;
    {
        const std::lock_guard<std::mutex> lock(d.snapshotMutex);
        changed = text != d.infoJson;
        d.info = info;
        d.haveInfo = true;
        d.infoJson = text;
        d.positions = static_cast<int>(ccdsubpixel);
    }
    // Kept for pages that open later: they take the identity from the stream rather than ask
    // for it before the gateway has it.
    if (changed)
        d.server.broadcast(infoMessage(text), "info");
}

void WebApi::publishParams(const uint16_t words[16]) {
    Impl &d = *impl_;
    const std::string text = paramsJson(words);
    bool changed = false;
    {
        const std::lock_guard<std::mutex> lock(d.snapshotMutex);
        changed = !d.haveParams || !std::equal(words, words + 16, d.params);
        std::copy(words, words + 16, d.params);
        d.haveParams = true;
        d.paramsJson = text;
    }
    if (changed)
        d.server.broadcast(paramsMessage(text), "params");
}

void WebApi::restoreReserveTrend(std::deque<ReserveReading> readings) {
    const std::lock_guard<std::mutex> lock(impl_->snapshotMutex);
    impl_->trend = std::move(readings);
}

void WebApi::publishReserve(const ReserveHealth &health, const ReserveReading *reading) {
    Impl &d = *impl_;
    {
        const std::lock_guard<std::mutex> lock(d.snapshotMutex);
        d.reserve = health;
        if (reading) {
            d.trend.push_back(*reading);
            if (d.trend.size() > kReserveTrendKept)
                d.trend.pop_front();
        }
    }
    d.server.broadcast(healthMessage(health), "health");
}

void WebApi::audit(const char *format, const std::string &client, const std::string &what,
                   const std::string &result) {
    impl_->audit(client, what, result, format);
}

void WebApi::tick(bool betweenCycles) {
    Impl &d = *impl_;
    d.runJobs(betweenCycles);
    std::vector<std::string> audits;
    {
        const std::lock_guard<std::mutex> lock(d.snapshotMutex);
        audits.swap(d.auditPending);
    }
    for (const std::string &entry : audits) {
        d.server.broadcast(auditMessage(entry));
        d.hooks.audit(entry);
    }
    const double now = steadyNow();
    if (now - d.lastStatus < kStatusInterval)
        return;
    d.lastStatus = now;
    const WebHealth health = d.hooks.health();
    {
        const std::lock_guard<std::mutex> lock(d.snapshotMutex);
        d.health = health;
    }
    d.server.broadcast(statusMessage(d.status()));
}
