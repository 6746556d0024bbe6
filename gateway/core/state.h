// What the poller knows, in the plain types every face reads: a sample, the sensor's identity, its
// parameter set, the signal reserve, and the gateway's health as one struct.
#pragma once

#include "app/drift/paramdrift.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The sensor's 16 parameter words in their order (power … para15).
using ParameterSet = std::array<uint16_t, 16>;

// One measurement, compact enough to keep an hour of them while the broker is away.
struct GatewaySample {
    int64_t timeMs; // when the answer arrived: milliseconds since 1970 (UTC)
    uint32_t seq;
    uint16_t left, right, value;
    double um; // NaN when the sensor's pitch is not known
    uint16_t setpoint, tol;
    bool inTol;
    uint16_t anaMax, anaMin;
    bool replay;   // sent late, from the queue
    int64_t epoch; // the store's epoch; 0 without a store
};

// The sensor as identification found it, and what the info topic adds of the gateway's own.
struct SensorInfo {
    unsigned ccdtype, pcbtype, pixels;
    std::string firmware;
    double pitchMicrons; // NaN when not known
    std::string device;  // the serial device path
    std::string version;
    uint64_t dropped;
    int64_t storeEpoch = 0; // 0 without a store
    std::string storeFault; // empty while the store's file is written
};

// One reserve line's figures (docs/signal-reserve.md).
struct ReserveReading {
    std::string ts;
    std::string state = "no_window"; // "ok", "no_object", "lost" or "no_window"
    double ratio = 0.0, contrast = 0.0;
    bool saturated = false;
};
// The trend the gateway keeps: two weeks of reserve lines at the default of one every ten minutes.
constexpr std::size_t kReserveTrendKept = 2016;
// A threshold and window proposed from the last reserve line (docs/signal-reserve.md): shown,
// never written by the gateway.
struct ReserveProposal {
    bool known = false; // a reserve line came whole
    bool proposed = false;
    std::string reason, advice; // why there is none
    unsigned threshold = 0, evalBegin = 0, evalEnd = 0;
    double litMargin = 0.0, shadowMargin = 0.0, reserve = 0.0, contrast = 0.0;
    std::string ts; // the line's time
};
// The gateway's health as far as the reserve tells it.
struct ReserveHealth {
    bool enabled = true; // --reserve-every above 0
    bool known = false;  // a reserve line came whole
    ReserveReading last;
    double warnBelow = 0.3;
    uint64_t failures = 0; // reserve lines that did not come whole
    ReserveProposal proposal;
    std::vector<uint16_t> line; // the last whole reserve line's 256 samples
    int64_t lineMs = 0;         // when it came, in milliseconds since 1970
};
// Below the warning level, or the edges lost.
bool reserveWarns(const ReserveHealth &health);
// "off" without reserve lines, "unknown" before the first whole one, "warn" or "ok".
const char *healthWord(const ReserveHealth &health);

// The parameter set against its EEPROM and the approved set, as the last drift check found it.
struct DriftHealth {
    bool enabled = false;   // --drift-every above 0
    std::string goldenFile; // --golden; empty: RAM against EEPROM only
    bool known = false;     // a check came whole
    ParameterDrift last;
    std::string ts;        // the last whole check's time (ISO, UTC)
    int64_t checkedMs = 0; // the same in milliseconds since 1970
    uint64_t failures = 0; // checks whose reads did not come whole
};
// "off", "unknown" before the first whole check, "ok" or "drift".
const char *driftWord(const DriftHealth &drift);

// One video line with what a reader needs to draw it: the words it was taken under and the
// sensor's axis.
struct VideoLine {
    std::string ts;
    std::vector<uint16_t> pixels;
    unsigned threshold = 0;
    unsigned left = 0, right = 0, value = 0;
    unsigned evalBegin = 0, evalEnd = 0;
    unsigned pixelCount = 0;
    int positions = -1;
    double xStep = 0;
    unsigned fullScale = 0;
    ReserveReading reserve;
};

// Everything the poller knows at one moment. The poller keeps one and hands it to the faces on
// its thread; other threads read the copies it publishes (GatewayCore::snapshot).
struct GatewayState {
    // The sensor.
    bool sensorChecked = false; // an identification has been tried
    bool sensorAnswering = false;
    bool identified = false; // `info` and `positions` are the sensor's
    SensorInfo info{};
    int positions = -1; // the sensor's positions across the line (-1: not known yet)
    bool haveParams = false;
    ParameterSet params{}; // the sensor's RAM words as the gateway last read or wrote them
    // The measurement.
    bool haveSample = false;
    GatewaySample sample{};    // the newest
    double sampleAt = -1.0;    // when it was taken, on the steady clock (seconds)
    bool answerBroken = false; // broken answers came between the last two samples
    uint64_t samples = 0;
    uint64_t serialErrors = 0;
    // The broker and the backlog.
    const char *broker = "off"; // "connected", "disconnected" or "off"
    std::size_t queueDepth = 0;
    uint64_t dropped = 0;
    // Samples the stop could not keep (known only once the gateway stops, so mostly for its
    // last log line and last scrape).
    uint64_t lostAtStop = 0, lostStoreFailing = 0;
    std::string store = "off"; // "off", "ok" or "failing: " and what failed
    // The signal reserve.
    ReserveHealth reserve;
    // The parameter set's drift.
    DriftHealth drift;
    // The gateway.
    double startedAt = 0.0; // on the steady clock (seconds)
    std::string version;
};

// New connections a server of a face closed at once, or later for idling, by cause: kept by
// that face, read by the metrics face on another thread.
struct ConnectionRefusals {
    std::atomic<uint64_t> addressCap{0}, totalCap{0}, idle{0};
};

// The steady clock in seconds, as every age and deadline of the gateway counts.
double steadySeconds();
