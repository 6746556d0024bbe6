// The Traffic… window over the link's frame record.
#include "app/porttools/trafficmonitor.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/traffic.h"
#include "platform/tr.h"
#include "platform/trafficwindow.h"
#include "platform/userint.h"

namespace {

TrafficWindowSource trafficSource() {
    TrafficWindowSource source;
    source.title = kvex::tr("K-VEX-RTN traffic");
    source.columns = trafficColumns();
    source.widths = trafficColumnWidths();
    source.record = [](bool on) {
        if (on)
            startTraffic();
        else
            stopTraffic();
    };
    source.pause = pauseTraffic;
    source.clear = clearTraffic;
    source.version = trafficVersion;
    source.rows = [] {
        std::vector<TrafficWindowRow> rows;
        for (const TrafficFrame &f : trafficFrames())
            rows.push_back({trafficCells(f), f.isShort || f.late || f.badSync});
        return rows;
    };
    source.save = saveTraffic;
    return source;
}

} // namespace

int CC_BTNTraffic(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        OpenTrafficWindow(pHandle, trafficSource());
    return 0;
}
