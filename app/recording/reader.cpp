// Reading recordings: a hand-written parser over large reads, one pass, no allocation per row, so
// a day of rows at the wire's rate opens in about a second.
#include "app/recording/reader.h"
#include "app/measurement.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kReadSize = 4 << 20;
constexpr std::size_t kLongestLine = 1 << 20;
// The recorder's rows are about 65 bytes: enough room at once, so the columns never grow by
// copying while a day's file is read.
constexpr std::size_t kBytesPerRow = 60;

// Calls line(begin, length, terminated, number) for every line of the stream; the last line may
// lack its line end. The carriage return of a CRLF line end is removed. A small file is read in
// a few small pieces rather than into one large buffer.
template <class Line> void forEachLine(std::FILE *file, std::uintmax_t bytes, Line &&line) {
    std::vector<char> buffer(static_cast<std::size_t>(
        std::min<std::uintmax_t>(kReadSize, std::max<std::uintmax_t>(256, bytes / 4))));
    std::size_t kept = 0;
    long number = 0;
    bool overlong = false; // the rest of a line too long for the buffer is being dropped
    for (;;) {
        if (kept == buffer.size()) {
            if (buffer.size() < kLongestLine) {
                buffer.resize(buffer.size() * 2);
            } else {
                // No line of a recording comes near this: its start stands for it, so a file
                // without line ends cannot make the buffer grow without bound.
                line(buffer.data(), kept, true, ++number);
                kept = 0;
                overlong = true;
            }
        }
        const std::size_t got = std::fread(buffer.data() + kept, 1, buffer.size() - kept, file);
        const std::size_t filled = kept + got;
        const char *at = buffer.data();
        const char *end = buffer.data() + filled;
        for (;;) {
            const char *newline = static_cast<const char *>(std::memchr(at, '\n', end - at));
            if (!newline)
                break;
            if (overlong) {
                overlong = false;
                at = newline + 1;
                continue;
            }
            const char *stop = newline > at && newline[-1] == '\r' ? newline - 1 : newline;
            line(at, static_cast<std::size_t>(stop - at), true, ++number);
            at = newline + 1;
        }
        kept = static_cast<std::size_t>(end - at);
        std::memmove(buffer.data(), at, kept);
        if (overlong)
            kept = 0;
        if (got == 0) {
            if (kept > 0)
                line(buffer.data(), kept, false, ++number);
            return;
        }
    }
}

template <class Line> void forEachLine(const char *data, std::size_t size, Line &&line) {
    const char *at = data;
    const char *end = data + size;
    long number = 0;
    while (at < end) {
        const char *newline = static_cast<const char *>(std::memchr(at, '\n', end - at));
        if (!newline) {
            line(at, static_cast<std::size_t>(end - at), false, ++number);
            return;
        }
        const char *stop = newline > at && newline[-1] == '\r' ? newline - 1 : newline;
        line(at, static_cast<std::size_t>(stop - at), true, ++number);
        at = newline + 1;
    }
}

// The fields of one line, split in place.
struct Fields {
    static constexpr int kMost = 4 + kVideoSamples + 2;
    const char *begin[kMost];
    std::size_t length[kMost];
    int count = 0;

    // False when the line has more than kMost fields.
    bool split(const char *text, std::size_t size) {
        count = 0;
        const char *end = text + size;
        const char *at = text;
        for (;;) {
            if (count == kMost)
                return false;
            const char *comma = static_cast<const char *>(std::memchr(at, ',', end - at));
            const char *stop = comma ? comma : end;
            begin[count] = at;
            length[count] = static_cast<std::size_t>(stop - at);
            ++count;
            if (!comma)
                return true;
            at = comma + 1;
        }
    }
};

bool parseUnsigned16(const char *text, std::size_t length, std::uint16_t *value) {
    if (length == 0 || length > 5)
        return false;
    unsigned long result = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned digit = static_cast<unsigned char>(text[i]) - '0';
        if (digit > 9)
            return false;
        result = result * 10 + digit;
    }
    if (result > 0xFFFF)
        return false;
    *value = static_cast<std::uint16_t>(result);
    return true;
}

// A decimal number as the recorder writes micrometres (e.g. 32512.00), or empty.
bool parseMicrons(const char *text, std::size_t length, double *value) {
    *value = 0.0;
    if (length == 0)
        return true;
    if (length > 20)
        return false;
    double result = 0.0, scale = 0.0;
    bool digits = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c == '.' && scale == 0.0) {
            scale = 1.0;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (scale == 0.0) {
                result = result * 10 + (c - '0');
            } else {
                scale /= 10.0;
                result += (c - '0') * scale;
            }
        } else {
            return false;
        }
    }
    *value = result;
    return digits;
}

