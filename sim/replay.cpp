// Reads a run-mode recording and the video lines beside it for playback. Written apart from the
// program's own CSV code on purpose: a recording the program made and this reader plays back
// checks both sides.
#include "sim/sensorsim.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

namespace kvexsim {

namespace {

// Columns of a run-mode row: time, left, right, value, micrometres, tolerance, in tolerance,
// analogue max, analogue min, and in later files the set-point.
constexpr std::size_t kRowColumns = 9;
constexpr std::size_t kRowColumnsWithSetPoint = 10;
// Columns of a video row: time, left, right, value, the samples, and in later files the threshold.
constexpr std::size_t kVideoColumns = 4 + kVideoSamples;

std::vector<std::string> splitCsv(const std::string &line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos)
            return fields;
        start = comma + 1;
    }
}

bool readWord(const std::string &text, uint16_t &word) {
    if (text.empty() || text.size() > 5)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (value > 0xFFFF)
        return false;
    word = static_cast<uint16_t>(value);
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long daysFromCivil(long year, unsigned month, unsigned day) {
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long>(dayOfEra) - 719468;
}

bool digits(const std::string &text, std::size_t at, std::size_t count, int &value) {
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// 2026-12-08T04:35:12.345Z as seconds since 1970.
bool readTime(const std::string &text, double &seconds) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text.back() != 'Z' || !digits(text, 0, 4, year) ||
        !digits(text, 5, 2, month) || !digits(text, 8, 2, day) || !digits(text, 11, 2, hour) ||
        !digits(text, 14, 2, minute) || !digits(text, 17, 2, second))
        return false;
    if (text.size() == 24 && (text[19] != '.' || !digits(text, 20, 3, millis)))
        return false;
    if ((text.size() != 20 && text.size() != 24) || month < 1 || month > 12 || day < 1 ||
        day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    seconds = static_cast<double>(
                  daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day))) *
                  86400.0 +
              hour * 3600.0 + minute * 60.0 + second + millis / 1000.0;
    return true;
}

bool readRow(const std::string &line, double &time, ReplayRow &row) {
    const std::vector<std::string> f = splitCsv(line);
    if (f.size() != kRowColumns && f.size() != kRowColumnsWithSetPoint)
        return false;
    row.hasSetPoint = f.size() == kRowColumnsWithSetPoint;
    return readTime(f[0], time) && readWord(f[1], row.left) && readWord(f[2], row.right) &&
           readWord(f[3], row.value) && readWord(f[5], row.tolerance) &&
           readWord(f[7], row.anaMax) && readWord(f[8], row.anaMin) &&
           (!row.hasSetPoint || readWord(f[9], row.setPoint));
}

bool readVideoRow(const std::string &line, VideoLine &video) {
    const std::vector<std::string> f = splitCsv(line);
    if (f.size() != kVideoColumns && f.size() != kVideoColumns + 1)
        return false;
    for (int i = 0; i < kVideoSamples; ++i)
        if (!readWord(f[4 + i], video[i]))
            return false;
    return true;
}

void stripLineEnd(std::string &line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
}

} // namespace

std::string replayVideoFile(const std::string &path) {
    const std::string ending = ".csv";
    const bool csv = path.size() >= ending.size() && path.compare(path.size() - 4, 4, ending) == 0;
    return (csv ? path.substr(0, path.size() - 4) : path) + "-video.csv";
}

bool loadReplay(const std::string &path, Replay &replay, std::string &error) {
    replay = Replay{};
    std::ifstream in(path);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    double first = 0.0, last = 0.0;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        stripLineEnd(line);
        double time = 0.0;
        ReplayRow row;
        if (!readRow(line, time, row)) {
            // The header is no row, and neither is anything else that does not read as one.
            if (number > 1 || line.rfind("time", 0) != 0)
                ++replay.skipped;
            continue;
        }
        if (replay.rows.empty())
            first = last = time;
        // Rows out of order play at once rather than going back in time.
        last = std::max(last, time);
        row.offset = last - first;
        replay.rows.push_back(row);
    }
    if (replay.rows.empty()) {
        error = path + " holds no run-mode row";
        return false;
    }
    std::ifstream video(replayVideoFile(path));
    for (std::size_t number = 1; video && std::getline(video, line); ++number) {
        stripLineEnd(line);
        VideoLine samples{};
        if (readVideoRow(line, samples))
            replay.videoLines.push_back(samples);
        else if (number > 1)
            ++replay.skipped;
    }
    return true;
}

} // namespace kvexsim
