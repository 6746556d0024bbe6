// Recording of run mode to a CSV file: one row per cycle, flushed at least once a second and
// closed whenever the run ends, so an unplugged sensor or a closed program loses nothing.
#pragma once

#include <string>

// Opens path for recording (any earlier recording is closed first) and writes the header row;
// false when the file cannot be created, with the reason in error.
bool startRecording(const std::string &path, std::string *error);
// Flushes and closes the file; a no-op when nothing is recorded.
void stopRecording();
bool recordingActive();
long recordedRows();

// Follows run mode through the live-loop hooks; called once at start-up.
void installRecorder();

int CC_BTNRecord(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