int digits(const char *text, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const unsigned digit = static_cast<unsigned char>(text[i]) - '0';
        if (digit > 9)
            return -1;
        value = value * 10 + static_cast<int>(digit);
    }
    return value;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (Howard Hinnant's method).
std::int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy =
        (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

const std::string &header() {
    static const std::string text = withoutLineEnd(measurementCsvHeader());
    return text;
}

// Recordings written before the set-point column.
const std::string &headerWithoutSetpoint() {
    static const std::string text = header().substr(0, header().rfind(','));
    return text;
}

const std::string &videoHeader() {
    static const std::string text = [] {
        std::string h = "time (UTC),left edge (units),right edge (units),measured value (units)";
        for (int i = 0; i < kVideoSamples; ++i)
            h += ",sample " + std::to_string(i);
        return h + ",threshold (units)";
    }();
    return text;
}

bool startsWithBom(const char *text, std::size_t length) {
    return length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0;
}

bool lineIs(const char *text, std::size_t length, const std::string &expected) {
    if (startsWithBom(text, length)) {
        text += 3;
        length -= 3;
    }
    return length == expected.size() && std::memcmp(text, expected.data(), length) == 0;
}

// 10 columns with the set-point, 9 without; 0 when the line is no recording's header.
int recordingColumns(const char *text, std::size_t length) {
    if (lineIs(text, length, header()))
        return 10;
    if (lineIs(text, length, headerWithoutSetpoint()))
        return 9;
    return 0;
}

std::string fileName(const std::string &path) {
    return fs::path(path).filename().string();
}

std::uintmax_t fileSize(const std::string &path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

void noteSkip(Recording &recording, SkipReason reason, long line, const std::string &file,
              long rows = 1) {
    SkipCount &skip = recording.skipped[static_cast<int>(reason)];
    if (skip.rows == 0 && skip.firstFile.empty()) {
        skip.firstLine = line;
        skip.firstFile = file;
    }
    skip.rows += rows;
}

// Appends the rows of one file, line by line, to the recording.
class RowReader {
  public:
    RowReader(Recording &recording, std::string name)
        : recording_(recording), name_(std::move(name)) {}

    void line(const char *text, std::size_t length, bool terminated, long number) {
        if (number == 1) {
            columns_ = recordingColumns(text, length);
            if (columns_ == 0)
                notRecording_ = true;
            else
                recording_.files.push_back(name_);
            return;
        }
        if (notRecording_) {
            ++linesOfNonRecording_;
            return;
        }
        if (length == 0 && terminated)
            return;
        if (!terminated) {
            noteSkip(recording_, SkipReason::Truncated, number, name_);
            return;
        }
        addRow(text, length, number);
    }

    // Called once the file is read.
    void finish(long lines) {
        if (lines == 0)
            noteSkip(recording_, SkipReason::Empty, 0, name_);
        else if (notRecording_)
            noteSkip(recording_, SkipReason::NotARecording, 1, name_, 1 + linesOfNonRecording_);
    }

  private:
    void addRow(const char *text, std::size_t length, long number) {
        std::int64_t time = 0;
        std::uint16_t numbers[8] = {};
        double microns = 0.0;
        const bool read = fields_.split(text, length) && fields_.count == columns_ &&
                          parseIsoTime(fields_.begin[0], fields_.length[0], &time) &&
                          parseNumbers(numbers) &&
                          parseMicrons(fields_.begin[4], fields_.length[4], &microns) &&
                          (lineIs(fields_.begin[6], fields_.length[6], in()) ||
                           lineIs(fields_.begin[6], fields_.length[6], out()));
        if (!read) {
            noteSkip(recording_, SkipReason::BadField, number, name_);
            return;
        }
        if (!recording_.timeMs.empty() && time < recording_.timeMs.back()) {
            noteSkip(recording_, SkipReason::OutOfOrder, number, name_);
            return;
        }
        if (recording_.micronsPerUnit == 0.0 && fields_.length[4] > 0 && numbers[2] > 0)
            recording_.micronsPerUnit = microns / numbers[2];
        const bool inTolerance = fields_.length[6] == 2;
        recording_.timeMs.push_back(time);
        recording_.left.push_back(numbers[0]);
        recording_.right.push_back(numbers[1]);
        recording_.value.push_back(numbers[2]);
        recording_.tolerance.push_back(numbers[3]);
        recording_.anaMax.push_back(numbers[4]);
        recording_.anaMin.push_back(numbers[5]);
        recording_.setpoint.push_back(numbers[6]);
        recording_.flags.push_back(static_cast<std::uint8_t>(
            (inTolerance ? kRowInTolerance : 0) | (columns_ == 10 ? kRowHasSetpoint : 0)));
    }

    // left, right, value, tolerance, analogue max and min, set-point (0 when not recorded).
    bool parseNumbers(std::uint16_t numbers[8]) const {
        static const int columns[] = {1, 2, 3, 5, 7, 8, 9};
        for (int i = 0; i < 7; ++i) {
            const int c = columns[i];
            if (c >= columns_)
                continue;
            if (!parseUnsigned16(fields_.begin[c], fields_.length[c], &numbers[i]))
                return false;
        }
        return true;
    }

    static const std::string &in() {
        static const std::string text = "in";
        return text;
    }
    static const std::string &out() {
        static const std::string text = "out";
        return text;
    }

    Recording &recording_;
    std::string name_;
    Fields fields_;
    int columns_ = 0;
    bool notRecording_ = false;
    long linesOfNonRecording_ = 0;
};

void reserveFor(Recording &recording, std::uintmax_t bytes) {
    const std::size_t rows = recording.size() + static_cast<std::size_t>(bytes / kBytesPerRow) + 16;
    for (auto *column : {&recording.left, &recording.right, &recording.value, &recording.tolerance,
                         &recording.anaMax, &recording.anaMin, &recording.setpoint})
        column->reserve(rows);
    recording.timeMs.reserve(rows);
    recording.flags.reserve(rows);
}

// Gives back the room reserved beyond the rows read.
void trim(Recording &recording) {
    for (auto *column : {&recording.left, &recording.right, &recording.value, &recording.tolerance,
                         &recording.anaMax, &recording.anaMin, &recording.setpoint})
        column->shrink_to_fit();
    recording.timeMs.shrink_to_fit();
    recording.flags.shrink_to_fit();
}

bool readFile(const std::string &path, Recording &recording) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        noteSkip(recording, SkipReason::Unreadable, 0, fileName(path));
        return false;
    }
    RowReader reader(recording, fileName(path));
    long lines = 0;
    forEachLine(file, fileSize(path),
                [&](const char *text, std::size_t length, bool terminated, long number) {
                    lines = number;
                    reader.line(text, length, terminated, number);
                });
    if (std::ferror(file))
        noteSkip(recording, SkipReason::Unreadable, lines + 1, fileName(path));
    std::fclose(file);
    reader.finish(lines);
    return true;
}

// The first line and the time of the first row, from the start of the file.
bool peekRecording(const std::string &path, std::int64_t *firstTime) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char start[512];
    const std::size_t got = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    const char *newline = static_cast<const char *>(std::memchr(start, '\n', got));
    if (!newline)
        return false;
    std::size_t length = static_cast<std::size_t>(newline - start);
    if (length > 0 && start[length - 1] == '\r')
        --length;
    if (recordingColumns(start, length) == 0)
        return false;
    *firstTime = INT64_MAX;
    const char *row = newline + 1;
    if (start + got - row >= 24)
        parseIsoTime(row, 24, firstTime);
    return true;
}

