// Recording of run mode to CSV files: one row per cycle, flushed at least once a second and
// closed whenever the run ends, so an unplugged sensor or a closed program loses nothing; video
// lines beside them where the operator asks.
#pragma once

#include "app/recording/rotation.h"

#include <string>

// Opens path for recording (any earlier recording is closed first) and writes the header row;
// false when the file cannot be created, with the reason in error. With rotation the rows go to
// files named by their start time beside path.
bool startRecording(const std::string &path, std::string *error,
                    const RecordingOptions &options = {});
// Flushes and closes the file; a no-op when nothing is recorded.
void stopRecording();
bool recordingActive();
long recordedRows();
// The file rows go to now (the last one once the recording ended).
std::string recordingFile();

// Follows run mode through the live-loop hooks; called once at start-up.
void installRecorder();

int CC_BTNRecord(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
