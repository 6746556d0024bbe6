// A recording as its window shows it: spans of time, the chart's envelope, the statistics with the
// live panel's code, the report, the skipped rows and the nearest video line; and the ways to
// open one (the panel's button, the command line).
#pragma once

#include "app/commissioning/runstatistics.h"
#include "app/commissioning/statisticspanel.h"
#include "app/recording/reader.h"
#include "platform/recordingwindow.h"

#include <memory>
#include <string>
#include <utility>

class RecordingView : public RecordingSource {
  public:
    RecordingView(std::string path, Recording recording, VideoLines video);

    const Recording &recording() const { return recording_; }
    // The rows [first, last) whose times lie in [from, to] (seconds since 1970).
    std::pair<std::size_t, std::size_t> rowsIn(double from, double to) const;
    // The live panel's statistics over those rows.
    void statisticsOf(double from, double to, RunStatistics &stats) const;
    Capability capabilityOf(double from, double to, const RunStatistics &stats) const;

    std::string title() const override;
    bool empty() const override { return recording_.size() == 0; }
    double firstTime() const override;
    double lastTime() const override;
    void valueRange(double *lowest, double *highest) const override;
    void envelope(double from, double to, int columns, std::vector<double> &low,
                  std::vector<double> &high) const override;
    std::string readout(double time) const override;
    RecordingSummary summary(double from, double to) const override;
    std::string skippedText() const override;
    bool hasVideo() const override { return video_.size() > 0; }
    RecordingVideoLine videoLine(double time) const override;
    std::string writeReport(double from, double to,
                            const std::vector<std::string> &graphs) override;

  private:
    // A span's statistics and tolerance window, as the window's figures and the report show them.
    struct SpanFigures {
        RunStatistics stats;
        std::pair<std::size_t, std::size_t> rows;
        bool window = false;
        int lower = 0, upper = 0;
        std::size_t row = 0; // the row the window comes from
        StatisticsFigures figures;
    };
    SpanFigures figuresOf(double from, double to, bool forReport) const;
    // The tolerance window of the span's last row with a set-point; false when none has one.
    bool windowOf(std::size_t first, std::size_t last, int *lower, int *upper,
                  std::size_t *row) const;
    double micronsPerUnit() const;

    std::string path_;
    Recording recording_;
    VideoLines video_;
    std::uint16_t lowest_ = 0, highest_ = 0;
};

// Reads a recording file or folder and shows it in a window of its own; false, with the reason in
// the panel's status line, when nothing could be opened.
bool openRecording(const std::string &path);
// The recording the command line asks for (--open), shown once the panel is up; "" for none.
void setRecordingToOpenAtStart(const std::string &path);
void openRecordingAskedAtStart();
// The view the last window opened shows; for checks.
std::shared_ptr<RecordingView> lastRecordingView();

int CC_BTNOpenRecording(int panel, int control, int event, void *callbackData, int eventData1,
                        int eventData2);
