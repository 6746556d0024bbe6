// libFuzzer target: a recording's or a video-line file's content through the reader, from memory
// and from a file, whose results must agree and keep the reader's promises.
#include "app/recording/reader.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "kvex fuzz: invariant violated: %s\n", what);
    std::abort();
}

// Every column as long as the times, the times never decreasing, and every line accounted for.
void check(const Recording &r, const char *data, std::size_t size) {
    const std::size_t n = r.size();
    for (const auto *column :
         {&r.left, &r.right, &r.value, &r.tolerance, &r.anaMax, &r.anaMin, &r.setpoint})
        if (column->size() != n)
            fail("a column's length differs from the times'");
    if (r.flags.size() != n)
        fail("the flags' length differs from the times'");
    if (!std::is_sorted(r.timeMs.begin(), r.timeMs.end()))
        fail("rows out of order were kept");
    const long lines = static_cast<long>(std::count(data, data + size, '\n')) +
                       (size > 0 && data[size - 1] != '\n' ? 1 : 0);
    const long rowsAndSkips = static_cast<long>(n) + r.skippedRows();
    if (size == 0 && r.skipped[static_cast<int>(SkipReason::Empty)].rows != 1)
        fail("an empty file is not called empty");
    if (r.files.empty() && size > 0 &&
        r.skipped[static_cast<int>(SkipReason::NotARecording)].rows != lines)
        fail("a file that is not a recording does not count all its lines");
    if (!r.files.empty() && rowsAndSkips > lines - 1)
        fail("more rows and skipped rows than lines");
    for (const SkipCount &skip : r.skipped)
        if (skip.rows > 0 && (skip.firstLine < 0 || skip.firstLine > lines))
            fail("a skipped row's first line lies outside the file");
}

bool same(const Recording &a, const Recording &b) {
    if (a.timeMs != b.timeMs || a.value != b.value || a.left != b.left || a.right != b.right ||
        a.flags != b.flags || a.setpoint != b.setpoint || a.skippedRows() != b.skippedRows())
        return false;
    for (int i = 0; i < kSkipReasons; ++i)
        if (a.skipped[i].rows != b.skipped[i].rows ||
            a.skipped[i].firstLine != b.skipped[i].firstLine)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    const char *data = reinterpret_cast<const char *>(bytes);
    Recording fromMemory;
    readRecordingBuffer(data, size, "fuzz.csv", fromMemory);
    check(fromMemory, data, size);

    char path[] = "/tmp/kvex-fuzz-recording-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        fail("no temporary file");
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size))
        fail("the temporary file cannot be written");
    close(fd);
    Recording fromFile;
    const bool opened = readRecording(path, fromFile, nullptr);
    unlink(path);
    if (!opened)
        fail("a readable file did not open");
    if (!same(fromMemory, fromFile))
        fail("the file and the buffer read differently");

    VideoLines video;
    readVideoLinesBuffer(data, size, video);
    if (video.samples.size() != video.size() * kVideoSamples ||
        video.threshold.size() != video.size())
        fail("a video line lost its samples or its threshold");
    if (!std::is_sorted(video.timeMs.begin(), video.timeMs.end()))
        fail("video lines are not in time order");
    const long nearest = video.nearest(video.size() ? video.timeMs.back() + 1 : 0);
    if (nearest != static_cast<long>(video.size()) - 1)
        fail("the line nearest after the last is not the last");
    return 0;
}
