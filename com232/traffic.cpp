// The traffic monitor's record, fed by the port services' tap on every write and read.
#include "com232/traffic.h"
#include "com232/rs232link.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/utility.h"

#include <cstdio>
#include <memory>

namespace {

struct Ring {
    std::vector<TrafficFrame> frames;
    std::size_t next = 0; // where the next frame goes once the ring is full
    unsigned long version = 0;
    unsigned short lastCommand = 0;
    double lastSent = -1.0;
};

std::unique_ptr<Ring> ring;

unsigned short wordAt(const char *bytes, int index) {
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    return static_cast<unsigned short>(b[2 * index] * 256 + b[2 * index + 1]);
}

// Bytes of the answer to a command: the firmware text, the video blocks, otherwise a frame.
int answerBytes(unsigned short command) {
    switch (command) {
    case 7:
        return 72;
    case 9:
        return 128;
    case 11:
        return 512;
    default:
        return FRAME_BYTES;
    }
}

// How long the requester of a command waits: the firmware query longest.
double answerLimit(unsigned short command) {
    return command == 7 ? 2.0 : TIMEOUT;
}

void record(int, bool sent, const char *bytes, int count, int) {
    if (!ring || count <= 0)
        return;
    TrafficFrame f{};
    f.time = Timer();
    f.sent = sent;
    f.bytes = count;
    const bool isFrame = sent || answerBytes(ring->lastCommand) == FRAME_BYTES;
    const int firstWord = isFrame ? 2 : 0;
    if (sent && count >= 4) {
        ring->lastCommand = wordAt(bytes, 1);
        ring->lastSent = f.time;
    }
    f.command = ring->lastCommand;
    if (isFrame && count >= 2)
        f.sync = wordAt(bytes, 0);
    for (int i = firstWord; i < firstWord + PNUM && 2 * i + 1 < count; ++i)
        f.words.push_back(wordAt(bytes, i));
    if (!sent) {
        f.expected = answerBytes(ring->lastCommand);
        f.isShort = count < f.expected;
        // A short answer is read when its requester gave up waiting, so only a complete one
        // tells by its time that it came late.
        f.late = !f.isShort && ring->lastSent >= 0 &&
                 f.time - ring->lastSent > answerLimit(ring->lastCommand);
        f.badSync = isFrame && count >= 2 && f.sync != ANSWER_SYNC;
    }
    if (ring->frames.size() < TRAFFIC_FRAMES) {
        ring->frames.push_back(std::move(f));
    } else {
        ring->frames[ring->next] = std::move(f);
        ring->next = (ring->next + 1) % TRAFFIC_FRAMES;
    }
    ++ring->version;
}

} // namespace

void startTraffic() {
    ring = std::make_unique<Ring>();
    ring->frames.reserve(TRAFFIC_FRAMES);
    setComTap(record);
}

void stopTraffic() {
    setComTap(nullptr);
    ring.reset();
}

bool trafficRunning() {
    return ring != nullptr;
}

void pauseTraffic(bool paused) {
    if (ring)
        setComTap(paused ? nullptr : record);
}

void clearTraffic() {
    if (!ring)
        return;
    ring->frames.clear();
    ring->next = 0;
    ++ring->version;
}

std::vector<TrafficFrame> trafficFrames() {
    if (!ring)
        return {};
    std::vector<TrafficFrame> out(ring->frames.begin() + static_cast<long>(ring->next),
                                  ring->frames.end());
    out.insert(out.end(), ring->frames.begin(),
               ring->frames.begin() + static_cast<long>(ring->next));
    return out;
}

unsigned long trafficVersion() {
    return ring ? ring->version : 0;
}

std::vector<std::string> trafficColumns() {
    return {kvex::tr("time (s)"), kvex::tr("dir"),   kvex::tr("code"),
            kvex::tr("bytes"),    kvex::tr("words"), kvex::tr("marks")};
}

std::vector<int> trafficColumnWidths() {
    return {10, 4, 5, 8, 0, 22};
}

std::vector<std::string> trafficCells(const TrafficFrame &f) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", f.time);
    std::string words;
    for (unsigned short w : f.words)
        words += (words.empty() ? "" : " ") + std::to_string(w);
    std::string marks;
    auto mark = [&marks](bool on, const char *text) {
        if (on)
            marks += (marks.empty() ? "" : " ") + std::string(text);
    };
    mark(f.isShort, "SHORT");
    mark(f.late, "LATE");
    if (f.badSync) {
        char sync[32];
        std::snprintf(sync, sizeof sync, "BAD-SYNC(0x%04X)", f.sync);
        mark(true, sync);
    }
    return {time,
            f.sent ? "out" : "in",
            std::to_string(f.command),
            f.sent ? std::to_string(f.bytes)
                   : std::to_string(f.bytes) + "/" + std::to_string(f.expected),
            words,
            marks};
}

bool saveTraffic(const std::string &path) {
    std::string text;
    for (const std::string &c : trafficColumns())
        text += (text.empty() ? "" : "\t") + c;
    text += "\n";
    for (const TrafficFrame &f : trafficFrames()) {
        std::string line;
        for (const std::string &cell : trafficCells(f))
            line += (line.empty() ? "" : "\t") + cell;
        text += line + "\n";
    }
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}
