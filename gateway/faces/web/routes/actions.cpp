// The sensor's two actions: teach a new set-point, reset the analogue output's max/min.
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

namespace {

void addAction(WebContext &c, const char *path, const char *what, bool teach) {
    c.listener.route(path, [&c, what, teach](const HttpRequest &request,
                                              const HttpServer::Reply &reply) {
        if (request.method != "POST")
            return methodNotAllowed("POST");
        if (auto refused = c.access.refuse(request, what, c.services.audit, "writes are off"))
            return *refused;
        SensorJob job;
        job.teach = teach;
        job.reset = !teach;
        const std::string client = request.remoteAddress;
        return submitJob(c, request, reply, job, [&c, client](const JobResult &result) {
            return answerWrite(c, client, result);
        });
    });
}

} // namespace

// POST /api/teach, with the token
//   200 {"params":{...}}: the words after the teach, the new set-point in t_val
// POST /api/reset-max-min, with the token
//   200 {"reset":true}
// Both: 504 {"error"} without the sensor's answer; 401, 403 without the token or from another
// site
void addActionRoutes(WebContext &c) {
    addAction(c, "/api/teach", "teach", true);
    addAction(c, "/api/reset-max-min", "reset max/min", false);
}
