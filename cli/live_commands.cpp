// run and video: the panel's live loops, stopped after the asked number of answers, each answer
// a CSV row.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/panelcontrols.h"
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

constexpr int kVideoSamples = 256;
// Longer than a request and its answer take on the wire (two 36-byte frames: 38 ms).
constexpr double kLastAnswerSeconds = 0.1;

struct LiveRequest {
    long count = 0;
    std::string csv;
};

int parseLiveOptions(const CliOptions &options, const char *countOption, LiveRequest &request) {
    std::string count;
    if (!optionValue(options.args, countOption, count) || parseCount(count) < 0 ||
        !optionValue(options.args, "--csv", request.csv))
        return fail(EXIT_USAGE, kvex::trArgs("needs %1 N (N > 0) and --csv FILE", {countOption}));
    request.count = parseCount(count);
    return EXIT_OK;
}

std::string videoCsvHeader() {
    std::string header = "time (UTC),left edge (units),right edge (units),measured value (units)";
    for (int i = 0; i < kVideoSamples; ++i)
        header += ",sample " + std::to_string(i);
    return header + "\n";
}

std::string videoCsvLine() {
    std::string line = isoTimeNow() + "," + std::to_string(Ledge) + "," + std::to_string(Redge) +
                       "," + std::to_string(Mvalue);
    for (int i = 0; i < kVideoSamples; ++i)
        line += "," + std::to_string(adcbuf[i]);
    return line + "\n";
}

// Runs a live loop through its panel button until `count` rows are written; with --wait a lost
// device is waited for and the loop goes on where it stopped.
int recordLoop(const CliOptions &options, const LiveRequest &request, bool video) {
    FILE *file = std::fopen(request.csv.c_str(), "w");
    if (!file)
        return fail(EXIT_FILE_ERROR, kvex::trArgs("cannot write %1", {request.csv}));
    const int connected = connectSensor(options);
    if (connected != EXIT_OK) {
        std::fclose(file);
        return connected;
    }
    long rows = 0;
    bool writeFailed = false;
    LiveEnd end = LiveEnd::Stopped;
    const std::string header = video ? videoCsvHeader() : measurementCsvHeader();
    writeFailed = std::fputs(header.c_str(), file) < 0;
    auto row = [&](const std::string &line) {
        if (rows >= request.count)
            return;
        if (std::fputs(line.c_str(), file) < 0)
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
    if (std::fclose(file) != 0 || writeFailed)
        return fail(EXIT_FILE_ERROR, kvex::trArgs("cannot write %1", {request.csv}));
    if (rows < request.count)
        return fail(
            EXIT_NO_ANSWER,
            kvex::trArgs("the sensor stopped answering after %1 of %2 rows: %3",
                         {std::to_string(rows), std::to_string(request.count), lastStatus()}));
    if (options.json)
        std::printf("{\"rows\":%ld,\"csv\":%s}\n", rows, jsonString(request.csv).c_str());
    return EXIT_OK;
}

} // namespace

int runRun(const CliOptions &options) {
    LiveRequest request;
    const int parsed = parseLiveOptions(options, "--cycles", request);
    return parsed != EXIT_OK ? parsed : recordLoop(options, request, false);
}

int runVideo(const CliOptions &options) {
    LiveRequest request;
    const int parsed = parseLiveOptions(options, "--lines", request);
    return parsed != EXIT_OK ? parsed : recordLoop(options, request, true);
}
