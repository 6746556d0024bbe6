// One run-mode answer as the operator reads it: the tolerance verdict the bar graph shows, the
// value in micrometres, and its CSV row (shared by the panel's recording and the command line).
#pragma once

#include <ctime>
#include <string>

struct Measurement {
    std::string time; // ISO-8601 UTC with milliseconds, when the answer was taken
    unsigned short left, right, value;
    double microns; // NaN when the sensor's pitch is not known
    unsigned short setpoint, tolerance;
    bool inTolerance;
    unsigned short anaMax, anaMin;
};

// The single tolerance window of the current evaluation mode, from the set-point and tolerance
// the sensor reported; false in the mode with two windows (eMode 2).
bool toleranceWindow(int *lower, int *upper);
// The same for a given evaluation mode, set-point and tolerance (a copy taken elsewhere).
bool toleranceWindowOf(unsigned evaluationMode, unsigned setpoint, unsigned tolerance, int *lower,
                       int *upper);
// Whether the latest answer lies inside the green window(s) of the bar graph.
bool measurementInTolerance();
// The measurement variables as they stand now, stamped with the current time.
Measurement currentMeasurement();
// The current UTC time as 2026-12-08T04:35:12.345Z.
std::string isoTimeNow();
// The calendar time in UTC of a time_t, on every platform.
std::tm utcCalendar(std::time_t seconds);

// The set-point came last, after files without it were out: reading a column by its position
// works in both.
std::string measurementCsvHeader();
// One CSV line with its line end.
std::string measurementCsvLine(const Measurement &m);
