// Propose in video mode: the threshold and window the video line suggests, drawn over the curve,
// then Apply (RAM, checked by measuring), the EEPROM when the check passed, or Discard.
#pragma once

int CC_BTNPropose(int panel, int control, int event, void *callbackData, int eventData1,
                  int eventData2);
int CC_BTNProposeApply(int panel, int control, int event, void *callbackData, int eventData1,
                       int eventData2);
int CC_BTNProposeEeprom(int panel, int control, int event, void *callbackData, int eventData1,
                        int eventData2);
int CC_BTNProposeDiscard(int panel, int control, int event, void *callbackData, int eventData1,
                         int eventData2);
// Follows the live loops: Propose is offered once a video line is there and no run is going on.
void installProposal();
