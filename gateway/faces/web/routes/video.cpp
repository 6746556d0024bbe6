// One CCD video line with what a reader needs to draw it, and its signal reserve.
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

// GET /api/video (a sensor job, one new line a second for all clients together)
//   200 {"ts","pixels":[256 values],"threshold","left","right","value","eval_begin","eval_end",
//       "pixel_count","positions","x_step","full_scale","signal_reserve","reserve_state",
//       "contrast","saturated"}
//   429 {"error"} with Retry-After within the second after another line; 504 {"error"} when
//   the line did not come whole
void addVideoRoutes(WebContext &c) {
    c.listener.route("/api/video", [&c](const HttpRequest &request,
                                        const HttpServer::Reply &reply) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        SensorJob job;
        job.kind = SensorJob::Kind::VideoLine;
        return submitJob(c, request, reply, job, [](const JobResult &result) {
            return result.answered
                       ? jsonResponse(200, videoJson(result.video))
                       : jsonResponse(504, errorJson("the video line did not come whole"));
        });
    });
}
