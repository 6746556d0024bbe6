// Simulated K-VEX-RTN line sensor: profiles, protocol engine, fault injection and transport.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kvexsim {

constexpr int kDataWords = 16;
constexpr std::size_t kFrameSize = 36;
constexpr uint16_t kRequestSync = 0x0055;
constexpr uint16_t kAnswerSync = 0x00AA;
constexpr uint16_t kFaultSync = 0x00BB;
constexpr int kVideoSamples = 256;
constexpr int kVideoBlockSamples = 64;
constexpr std::size_t kFirmwareSize = 72;
// 19 200 baud with 8N1 framing: ten bits on the wire for every byte.
constexpr double kByteTime = 10.0 / 19200.0;

using Frame = std::array<uint8_t, kFrameSize>;
using Words = std::array<uint16_t, kDataWords>;
using VideoLine = std::array<uint16_t, kVideoSamples>;

// Seconds on the monotonic clock; request times and the moving scene use this time base.
double steadySeconds();

// Big-endian word at word index `index` of a byte buffer (index 0 is the sync word of a frame).
uint16_t wordAt(const uint8_t *bytes, int index);
Frame buildFrame(uint16_t sync, uint16_t command, const Words &data);
Words frameData(const Frame &frame);

// The parameter set a sensor leaves the factory with, in RAM and EEPROM alike.
const Words &defaultParameterSet();

// Parameter words the sensor itself evaluates.
enum ParameterWord {
    kParVideoThreshold = 2,
    kParEvalMode = 5,
    kParEvalBegin = 6,
    kParEvalEnd = 7,
    kParSetPoint = 8,
    kParTolerance = 9,
};

// Measurement answer (command 8) word positions.
enum MeasurementWord {
    kMeasLeftEdge = 0,
    kMeasRightEdge = 1,
    kMeasValue = 2,
    kMeasSetPoint = 3,
    kMeasTolerance = 4,
    kMeasPixel1 = 5,
    kMeasEdgeCount = 6,
    kMeasStart = 7,
    kMeasEnd = 8,
    kMeasFreeVar = 9,
    kMeasAnaMax = 10,
    kMeasAnaMin = 11,
    kMeasLeftMax = 12,
    kMeasRightMax = 13,
    kMeasInput0 = 14,
};

struct SensorProfile {
    std::string name;
    uint16_t ccdtype = 0;
    uint16_t ccdmaxpixel = 0;
    uint16_t ccdresolution = 0;
    uint16_t pcbtype = 0;
    uint16_t ccdmaxpixelX8 = 0;
    uint16_t ccdsubpixel = 0;
    uint16_t ccdpixB = 0;
    uint16_t ccdpixE = 0;
    uint16_t softversion = 0;
    uint16_t videoFullScale = 1023;
    std::string firmwareText;
};

const std::vector<SensorProfile> &sensorProfiles();
const SensorProfile *findProfile(const std::string &name);
// Full scale of the video samples: 255 for the sensors the program draws on a 256 axis.
uint16_t videoFullScaleFor(uint16_t ccdtype, uint16_t ccdresolution, uint16_t softversion);

// Dim is no spoiled answer but a step in the scene: dirt or a failing light takes `percent` of the
// clean lit level away at once, from the next answer on.
enum class FaultKind { None, Silence, Short, Extra, WrongSync, WrongCommand, Late, Garbage, Dim };

const char *faultKindName(FaultKind kind);
// Accepts the names faultKindName gives, in any case, with or without the hyphen.
bool parseFaultKind(const std::string &text, FaultKind &kind);

struct Fault {
    FaultKind kind = FaultKind::None;
    int bytes = 1;        // Short: bytes cut off the end; Extra: bytes appended
    double delay = 0.0;   // Late: seconds added before the answer starts
    int times = 1;        // answers affected; -1 for every answer until cleared
    double percent = 0.0; // Dim: share of the clean lit level taken away, in per cent
};

struct Request {
    double time = 0.0; // when the request was complete, steadySeconds()
    Frame bytes{};
    uint16_t command() const { return wordAt(bytes.data(), 1); }
    uint16_t word(int i) const { return wordAt(bytes.data(), i + 2); }
};

// One run-mode answer of a recording played back.
struct ReplayRow {
    double offset = 0.0; // seconds after the recording's first row
    uint16_t left = 0, right = 0, value = 0, tolerance = 0, anaMax = 0, anaMin = 0;
    uint16_t setPoint = 0;
    bool hasSetPoint = false; // older recordings end before the set-point column
};

// A recording the sensor answers with: the rows of a run-mode CSV and the video lines of the
// file beside it, if there is one.
struct Replay {
    std::vector<ReplayRow> rows;
    std::vector<VideoLine> videoLines;
    std::size_t skipped = 0; // lines of either file that were not rows
};

// R.csv gives R-video.csv.
std::string replayVideoFile(const std::string &path);
// Reads path and the video file beside it; false with the reason in error when path cannot be
// read or holds no row.
bool loadReplay(const std::string &path, Replay &replay, std::string &error);
// A pause in a recording longer than this plays as this long, so the program's time-out (1.5 s)
// never takes it for a lost sensor.
constexpr double kReplayLongestPause = 1.0;

