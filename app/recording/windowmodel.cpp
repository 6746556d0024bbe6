// A recording's spans, envelope, statistics and report for its window, and opening recordings
// from the panel and the command line.
#include "app/recording/windowmodel.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/commissioning/statisticspanel.h"
#include "com232/rs232link.h"
#include "platform/language.h"
#include "platform/report.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <regex>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::weak_ptr<RecordingView> lastView;
std::string openAtStart;

std::int64_t toMs(double seconds) {
    return std::llround(seconds * 1000.0);
}

std::string baseName(const std::string &path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\'))
        trimmed.pop_back();
    return std::filesystem::path(trimmed).filename().string();
}

// A figure as the operator reads it: the language's decimal separator.
std::string number(double value, const char *pattern) {
    char text[48];
    std::snprintf(text, sizeof text, pattern, value);
    std::replace(text, text + std::strlen(text), '.', kvexplatform::shownDecimalSeparator());
    return text;
}

// One line of the skipped-rows message for each reason that left rows out.
std::string skipLine(SkipReason reason, const SkipCount &skip) {
    const std::string rows = std::to_string(skip.rows), line = std::to_string(skip.firstLine);
    switch (reason) {
    case SkipReason::NotARecording:
        return kvex::trArgs("%1: not a recording (no recording's header), %2 lines left out",
                            {skip.firstFile, rows});
    case SkipReason::Empty:
        return kvex::trArgs("%1: the file is empty", {skip.firstFile});
    case SkipReason::Truncated:
        return kvex::trArgs("%1 rows skipped: the last line is cut off (%2, line %3)",
                            {rows, skip.firstFile, line});
    case SkipReason::BadField:
        return kvex::trArgs(
            "%1 rows skipped: a field is missing, extra or not a number (first: %2, line %3)",
            {rows, skip.firstFile, line});
    case SkipReason::OutOfOrder:
        return kvex::trArgs(
            "%1 rows skipped: earlier than the row before them (first: %2, line %3)",
            {rows, skip.firstFile, line});
    case SkipReason::Unreadable:
        return kvex::trArgs("%1: cannot be read", {skip.firstFile});
    }
    return "";
}

// A rotated recording's file, NAME-YYYYMMDDTHHMMSSZ.csv: its folder holds the whole recording.
bool isRotatedFile(const std::string &path) {
    static const std::regex rotated(R"(.*-\d{8}T\d{6}Z\.csv$)");
    return std::regex_match(baseName(path), rotated);
}

std::string reportPathFor(const std::string &recordingPath) {
    std::string base = recordingPath;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    if (base.size() > 4 && base.compare(base.size() - 4, 4, ".csv") == 0)
        base.resize(base.size() - 4);
    return base + "-report.pdf";
}

} // namespace

RecordingView::RecordingView(std::string path, Recording recording, VideoLines video)
    : path_(std::move(path)), recording_(std::move(recording)), video_(std::move(video)) {
    if (!recording_.value.empty()) {
        const auto extremes = std::minmax_element(recording_.value.begin(), recording_.value.end());
        lowest_ = *extremes.first;
        highest_ = *extremes.second;
    }
}

std::pair<std::size_t, std::size_t> RecordingView::rowsIn(double from, double to) const {
    const auto &t = recording_.timeMs;
    const auto first = std::lower_bound(t.begin(), t.end(), toMs(from));
    const auto last = std::upper_bound(first, t.end(), toMs(to));
    return {static_cast<std::size_t>(first - t.begin()),
            static_cast<std::size_t>(last - t.begin())};
}

void RecordingView::statisticsOf(double from, double to, RunStatistics &stats) const {
    stats.reset();
    const auto rows = rowsIn(from, to);
    for (std::size_t i = rows.first; i < rows.second; ++i)
        stats.add(recording_.value[i], (recording_.flags[i] & kRowInTolerance) != 0);
}

bool RecordingView::windowOf(std::size_t first, std::size_t last, int *lower, int *upper,
                             std::size_t *row) const {
    for (std::size_t i = last; i > first; --i) {
        if (recording_.flags[i - 1] & kRowHasSetpoint) {
            *lower = recording_.setpoint[i - 1] - recording_.tolerance[i - 1];
            *upper = recording_.setpoint[i - 1] + recording_.tolerance[i - 1];
            *row = i - 1;
            return true;
        }
    }
    return false;
}

Capability RecordingView::capabilityOf(double from, double to, const RunStatistics &stats) const {
    const auto rows = rowsIn(from, to);
    int lower = 0, upper = 0;
    std::size_t row = 0;
    if (!windowOf(rows.first, rows.second, &lower, &upper, &row))
        return {kNaN, kNaN,
                kvex::tr("Recorded without the set-point: no tolerance window to rate")};
    return processCapability(stats, true, lower, upper);
}

double RecordingView::micronsPerUnit() const {
    return recording_.micronsPerUnit > 0.0 ? recording_.micronsPerUnit : kNaN;
}

