// The gateway's health: sensor, broker, backlog, store and the signal reserve.
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

// GET /api/status
//   200 {"status" ("online" or "no-sensor"),"sensor_answering","mqtt","queue_depth","dropped",
//       "samples","store","serial_errors","last_sample_age_ms","uptime_s","version",
//       "writes_enabled","health","signal_reserve","reserve_state","contrast","saturated",
//       "reserve_failures","advice"}; the stream's status message carries the same keys
void addStatusRoutes(WebContext &c) {
    c.listener.route("/api/status", [&c](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        return jsonResponse(200, statusJson(*c.services.snapshot(), steadySeconds(),
                                            c.access.enabled()));
    });
}
