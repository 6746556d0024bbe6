// The operator's choice after picking a recording file: rotation, a cap on the files' total and
// video lines beside the rows.
#pragma once

#include <functional>

struct RecordingChoice {
    int rotateHours = 0;     // 0: no new file by time
    int rotateMegabytes = 0; // 0: no new file by size
    int keepMegabytes = 0;   // 0: no cap
    int videoEvery = 0;      // 0: no video lines
};

// 1 when the operator starts the recording with `choice` (shown as given, changed as chosen),
// 0 when the recording is cancelled.
int RecordingChoicePopup(RecordingChoice &choice);

namespace kvexplatform {
// Answers RecordingChoicePopup without a window (tests); an empty function restores it.
using RecordingChoiceHook = std::function<int(RecordingChoice &choice)>;
void setRecordingChoiceHook(RecordingChoiceHook hook);
} // namespace kvexplatform
