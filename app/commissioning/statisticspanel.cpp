// Statistics of run mode shown live on the panel with their histogram, and the figures as the
// operator reads them.
#include "app/commissioning/statisticspanel.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/commissioning/runstatistics.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/sensorunits.h"
#include "gui/graphs.h"
#include "platform/histogram.h"
#include "platform/language.h"
#include "platform/report.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The panel's figures and histogram follow the run at most this often; each sample still counts.
constexpr double kDisplayInterval = 0.2;

RunStatistics statistics;
bool statisticsEnabled = true;
double lastShown = -1e9;
int observerId = 0;

const CallbackEntry callbacks[] = {
    {"CC_BTNResetStatistics", CC_BTNResetStatistics, nullptr},
};

// A figure as the operator reads it: the language's decimal separator (the C library writes '.').
std::string format(const char *pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    std::replace(text, text + std::strlen(text), '.', kvexplatform::shownDecimalSeparator());
    return text;
}

// The micrometre sign as the panel's texts (Latin-1) and the report (UTF-8) spell it.
const char *const kPanelMicrons = " (%.1f \xB5m)";
const char *const kReportMicrons = " (%.1f \xC2\xB5m)";

// A value in the sensor's units, and in micrometres where the pitch is known; "" when NaN.
std::string unitsAndMicrons(double units, const char *pattern, double micronsPerUnitValue,
                            const char *micronsPattern) {
    if (std::isnan(units))
        return "";
    std::string text = format(pattern, units);
    if (!std::isnan(micronsPerUnitValue))
        text += format(micronsPattern, units * micronsPerUnitValue);
    return text;
}

void showHistogram() {
    int lower = 0, upper = 0;
    const bool window = toleranceWindow(&lower, &upper);
    const double markers[3] = {window ? lower : kNaN, static_cast<double>(tVal),
                               window ? upper : kNaN};
    const HistogramBins bins = histogramBins(statistics, window, lower, upper, kHistogramBins);
    PlotHistogram(pHandle, GRAPHHistogram, bins.counts.data(), static_cast<int>(bins.counts.size()),
                  bins.lower, bins.width, markers);
}

void resetStatistics() {
    statistics.reset();
    showRunStatistics();
}

void addSample() {
    if (!statisticsEnabled)
        return;
    statistics.add(Mvalue, measurementInTolerance());
    if (Timer() - lastShown >= kDisplayInterval)
        showRunStatistics();
}

} // namespace

StatisticsFigures runFigures(bool forReport) {
    int lower = 0, upper = 0;
    const bool window = toleranceWindow(&lower, &upper);
    return statisticsFigures(statistics, processCapability(statistics, window, lower, upper),
                             window, lower, upper, micronsPerUnit(), forReport);
}

void showRunStatistics() {
    lastShown = Timer();
    const StatisticsFigures f = runFigures(false);
    SetCtrlVal(pHandle, STATSamples, f.samples.c_str());
    SetCtrlVal(pHandle, STATMean, f.mean.c_str());
    SetCtrlVal(pHandle, STATSigma, f.sigma.c_str());
    SetCtrlVal(pHandle, STATMinimum, f.minimum.c_str());
    SetCtrlVal(pHandle, STATMaximum, f.maximum.c_str());
    SetCtrlVal(pHandle, STATInTolerance, f.inTolerance.c_str());
    SetCtrlVal(pHandle, STATCp, f.cp.c_str());
    SetCtrlVal(pHandle, STATCpk, f.cpk.c_str());
    SetCtrlToolTip(pHandle, STATCp, f.capabilityNote.c_str());
    SetCtrlToolTip(pHandle, STATCpk, f.capabilityNote.c_str());
    showHistogram();
}

StatisticsFigures statisticsFigures(const RunStatistics &stats, const Capability &capability,
                                    bool window, int lower, int upper, double micronsPerUnitValue,
                                    bool forReport) {
    const char *micronsPattern = forReport ? kReportMicrons : kPanelMicrons;
    StatisticsFigures f;
    f.samples = std::to_string(stats.count());
    f.mean = unitsAndMicrons(stats.mean(), "%.2f", micronsPerUnitValue, micronsPattern);
    f.sigma =
        unitsAndMicrons(stats.standardDeviation(), "%.3f", micronsPerUnitValue, micronsPattern);
    f.minimum = unitsAndMicrons(stats.minimum(), "%.0f", micronsPerUnitValue, micronsPattern);
    f.maximum = unitsAndMicrons(stats.maximum(), "%.0f", micronsPerUnitValue, micronsPattern);
    const double share = stats.inToleranceShare();
    f.inTolerance = std::isnan(share) ? "" : format("%.1f %%", 100.0 * share);
    f.cp = std::isnan(capability.cp) ? "" : format("%.2f", capability.cp);
    f.cpk = std::isnan(capability.cpk) ? "" : format("%.2f", capability.cpk);
    f.capabilityNote = capability.reason;
    if (window && capability.reason.empty())
        f.capabilityNote =
            kvex::trArgs("Against the tolerance window %1 to %2 (set-point ± tolerance)",
                         {std::to_string(lower), std::to_string(upper)});
    return f;
}

ReportRows statisticsReportRows(const StatisticsFigures &f, bool window, int lower, int upper) {
    return {
        {kvex::tr("Samples"), f.samples},
        {kvex::tr("Mean"), f.mean},
        {kvex::tr("Std. deviation"), f.sigma},
        {kvex::tr("Minimum"), f.minimum},
        {kvex::tr("Maximum"), f.maximum},
        {kvex::tr("Limits (LSL to USL)"),
         window ? kvex::trArgs("%1 to %2", {std::to_string(lower), std::to_string(upper)})
                : kvex::tr("two windows, one per edge")},
        {kvex::tr("In tolerance"), f.inTolerance},
        {"Cp",
         f.cp.empty() ? "- (" + std::string(kvex::trNow(f.capabilityNote.c_str())) + ")" : f.cp},
        {"Cpk", f.cpk.empty() ? "-" : f.cpk},
    };
}

void installStatistics() {
    RegisterCallbacks(callbacks, static_cast<int>(sizeof callbacks / sizeof *callbacks));
    statistics.reset();
    if (observerId)
        removeLiveObserver(observerId);
    LiveObserver observer;
    observer.runStarted = resetStatistics;
    observer.runSample = addSample;
    observer.runEnded = [](LiveEnd) { showRunStatistics(); };
    observerId = addLiveObserver(std::move(observer));
}

const RunStatistics &runStatistics() {
    return statistics;
}

void setRunStatisticsEnabled(bool enabled) {
    statisticsEnabled = enabled;
}

int CC_BTNResetStatistics(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        resetStatistics();
    return 0;
}
