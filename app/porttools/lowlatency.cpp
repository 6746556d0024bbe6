// The Low latency switch beside the port list; it applies from the next connect on, so a run
// that is going is not disturbed.
#include "app/porttools/lowlatency.h"
#include "platform/rs232.h"
#include "platform/userint.h"

int CC_CHKLowLatency(int panel, int control, int event, void *, int, int) {
    if (event != EVENT_COMMIT)
        return 0;
    int on = 1;
    GetCtrlVal(panel, control, &on);
    setLowLatencyRequested(on != 0);
    return 0;
}
