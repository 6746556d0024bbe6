// The video line's CSV header and rows.
#include "app/recording/videocsv.h"
#include "app/measurement.h"
#include "com232/paraframe.h"
#include "com232/videodata.h"
#include "gui/graphs.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr int kVideoSamples = 256;

std::string figure(double value) {
    if (!std::isfinite(value))
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}
} // namespace

std::string videoCsvHeader() {
    std::string header = "time (UTC),left edge (units),right edge (units),measured value (units)";
    for (int i = 0; i < kVideoSamples; ++i)
        header += ",sample " + std::to_string(i);
    return header + ",threshold (units)\n";
}

std::string videoCsvLine() {
    std::string line = isoTimeNow() + "," + std::to_string(Ledge) + "," + std::to_string(Redge) +
                       "," + std::to_string(Mvalue);
    line.reserve(line.size() + 6 * kVideoSamples + 8);
    for (int i = 0; i < kVideoSamples; ++i)
        line += "," + std::to_string(adcbuf[i]);
    return line + "," + std::to_string(thdArray[0]) + "\n";
}

std::string videoReserveComment() {
    const SignalReserve r = GetVIDEOLineReserve();
    return "# signal_reserve=" + figure(r.ratio) + " reserve_state=" + reserveStateKey(r.state) +
           " contrast=" + figure(r.contrast) + " saturated=" + (r.saturated ? "true" : "false") +
           " (the first line's; docs/signal-reserve.md)\n";
}

std::string videoReserveJsonKeys() {
    const SignalReserve r = GetVIDEOLineReserve();
    return ",\"signal_reserve\":" + figure(r.ratio) + ",\"reserve_state\":\"" +
           reserveStateKey(r.state) + "\",\"contrast\":" + figure(r.contrast) +
           ",\"saturated\":" + (r.saturated ? "true" : "false");
}
