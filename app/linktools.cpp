// The Traffic… window over the link's frame record, and the Reconnect offer when a lost device
// is back.
#include "app/linktools.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/rs232link.h"
#include "com232/traffic.h"
#include "platform/devicewatch.h"
#include "platform/monitorwindow.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"

namespace {

MonitorSource trafficSource() {
    MonitorSource source;
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
        std::vector<MonitorRow> rows;
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
        OpenMonitorWindow(pHandle, trafficSource());
    return 0;
}

int CC_BTNReconnect(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT || exchangeDepth > 0)
        return 0;
    stop_flag = 1;
    CloseCom(com);
    showStatusText(kvex::tr("Init COM-Port ..."));
    if (InitRS232(com) == LINK_OK)
        SetCtrlAttribute(pHandle, BTNReconnect, ATTR_DIMMED, 1);
    return 0;
}

void offerReconnects() {
    watchDeviceReturn([] { return com; },
                      [] {
                          SetCtrlAttribute(pHandle, BTNReconnect, ATTR_DIMMED, 0);
                          // A loop that is still waiting out its time-out keeps its own text.
                          if (exchangeDepth == 0)
                              showStatusText(kvex::tr("Device is back - press Reconnect!"));
                      });
}

void stopOfferingReconnects() {
    stopDeviceWatch();
}
