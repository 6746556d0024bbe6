// The commissioning report, and the EEPROM's parameter set it compares the panel's with.
#pragma once

// Registers the report's panel callback (before the panel file is loaded) and forgets the
// EEPROM's words; again at each start-up.
void installReport();
// After a GET: keeps the words when they came from the EEPROM.
void noteParameterGet(int source);

int CC_BTNReport(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
