// The panel's switch that asks USB adapters for low latency when a port opens.
#pragma once

int CC_CHKLowLatency(int panel, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