std::string RecordingView::title() const {
    return kvex::trArgs("Recording %1", {baseName(path_)});
}

double RecordingView::firstTime() const {
    return recording_.size() ? recording_.timeMs.front() / 1000.0 : 0.0;
}

double RecordingView::lastTime() const {
    return recording_.size() ? recording_.timeMs.back() / 1000.0 : 0.0;
}

void RecordingView::valueRange(double *lowest, double *highest) const {
    *lowest = lowest_;
    *highest = highest_;
}

void RecordingView::envelope(double from, double to, int columns, std::vector<double> &low,
                             std::vector<double> &high) const {
    low.assign(static_cast<std::size_t>(std::max(columns, 0)), kNaN);
    high.assign(low.size(), kNaN);
    const auto &t = recording_.timeMs;
    auto at = std::lower_bound(t.begin(), t.end(), toMs(from));
    for (int c = 0; c < columns; ++c) {
        const std::int64_t end = toMs(from + (to - from) * (c + 1) / columns);
        const auto stop = c + 1 == columns ? std::upper_bound(at, t.end(), end)
                                           : std::lower_bound(at, t.end(), end);
        if (stop != at) {
            const auto first = recording_.value.begin() + (at - t.begin());
            const auto extremes = std::minmax_element(first, first + (stop - at));
            low[static_cast<std::size_t>(c)] = *extremes.first;
            high[static_cast<std::size_t>(c)] = *extremes.second;
        }
        at = stop;
    }
}

std::string RecordingView::readout(double time) const {
    const auto &t = recording_.timeMs;
    if (t.empty())
        return "";
    const std::int64_t ms = toMs(time);
    auto after = std::lower_bound(t.begin(), t.end(), ms);
    if (after == t.end() || (after != t.begin() && ms - *(after - 1) <= *after - ms))
        --after;
    const std::size_t i = static_cast<std::size_t>(after - t.begin());
    std::string value = std::to_string(recording_.value[i]);
    if (!std::isnan(micronsPerUnit()))
        value += " (" + number(recording_.value[i] * micronsPerUnit(), "%.1f") + " µm)";
    return kvex::trArgs("%1: value %2, edges %3 and %4, %5",
                        {formatTime(t[i]), value, std::to_string(recording_.left[i]),
                         std::to_string(recording_.right[i]),
                         (recording_.flags[i] & kRowInTolerance)
                             ? kvex::trNow("in tolerance")
                             : kvex::trNow("out of tolerance")});
}

RecordingView::SpanFigures RecordingView::figuresOf(double from, double to, bool forReport) const {
    SpanFigures span;
    statisticsOf(from, to, span.stats);
    span.rows = rowsIn(from, to);
    span.window = windowOf(span.rows.first, span.rows.second, &span.lower, &span.upper, &span.row);
    span.figures = statisticsFigures(span.stats, capabilityOf(from, to, span.stats), span.window,
                                     span.lower, span.upper, micronsPerUnit(), forReport);
    return span;
}

RecordingSummary RecordingView::summary(double from, double to) const {
    const SpanFigures span = figuresOf(from, to, false);
    const RunStatistics &stats = span.stats;
    const auto &rows = span.rows;
    const int lower = span.lower, upper = span.upper;
    const std::size_t row = span.row;
    const bool window = span.window;
    const StatisticsFigures &f = span.figures;
    RecordingSummary summary;
    summary.span = rows.first < rows.second
                       ? kvex::trArgs("%1 to %2 (UTC), %3 rows",
                                      {formatTime(recording_.timeMs[rows.first]),
                                       formatTime(recording_.timeMs[rows.second - 1]),
                                       std::to_string(rows.second - rows.first)})
                       : kvex::trNow("No rows in this span");
    summary.figures = {
        {"Samples", kvex::tr("Samples"), f.samples},
        {"Mean", kvex::tr("Mean"), f.mean},
        {"Sigma", kvex::tr("Std. deviation"), f.sigma},
        {"Minimum", kvex::tr("Minimum"), f.minimum},
        {"Maximum", kvex::tr("Maximum"), f.maximum},
        {"InTolerance", kvex::tr("In tolerance"), f.inTolerance},
        {"Cp", "Cp", f.cp},
        {"Cpk", "Cpk", f.cpk},
    };
    summary.capabilityNote = f.capabilityNote;
    const HistogramBins bins = histogramBins(stats, window, lower, upper, kHistogramBins);
    summary.counts = bins.counts;
    summary.lower = bins.lower;
    summary.binWidth = static_cast<double>(bins.width);
    summary.markers[0] = window ? lower : kNaN;
    summary.markers[1] = window ? static_cast<double>(recording_.setpoint[row]) : kNaN;
    summary.markers[2] = window ? upper : kNaN;
    return summary;
}

std::string RecordingView::skippedText() const {
    std::string text;
    for (int r = 0; r < kSkipReasons; ++r) {
        if (recording_.skipped[r].rows == 0 && recording_.skipped[r].firstFile.empty())
            continue;
        if (!text.empty())
            text += "\n";
        text += skipLine(static_cast<SkipReason>(r), recording_.skipped[r]);
    }
    return text;
}