std::vector<std::string> csvFilesIn(const std::string &folder, const std::string &ending) {
    std::vector<std::string> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() >= ending.size() &&
            name.compare(name.size() - ending.size(), ending.size(), ending) == 0 &&
            it->is_regular_file(error))
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool endsWith(const std::string &text, const std::string &ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

template <class Source> void readVideoLines(Source &&source, VideoLines &lines) {
    bool isVideo = false;
    Fields fields;
    source([&](const char *text, std::size_t length, bool terminated, long number) {
        if (number == 1) {
            isVideo = lineIs(text, length, videoHeader());
            return;
        }
        if (!isVideo || (length == 0 && terminated))
            return;
        std::int64_t time = 0;
        std::uint16_t value = 0;
        bool read = terminated && fields.split(text, length) && fields.count == kVideoSamples + 5 &&
                    parseIsoTime(fields.begin[0], fields.length[0], &time);
        for (int i = 1; read && i < 4; ++i)
            read = parseUnsigned16(fields.begin[i], fields.length[i], &value);
        const std::size_t first = lines.samples.size();
        for (int i = 0; read && i < kVideoSamples; ++i) {
            read = parseUnsigned16(fields.begin[4 + i], fields.length[4 + i], &value);
            lines.samples.push_back(value);
        }
        read = read && parseUnsigned16(fields.begin[4 + kVideoSamples],
                                       fields.length[4 + kVideoSamples], &value);
        if (!read) {
            lines.samples.resize(first);
            ++lines.skippedRows;
            return;
        }
        lines.timeMs.push_back(time);
        lines.threshold.push_back(value);
    });
}

// Sorts the lines by time, keeping each line's samples with it.
void sortVideoLines(VideoLines &lines) {
    if (std::is_sorted(lines.timeMs.begin(), lines.timeMs.end()))
        return;
    std::vector<std::size_t> order(lines.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return lines.timeMs[a] < lines.timeMs[b];
    });
    VideoLines sorted;
    sorted.skippedRows = lines.skippedRows;
    for (std::size_t i : order) {
        sorted.timeMs.push_back(lines.timeMs[i]);
        sorted.threshold.push_back(lines.threshold[i]);
        sorted.samples.insert(sorted.samples.end(),
                              lines.samples.begin() + static_cast<long>(i * kVideoSamples),
                              lines.samples.begin() + static_cast<long>((i + 1) * kVideoSamples));
    }
    lines = std::move(sorted);
}

