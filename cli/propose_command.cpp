// propose: a video threshold and an evaluation window from one video line, with the margins they
// leave; with --apply, written to RAM, checked by measuring, and only then (eeprom) stored.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/panelcontrols.h"
#include "app/parameterwords.h"
#include "cli/cli.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

// The words a proposal sets.
constexpr int kThresholdWord = 2, kBeginWord = 6, kEndWord = 7;
// Run-mode cycles the check measures: about three seconds at the wire's rate.
constexpr long kCheckCycles = 80;
// The last request of a loop may still be answered; it is let come and go.
constexpr double kLastAnswerSeconds = 0.1;
// The sensor stores a set (EEPROM takes longest) before it answers the read-back.
constexpr double kStoreSeconds = 0.2;

// One live loop through its panel button until `enough` says so; false when the sensor stopped
// answering first.
bool liveLoop(bool video, const std::function<bool()> &enough) {
    bool done = false;
    LiveObserver observer;
    auto row = [&] {
        if (!done && enough()) {
            done = true;
            stop_flag = 1;
        }
    };
    if (video)
        observer.videoLine = row;
    else
        observer.runSample = row;
    const int id = addLiveObserver(observer);
    if (video)
        CC_BTNVideo(pHandle, BTNLock23, EVENT_COMMIT, nullptr, 0, 0);
    else
        CC_BTNRun(pHandle, BTNLock21, EVENT_COMMIT, nullptr, 0, 0);
    removeLiveObserver(id);
    const double until = Timer() + kLastAnswerSeconds;
    while (Timer() < until)
        ProcessSystemEvents();
    FlushInQ(com);
    return done;
}

bool readRam() {
    const ExchangeScope exchange;
    target = RAM;
    PushGET(RAM);
    if (rx_flag != 1)
        return false;
    CopyPPtoVars();
    return true;
}

// Writes `words` to `memory` through the SEND button's path and reads them back; false when the
// sensor did not take them.
bool sendWords(const unsigned short *words, int memory) {
    std::memcpy(pp, words, sizeof pp);
    CopyPPtoVars();
    SetPanelValues();
    target = memory;
    SendResult result;
    {
        const ExchangeScope exchange;
        result = sendPanelSet();
    }
    if (result == SEND_UNCHANGED)
        return true;
    if (result != SEND_WRITTEN)
        return false;
    // The frame leaves at the line's rate and the sensor stores it before it answers a read.
    const double until = Timer() + kStoreSeconds;
    while (Timer() < until)
        ProcessSystemEvents();
    const ExchangeScope exchange;
    target = memory;
    PushGET(memory);
    return rx_flag == 1 && std::memcmp(pp, words, sizeof pp) == 0;
}

std::string number(double value, const char *format = "%.4g") {
    if (!std::isfinite(value))
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string proposalJson(const SetupProposal &p) {
    if (!p.proposed)
        return "\"proposed\":false,\"reason\":" + jsonString(p.reason) +
               ",\"advice\":" + jsonString(proposalAdvice(p.reason)) +
               ",\"contrast\":" + number(p.contrast);
    std::string edges;
    for (const double e : p.edges)
        edges += (edges.empty() ? "" : ",") + number(e, "%.1f");
    return "\"proposed\":true,\"v_thd\":" + std::to_string(p.threshold) +
           ",\"e_beg\":" + std::to_string(p.evalBegin) + ",\"e_end\":" + std::to_string(p.evalEnd) +
           ",\"lit\":" + number(p.litLevel) + ",\"shadow\":" + number(p.shadowLevel) +
           ",\"lit_margin\":" + number(p.litMargin) + ",\"shadow_margin\":" +
           number(p.shadowMargin) + ",\"signal_reserve\":" + number(p.reserve) +
           ",\"contrast\":" + number(p.contrast) + ",\"edges\":[" + edges + "]";
}

// What measuring under the new words showed.
struct Verdict {
    long cycles = 0, withEdges = 0;
    int leftSpread = 0, rightSpread = 0; // in the sensor's positions
    SignalReserve reserve;
    bool passed() const {
        return cycles == kCheckCycles && withEdges == cycles && reserve.state == ReserveState::Ok &&
               reserve.ratio >= RESERVE_WARN;
    }
};

Verdict check() {
    Verdict v;
    int leftLow = 65535, leftHigh = 0, rightLow = 65535, rightHigh = 0;
    liveLoop(false, [&] {
        const Measurement m = currentMeasurement();
        ++v.cycles;
        if (m.left > 0 && m.right > m.left) {
            ++v.withEdges;
            leftLow = std::min<int>(leftLow, m.left);
            leftHigh = std::max<int>(leftHigh, m.left);
            rightLow = std::min<int>(rightLow, m.right);
            rightHigh = std::max<int>(rightHigh, m.right);
        }
        return v.cycles >= kCheckCycles;
    });
    if (v.withEdges > 0) {
        v.leftSpread = leftHigh - leftLow;
        v.rightSpread = rightHigh - rightLow;
    }
    if (liveLoop(true, [] { return true; }))
        v.reserve = GetVIDEOLineReserve();
    return v;
}

std::string verdictJson(const Verdict &v) {
    return ",\"check\":{\"passed\":" + std::string(v.passed() ? "true" : "false") +
           ",\"cycles\":" + std::to_string(v.cycles) +
           ",\"cycles_with_edges\":" + std::to_string(v.withEdges) +
           ",\"left_spread\":" + std::to_string(v.leftSpread) +
           ",\"right_spread\":" + std::to_string(v.rightSpread) +
           ",\"signal_reserve\":" + number(v.reserve.ratio) +
           ",\"reserve_state\":" + jsonString(reserveStateKey(v.reserve.state)) + "}";
}

} // namespace

