// Video blocks read straight from the input queue, and two array helpers over doubles.
#include "com232/videodata.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

unsigned short adcbuf[256];
int shortVideoBlocks = 0;
bool videoLineHeld = false;
bool videoLineTaken = false;

namespace {

// The line being read, block by block; whole while every block of it since the one at word 0
// came complete.
unsigned short lineWords[256];
bool lineWhole = false;

struct BlockRead {
    unsigned short command;
    int words;
    const char *waiting;
    const char *timeout;
    const char *received;
};

const BlockRead block64 = {9, 64, kvex::tr("Waiting for Data[64] ..."),
                           kvex::tr("Timeout-RS-232 while reading 64 data-words!"),
                           kvex::tr("Data[64] block received!")};
const BlockRead block256 = {11, 256, kvex::tr("Waiting for Data[256] ..."),
                            kvex::tr("Timeout-RS-232 while reading 256 data-words!"),
                            kvex::tr("Data[256] block received!")};

void readBlock(const BlockRead &block, int start, const unsigned short *requestWords) {
    const int bytesAwaited = 2 * block.words;
    order = block.command;
    FlushOutQ(com);
    FlushInQ(com);
    FillTxBuf(block.command, requestWords);
    nBytesW = ComWrt(com, szWriteBuf, FRAME_BYTES);
    showStatusText(block.waiting);

    int count = 0;
    bool timedOut = false;
    SetComWakeCount(com, bytesAwaited);
    tstart = Timer();
    for (;;) {
        ProcessSystemEvents();
        count = GetInQLen(com);
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            timedOut = true;
            break;
        }
        if (count >= bytesAwaited)
            break;
    }
    SetComWakeCount(com, 0);

    // Never more than the receive buffer holds; whatever else waits is stale.
    int toRead = count < 0 ? 0 : count;
    if (toRead > BUFFER_SIZE)
        toRead = BUFFER_SIZE;
    nBytesR = toRead > 0 ? ComRd(com, szReadBuf, toRead) : 0;
    if (count > toRead)
        FlushInQ(com);

    if (start == 0)
        lineWhole = true;
    // A longer block keeps the status text it found; its words are all there.
    const char *said = nBytesR == bytesAwaited ? block.received
                       : timedOut              ? block.timeout
                                               : nullptr;
    if (nBytesR >= bytesAwaited) {
        for (int k = 0; k < block.words && start + k < 256; ++k)
            lineWords[start + k] = readBufWord(k);
    } else {
        ++shortVideoBlocks;
        lineWhole = false;
    }
    const bool lineEnds = start + block.words >= 256;
    if (lineEnds) {
        // Words that did not come would be drawn from whatever the buffer held before, so a
        // line with a short block is not drawn at all: the last whole line stays.
        videoLineHeld = !lineWhole;
        if (lineWhole) {
            std::copy(lineWords, lineWords + 256, adcbuf);
            videoLineTaken = true;
        }
    }
    char text[STATUS_SIZE];
    if (lineEnds && !lineWhole) {
        std::snprintf(text, sizeof text,
                      kvex::trNow("Short video block: previous line held! Short blocks: %d"),
                      shortVideoBlocks);
        setStatus(text);
    } else if (said && shortVideoBlocks > 0) {
        std::snprintf(text, sizeof text, kvex::trNow("%s Short blocks: %d"), kvex::trNow(said),
                      shortVideoBlocks);
        setStatus(text);
    } else if (said) {
        setStatus(said);
    }
    showStatus();
}

} // namespace

int ReadData64(int start, int last) {
    if (start < 0 || start > 256 - 64)
        start = start < 0 ? 0 : 256 - 64;
    unsigned short words[PNUM] = {static_cast<unsigned short>(start),
                                  static_cast<unsigned short>(last)};
    readBlock(block64, start, words);
    return 1;
}

int ReadData256() {
    const unsigned short words[PNUM] = {};
    readBlock(block256, 0, words);
    return 1;
}

int Copy1D(const double *in, int n, double *out) {
    if (n < 1)
        return -20003;
    for (int i = 0; i < n; ++i)
        out[i] = in[i];
    return 0;
}

int Shift(const double *in, int n, int shifts, double *out) {
    if (n < 1)
        return -20003;
    if (shifts >= n || -shifts >= n)
        return -20102;
    // One move instead of a loop: the strip chart shifts its 500 values at every answer.
    const int kept = n - std::abs(shifts);
    std::memmove(out + std::max(shifts, 0), in + std::max(-shifts, 0),
                 static_cast<std::size_t>(kept) * sizeof *out);
    std::fill(out + (shifts > 0 ? 0 : kept), out + (shifts > 0 ? shifts : n), 0.0);
    return 0;
}

