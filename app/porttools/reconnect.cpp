// The Reconnect offer when a lost device is back, and the reconnection itself.
#include "app/porttools/reconnect.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/rs232link.h"
#include "platform/devicewatch.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"

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
