// The exchanges with the sensor that faces ask for. They run on the polling thread between two
// run cycles, and wait on the event loop as the run cycle does, so Modbus and the broker are
// served.
#include "gateway/core/sensorjobs.h"
#include "app/parameterwords.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "platform/eventwait.h"
#include "platform/rs232.h"
#include "platform/utility.h"

#include <algorithm>
#include <cstring>

namespace {

// The teach answer has a limit of its own, as on the panel.
constexpr double kTeachTimeout = 1.5;
// The sensor stores a set (EEPROM takes longest) before it answers the read-back.
constexpr double kStoreSeconds = 0.2;

bool awaitAnswer(double limit) {
    const double start = Timer();
    for (double waited = 0.0; rx_flag == 0 && waited <= limit; waited = Timer() - start)
        waitForEvents(std::min(0.05, limit + 0.001 - waited));
    return rx_flag != 0;
}

bool send(unsigned short command, const uint16_t words[16]) {
    return SendREQUEST(command, words) == FRAME_BYTES;
}

// A request answered by a frame of its own command; the answer's words land in pp.
bool exchange(unsigned short command, const uint16_t words[16], double limit) {
    return send(command, words) && awaitAnswer(limit) && answerFrameFault(command) == nullptr;
}

void currentWords(uint16_t words[16]) {
    CopyVarsToPP();
    std::copy(pp, pp + PNUM, words);
}

} // namespace

bool readSensorWords(WordMemory memory, uint16_t words[16]) {
    uint16_t request[16];
    currentWords(request);
    if (!exchange(memory == WordMemory::Eeprom ? 4 : 2, request, TIMEOUT))
        return false;
    std::copy(pp, pp + PNUM, words);
    return true;
}

bool writeSensorWords(WordMemory memory, const uint16_t words[16], uint16_t readBack[16]) {
    com232::sync = 0x55;
    if (!send(memory == WordMemory::Eeprom ? 3 : 1, words))
        return false;
    const double until = Timer() + kStoreSeconds;
    while (Timer() < until)
        waitForEvents(until - Timer());
    return readSensorWords(memory, readBack);
}

bool teachSensor(uint16_t ram[16]) {
    uint16_t request[16];
    currentWords(request);
    return exchange(6, request, kTeachTimeout) && readSensorWords(WordMemory::Ram, ram);
}

bool resetSensorMaxMin() {
    uint16_t request[16];
    currentWords(request);
    return exchange(11, request, TIMEOUT);
}

bool readSensorVideoLine(uint16_t line[256]) {
    ReadVIDEOLine();
    std::copy(adcbuf, adcbuf + 256, line);
    return !videoLineHeld;
}

ReserveProposal lineProposal(const VideoLine &line, int positions) {
    ReserveProposal out;
    if (line.pixels.size() != 256)
        return out;
    unsigned short samples[256];
    std::copy(line.pixels.begin(), line.pixels.end(), samples);
    const ParameterLimit limit = parameterLimit(2, positions);
    const SetupProposal p = ProposeSETUP(samples, line.xStep, line.evalBegin, line.evalEnd,
                                         line.fullScale, std::max(1u, limit.min), limit.max);
    out.known = true;
    out.proposed = p.proposed;
    out.reason = p.reason;
    out.advice = proposalAdvice(p.reason);
    out.threshold = p.threshold;
    out.evalBegin = p.evalBegin;
    out.evalEnd = p.evalEnd;
    out.litMargin = p.litMargin;
    out.shadowMargin = p.shadowMargin;
    out.reserve = p.reserve;
    out.contrast = p.contrast;
    out.ts = line.ts;
    return out;
}

ReserveReading lineReserve(const uint16_t line[256], const uint16_t params[16], std::string ts) {
    unsigned short samples[256];
    std::copy(line, line + 256, samples);
    const SignalReserve r =
        GetSIGNALReserve(samples, xArray8[1], params[2], params[4], params[6], params[7], YAXISMAX);
    ReserveReading out;
    out.ts = std::move(ts);
    out.state = reserveStateKey(r.state);
    out.ratio = r.ratio;
    out.contrast = r.contrast;
    out.saturated = r.saturated;
    return out;
}
