// The signal reserve's trend, kept across restarts with a store.
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

// GET /api/reserve
//   200 {"reserve_warn","readings":[{"ts","signal_reserve","reserve_state","contrast",
//       "saturated"},...]}: the reserve lines, oldest first
void addReserveRoutes(WebContext &c) {
    c.listener.route("/api/reserve", [&c](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        return jsonResponse(200, reserveTrendJson(c.services.snapshot()->reserve.warnBelow,
                                                  *c.services.reserveTrend()));
    });
}
