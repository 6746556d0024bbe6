// What the web face's routes share: the gateway's services, the copies of the poller's news this
// face keeps for the network thread, the token's check, and the way a route asks for sensor work.
#pragma once

#include "app/commissioning/runstatistics.h"
#include "gateway/core/face.h"
#include "gateway/core/weblistener.h"
#include "gateway/faces/web/access.h"

#include <functional>
#include <mutex>
#include <string>

struct WebContext {
    WebContext(FaceServices &services, std::string token)
        : services(services), listener(*services.web), access(std::move(token)) {}

    FaceServices &services;
    WebListener &listener;
    WriteAccess access;

    // Written on the poller's thread as its news comes, read by the routes on the network
    // thread: each body encoded once, when it changes.
    std::mutex mutex;
    std::string sampleJson, infoJson, paramsJson;
    RunStatistics statistics;
};

// Asks the poller for `job` on behalf of the client of `reply`, refusing a request from another
// site's page first. The answer comes at once when the job is refused (429 with Retry-After, 503)
// or a recent result answers it; otherwise later, from `answer`, or 504 when the deadline passed
// before the job could start. A client that closes its connection takes its waiting job along.
HttpResponse submitJob(WebContext &c, const HttpRequest &request, const HttpServer::Reply &reply,
                       SensorJob job, std::function<HttpResponse(const JobResult &)> answer);

// A write job's one step as the client's answer, after it went into the audit for `client`:
// 200 with what the sensor holds now, 502 when the read-back differs, 504 without an answer.
HttpResponse answerWrite(WebContext &c, const std::string &client, const JobResult &result);

// A body the face keeps (sample, info, params): 200 with it, or 503 with `missing` before it
// came.
HttpResponse keptBody(WebContext &c, const std::string &body, const char *missing);

// GET, and HEAD, which is answered as GET without the body.
inline bool isGet(const HttpRequest &request) {
    return request.method == "GET" || request.method == "HEAD";
}

// One function per area of the API; each adds its routes (routes/*.cpp).
void addSampleRoutes(WebContext &c);
void addInfoRoutes(WebContext &c);
void addStatusRoutes(WebContext &c);
void addParamsRoutes(WebContext &c);
void addActionRoutes(WebContext &c);
void addVideoRoutes(WebContext &c);
void addStatsRoutes(WebContext &c);
void addDoctorRoutes(WebContext &c);
void addAuditRoutes(WebContext &c);
void addReserveRoutes(WebContext &c);
void addDriftRoutes(WebContext &c);
void addPageRoutes(WebContext &c);
