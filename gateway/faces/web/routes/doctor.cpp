// The port check (Check port…, kvex-rtn-cli doctor) run by the gateway on its own port.
#include "app/porttools/portdoctor.h"
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

// GET /api/doctor, with the token: the check reopens the port and pauses the measurement
//   200 doctor --json's body: {"port","device","ok","answer_ms","firmware","checks":[{"name",
//       "result","detail","fix"},...]}; a check asked for within 10 s of another gets its result
//   401, 403 without the token (the refusal goes into the audit) or from another site; 429,
//   503, 504 as every sensor job
void addDoctorRoutes(WebContext &c) {
    c.listener.route("/api/doctor", [&c](const HttpRequest &request,
                                         const HttpServer::Reply &reply) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        if (auto refused = c.access.refuse(
                request, "port check", c.services.audit,
                "port checks are off (a check reopens the port and pauses the measurement)"))
            return *refused;
        SensorJob job;
        job.kind = SensorJob::Kind::PortCheck;
        return submitJob(c, request, reply, job, [](const JobResult &result) {
            return jsonResponse(200, portReportJson(result.report));
        });
    });
}