RecordingVideoLine RecordingView::videoLine(double time) const {
    RecordingVideoLine line;
    const long i = video_.nearest(toMs(time));
    if (i < 0)
        return line;
    line.found = true;
    const auto first = video_.samples.begin() + i * kVideoSamples;
    line.samples.assign(first, first + kVideoSamples);
    line.threshold = video_.threshold[static_cast<std::size_t>(i)];
    line.caption = kvex::trArgs("Video line of %1 (UTC), threshold %2",
                                {formatTime(video_.timeMs[static_cast<std::size_t>(i)]),
                                 std::to_string(video_.threshold[static_cast<std::size_t>(i)])});
    return line;
}

std::string RecordingView::writeReport(double from, double to,
                                       const std::vector<std::string> &graphs) {
    // The dialog would hold up a live loop's exchange until the operator answered it.
    if (exchangeDepth > 0)
        return kvex::trNow("Report: stop run or video mode first");
    ReportRequest request;
    request.path = reportPathFor(path_);
    if (!ReportSetupPopup(request))
        return "";
    const SpanFigures span = figuresOf(from, to, true);
    const RunStatistics &stats = span.stats;
    const auto &rows = span.rows;
    const int lower = span.lower, upper = span.upper;
    const std::size_t row = span.row;
    const bool window = span.window;
    const StatisticsFigures &f = span.figures;
    ReportDocument doc;
    doc.title = kvex::tr("K-VEX-RTN commissioning report");
    std::string files;
    for (const std::string &file : recording_.files)
        files += (files.empty() ? "" : ", ") + file;
    doc.header = {
        {kvex::tr("Recording"),
         baseName(path_) + (recording_.files.size() > 1 ? " (" + files + ")" : std::string())},
        {kvex::tr("Span"), summary(from, to).span},
        {kvex::tr("Skipped rows"), std::to_string(recording_.skippedRows())},
        {kvex::tr("Program"), std::string(szSoftName) + " " + szSoftVersion},
    };
    if (window) {
        doc.parameters = {
            {kvex::tr("Set-point"), std::to_string(recording_.setpoint[row]), ""},
            {kvex::tr("Tolerance"), std::to_string(recording_.tolerance[row]), ""},
        };
    }
    doc.parameterNote = kvex::tr("From the recording: the set-point and tolerance of the span's "
                                 "last row; the other parameter words are not recorded.");
    doc.statistics = statisticsReportRows(f, window, lower, upper);
    if (!window)
        doc.statistics[5].second = kvex::trNow("not recorded (no set-point column)");
    doc.statisticsHeading = kvex::tr("Statistics of the span");
    const char *captions[] = {kvex::tr("Strip chart of the span"),
                              kvex::tr("Histogram of the span"),
                              kvex::tr("Video line nearest the selected time")};
    for (std::size_t i = 0; i < graphs.size() && i < 3; ++i)
        doc.graphs.push_back({-1, 0, captions[i], graphs[i]});
    doc.note = request.note;
    std::string error;
    if (WriteReportPdf(doc, request, error) < 0)
        return kvex::trArgs("Report not written: %1", {error});
    return kvex::trArgs("Report written: %1", {request.path});
}

bool openRecording(const std::string &path) {
    const std::string target =
        isRotatedFile(path) ? std::filesystem::path(path).parent_path().string() : path;
    Recording recording;
    std::string error;
    if (!readRecording(target, recording, &error)) {
        showStatusText(kvex::trArgs("Cannot open %1: %2", {baseName(target), error}).c_str());
        return false;
    }
    VideoLines video;
    readVideoLinesBeside(target, video);
    auto view = std::make_shared<RecordingView>(target, std::move(recording), std::move(video));
    lastView = view;
    if (ShowRecordingWindow(view) < 0) {
        showStatusText(kvex::trArgs("Cannot show %1", {baseName(target)}).c_str());
        return false;
    }
    showStatusText(kvex::trArgs("Opened %1: %2 rows",
                                {baseName(target), std::to_string(view->recording().size())})
                       .c_str());
    return true;
}

void setRecordingToOpenAtStart(const std::string &path) {
    openAtStart = path;
}

void openRecordingAskedAtStart() {
    if (!openAtStart.empty())
        openRecording(openAtStart);
}

std::shared_ptr<RecordingView> lastRecordingView() {
    return lastView.lock();
}

int CC_BTNOpenRecording(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT)
        return 0;
    char path[PATH_SIZE] = "";
    const int chosen = FileSelectPopup(proj_dir, "", "*.csv", kvex::tr("Open recording"),
                                       VAL_LOAD_BUTTON, 0, 1, 1, 0, path);
    if (chosen > 0)
        openRecording(path);
    else if (chosen < 0)
        showStatusText(kvex::tr("Path of the recording file is too long!"));
    return 0;
}
