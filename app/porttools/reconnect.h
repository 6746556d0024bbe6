// Reconnecting to a port's device that was unplugged and is back.
#pragma once

int CC_BTNReconnect(int panel, int control, int event, void *callbackData, int eventData1,
                    int eventData2);
// Starts watching for the return of the port's device; the panel then offers Reconnect.
void offerReconnects();
void stopOfferingReconnects();