int runPropose(const CliOptions &options) {
    std::string apply;
    const bool applying = optionValue(options.args, "--apply", apply);
    if (applying && apply != "ram" && apply != "eeprom")
        return fail(EXIT_USAGE, kvex::trNow("propose: --apply takes ram or eeprom"));
    const int connected = connectSensor(options);
    if (connected != EXIT_OK)
        return connected;
    if (!readRam())
        return fail(EXIT_NO_ANSWER, kvex::trArgs("no parameter set from RAM: %1", {lastStatus()}));
    unsigned short before[PNUM];
    std::memcpy(before, pp, sizeof before);
    if (!liveLoop(true, [] { return true; }))
        return fail(EXIT_NO_ANSWER, kvex::trArgs("no video line: %1", {lastStatus()}));
    const ParameterLimit limit = parameterLimit(kThresholdWord, static_cast<int>(ccdsubpixel));
    const SetupProposal p = ProposeSETUP(adcbuf, xArray8[1], eBeg, eEnd, YAXISMAX,
                                         std::max(1u, limit.min), limit.max);
    if (!p.proposed) {
        if (options.json)
            std::printf("{%s}\n", proposalJson(p).c_str());
        else
            std::printf("no proposal: %s\n", proposalAdvice(p.reason));
        return EXIT_NO_ANSWER;
    }
    if (!options.json)
        std::printf("v_thd %u (now %u), window %u to %u (now %u to %u): lit %.0f, shadow %.0f, "
                    "margins %.0f and %.0f counts, signal reserve %.2f, contrast %.2f\n",
                    p.threshold, before[kThresholdWord], p.evalBegin, p.evalEnd,
                    before[kBeginWord], before[kEndWord], p.litLevel, p.shadowLevel, p.litMargin,
                    p.shadowMargin, p.reserve, p.contrast);
    if (!applying) {
        if (options.json)
            std::printf("{%s}\n", proposalJson(p).c_str());
        return EXIT_OK;
    }

    // Into RAM first: the sensor measures with the proposal before anything is stored.
    unsigned short proposed[PNUM];
    std::memcpy(proposed, before, sizeof proposed);
    proposed[kThresholdWord] = static_cast<unsigned short>(p.threshold);
    proposed[kBeginWord] = static_cast<unsigned short>(p.evalBegin);
    proposed[kEndWord] = static_cast<unsigned short>(p.evalEnd);
    if (!sendWords(proposed, RAM))
        return fail(EXIT_NO_ANSWER, kvex::trArgs("cannot write the proposal to RAM: %1",
                                                 {lastStatus()}));
    const Verdict v = check();
    std::string stored = "ram";
    if (!v.passed()) {
        // A proposal that does not hold leaves the sensor as it was.
        const bool restored = sendWords(before, RAM);
        if (options.json)
            std::printf("{%s%s,\"applied\":false,\"restored\":%s}\n", proposalJson(p).c_str(),
                        verdictJson(v).c_str(), restored ? "true" : "false");
        return fail(EXIT_BAD_ANSWER,
                    kvex::trArgs("the check failed (%1 of %2 cycles with both edges, signal "
                                 "reserve %3): %4",
                                 {std::to_string(v.withEdges), std::to_string(v.cycles),
                                  number(v.reserve.ratio, "%.2f"),
                                  restored ? kvex::trNow("RAM written back as it was")
                                           : kvex::trNow("RAM could NOT be written back")}));
    }
    if (apply == "eeprom") {
        if (!sendWords(proposed, EEPROM))
            return fail(EXIT_NO_ANSWER,
                        kvex::trArgs("checked in RAM, but the EEPROM did not take it: %1",
                                     {lastStatus()}));
        stored = "eeprom";
    }
    if (options.json)
        std::printf("{%s%s,\"applied\":%s}\n", proposalJson(p).c_str(), verdictJson(v).c_str(),
                    jsonString(stored).c_str());
    else
        std::printf("checked: both edges in all %ld cycles, spread %d and %d, signal reserve "
                    "%.2f; written to %s\n",
                    v.cycles, v.leftSpread, v.rightSpread, v.reserve.ratio, stored.c_str());
    return EXIT_OK;
}