void readVideoFile(const std::string &path, VideoLines &lines) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return;
    readVideoLines([&](auto &&line) { forEachLine(file, fileSize(path), line); }, lines);
    std::fclose(file);
}

} // namespace

long Recording::skippedRows() const {
    long rows = 0;
    for (const SkipCount &skip : skipped)
        rows += skip.rows;
    return rows;
}

bool parseIsoTime(const char *t, std::size_t length, std::int64_t *ms) {
    if (length != 24 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
        t[16] != ':' || t[19] != '.' || t[23] != 'Z')
        return false;
    const int year = digits(t, 4), month = digits(t + 5, 2), day = digits(t + 8, 2),
              hour = digits(t + 11, 2), minute = digits(t + 14, 2), second = digits(t + 17, 2),
              milli = digits(t + 20, 3);
    if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60 || milli < 0)
        return false;
    const std::int64_t seconds =
        daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    *ms = seconds * 1000 + milli;
    return true;
}

std::string formatTime(std::int64_t ms) {
    std::int64_t days = ms >= 0 ? ms / 86400000 : (ms - 86399999) / 86400000;
    const std::int64_t inDay = ms - days * 86400000;
    // Howard Hinnant's civil_from_days.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(year), month, day, static_cast<long long>(inDay / 3600000),
                  static_cast<long long>(inDay / 60000 % 60),
                  static_cast<long long>(inDay / 1000 % 60), static_cast<long long>(inDay % 1000));
    return text;
}

bool readRecording(const std::string &path, Recording &recording, std::string *error) {
    recording = Recording();
    std::error_code fsError;
    if (!fs::is_directory(path, fsError)) {
        reserveFor(recording, fileSize(path));
        if (!readFile(path, recording)) {
            if (error)
                *error = std::strerror(errno);
            return false;
        }
        trim(recording);
        return true;
    }
    // A folder: its recordings in the order of their first rows; other CSV files are not ours.
    std::vector<std::pair<std::int64_t, std::string>> files;
    std::uintmax_t bytes = 0;
    for (const std::string &file : csvFilesIn(path, ".csv")) {
        std::int64_t first = 0;
        if (peekRecording(file, &first)) {
            files.emplace_back(first, file);
            bytes += fileSize(file);
        }
    }
    if (files.empty()) {
        if (error)
            *error = "no recording in this folder";
        return false;
    }
    std::stable_sort(files.begin(), files.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    reserveFor(recording, bytes);
    for (const auto &file : files)
        readFile(file.second, recording);
    trim(recording);
    return true;
}

void readRecordingBuffer(const char *data, std::size_t size, const std::string &name,
                         Recording &recording) {
    RowReader reader(recording, name);
    long lines = 0;
    forEachLine(data, size,
                [&](const char *text, std::size_t length, bool terminated, long number) {
                    lines = number;
                    reader.line(text, length, terminated, number);
                });
    reader.finish(lines);
}

long VideoLines::nearest(std::int64_t t) const {
    if (timeMs.empty())
        return -1;
    const auto after = std::lower_bound(timeMs.begin(), timeMs.end(), t);
    if (after == timeMs.begin())
        return 0;
    if (after == timeMs.end())
        return static_cast<long>(timeMs.size()) - 1;
    const auto before = after - 1;
    return static_cast<long>((t - *before <= *after - t ? before : after) - timeMs.begin());
}

void readVideoLinesBeside(const std::string &recordingPath, VideoLines &lines) {
    lines = VideoLines();
    std::error_code error;
    if (fs::is_directory(recordingPath, error)) {
        for (const std::string &file : csvFilesIn(recordingPath, "-video.csv"))
            readVideoFile(file, lines);
    } else if (endsWith(recordingPath, ".csv")) {
        readVideoFile(recordingPath.substr(0, recordingPath.size() - 4) + "-video.csv", lines);
    }
    sortVideoLines(lines);
}

void readVideoLinesBuffer(const char *data, std::size_t size, VideoLines &lines) {
    readVideoLines([&](auto &&line) { forEachLine(data, size, line); }, lines);
    sortVideoLines(lines);
}
