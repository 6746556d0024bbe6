// The run-mode recorder: rows go through a large stdio buffer and reach the disk at least once a
// second, so recording costs the loop next to nothing and a crash loses at most that second.
#include "app/recording/writer.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/panelcontrols.h"
#include "app/recording/rotation.h"
#include "app/recording/videocsv.h"
#include "com232/rs232link.h"
#include "platform/recordingchoice.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

namespace {

// Half the promised second, so a slow cycle still keeps the promise.
constexpr double FLUSH_INTERVAL = 0.5;

RecordingFiles files;
RecordingOptions options;
long rows = 0;
long videoLinesSeen = 0;
double lastFlush = 0.0;

std::string baseName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void showRecordingStatus(const std::string &text) {
    if (pHandle >= 0)
        SetCtrlVal(pHandle, TEXTRecording, text.c_str());
}

void showRowCount() {
    showRecordingStatus(kvex::trArgs("Recording: %1 rows", {std::to_string(rows)}));
}

// A file that cannot take the rows ends the recording, never the run.
void reportWriteFailure() {
    files.close();
    const std::string text =
        kvex::trArgs("Recording stopped: cannot write %1!", {baseName(files.currentFile())});
    showRecordingStatus(text);
    showStatusText(text.c_str());
}

void flushRows() {
    lastFlush = Timer();
    if (files.flush())
        showRowCount();
    else
        reportWriteFailure();
}

void recordSample() {
    if (!files.isOpen())
        return;
    if (!files.writeRow(measurementCsvLine(currentMeasurement()))) {
        reportWriteFailure();
        return;
    }
    ++rows;
    if (Timer() - lastFlush >= FLUSH_INTERVAL)
        flushRows();
}

// Counts the lines on offer, run-mode cycles or video-mode lines alike; true for every Nth.
bool videoLineDue() {
    return files.isOpen() && options.videoEvery > 0 && ++videoLinesSeen % options.videoEvery == 0;
}

void recordVideoLine() {
    if (files.isOpen() && !files.writeVideoRow(videoCsvLine()))
        reportWriteFailure();
}

} // namespace

bool startRecording(const std::string &path, std::string *error, const RecordingOptions &chosen) {
    stopRecording();
    if (!files.open(path, chosen, error))
        return false;
    options = chosen;
    rows = 0;
    videoLinesSeen = 0;
    lastFlush = Timer();
    showRowCount();
    return true;
}

void stopRecording() {
    if (!files.isOpen())
        return;
    if (!files.close()) {
        reportWriteFailure();
        return;
    }
    showRecordingStatus(kvex::trArgs("Recorded %1 rows to %2",
                                     {std::to_string(rows), baseName(files.currentFile())}));
}

bool recordingActive() {
    return files.isOpen();
}

long recordedRows() {
    return rows;
}

std::string recordingFile() {
    return files.currentFile();
}

void installRecorder() {
    static int observer = 0;
    if (observer)
        return;
    LiveObserver hooks;
    hooks.runSample = recordSample;
    hooks.runEnded = [](LiveEnd) { stopRecording(); };
    hooks.wantsVideoLine = videoLineDue;
    hooks.runVideoLine = recordVideoLine;
    hooks.videoLine = [] {
        if (videoLineDue())
            recordVideoLine();
    };
    // A recording of video lines ends with video mode as one of rows ends with run mode.
    hooks.videoEnded = [](LiveEnd) {
        if (options.videoEvery > 0)
            stopRecording();
    };
    observer = addLiveObserver(hooks);
}

int CC_BTNRecord(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT)
        return 0;
    char path[PATH_SIZE] = "";
    const int chosen =
        FileSelectPopup(proj_dir, "run.csv", "*.csv", kvex::tr("Record run mode to CSV"),
                        VAL_OK_BUTTON, 0, 1, 1, 1, path);
    if (chosen <= 0) {
        if (chosen < 0)
            showStatusText(kvex::tr("Path of the recording file is too long!"));
        return 0;
    }
    // The last choice is offered again: an operator who rotates usually rotates every time.
    static RecordingChoice choice;
    if (!RecordingChoicePopup(choice))
        return 0;
    RecordingOptions picked;
    picked.rotateHours = choice.rotateHours;
    picked.rotateMegabytes = choice.rotateMegabytes;
    picked.keepMegabytes = choice.keepMegabytes;
    picked.videoEvery = choice.videoEvery;
    std::string error;
    if (!startRecording(path, &error, picked)) {
        const std::string text = kvex::trArgs("Cannot record to %1: %2", {baseName(path), error});
        showRecordingStatus(text);
        showStatusText(text.c_str());
    }
    return 0;
}