// Collects request bytes into 36-byte frames; bytes that cannot start a frame are dropped one at
// a time, so noise before a frame is skipped.
class FrameAssembler {
  public:
    struct Assembled {
        Frame bytes{};
        double firstByteTime = 0.0;
        double lastByteTime = 0.0;
    };

    std::vector<Assembled> push(const uint8_t *data, std::size_t size, double now);
    std::size_t buffered() const { return bytes_.size(); }
    std::size_t droppedBytes() const { return dropped_; }
    void clear();

  private:
    std::vector<uint8_t> bytes_;
    std::vector<double> times_;
    std::size_t dropped_ = 0;
};

// The sensor's side of the protocol without threads or I/O: one request in, the answer bytes out.
class SensorCore {
  public:
    explicit SensorCore(const SensorProfile &profile = *findProfile("standard"));

    // Empty when the command has no answer.
    std::vector<uint8_t> handleRequest(const Frame &request, double now);
    // The time before which the answer of the last request must not start (0: none): a replayed
    // row waits for its place in the recording.
    double answerNotBefore() const { return notBefore_; }

    // Measurement requests get the recording's rows in turn, each not before its time in the
    // recording divided by speed, from the start again after the last; video requests its video
    // lines in turn where it has any. nullptr ends the playback.
    void setReplay(std::shared_ptr<const Replay> replay, double speed = 1.0);

    const SensorProfile &profile() const { return profile_; }
    void setProfile(const SensorProfile &profile) { profile_ = profile; }
    const Words &ram() const { return ram_; }
    const Words &eeprom() const { return eeprom_; }
    void setRam(const Words &words) { ram_ = words; }
    void setEeprom(const Words &words) { eeprom_ = words; }

    // Positions run from 1 to lineLength(), the unit of the profile's ccdsubpixel.
    int lineLength() const;
    void setObject(uint16_t left, uint16_t right);
    void releaseObject() { frozen_ = false; }
    bool objectFrozen() const { return frozen_; }
    std::pair<double, double> objectEdges(double now) const;

    // The words of a measurement answer as they would be sent now; max/min tracking untouched.
    Words measurement(double now) const;
    VideoLine videoLine(double now) const;
    void resetExtremes();

    // Dirt and ageing: the lit level falls by `percentPerHour` of its clean value from `since`
    // on, and steps down by `percent` at once. While either is set the edges jitter once the lit
    // level comes within a third of the threshold (video threshold word) and are lost below it.
    void setDimming(double percentPerHour, double since);
    void stepLitLevel(double percent) { litStep_ += percent / 100.0; }
    // The lit level as a share of the clean one, 0 to 1.
    double litShare(double now) const;

  private:
    struct Evaluation {
        uint16_t ledge = 0;
        uint16_t redge = 0;
        uint16_t value = 0;
        uint16_t edgeCount = 0;
        uint16_t start = 0;
        uint16_t end = 0;
        uint16_t pixel1 = 0;
    };

    Evaluation evaluate(double now) const;
    Words replayedWords(double now);
    Words measurementWords(const Evaluation &e) const;
    void trackExtremes(const Evaluation &e);
    std::vector<uint8_t> firmwareAnswer() const;
    std::vector<uint8_t> videoBytes(double now, int start, int count);

    SensorProfile profile_;
    Words ram_;
    Words eeprom_;
    bool frozen_ = false;
    double frozenLeft_ = 0.0;
    double frozenRight_ = 0.0;
    uint16_t anaMax_ = 0;
    uint16_t anaMin_ = 0;
    bool anaMinSet_ = false;
    uint16_t leftMax_ = 0;
    uint16_t rightMax_ = 0;
    uint16_t measurementCount_ = 0;
    uint32_t lineCount_ = 0;
    std::shared_ptr<const Replay> replay_;
    double replaySpeed_ = 1.0;
    std::size_t replayNext_ = 0;
    double replayStart_ = 0.0;
    double notBefore_ = 0.0;
    double dimRate_ = 0.0; // share of the clean level per second
    double dimSince_ = 0.0;
    double litStep_ = 0.0;
};

struct FaultedAnswer {
    std::vector<uint8_t> bytes;
    double delay = 0.0;
    bool silent = false;
    FaultKind kind = FaultKind::None;
    double litStep = 0.0; // Dim: per cent of the clean lit level the scene loses
};

// Spoils answers on purpose: per command for a number of answers, or at random with a fixed seed.
class FaultInjector {
  public:
    void setFault(int command, const Fault &fault);
    Fault fault(int command) const;
    void setRandom(double rate, uint32_t seed);
    void clear();
    // An empty answer (a command without one) passes untouched and uses up no fault.
    FaultedAnswer apply(uint16_t command, std::vector<uint8_t> answer);
    // Answers spoiled so far.
    std::size_t injected() const { return injected_; }

  private:
    FaultedAnswer spoil(uint16_t command, std::vector<uint8_t> answer, const Fault &fault);
    uint8_t randomByte() { return static_cast<uint8_t>(rng_() >> 24); }

