// Rotation and the size cap of a recording's files: one code path for the panel's recorder and
// the command line's run --csv.
#include "app/recording/rotation.h"
#include "app/measurement.h"
#include "app/recording/videocsv.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr long long kMegabyte = 1000 * 1000;
// Rows go through a buffer large enough for a second of them at the wire's pace.
constexpr size_t kBufferBytes = 1 << 16;
constexpr const char *kVideoSuffix = "-video.csv";
// YYYYMMDDTHHMMSSZ
constexpr size_t kStampLength = 16;

std::string stampOf(std::chrono::system_clock::time_point when) {
    const std::tm utc = utcCalendar(std::chrono::system_clock::to_time_t(when));
    char text[24];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

bool isStamp(const std::string &text) {
    if (text.size() != kStampLength || text[8] != 'T' || text[15] != 'Z')
        return false;
    for (size_t i = 0; i < kStampLength; ++i)
        if (i != 8 && i != 15 && !std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

bool endsWith(const std::string &text, const std::string &end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::FILE *createWithHeader(const std::string &path, const std::string &header,
                            std::string *error) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        if (error)
            *error = std::strerror(errno);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IOFBF, kBufferBytes);
    if (std::fputs(header.c_str(), file) < 0 || std::fflush(file) != 0) {
        if (error)
            *error = std::strerror(errno);
        std::fclose(file);
        return nullptr;
    }
    return file;
}

} // namespace

std::string videoFileFor(const std::string &recordingFile) {
    const std::string base = endsWith(recordingFile, ".csv")
                                 ? recordingFile.substr(0, recordingFile.size() - 4)
                                 : recordingFile;
    return base + kVideoSuffix;
}

RecordingFiles::RecordingFiles(Clock clock) : clock_(std::move(clock)) {}

RecordingFiles::~RecordingFiles() {
    close();
}

bool RecordingFiles::open(const std::string &path, const RecordingOptions &options,
                          std::string *error) {
    close();
    options_ = options;
    const fs::path given(path);
    folder_ = given.parent_path().string();
    name_ = given.filename().string();
    if (endsWith(name_, ".csv"))
        name_.resize(name_.size() - 4);
    current_ = path;
    filesStarted_ = 0;
    if (!startFile(clock_(), error))
        return false;
    removeOldest();
    return true;
}

bool RecordingFiles::startFile(std::chrono::system_clock::time_point start, std::string *error) {
    std::string path = current_;
    if (options_.rotates())
        path = (fs::path(folder_) / (name_ + "-" + stampOf(start) + ".csv")).string();
    std::FILE *file = createWithHeader(path, measurementCsvHeader(), error);
    if (!file)
        return false;
    rows_ = file;
    current_ = path;
    fileStart_ = start;
    rowBytes_ = static_cast<long long>(measurementCsvHeader().size());
    videoBytes_ = 0;
    ++filesStarted_;
    return true;
}

bool RecordingFiles::rotationDue(std::chrono::system_clock::time_point now) const {
    if (!options_.rotates())
        return false;
    // Two files of one second would have one name: the next file waits for the next second.
    if (stampOf(now) == stampOf(fileStart_))
        return false;
    if (options_.rotateHours > 0 && now - fileStart_ >= std::chrono::hours(options_.rotateHours))
        return true;
    const long long limit = options_.rotateMegabytes * kMegabyte;
    return options_.rotateMegabytes > 0 && (rowBytes_ >= limit || videoBytes_ >= limit);
}

bool RecordingFiles::rotateIfDue() {
    const auto now = clock_();
    if (!rotationDue(now))
        return true;
    const bool closed = closeFiles();
    if (!closed || !startFile(now, nullptr))
        return false;
    removeOldest();
    return true;
}

bool RecordingFiles::writeRow(const std::string &line) {
    if (!rows_ || !rotateIfDue())
        return false;
    if (std::fputs(line.c_str(), rows_) < 0) {
        closeFiles();
        return false;
    }
    rowBytes_ += static_cast<long long>(line.size());
    return true;
}

bool RecordingFiles::writeVideoRow(const std::string &line) {
    if (!rows_ || !rotateIfDue())
        return false;
    if (!video_) {
        video_ = createWithHeader(videoFileFor(current_), videoCsvHeader(), nullptr);
        if (!video_) {
            closeFiles();
            return false;
        }
        videoBytes_ = static_cast<long long>(videoCsvHeader().size());
    }
    if (std::fputs(line.c_str(), video_) < 0) {
        closeFiles();
        return false;
    }
    videoBytes_ += static_cast<long long>(line.size());
    return true;
}

bool RecordingFiles::flush() {
    if (!rows_)
        return false;
    const bool ok = std::fflush(rows_) == 0 && !std::ferror(rows_) &&
                    (!video_ || (std::fflush(video_) == 0 && !std::ferror(video_)));
    if (!ok)
        closeFiles();
    return ok;
}

bool RecordingFiles::closeFiles() {
    bool ok = true;
    for (std::FILE **file : {&rows_, &video_}) {
        if (!*file)
            continue;
        ok = std::fflush(*file) == 0 && !std::ferror(*file) && ok;
        ok = std::fclose(*file) == 0 && ok;
        *file = nullptr;
    }
    return ok;
}

bool RecordingFiles::close() {
    if (!rows_)
        return true;
    return closeFiles();
}

void RecordingFiles::removeOldest() {
    if (options_.keepMegabytes <= 0 || !options_.rotates())
        return;
    std::fflush(rows_);
    if (video_)
        std::fflush(video_);
    // By start time, oldest first: the stamps sort as their times do.
    std::map<std::string, std::vector<fs::path>> files;
    std::map<std::string, long long> sizes;
    long long total = 0;
    const std::string prefix = name_ + "-";
    std::error_code ec;
    const fs::path folder = folder_.empty() ? fs::path(".") : fs::path(folder_);
    for (const fs::directory_entry &entry : fs::directory_iterator(folder, ec)) {
        if (!entry.is_regular_file(ec))
            continue;
        const std::string file = entry.path().filename().string();
        if (file.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string rest = file.substr(prefix.size());
        if (endsWith(rest, kVideoSuffix))
            rest.resize(rest.size() - std::strlen(kVideoSuffix));
        else if (endsWith(rest, ".csv"))
            rest.resize(rest.size() - 4);
        else
            continue;
        if (!isStamp(rest))
            continue;
        const auto size = static_cast<long long>(entry.file_size(ec));
        files[rest].push_back(entry.path());
        sizes[rest] += ec ? 0 : size;
        total += ec ? 0 : size;
    }
    const std::string currentStamp = stampOf(fileStart_);
    const long long cap = options_.keepMegabytes * kMegabyte;
    for (const auto &[stamp, paths] : files) {
        if (total <= cap || stamp >= currentStamp)
            break;
        for (const fs::path &path : paths)
            fs::remove(path, ec);
        total -= sizes[stamp];
    }
}
