// The Traffic… window: the link's frame record, shown while the window is open.
#pragma once

int CC_BTNTraffic(int panel, int control, int event, void *callbackData, int eventData1,
                  int eventData2);
