// The files of one recording: NAME.csv, or with rotation a new NAME-<UTC start>.csv every hour or
// every N MB, each with its video lines in a file beside it, and a cap on their total size.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

struct RecordingOptions {
    int rotateHours = 0;     // a new file after this many hours; 0: never by time
    int rotateMegabytes = 0; // a new file once one reaches this many MB; 0: never by size
    int keepMegabytes = 0; // oldest files of this recording removed beyond this total; 0: all kept
    int videoEvery = 0;    // every Nth video line into the video file; 0: none

    bool rotates() const { return rotateHours > 0 || rotateMegabytes > 0; }
};

// The video file beside a recording file: R.csv gives R-video.csv.
std::string videoFileFor(const std::string &recordingFile);

class RecordingFiles {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // The clock names the files and times the rotation; tests set one of their own.
    explicit RecordingFiles(Clock clock = std::chrono::system_clock::now);
    ~RecordingFiles();
    RecordingFiles(const RecordingFiles &) = delete;
    RecordingFiles &operator=(const RecordingFiles &) = delete;

    // Opens the first file of a recording at path (NAME.csv) and writes the header; false with
    // the reason in error when it cannot be created.
    bool open(const std::string &path, const RecordingOptions &options, std::string *error);
    // One measurement row with its line end; starts the next file first when one is due. False
    // once a file cannot take it (the recording is then closed).
    bool writeRow(const std::string &line);
    // One video row with its line end, into the video file beside the current recording file.
    bool writeVideoRow(const std::string &line);
    bool flush();
    // Flushes and closes; false when the last rows could not be written.
    bool close();

    bool isOpen() const { return rows_ != nullptr; }
    // The file rows go to now.
    const std::string &currentFile() const { return current_; }
    // Files this recording started, the first one included.
    int filesStarted() const { return filesStarted_; }

  private:
    bool startFile(std::chrono::system_clock::time_point start, std::string *error);
    bool rotationDue(std::chrono::system_clock::time_point now) const;
    bool rotateIfDue();
    // Flushes and closes both files; false when either lost rows.
    bool closeFiles();
    void removeOldest();

    Clock clock_;
    RecordingOptions options_;
    std::string folder_;
    std::string name_; // NAME of NAME.csv
    std::string current_;
    std::FILE *rows_ = nullptr;
    std::FILE *video_ = nullptr;
    std::chrono::system_clock::time_point fileStart_;
    long long rowBytes_ = 0;
    long long videoBytes_ = 0;
    int filesStarted_ = 0;
};
