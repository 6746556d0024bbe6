// Reading run-mode recordings (a file, or a folder of rotated files) into compact columns, and
// the video lines recorded beside them; bad rows are skipped and counted, never fatal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Why rows were left out of a recording.
enum class SkipReason {
    NotARecording, // the first line is not a recording's header: the whole file
    Empty,         // the file holds nothing at all
    Truncated,     // the last line ends without a line end (the recorder was cut off)
    BadField,      // a field is missing, extra, not a number or out of range
    OutOfOrder,    // earlier than the row before it
    Unreadable,    // the file cannot be opened or read
};
constexpr int kSkipReasons = 6;

struct SkipCount {
    long rows = 0;         // rows (or files, for NotARecording, Empty, Unreadable) left out
    long firstLine = 0;    // 1-based line of the first of them in firstFile
    std::string firstFile; // file name without its folder
};

// Row flags.
enum : std::uint8_t { kRowInTolerance = 1, kRowHasSetpoint = 2 };

struct Recording {
    std::vector<std::int64_t> timeMs; // milliseconds since 1970 (UTC), never decreasing
    std::vector<std::uint16_t> left, right, value, tolerance, anaMax, anaMin, setpoint;
    std::vector<std::uint8_t> flags;
    double micronsPerUnit = 0.0;    // from the first row with micrometres; 0 when none had them
    std::vector<std::string> files; // the files read, in the order of their rows
    SkipCount skipped[kSkipReasons];

    std::size_t size() const { return timeMs.size(); }
    long skippedRows() const;
};

// Reads a recording file, or every recording file of a folder as one recording in the order of
// their first rows' times. Never throws on bad input; false only when nothing could be opened,
// with the reason in error.
bool readRecording(const std::string &path, Recording &recording, std::string *error);
// Reads from a buffer as if it were the file `name`; for the fuzz target and the tests.
void readRecordingBuffer(const char *data, std::size_t size, const std::string &name,
                         Recording &recording);

// The video lines recorded beside a recording (R.csv -> R-video.csv; for a folder every
// *-video.csv in it), sorted by time.
constexpr int kVideoSamples = 256;
struct VideoLines {
    std::vector<std::int64_t> timeMs;
    std::vector<std::uint16_t> samples; // kVideoSamples per line
    std::vector<std::uint16_t> threshold;
    long skippedRows = 0;

    std::size_t size() const { return timeMs.size(); }
    // The index of the line nearest to t, or -1 when there is none.
    long nearest(std::int64_t t) const;
};
void readVideoLinesBeside(const std::string &recordingPath, VideoLines &lines);
void readVideoLinesBuffer(const char *data, std::size_t size, VideoLines &lines);

// 2026-12-08T04:35:12.345Z -> milliseconds since 1970; false when it is not such a time.
bool parseIsoTime(const char *text, std::size_t length, std::int64_t *ms);
// Milliseconds since 1970 -> 2026-12-08 04:35:12.345 (UTC).
std::string formatTime(std::int64_t ms);
