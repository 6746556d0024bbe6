// Commissioning: live statistics and the histogram of run mode, the commissioning report, and
// the EEPROM's parameter set the report compares with.
#pragma once

class RunStatistics;

// Registers the panel callbacks of statistics and report (before the panel file is loaded) and
// follows the live loops; again at each start-up.
void installCommissioning();
// After a GET: keeps the words when they came from the EEPROM.
void noteParameterGet(int source);
// The statistics of the current or last run.
const RunStatistics &runStatistics();
// Run mode collects statistics unless switched off (for the benchmark's comparison).
void setRunStatisticsEnabled(bool enabled);

int CC_BTNResetStatistics(int panel, int control, int event, void *callbackData, int eventData1,
                          int eventData2);
int CC_BTNReport(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