void ReadVIDEOLine() {
    InstallComCallback(com, 0, FRAME_BYTES, com232::sync, nullptr, nullptr);
    FlushInQ(com);
    FlushOutQ(com);
    if (pcbtype == 0 || pcbtype == 100) {
        ReadData64(0, 0);
        ReadData64(64, 0);
        ReadData64(128, 0);
        ReadData64(192, 1);
    } else {
        ReadData256();
    }
    InstallComCallback(com, eventMask, FRAME_BYTES, com232::sync, RX_Receive_Function, nullptr);
}

namespace {

double medianOf(std::vector<unsigned short> &values) {
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle),
                     values.end());
    double median = values[middle];
    if (values.size() % 2 == 0)
        median =
            (median + *std::max_element(values.begin(),
                                        values.begin() + static_cast<std::ptrdiff_t>(middle))) /
            2.0;
    return median;
}

} // namespace

SignalReserve GetSIGNALReserve(const unsigned short *line, double xStep, unsigned threshold,
                               unsigned polarity, unsigned evalBegin, unsigned evalEnd,
                               unsigned fullScale) {
    SignalReserve out;
    const double nan = std::nan("");
    out.ratio = out.contrast = out.litLevel = out.shadowLevel = nan;
    std::vector<unsigned short> lit, shadow;
    int atTop = 0;
    for (int i = 0; i < 256; ++i) {
        const double position = i * xStep;
        if (position < evalBegin || position > evalEnd)
            continue;
        ++out.samples;
        (line[i] > threshold ? lit : shadow).push_back(line[i]);
        if (fullScale > 0 && line[i] + 1u >= fullScale)
            ++atTop;
    }
    out.saturated = atTop >= RESERVE_MIN_SAMPLES;
    if (out.samples == 0 || threshold == 0) {
        out.state = ReserveState::NoWindow;
        return out;
    }
    const bool haveLit = static_cast<int>(lit.size()) >= RESERVE_MIN_SAMPLES;
    const bool haveShadow = static_cast<int>(shadow.size()) >= RESERVE_MIN_SAMPLES;
    if (haveLit)
        out.litLevel = medianOf(lit);
    if (haveShadow)
        out.shadowLevel = medianOf(shadow);
    const bool litWorks = polarity != 0;
    const double t = threshold;
    if (haveLit && haveShadow)
        out.contrast = (out.litLevel - out.shadowLevel) / (out.litLevel + out.shadowLevel);
    if (litWorks ? haveLit : haveShadow) {
        out.ratio = litWorks ? (out.litLevel - t) / t : (t - out.shadowLevel) / t;
        out.state = (litWorks ? haveShadow : haveLit) ? ReserveState::Ok : ReserveState::NoObject;
        // Dust, ageing and a weak light lower the lit side and stray light raises the shadow
        // side whatever the polarity: either side reaching the threshold loses the edges.
        if (out.state == ReserveState::Ok)
            out.ratio = std::min((out.litLevel - t) / t, (t - out.shadowLevel) / t);
        return out;
    }
    // Fewer working samples than a side needs: the edges are gone. The margin of the sample that
    // would have made the side says how far beyond the threshold the line has sunk.
    std::vector<unsigned short> all(lit);
    all.insert(all.end(), shadow.begin(), shadow.end());
    std::sort(all.begin(), all.end());
    const std::size_t k = std::min<std::size_t>(RESERVE_MIN_SAMPLES - 1, all.size() - 1);
    const double edge = litWorks ? all[all.size() - 1 - k] : all[k];
    out.ratio = std::min(0.0, litWorks ? (edge - t) / t : (t - edge) / t);
    out.state = ReserveState::Lost;
    return out;
}

namespace {

// Whether each sample lies above `threshold`, with runs shorter than a side's minimum (hot or dead
// pixels) given to the run before them.
std::vector<bool> sidesOf(const unsigned short *line, double threshold) {
    std::vector<bool> above(256);
    for (int i = 0; i < 256; ++i)
        above[i] = line[i] > threshold;
    for (int i = 0; i < 256;) {
        int end = i;
        while (end < 256 && above[end] == above[i])
            ++end;
        if (end - i < RESERVE_MIN_SAMPLES && (i > 0 || end < 256))
            for (int k = i; k < end; ++k)
                above[k] = i > 0 ? above[i - 1] : above[end];
        i = end;
    }
    return above;
}

} // namespace

