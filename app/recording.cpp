// The run-mode recorder: rows go through a large stdio buffer and reach the disk at least once a
// second, so recording costs the loop next to nothing and a crash loses at most that second.
#include "app/recording.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/panelcontrols.h"
#include "com232/rs232link.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Half the promised second, so a slow cycle still keeps the promise.
constexpr double FLUSH_INTERVAL = 0.5;

std::FILE *file = nullptr;
std::string filePath;
long rows = 0;
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

void reportWriteFailure() {
    const std::string text =
        kvex::trArgs("Recording stopped: cannot write %1!", {baseName(filePath)});
    showRecordingStatus(text);
    showStatusText(text.c_str());
}

// A file that cannot take the rows ends the recording, never the run.
void failRecording() {
    std::fclose(file);
    file = nullptr;
    reportWriteFailure();
}

bool flushRows() {
    lastFlush = Timer();
    if (std::fflush(file) != 0 || std::ferror(file)) {
        failRecording();
        return false;
    }
    return true;
}

void recordSample() {
    if (!file)
        return;
    const std::string line = measurementCsvLine(currentMeasurement());
    if (std::fputs(line.c_str(), file) < 0) {
        failRecording();
        return;
    }
    ++rows;
    if (Timer() - lastFlush >= FLUSH_INTERVAL && flushRows())
        showRowCount();
}

} // namespace

bool startRecording(const std::string &path, std::string *error) {
    stopRecording();
    std::FILE *opened = std::fopen(path.c_str(), "w");
    if (!opened) {
        if (error)
            *error = std::strerror(errno);
        return false;
    }
    // Large enough for a second of rows at the wire's pace.
    std::setvbuf(opened, nullptr, _IOFBF, 1 << 16);
    if (std::fputs(measurementCsvHeader().c_str(), opened) < 0 || std::fflush(opened) != 0) {
        if (error)
            *error = std::strerror(errno);
        std::fclose(opened);
        return false;
    }
    file = opened;
    filePath = path;
    rows = 0;
    lastFlush = Timer();
    showRowCount();
    return true;
}

void stopRecording() {
    if (!file)
        return;
    if (!flushRows())
        return;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    if (!closed) {
        reportWriteFailure();
        return;
    }
    showRecordingStatus(
        kvex::trArgs("Recorded %1 rows to %2", {std::to_string(rows), baseName(filePath)}));
}

bool recordingActive() {
    return file != nullptr;
}

long recordedRows() {
    return rows;
}

void installRecorder() {
    static int observer = 0;
    if (observer)
        return;
    LiveObserver hooks;
    hooks.runSample = recordSample;
    hooks.runEnded = [](LiveEnd) { stopRecording(); };
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
    std::string error;
    if (!startRecording(path, &error)) {
        const std::string text = kvex::trArgs("Cannot record to %1: %2", {baseName(path), error});
        showRecordingStatus(text);
        showStatusText(text.c_str());
    }
    return 0;
}
