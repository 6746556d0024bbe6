// The statistics of run mode, live on the panel with their histogram, and their figures as the
// operator reads them (shared by the panel, the report and the recording window).
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

// Registers the statistics' panel callback (before the panel file is loaded) and follows the
// live loops; again at each start-up.
void installStatistics();
// The current or last run's figures.
StatisticsFigures runFigures(bool forReport);
// Shows the current figures and histogram on the panel now.
void showRunStatistics();
// The statistics of the current or last run.
const RunStatistics &runStatistics();
// Run mode collects statistics unless switched off (for the benchmark's comparison).
void setRunStatisticsEnabled(bool enabled);

int CC_BTNResetStatistics(int panel, int control, int event, void *callbackData, int eventData1,
                          int eventData2);