    std::map<int, Fault> faults_;
    double randomRate_ = 0.0;
    std::mt19937 rng_{0x4B56u};
    std::size_t injected_ = 0;
};

// The USB adapter between the sensor's line and the program's port. Plain hands every byte on
// as it comes off the wire; an FTDI adapter holds received bytes until a 62-byte packet is full
// or the next tick of its latency timer (16 ms; 1 ms once the program asked its driver for low
// latency), so the tail of a short answer waits for the tick.
enum class Adapter { Plain, Ftdi };
constexpr std::size_t kFtdiPacketBytes = 62;
constexpr double kFtdiLatencyTimer = 0.016;
constexpr double kFtdiLowLatencyTimer = 0.001;

const char *adapterName(Adapter adapter);
bool parseAdapter(const std::string &text, Adapter &adapter);

// SensorCore behind a serial line: a pseudo-terminal or a real port, served by its own thread.
class SensorSim {
  public:
    explicit SensorSim(const SensorProfile &profile = *findProfile("standard"));
    ~SensorSim();
    SensorSim(const SensorSim &) = delete;
    SensorSim &operator=(const SensorSim &) = delete;

    bool openPty();
    std::string devicePath() const;
    bool openDevice(const std::string &path);
    void start();
    void stop();
    bool running() const { return running_; }

    void setPaced(bool paced) { paced_ = paced; }
    bool paced() const { return paced_; }
    void setAdapter(Adapter adapter) { adapter_ = adapter; }
    Adapter adapter() const { return adapter_; }
    // The adapter's driver was asked for low latency, or no longer is.
    void setLowLatency(bool on) { lowLatency_ = on; }
    bool lowLatency() const { return lowLatency_; }
    // Follows a FIFO on which a stand-in for the adapter's driver writes '1' when a program sets
    // low latency and '0' when it clears it; false when the FIFO does not open.
    bool watchLowLatencyFifo(const std::string &path);
    void setProfile(const SensorProfile &profile);
    SensorProfile profile() const;

    void setFault(int command, const Fault &fault);
    void clearFaults();
    void setRandomFaults(double rate, uint32_t seed);

    std::array<uint16_t, kDataWords> ram() const;
    std::array<uint16_t, kDataWords> eeprom() const;
    void setRam(const std::array<uint16_t, kDataWords> &words);
    void setEeprom(const std::array<uint16_t, kDataWords> &words);
    void setObject(uint16_t left, uint16_t right);
    void releaseObject();
    // SensorCore::setDimming from now on, and its lit level now.
    void setDimming(double percentPerHour);
    double litShare() const;
    void setReplay(std::shared_ptr<const Replay> replay, double speed = 1.0);

    std::vector<Request> requests() const;
    void clearRequests();
    bool waitForRequests(std::size_t n, double timeoutSeconds) const;
    // Counts an answer once its last byte has been written, which may be just after the reader
    // sees it; waitForAnswers bridges that gap.
    std::size_t answersSent() const;
    std::size_t faultsInjected() const;
    bool waitForAnswers(std::size_t n, double timeoutSeconds) const;

    // The device vanishes: the thread stops and both ends are closed; openPty() brings up a new
    // one.
    void hangUp();

  private:
    struct PendingRequest {
        Frame bytes{};
        double due = 0.0;
    };
    struct PendingAnswer {
        std::vector<uint8_t> bytes;
        double start = 0.0;
        std::size_t sent = 0;
    };

    void closeFds();
    void serve();
    bool readInput(double now);
    void completeRequests(double now);
    // Answer bytes through the adapter to the program.
    void deliverAnswers(double now);
    void takeWireBytes(double until);
    void releaseHeldBytes(std::size_t count);
    void writeToProgram();
    void readLowLatencyFifo();
    // Seconds until the next byte or request falls due, at most the poll interval.
    double pollTimeout(double now) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable progress_;
    SensorCore core_;
    FaultInjector faults_;
    std::vector<Request> requests_;
    std::size_t answersSent_ = 0;

    int masterFd_ = -1;
    int slaveFd_ = -1;
    std::string devicePath_;
    std::atomic<bool> running_{false};
    std::atomic<bool> paced_{true};
    std::atomic<Adapter> adapter_{Adapter::Plain};
    std::atomic<bool> lowLatency_{false};
    std::atomic<int> lowLatencyFifo_{-1};
    std::thread thread_;

    // Owned by the transport thread while it runs.
    FrameAssembler assembler_;
    std::deque<PendingRequest> pendingRequests_;
    std::deque<PendingAnswer> pendingAnswers_;
    double lastRequestDue_ = 0.0;
    double lastAnswerEnd_ = 0.0;
    bool outputBlocked_ = false;
    // The adapter: bytes off the wire it holds, bytes it released that the line has not taken
    // yet, and where in the byte stream each answer ends (counted once written).
    std::vector<uint8_t> held_;
    std::vector<uint8_t> toProgram_;
    std::deque<std::size_t> answerEnds_;
    std::size_t bytesOffWire_ = 0;
    std::size_t bytesWritten_ = 0;
    double tickPeriod_ = 0.0;
    double nextTick_ = 0.0;
};

} // namespace kvexsim
