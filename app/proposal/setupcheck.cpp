#include "app/proposal/setupcheck.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/panelcontrols.h"
#include "app/parameterwords.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// The last request of a loop may still be answered; it is let come and go.
constexpr double LAST_ANSWER_SECONDS = 0.1;
// The sensor stores a set (EEPROM takes longest) before it answers the read-back.
constexpr double STORE_SECONDS = 0.2;

void waitSeconds(double seconds) {
    const double until = Timer() + seconds;
    while (Timer() < until)
        ProcessSystemEvents();
}

} // namespace

bool ProposalCheck::passed() const {
    return cycles == PROPOSAL_CHECK_CYCLES && withEdges == cycles &&
           reserve.state == ReserveState::Ok && reserve.ratio >= RESERVE_WARN;
}

SetupProposal ProposeFROMVideoLine() {
    const ParameterLimit limit =
        parameterLimit(PROPOSAL_THRESHOLD_WORD, static_cast<int>(ccdsubpixel));
    return ProposeSETUP(adcbuf, xArray8[1], eBeg, eEnd, YAXISMAX, std::max(1u, limit.min),
                        limit.max);
}

void ProposalWORDS(const unsigned short current[PNUM], const SetupProposal &p,
                   unsigned short out[PNUM]) {
    std::memcpy(out, current, PNUM * sizeof *out);
    out[PROPOSAL_THRESHOLD_WORD] = static_cast<unsigned short>(p.threshold);
    out[PROPOSAL_BEGIN_WORD] = static_cast<unsigned short>(p.evalBegin);
    out[PROPOSAL_END_WORD] = static_cast<unsigned short>(p.evalEnd);
}

bool ReadRAMWords() {
    const ExchangeScope exchange;
    target = RAM;
    PushGET(RAM);
    if (rx_flag != 1)
        return false;
    CopyPPtoVars();
    return true;
}

SetupWrite WriteSETUPWords(const unsigned short words[PNUM], int memory) {
    std::memcpy(pp, words, sizeof pp);
    CopyPPtoVars();
    SetPanelValues();
    target = memory;
    SendResult result;
    {
        const ExchangeScope exchange;
        result = sendPanelSet();
    }
    if (result == SEND_CANCELLED)
        return SETUP_CANCELLED;
    if (result == SEND_UNCHANGED)
        return SETUP_WRITTEN;
    if (result != SEND_WRITTEN)
        return SETUP_FAILED;
    // The frame leaves at the line's rate and the sensor stores it before it answers a read.
    waitSeconds(STORE_SECONDS);
    const ExchangeScope exchange;
    target = memory;
    PushGET(memory);
    return rx_flag == 1 && std::memcmp(pp, words, sizeof pp) == 0 ? SETUP_WRITTEN : SETUP_FAILED;
}

bool RunLIVELoop(bool video, const std::function<bool()> &enough) {
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
    waitSeconds(LAST_ANSWER_SECONDS);
    FlushInQ(com);
    return done;
}

ProposalCheck CheckSETUPProposal() {
    ProposalCheck v;
    int leftLow = 65535, leftHigh = 0, rightLow = 65535, rightHigh = 0;
    const bool measured = RunLIVELoop(false, [&] {
        const Measurement m = currentMeasurement();
        ++v.cycles;
        if (m.left > 0 && m.right > m.left) {
            ++v.withEdges;
            leftLow = std::min<int>(leftLow, m.left);
            leftHigh = std::max<int>(leftHigh, m.left);
            rightLow = std::min<int>(rightLow, m.right);
            rightHigh = std::max<int>(rightHigh, m.right);
        }
        return v.cycles >= PROPOSAL_CHECK_CYCLES;
    });
    if (v.withEdges > 0) {
        v.leftSpread = leftHigh - leftLow;
        v.rightSpread = rightHigh - rightLow;
    }
    // A check the operator stopped has failed already; no line is read for it.
    if (measured && RunLIVELoop(true, [] { return true; }))
        v.reserve = GetVIDEOLineReserve();
    return v;
}

std::string ProposalNUMBER(double value, const char *format, const char *missing) {
    if (!std::isfinite(value))
        return missing;
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}
