// The recording window: a recorded run's strip chart with zoom, pan and a readout, the
// statistics and histogram of the whole run or a span of it, its report and its video lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

// One figure of the statistics: the name of its display, its label (marked for translation) and
// its value as shown.
struct RecordingFigure {
    std::string key;
    std::string label;
    std::string value;
};

struct RecordingSummary {
    std::string span; // what the figures cover, e.g. the times and the number of rows
    std::vector<RecordingFigure> figures;
    std::string capabilityNote;
    // Histogram: counts per bin of binWidth from lower; markers as PlotHistogram takes them.
    std::vector<long> counts;
    double lower = 0.0, binWidth = 1.0;
    double markers[3] = {0.0, 0.0, 0.0};
};

struct RecordingVideoLine {
    bool found = false;
    std::vector<double> samples;
    double threshold = 0.0;
    std::string caption; // when the line was taken
};

// What the window shows, supplied by the program. Times are seconds since 1970 (UTC).
class RecordingSource {
  public:
    virtual ~RecordingSource() = default;

    virtual std::string title() const = 0;
    virtual bool empty() const = 0;
    virtual double firstTime() const = 0;
    virtual double lastTime() const = 0;
    // The smallest and largest measured value of the whole recording.
    virtual void valueRange(double *lowest, double *highest) const = 0;
    // The smallest and largest measured value in each of `columns` equal slices of [from, to];
    // NaN where a slice holds no row.
    virtual void envelope(double from, double to, int columns, std::vector<double> &low,
                          std::vector<double> &high) const = 0;
    // The row nearest to time, as the operator reads it.
    virtual std::string readout(double time) const = 0;
    virtual RecordingSummary summary(double from, double to) const = 0;
    // The rows left out and why; empty when none.
    virtual std::string skippedText() const = 0;
    virtual bool hasVideo() const = 0;
    virtual RecordingVideoLine videoLine(double time) const = 0;
    // Asks for the report's file and writes it for [from, to]; the outcome for the operator.
    // `graphs` names the window's graphs for the report (chart, histogram, video line).
    virtual std::string writeReport(double from, double to,
                                    const std::vector<std::string> &graphs) = 0;
};

// Opens a window of its own for the source; 0, or a negative user-interface error.
int ShowRecordingWindow(std::shared_ptr<RecordingSource> source);
