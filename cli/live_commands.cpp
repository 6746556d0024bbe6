// run and video: the panel's live loops, stopped after the asked number of answers, each answer
// a CSV row; run's rows go through the recorder's files (rotation, cap, video lines).
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/panelcontrols.h"
#include "app/recording/rotation.h"
#include "app/recording/videocsv.h"
#include "cli/cli.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <cstdio>
#include <functional>
#include <string>

namespace {

// Longer than a request and its answer take on the wire (two 36-byte frames: 38 ms).
constexpr double kLastAnswerSeconds = 0.1;

struct LiveRequest {
    long count = 0;
    std::string csv;
    RecordingOptions recording;
};

// An optional positive whole number; false when given but not one.
bool countOption(const CliOptions &options, const char *name, int &value) {
    std::string text;
    if (!optionValue(options.args, name, text))
        return true;
    const long n = parseCount(text);
    if (n < 0 || n > 1000000000L)
        return false;
    value = static_cast<int>(n);
    return true;
}

int parseLiveOptions(const CliOptions &options, const char *countOption, LiveRequest &request) {
    std::string count;
    if (!optionValue(options.args, countOption, count) || parseCount(count) < 0 ||
        !optionValue(options.args, "--csv", request.csv))
        return fail(EXIT_USAGE, kvex::trArgs("needs %1 N (N > 0) and --csv FILE", {countOption}));
    request.count = parseCount(count);
    return EXIT_OK;
}

int parseRecordingOptions(const CliOptions &options, RecordingOptions &recording) {
    const struct {
        const char *name;
        int *value;
    } counts[] = {{"--rotate-hours", &recording.rotateHours},
                  {"--rotate-mb", &recording.rotateMegabytes},
                  {"--keep-mb", &recording.keepMegabytes},
                  {"--video-every", &recording.videoEvery}};
    for (const auto &option : counts)
        if (!countOption(options, option.name, *option.value))
            return fail(EXIT_USAGE, kvex::trArgs("%1 needs a whole number N > 0", {option.name}));
    if (recording.rotateHours > 0 && recording.rotateMegabytes > 0)
        return fail(EXIT_USAGE, kvex::tr("--rotate-hours and --rotate-mb exclude each other"));
    if (recording.keepMegabytes > 0 && !recording.rotates())
        return fail(EXIT_USAGE, kvex::tr("--keep-mb needs --rotate-hours or --rotate-mb"));
    return EXIT_OK;
}

// Where the rows of one live loop go: the recording's files for run, one video file for video.
class RowSink {
  public:
    RowSink(const LiveRequest &request, bool video) : request_(request), video_(video) {}
    ~RowSink() {
        if (videoFile_)
            std::fclose(videoFile_);
    }
    bool open() {
        if (!video_)
            return files_.open(request_.csv, request_.recording, nullptr);
        // The header waits for the first line, whose reserve the comment above it gives.
        videoFile_ = std::fopen(request_.csv.c_str(), "w");
        return videoFile_ != nullptr;
    }
    bool write(const std::string &line) {
        if (!video_)
            return files_.writeRow(line);
        if (!headerWritten_) {
            headerWritten_ = true;
            firstReserve_ = videoReserveJsonKeys();
            if (std::fputs((videoReserveComment() + videoCsvHeader()).c_str(), videoFile_) < 0)
                return false;
        }
        return std::fputs(line.c_str(), videoFile_) >= 0;
    }
    bool writeVideo(const std::string &line) { return files_.writeVideoRow(line); }
    bool close() {
        if (!video_)
            return files_.close();
        const bool headed = headerWritten_ || std::fputs(videoCsvHeader().c_str(), videoFile_) >= 0;
        const bool closed = std::fclose(videoFile_) == 0 && headed;
        videoFile_ = nullptr;
        return closed;
    }
    // The file that failed, for the message.
    std::string file() const { return video_ ? request_.csv : files_.currentFile(); }
    // The first line's signal reserve as JSON keys; empty before a line or for run.
    const std::string &firstReserve() const { return firstReserve_; }
    int filesStarted() const { return video_ ? 1 : files_.filesStarted(); }

