// Commissioning: live statistics and the histogram of run mode, the commissioning report, and
// the EEPROM's parameter set the report compares with.
#pragma once

#include "platform/report.h"

#include <string>

class RunStatistics;
struct Capability;

// The statistics as the operator reads them: the language's decimal separator, micrometres where
// the pitch is known (micronsPerUnit not NaN); shared by the panel and the recording window.
struct StatisticsFigures {
    std::string samples, mean, sigma, minimum, maximum, inTolerance, cp, cpk, capabilityNote;
};
// forReport: the micrometre sign in UTF-8 for the report, else in the panel's Latin-1.
StatisticsFigures statisticsFigures(const RunStatistics &stats, const Capability &capability,
                                    bool window, int lower, int upper, double micronsPerUnit,
                                    bool forReport);
// The report's statistics rows; window false: the limits are the two windows of one per edge.
ReportRows statisticsReportRows(const StatisticsFigures &figures, bool window, int lower,
                                int upper);

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
