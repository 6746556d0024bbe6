// The run's statistics since the gateway started or the last reset: the panel's own figures.
#include "app/measurement.h"
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

#include <cmath>

namespace {

// Under the context's lock: the statistics and the tolerance window of the newest sample.
std::string statsBody(WebContext &c, const GatewayState &state) {
    StatsFigures figures;
    int lower = 0, upper = 0;
    const bool window = state.haveSample && toleranceWindowOf(state.params[5], state.sample.setpoint,
                                                              state.sample.tol, &lower, &upper);
    const RunStatistics &statistics = c.statistics;
    const Capability capability = processCapability(statistics, window, lower, upper);
    figures.count = statistics.count();
    figures.mean = statistics.mean();
    figures.stdDev = statistics.standardDeviation();
    figures.min = statistics.minimum();
    figures.max = statistics.maximum();
    figures.inTolShare = statistics.inToleranceShare();
    figures.cp = capability.cp;
    figures.cpk = capability.cpk;
    figures.cpReason = capability.reason;
    figures.haveWindow = window;
    figures.windowLower = lower;
    figures.windowUpper = upper;
    figures.haveHistogram = statistics.count() > 0;
    if (figures.haveHistogram) {
        // The panel's bins, so the page's histogram is the one the operator knows.
        const HistogramBins bins = histogramBins(statistics, window, lower, upper, kHistogramBins);
        figures.histogramLower = std::lround(bins.lower + 0.5);
        figures.histogramWidth = bins.width;
        figures.histogramCounts = bins.counts;
    }
    return statsJson(figures);
}

} // namespace

// GET /api/stats
//   200 {"count","mean","std_dev","min","max","in_tol_share","cp","cpk","cp_reason" (null when
//       Cp is given),"window":{"lower","upper"} or null,"histogram":{"lower","width","counts"}
//       or null}
// POST /api/stats/reset: the statistics start again; 200 the same keys, 403 from another site
void addStatsRoutes(WebContext &c) {
    c.listener.route("/api/stats", [&c](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        const auto state = c.services.snapshot();
        const std::lock_guard<std::mutex> lock(c.mutex);
        return jsonResponse(200, statsBody(c, *state));
    });
    c.listener.route("/api/stats/reset", [&c](const HttpRequest &request,
                                              const HttpServer::Reply &) {
        if (request.method != "POST")
            return methodNotAllowed("POST");
        if (crossSite(request))
            return jsonResponse(403, errorJson("cross-site request refused"));
        const auto state = c.services.snapshot();
        const std::lock_guard<std::mutex> lock(c.mutex);
        c.statistics.reset();
        return jsonResponse(200, statsBody(c, *state));
    });
}
