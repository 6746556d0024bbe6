// The signal reserve's trend, kept across restarts with a store, and the set-up its last line
// suggests.
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
    // GET /api/proposal
    //   200 {"known","ts","proposed","v_thd","e_beg","e_end","lit_margin","shadow_margin",
    //       "signal_reserve","contrast"}, or {"known","ts","proposed":false,"reason","advice"}: a
    //       threshold and window for the last reserve line, to be set by whoever decides; the
    //       gateway writes nothing of it
    c.listener.route("/api/proposal", [&c](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        return jsonResponse(200, reserveProposalJson(c.services.snapshot()->reserve.proposal));
    });
}
