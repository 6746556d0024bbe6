// The sensor's identity and the gateway's own.
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

// GET /api/info
//   200 the info topic's body: {"sensor_type","board","pixels","firmware","pitch_um","device",
//       "version","dropped","store_epoch","store" (the last two with a store)}
//   503 {"error"} before the sensor was identified
void addInfoRoutes(WebContext &c) {
    c.listener.route("/api/info", [&c](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        return keptBody(c, c.infoJson, "no sensor identified yet");
    });
}
