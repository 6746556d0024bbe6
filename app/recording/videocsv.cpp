// The video line's CSV header and rows.
#include "app/recording/videocsv.h"
#include "app/measurement.h"
#include "com232/paraframe.h"
#include "com232/videodata.h"
#include "gui/graphs.h"

namespace {
constexpr int kVideoSamples = 256;
}

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