SetupProposal ProposeSETUP(const unsigned short *line, double xStep, unsigned evalBegin,
                           unsigned evalEnd, unsigned fullScale, unsigned thresholdMin,
                           unsigned thresholdMax, double windowShare) {
    SetupProposal out;
    const double nan = std::nan("");
    out.litLevel = out.shadowLevel = out.litMargin = out.shadowMargin = nan;
    out.reserve = out.contrast = nan;
    // The split between the sides: halfway between the third-darkest and third-brightest samples,
    // which two hot or dead pixels cannot move.
    auto levelsIn = [&](double from, double to) {
        std::vector<unsigned short> inside;
        for (int i = 0; i < 256; ++i)
            if (i * xStep >= from && i * xStep <= to)
                inside.push_back(line[i]);
        std::vector<unsigned short> lit, shadow;
        if (static_cast<int>(inside.size()) < 2 * RESERVE_MIN_SAMPLES)
            return false;
        std::vector<unsigned short> sorted(inside);
        std::sort(sorted.begin(), sorted.end());
        const double split = (sorted[RESERVE_MIN_SAMPLES - 1] +
                              sorted[sorted.size() - RESERVE_MIN_SAMPLES]) /
                             2.0;
        for (const unsigned short v : inside)
            (v > split ? lit : shadow).push_back(v);
        if (static_cast<int>(lit.size()) < RESERVE_MIN_SAMPLES ||
            static_cast<int>(shadow.size()) < RESERVE_MIN_SAMPLES)
            return false;
        out.litLevel = medianOf(lit);
        out.shadowLevel = medianOf(shadow);
        return true;
    };
    const double lineEnd = 256 * xStep;
    if (!levelsIn(evalBegin, evalEnd) && !levelsIn(0.0, lineEnd)) {
        // One level all along: no object, or no light.
        out.reason = "no_edge";
        return out;
    }
    int atTop = 0;
    for (int i = 0; i < 256; ++i)
        atTop += fullScale > 0 && line[i] + 1u >= fullScale;
    if (atTop >= RESERVE_MIN_SAMPLES) {
        out.reason = "saturated";
        return out;
    }
    out.contrast = (out.litLevel - out.shadowLevel) / (out.litLevel + out.shadowLevel);
    if (!(out.contrast >= PROPOSAL_MIN_CONTRAST)) {
        // Sides that differ by no more than the line's noise are one level: no object at all.
        out.reason = out.contrast < PROPOSAL_FLAT_CONTRAST ? "no_edge" : "low_contrast";
        return out;
    }
    const double middle = std::round((out.litLevel + out.shadowLevel) / 2.0);
    out.threshold = static_cast<unsigned>(
        std::clamp(middle, static_cast<double>(thresholdMin), static_cast<double>(thresholdMax)));
    const double t = out.threshold;
    out.litMargin = out.litLevel - t;
    out.shadowMargin = t - out.shadowLevel;
    out.reserve = t > 0 ? std::min(out.litMargin, out.shadowMargin) / t : nan;
    const std::vector<bool> above = sidesOf(line, t);
    for (int i = 0; i + 1 < 256; ++i)
        if (above[i] != above[i + 1]) {
            // Between the two samples where the line passes the threshold, or in the middle of
            // a step that a hot pixel's run hid.
            const double a = line[i], b = line[i + 1];
            const double part = (a > t) != (b > t) && a != b ? (a - t) / (a - b) : 0.5;
            out.edges.push_back((i + std::clamp(part, 0.0, 1.0)) * xStep);
        }
    if (out.edges.empty() || out.edges.size() > 2) {
        out.reason = out.edges.empty() ? "no_edge" : "too_many_edges";
        return out;
    }
    const double margin = windowShare * lineEnd;
    out.evalBegin = static_cast<unsigned>(std::max(0.0, std::floor(out.edges.front() - margin)));
    out.evalEnd = static_cast<unsigned>(std::min(lineEnd, std::ceil(out.edges.back() + margin)));
    out.proposed = true;
    return out;
}

const char *proposalAdvice(const std::string &reason) {
    if (reason == "saturated")
        return kvex::trNow("the line reaches the top of the scale: lower power");
    if (reason == "low_contrast")
        return kvex::trNow("too little contrast between lit and shadow: raise power or clean the "
                           "optics");
    if (reason == "no_edge")
        return kvex::trNow("no edge in the line: put the object in the beam");
    if (reason == "too_many_edges")
        return kvex::trNow("more than two edges in the line: one object at a time");
    return "";
}

SignalReserve GetVIDEOLineReserve() {
    return GetSIGNALReserve(adcbuf, xArray8[1], vThd, polarity, eBeg, eEnd, YAXISMAX);
}

const char *reserveStateKey(ReserveState state) {
    switch (state) {
    case ReserveState::Ok:
        return "ok";
    case ReserveState::NoObject:
        return "no_object";
    case ReserveState::Lost:
        return "lost";
    case ReserveState::NoWindow:
        break;
    }
    return "no_window";
}

std::string reserveText(const SignalReserve &reserve) {
    char text[64];
    switch (reserve.state) {
    case ReserveState::NoWindow:
        return "-";
    case ReserveState::Lost:
        return kvex::trNow("lost");
    case ReserveState::NoObject:
        std::snprintf(text, sizeof text, kvex::trNow("%.2f (no object)"), reserve.ratio);
        return text;
    case ReserveState::Ok:
        break;
    }
    std::snprintf(text, sizeof text, "%.2f", reserve.ratio);
    return text;
}