  private:
    const LiveRequest &request_;
    bool video_;
    RecordingFiles files_;
    std::FILE *videoFile_ = nullptr;
    bool headerWritten_ = false;
    std::string firstReserve_;
};

// Runs a live loop through its panel button until `count` rows are written; with --wait a lost
// device is waited for and the loop goes on where it stopped.
int recordLoop(const CliOptions &options, const LiveRequest &request, bool video) {
    RowSink sink(request, video);
    if (!sink.open())
        return fail(EXIT_FILE_ERROR, kvex::trArgs("cannot write %1", {sink.file()}));
    const int connected = connectSensor(options);
    if (connected != EXIT_OK) {
        sink.close();
        return connected;
    }
    long rows = 0;
    long cycles = 0;
    bool writeFailed = false;
    LiveEnd end = LiveEnd::Stopped;
    auto row = [&](const std::string &line) {
        if (rows >= request.count)
            return;
        if (!sink.write(line))
            writeFailed = true;
        if (++rows >= request.count || writeFailed)
            stop_flag = 1;
    };
    LiveObserver observer;
    if (video) {
        observer.videoLine = [&] { row(videoCsvLine()); };
        observer.videoEnded = [&](LiveEnd why) { end = why; };
    } else {
        observer.runSample = [&] { row(measurementCsvLine(currentMeasurement())); };
        observer.runEnded = [&](LiveEnd why) { end = why; };
        const int every = request.recording.videoEvery;
        observer.wantsVideoLine = [&, every] {
            return every > 0 && !writeFailed && ++cycles % every == 0;
        };
        observer.runVideoLine = [&] {
            if (!sink.writeVideo(videoCsvLine())) {
                writeFailed = true;
                stop_flag = 1;
            }
        };
    }
    const int id = addLiveObserver(observer);
    for (;;) {
        if (video)
            CC_BTNVideo(pHandle, BTNLock23, EVENT_COMMIT, nullptr, 0, 0);
        else
            CC_BTNRun(pHandle, BTNLock21, EVENT_COMMIT, nullptr, 0, 0);
        if (rows >= request.count || writeFailed || end != LiveEnd::Timeout ||
            !reconnectAfterLoss(options))
            break;
    }
    removeLiveObserver(id);
    // The loop's last request may still be answered: let that answer come and go, so the next
    // program on the port does not take its tail for the start of an answer of its own.
    const double until = Timer() + kLastAnswerSeconds;
    while (Timer() < until)
        ProcessSystemEvents();
    FlushInQ(com);
    const std::string lastFile = sink.file();
    const std::string reserveKeys = sink.firstReserve();
    if (!sink.close() || writeFailed)
        return fail(EXIT_FILE_ERROR, kvex::trArgs("cannot write %1", {lastFile}));
    if (rows < request.count)
        return fail(
            EXIT_NO_ANSWER,
            kvex::trArgs("the sensor stopped answering after %1 of %2 rows: %3",
                         {std::to_string(rows), std::to_string(request.count), lastStatus()}));
    if (options.json)
        std::printf("{\"rows\":%ld,\"csv\":%s,\"files\":%d%s}\n", rows,
                    jsonString(request.csv).c_str(), sink.filesStarted(), reserveKeys.c_str());
    return EXIT_OK;
}

} // namespace

int runRun(const CliOptions &options) {
    LiveRequest request;
    int parsed = parseLiveOptions(options, "--cycles", request);
    if (parsed == EXIT_OK)
        parsed = parseRecordingOptions(options, request.recording);
    return parsed != EXIT_OK ? parsed : recordLoop(options, request, false);
}

int runVideo(const CliOptions &options) {
    LiveRequest request;
    int parsed = parseLiveOptions(options, "--lines", request);
    if (parsed == EXIT_OK)
        parsed = parseRecordingOptions(options, request.recording);
    // A video file is one file of lines; rotation and video lines belong to run's recording.
    if (parsed == EXIT_OK && (request.recording.rotates() || request.recording.videoEvery > 0))
        return fail(EXIT_USAGE,
                    kvex::tr("--rotate-hours, --rotate-mb, --keep-mb and --video-every are "
                             "options of run"));
    return parsed != EXIT_OK ? parsed : recordLoop(options, request, true);
}
