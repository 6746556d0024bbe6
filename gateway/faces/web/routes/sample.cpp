// The latest answer: what the pages and scripts poll when they do not follow the stream.
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

// GET /api/sample
//   200 the latest answer, byte for byte the meas topic's: {"ts","seq","store_epoch" (with a
//       store),"left","right","value","um","setpoint","tol","in_tol","ana_max","ana_min"}
//   503 {"error"} before the first answer
void addSampleRoutes(WebContext &c) {
    c.listener.route("/api/sample", [&c](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        return keptBody(c, c.sampleJson, "no sample yet");
    });
}
