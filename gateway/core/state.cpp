// The reserve's verdicts and the clock the gateway's ages and deadlines count on.
#include "gateway/core/state.h"

#include <chrono>
#include <cmath>

bool reserveWarns(const ReserveHealth &health) {
    if (!health.known)
        return false;
    return health.last.state == "lost" ||
           (std::isfinite(health.last.ratio) && health.last.ratio < health.warnBelow);
}

const char *healthWord(const ReserveHealth &health) {
    return !health.enabled        ? "off"
           : !health.known        ? "unknown"
           : reserveWarns(health) ? "warn"
                                  : "ok";
}

const char *driftWord(const DriftHealth &drift) {
    return !drift.enabled ? "off" : !drift.known ? "unknown" : drift.last.any() ? "drift" : "ok";
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
