// The web face's part on the poller's thread: each sample, identity, word set, reserve line and
// audit entry encoded once, kept for the routes and broadcast to the live pages; the status once
// a second. The routes themselves run on the network thread and never wait for the sensor.
#include "gateway/faces/web/webface.h"
#include "gateway/core/logging.h"
#include "gateway/faces/web/webcontext.h"
#include "gateway/options.h"
#include "gateway/payloads.h"
#include "platform/tr.h"

namespace {

constexpr double kStatusInterval = 1.0;

HttpResponse refusalOf(JobScheduler::Ticket ticket) {
    switch (ticket.admission) {
    case JobScheduler::Admission::Full:
    case JobScheduler::Admission::TooSoon: {
        HttpResponse response = jsonResponse(
            429, errorJson(ticket.admission == JobScheduler::Admission::TooSoon
                               ? "one video line a second for all clients together"
                               : "too much sensor work waits already; try again later"));
        response.headers.push_back(
            {"Retry-After", std::to_string(static_cast<long>(ticket.retryAfter))});
        return response;
    }
    case JobScheduler::Admission::NoSensor:
        return jsonResponse(503, errorJson("no sensor answering"));
    case JobScheduler::Admission::Stopping:
        return jsonResponse(503, errorJson("the gateway is stopping"));
    default:
        return answerLater();
    }
}

class WebFace : public GatewayFace {
  public:
    WebFace(FaceServices &services, std::string token) : c_(services, std::move(token)) {
        addSampleRoutes(c_);
        addInfoRoutes(c_);
        addStatusRoutes(c_);
        addParamsRoutes(c_);
        addActionRoutes(c_);
        addVideoRoutes(c_);
        addStatsRoutes(c_);
        addDoctorRoutes(c_);
        addAuditRoutes(c_);
        addReserveRoutes(c_);
        addDriftRoutes(c_);
        addPageRoutes(c_);
    }

    bool start(std::string *) override {
        const GatewayOptions &o = c_.services.options;
        logEvent(kvex::tr("web page on %s://%s:%d/, writes %s"),
                 c_.listener.tls() ? "https" : "http", o.httpAddress.c_str(), c_.listener.port(),
                 c_.access.enabled() ? kvex::trNow("on (token file)") : kvex::trNow("off"));
        return true;
    }

    // Kept for pages that open later: they take the identity and the words from the stream
    // rather than ask for them before the gateway has them.
    void sensorChanged(const GatewayState &state) override {
        if (!state.sensorAnswering)
            return;
        keep(&c_.infoJson, infoJson(state.info), &infoMessage, "info");
        paramsChanged(state);
    }

    void paramsChanged(const GatewayState &state) override {
        keep(&c_.paramsJson, paramsJson(state.params.data()), &paramsMessage, "params");
    }

    void sampleTaken(const GatewayState &state) override {
        const std::string text = measJson({state.sample});
        {
            const std::lock_guard<std::mutex> lock(c_.mutex);
            c_.sampleJson = text;
            c_.statistics.add(state.sample.value, state.sample.inTol);
        }
        c_.listener.broadcast(measMessage(text), "meas");
    }

    void reserveChecked(const GatewayState &state, const ReserveReading *) override {
        c_.listener.broadcast(healthMessage(state.reserve), "health");
    }

    void driftChecked(const GatewayState &state) override {
        c_.listener.broadcast(driftMessage(state.drift), "drift");
    }

    void audited(const std::string &entry) override { c_.listener.broadcast(auditMessage(entry)); }

    void tick(const GatewayState &state) override {
        const double now = steadySeconds();
        if (now - lastStatus_ < kStatusInterval)
            return;
        lastStatus_ = now;
        c_.listener.broadcast(statusMessage(state, now, c_.access.enabled()));
    }

  private:
    // The body for the routes, and to the pages when it changed.
    void keep(std::string *slot, const std::string &text,
              std::string (*message)(const std::string &), const char *retainAs) {
        {
            const std::lock_guard<std::mutex> lock(c_.mutex);
            if (*slot == text)
                return;
            *slot = text;
        }
        c_.listener.broadcast(message(text), retainAs);
    }

    WebContext c_;
    double lastStatus_ = -1e9;
};

} // namespace

HttpResponse submitJob(WebContext &c, const HttpRequest &request, const HttpServer::Reply &reply,
                       SensorJob job, std::function<HttpResponse(const JobResult &)> answer) {
    if (crossSite(request))
        return jsonResponse(403, errorJson("cross-site request refused"));
    const JobScheduler::Ticket ticket = c.services.jobs.submit(
        std::move(job),
        [reply, answer = std::move(answer)](const JobResult &result) {
            switch (result.status) {
            case JobResult::Status::Done:
                return reply(answer(result));
            case JobResult::Status::Late:
                return reply(
                    jsonResponse(504, errorJson("the gateway did not get to the request in time")));
            case JobResult::Status::NoSensor:
                return reply(jsonResponse(503, errorJson("no sensor answering")));
            case JobResult::Status::Stopping:
                return reply(jsonResponse(503, errorJson("the gateway is stopping")));
            }
        },
        [reply] { return reply.gone(); });
    return refusalOf(ticket);
}

HttpResponse keptBody(WebContext &c, const std::string &body, const char *missing) {
    std::string text;
    {
        const std::lock_guard<std::mutex> lock(c.mutex);
        text = body;
    }
    return text.empty() ? jsonResponse(503, errorJson(missing)) : jsonResponse(200, text);
}

HttpResponse answerWrite(WebContext &c, const std::string &client, const JobResult &result) {
    const auto &[what, outcome] = result.steps.front();
    c.services.audit.record(webAuditFormat(), client, what, outcome.result);
    if (!outcome.answered)
        return jsonResponse(504, errorJson(outcome.failure));
    switch (outcome.kind) {
    case WriteOutcome::Kind::Words:
        return jsonResponse(
            outcome.verified ? 200 : 502,
            writeResultJson(outcome.eeprom, outcome.verified, outcome.words.data()));
    case WriteOutcome::Kind::Teach:
        return jsonResponse(200, teachResultJson(outcome.words.data()));
    case WriteOutcome::Kind::Reset:
        break;
    }
    return jsonResponse(200, resetResultJson());
}

std::unique_ptr<GatewayFace> makeWebFace(FaceServices &services) {
    if (!services.web)
        return nullptr;
    return std::make_unique<WebFace>(services, services.options.httpToken);
}
