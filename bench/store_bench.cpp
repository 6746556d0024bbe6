// The gateway's sample store on its own (not a test): fills a store file as the gateway would
// while the broker is away, timing every commit, and prints its figures. With `history` it keeps
// the OPC UA face's history beside the samples, as the gateway does with --opcua.
// Usage: kvex-store-bench FILE SAMPLES [history]
#include "gateway/core/samplestore.h"
#include "gateway/core/sampletime.h"
#include "gateway/core/storedhistory.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

void logLine(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("# ", stdout);
    std::vprintf(format, args);
    va_end(args);
    std::fputc('\n', stdout);
}

long long writtenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "write_bytes:")
            return value;
    return -1;
}

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3 || argc > 4 || (argc == 4 && std::string(argv[3]) != "history")) {
        std::fprintf(stderr, "usage: kvex-store-bench FILE SAMPLES [history]\n");
        return 2;
    }
    const std::string path = argv[1];
    const long count = std::atol(argv[2]);
    SampleStore store(path, static_cast<std::size_t>(count), 0, logLine);
    if (argc == 4)
        store.keepHistory(kHistoryKept);
    std::string error;
    if (!store.open(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const long long writtenBefore = writtenBytes();
    std::vector<double> commits;
    commits.reserve(static_cast<std::size_t>(count));
    const double start = seconds();
    for (long i = 0; i < count; ++i) {
        GatewaySample s{};
        // The wire's pace, so each sample has a time of its own as the history needs.
        s.timeMs = msOfIsoTime("2026-01-01T00:00:00.000Z") + i * 38;
        s.seq = store.lastSeq() + 1;
        s.left = static_cast<uint16_t>(100 + i % 50);
        s.right = static_cast<uint16_t>(400 + i % 50);
        s.value = static_cast<uint16_t>(300 + i % 7);
        s.um = std::nan("");
        s.setpoint = 512;
        s.tol = 100;
        s.anaMax = 618;
        s.anaMin = 307;
        const double before = seconds();
        store.add(&s);
        commits.push_back(seconds() - before);
        store.maintain();
    }
    const double elapsed = seconds() - start;
    store.close();
    const long long written = writtenBytes() - writtenBefore;
    std::sort(commits.begin(), commits.end());
    struct stat file {};
    ::stat(path.c_str(), &file);
    std::printf("samples stored          %ld in %.1f s (%.0f commits/s flat out)%s\n", count,
                elapsed, static_cast<double>(count) / elapsed,
                store.fault().empty() ? "" : ", store failing");
    std::printf("commit time             median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n",
                commits[commits.size() / 2] * 1e3, commits[commits.size() * 99 / 100] * 1e3,
                commits.back() * 1e3);
    std::printf("database size           %.1f MB for %ld samples (%.0f bytes a sample)\n",
                static_cast<double>(file.st_size) / 1e6, count,
                static_cast<double>(file.st_size) / static_cast<double>(count));
    std::printf("written to disk         %.0f bytes a sample (write_bytes)\n",
                static_cast<double>(written) / static_cast<double>(count));
    return 0;
}
