// The tolerance verdict, the micrometre value and the CSV form of a run-mode answer.
#include "app/measurement.h"
#include "com232/paraframe.h"
#include "com232/sensorunits.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

// The position the bar graph evaluates: left edge, right edge or the centre of both.
int evaluatedPosition() {
    if (eMode == 0)
        return Ledge;
    if (eMode == 1)
        return Redge;
    return (Ledge == 0 || Redge == 0) ? 1 : (Ledge + Redge) / 2;
}

bool within(int x, int lower, int upper) {
    return x >= lower && x <= upper;
}

} // namespace

bool toleranceWindowOf(unsigned evaluationMode, unsigned setpoint, unsigned tolerance, int *lower,
                       int *upper) {
    if (evaluationMode == 2)
        return false;
    *lower = static_cast<int>(setpoint) - static_cast<int>(tolerance);
    *upper = static_cast<int>(setpoint) + static_cast<int>(tolerance);
    return true;
}

bool toleranceWindow(int *lower, int *upper) {
    return toleranceWindowOf(eMode, tVal, tol, lower, upper);
}

bool measurementInTolerance() {
    int lower = 0, upper = 0;
    if (toleranceWindow(&lower, &upper))
        return within(evaluatedPosition(), lower, upper);
    // Two windows, one per edge, set-point apart around the centre.
    if (edcnt == 0)
        return false;
    const int p = evaluatedPosition(), half = tVal / 2, t = tol / 2;
    return within(Ledge, p - half - t, p - half + t) && within(Redge, p + half - t, p + half + t);
}

std::tm utcCalendar(std::time_t seconds) {
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    return utc;
}

std::string isoTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    const std::tm utc = utcCalendar(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    return text;
}

Measurement currentMeasurement() {
    return {isoTimeNow(),
            Ledge,
            Redge,
            Mvalue,
            positionMicrons(Mvalue),
            tVal,
            tol,
            measurementInTolerance(),
            anaMax,
            anaMin};
}

std::string measurementCsvHeader() {
    return "time (UTC),left edge (units),right edge (units),measured value (units),"
           "measured value (µm),tolerance (units),in tolerance,analogue max,analogue min,"
           "set-point (units)\n";
}

std::string measurementCsvLine(const Measurement &m) {
    char microns[32] = "";
    if (!std::isnan(m.microns))
        std::snprintf(microns, sizeof microns, "%.2f", m.microns);
    char line[256];
    std::snprintf(line, sizeof line, "%s,%u,%u,%u,%s,%u,%s,%u,%u,%u\n", m.time.c_str(), m.left,
                  m.right, m.value, microns, m.tolerance, m.inTolerance ? "in" : "out", m.anaMax,
                  m.anaMin, m.setpoint);
    return line;
}
