// The sensor's protocol engine: frames, parameter sets, the simulated scene and its evaluation.
#include "sim/sensorsim.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <iterator>

namespace kvexsim {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The object sweeps back and forth slowly enough to follow on the panel.
constexpr double kScenePeriod = 20.0;
constexpr double kSceneAmplitude = 0.30;
constexpr double kObjectWidth = 0.20;
constexpr double kBackgroundLevel = 0.80;
constexpr double kObjectLevel = 0.10;
constexpr double kEdgeSamples = 2.0;
// The edges start to jitter when the lit level stands less than this share of the threshold above
// it, up to this share of the line at the threshold.
constexpr double kJitterMargin = 0.3;
constexpr double kJitterShare = 0.02;

enum Command : uint16_t {
    kWriteRam = 1,
    kReadRam = 2,
    kWriteEeprom = 3,
    kReadEeprom = 4,
    kEcho = 5,
    kTeach = 6,
    kFirmwareInfo = 7,
    kMeasure = 8,
    kVideoBlock = 9,
    kHardwareInfo = 10,
    kResetOrVideoLine = 11,
};

void putWord(std::vector<uint8_t> &out, uint16_t word) {
    out.push_back(static_cast<uint8_t>(word >> 8));
    out.push_back(static_cast<uint8_t>(word & 0xFF));
}

std::vector<uint8_t> answerFrame(uint16_t command, const Words &data) {
    const Frame frame = buildFrame(kAnswerSync, command, data);
    return std::vector<uint8_t>(frame.begin(), frame.end());
}

// Integer hash so the video noise is the same for the same line number on every run.
uint32_t mixBits(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

} // namespace

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

uint16_t wordAt(const uint8_t *bytes, int index) {
    return static_cast<uint16_t>((bytes[2 * index] << 8) | bytes[2 * index + 1]);
}

Frame buildFrame(uint16_t sync, uint16_t command, const Words &data) {
    Frame frame{};
    auto put = [&frame](int index, uint16_t word) {
        frame[2 * index] = static_cast<uint8_t>(word >> 8);
        frame[2 * index + 1] = static_cast<uint8_t>(word & 0xFF);
    };
    put(0, sync);
    put(1, command);
    for (int i = 0; i < kDataWords; ++i)
        put(i + 2, data[i]);
    return frame;
}

Words frameData(const Frame &frame) {
    Words data{};
    for (int i = 0; i < kDataWords; ++i)
        data[i] = wordAt(frame.data(), i + 2);
    return data;
}

const Words &defaultParameterSet() {
    static const Words defaults{500, 0, 512, 0, 1, 1, 1, 1024, 512, 100, 0, 1, 0, 0, 0, 0};
    return defaults;
}

std::vector<FrameAssembler::Assembled> FrameAssembler::push(const uint8_t *data, std::size_t size,
                                                            double now) {
    bytes_.insert(bytes_.end(), data, data + size);
    times_.insert(times_.end(), size, now);
    std::vector<Assembled> frames;
    std::size_t pos = 0;
    while (bytes_.size() - pos >= 2 || (bytes_.size() - pos == 1 && bytes_[pos] != 0x00)) {
        if (bytes_[pos] != 0x00 || bytes_[pos + 1] != (kRequestSync & 0xFF)) {
            ++pos;
            ++dropped_;
            continue;
        }
        if (bytes_.size() - pos < kFrameSize)
            break;
        Assembled frame;
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos), kFrameSize,
                    frame.bytes.begin());
        frame.firstByteTime = times_[pos];
        frame.lastByteTime = times_[pos + kFrameSize - 1];
        frames.push_back(frame);
        pos += kFrameSize;
    }
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(pos));
    times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(pos));
    return frames;
}

void FrameAssembler::clear() {
    bytes_.clear();
    times_.clear();
}

SensorCore::SensorCore(const SensorProfile &profile)
    : profile_(profile), ram_(defaultParameterSet()), eeprom_(defaultParameterSet()) {}

int SensorCore::lineLength() const {
    return profile_.ccdsubpixel == 0 ? 1024 : profile_.ccdsubpixel;
}

void SensorCore::setObject(uint16_t left, uint16_t right) {
    frozen_ = true;
    frozenLeft_ = std::min(left, right);
    frozenRight_ = std::max(left, right);
}

std::pair<double, double> SensorCore::objectEdges(double now) const {
    if (frozen_)
        return {frozenLeft_, frozenRight_};
    const double length = lineLength();
    const double centre =
        length * (0.5 + kSceneAmplitude * std::sin(2.0 * kPi * now / kScenePeriod));
    const double halfWidth = length * kObjectWidth / 2.0;
    return {centre - halfWidth, centre + halfWidth};
}

void SensorCore::setDimming(double percentPerHour, double since) {
    dimRate_ = std::max(percentPerHour, 0.0) / 100.0 / 3600.0;
    dimSince_ = since;
}

double SensorCore::litShare(double now) const {
    return std::clamp(1.0 - dimRate_ * std::max(now - dimSince_, 0.0) - litStep_, 0.0, 1.0);
}

SensorCore::Evaluation SensorCore::evaluate(double now) const {
    const int length = lineLength();
    auto toPosition = [length](double x) {
        return static_cast<uint16_t>(std::clamp(static_cast<int>(std::lround(x)), 1, length));
    };
    auto [leftX, rightX] = objectEdges(now);
    // A dimmed line's edges wander as its lit level nears the threshold, and are gone below it.
    bool edgesLost = false;
    if (dimRate_ > 0.0 || litStep_ > 0.0) {
        const double threshold = std::max<double>(ram_[kParVideoThreshold], 1.0);
        const double margin =
            kBackgroundLevel * profile_.videoFullScale * litShare(now) / threshold - 1.0;
        edgesLost = margin <= 0.0;
        if (margin < kJitterMargin) {
            const double span = (1.0 - margin / kJitterMargin) * kJitterShare * length;
            const uint32_t hash = mixBits(0x9E37u + measurementCount_);
            leftX += span * (static_cast<double>(hash & 0xFFFF) / 0xFFFF - 0.5);
            rightX += span * (static_cast<double>(hash >> 16) / 0xFFFF - 0.5);
        }
    }
    const uint16_t left = toPosition(leftX);
    const uint16_t right = toPosition(rightX);
    const uint16_t windowBegin = ram_[kParEvalBegin];
    const uint16_t windowEnd = ram_[kParEvalEnd];
    const bool leftFound = !edgesLost && windowBegin <= left && left <= windowEnd;
    const bool rightFound = !edgesLost && windowBegin <= right && right <= windowEnd;

    Evaluation e;
    e.edgeCount = static_cast<uint16_t>(leftFound + rightFound);
    if (leftFound && rightFound) {
        e.ledge = left;
        e.redge = right;
        e.start = left;
        e.end = right;
    } else if (leftFound || rightFound) {
        // A single edge travels in Ledge; mvstart/mvend run from it to the far end of the dark
        // stretch, so their order tells on which side the object lies.
        e.ledge = leftFound ? left : right;
        e.start = e.ledge;
        e.end = leftFound
                    ? static_cast<uint16_t>(std::max(std::min<int>(windowEnd, length), left + 1))
                    : windowBegin;
    }
    if (leftFound)
        e.pixel1 = static_cast<uint16_t>(static_cast<uint32_t>(left) * profile_.ccdmaxpixel /
                                         static_cast<uint32_t>(length));

    const uint16_t leftValue = leftFound ? left : 0;
    const uint16_t rightValue = rightFound ? right : 0;
    switch (ram_[kParEvalMode]) {
    case 0:
        e.value = leftValue;
        break;
    case 1:
        e.value = rightValue;
        break;
    case 2:
        e.value = e.edgeCount == 2 ? static_cast<uint16_t>(right - left) : 0;
        break;
    default:
        e.value = e.edgeCount == 2 ? static_cast<uint16_t>((left + right) / 2) : 0;
        break;
    }
    return e;
}

Words SensorCore::measurementWords(const Evaluation &e) const {
    Words w{};
    w[kMeasLeftEdge] = e.ledge;
    w[kMeasRightEdge] = e.redge;
    w[kMeasValue] = e.value;
    w[kMeasSetPoint] = ram_[kParSetPoint];
    w[kMeasTolerance] = ram_[kParTolerance];
    w[kMeasPixel1] = e.pixel1;
    w[kMeasEdgeCount] = e.edgeCount;
    w[kMeasStart] = e.start;
    w[kMeasEnd] = e.end;
    w[kMeasFreeVar] = measurementCount_;
    w[kMeasAnaMax] = anaMax_;
    w[kMeasAnaMin] = anaMinSet_ ? anaMin_ : e.value;
    w[kMeasLeftMax] = leftMax_;
    w[kMeasRightMax] = rightMax_;
    // Nothing is wired to the simulated sensor's switching input.
    w[kMeasInput0] = 0;
    return w;
}

Words SensorCore::measurement(double now) const {
    return measurementWords(evaluate(now));
}

void SensorCore::trackExtremes(const Evaluation &e) {
    anaMax_ = std::max(anaMax_, e.value);
    anaMin_ = anaMinSet_ ? std::min(anaMin_, e.value) : e.value;
    anaMinSet_ = true;
    leftMax_ = std::max(leftMax_, e.ledge);
    rightMax_ = std::max(rightMax_, e.redge);
}

void SensorCore::resetExtremes() {
    anaMax_ = 0;
    anaMin_ = 0;
    anaMinSet_ = false;
    leftMax_ = 0;
    rightMax_ = 0;
}

void SensorCore::setReplay(std::shared_ptr<const Replay> replay, double speed) {
    replay_ = std::move(replay);
    replaySpeed_ = speed > 0.0 ? speed : 1.0;
    replayNext_ = 0;
}

Words SensorCore::replayedWords(double now) {
    const std::vector<ReplayRow> &rows = replay_->rows;
    if (replayNext_ >= rows.size())
        replayNext_ = 0;
    const ReplayRow &row = rows[replayNext_++];
    double due = replayStart_ + row.offset / replaySpeed_;
    // The first row starts the recording's clock; a program that fell behind by more than a
    // pause (a run stopped and started again) takes it up from where it is, not in a rush.
    if (replayNext_ == 1 || now - due > kReplayLongestPause)
        replayStart_ = now - row.offset / replaySpeed_;
    else if (due - now > kReplayLongestPause)
        replayStart_ -= due - now - kReplayLongestPause;
    notBefore_ = replayStart_ + row.offset / replaySpeed_;
    ++measurementCount_;
    leftMax_ = std::max(leftMax_, row.left);
    rightMax_ = std::max(rightMax_, row.right);
    Words w{};
    w[kMeasLeftEdge] = row.left;
    w[kMeasRightEdge] = row.right;
    w[kMeasValue] = row.value;
    w[kMeasSetPoint] = row.hasSetPoint ? row.setPoint : ram_[kParSetPoint];
    w[kMeasTolerance] = row.tolerance;
    w[kMeasEdgeCount] = static_cast<uint16_t>((row.left != 0) + (row.right != 0));
    w[kMeasStart] = row.left;
    w[kMeasEnd] = row.right;
    w[kMeasFreeVar] = measurementCount_;
    w[kMeasAnaMax] = row.anaMax;
    w[kMeasAnaMin] = row.anaMin;
    w[kMeasLeftMax] = leftMax_;
    w[kMeasRightMax] = rightMax_;
    return w;
}

VideoLine SensorCore::videoLine(double now) const {
    const double length = lineLength();
    const double fullScale = profile_.videoFullScale;
    const auto [left, right] = objectEdges(now);
    const double ramp = kEdgeSamples * length / kVideoSamples;
    // Dirt dims the whole line, the object's stray light with the lit background.
    const double lit = litShare(now);
    const double background = kBackgroundLevel * fullScale * lit;
    const double object = kObjectLevel * fullScale * lit;
    const int noiseSpan = std::max(1, static_cast<int>(fullScale / 100.0));

    VideoLine line{};
    for (int i = 0; i < kVideoSamples; ++i) {
        const double x = (i + 0.5) * length / kVideoSamples;
        const double intoLeft = std::clamp((x - left) / ramp + 0.5, 0.0, 1.0);
        const double intoRight = std::clamp((right - x) / ramp + 0.5, 0.0, 1.0);
        const double darkness = std::min(intoLeft, intoRight);
        const uint32_t hash = mixBits(static_cast<uint32_t>(i) + lineCount_ * kVideoSamples);
        const int noise =
            static_cast<int>(hash % static_cast<uint32_t>(2 * noiseSpan + 1)) - noiseSpan;
        const double level = background - (background - object) * darkness + noise;
        line[i] = static_cast<uint16_t>(
            std::clamp(std::lround(level), 0L, static_cast<long>(profile_.videoFullScale)));
    }
    return line;
}

std::vector<uint8_t> SensorCore::videoBytes(double now, int start, int count) {
    const bool recorded = replay_ && !replay_->videoLines.empty();
    const VideoLine line = recorded
                               ? replay_->videoLines[(lineCount_ + replay_->videoLines.size() - 1) %
                                                     replay_->videoLines.size()]
                               : videoLine(now);
    std::vector<uint8_t> out;
    out.reserve(2 * static_cast<std::size_t>(count));
    for (int i = start; i < start + count; ++i)
        putWord(out, line[i]);
    return out;
}

std::vector<uint8_t> SensorCore::firmwareAnswer() const {
    std::vector<uint8_t> out;
    out.reserve(kFirmwareSize);
    const std::string &text = profile_.firmwareText;
    if (profile_.pcbtype == 0) {
        // Board type 0 sends one character per word, in the low byte.
        for (std::size_t i = 0; i < kFirmwareSize / 2; ++i)
            putWord(out, static_cast<uint8_t>(i < text.size() ? text[i] : ' '));
    } else {
        for (std::size_t i = 0; i < kFirmwareSize; ++i)
            out.push_back(static_cast<uint8_t>(i < text.size() ? text[i] : '\0'));
    }
    return out;
}

std::vector<uint8_t> SensorCore::handleRequest(const Frame &request, double now) {
    const uint16_t command = wordAt(request.data(), 1);
    const Words data = frameData(request);
    notBefore_ = 0.0;
    switch (command) {
    case kWriteRam:
        ram_ = data;
        return {};
    case kReadRam:
        return answerFrame(command, ram_);
    case kWriteEeprom:
        eeprom_ = data;
        return {};
    case kReadEeprom:
        return answerFrame(command, eeprom_);
    case kEcho:
        return answerFrame(command, data);
    case kTeach:
        ram_[kParSetPoint] = evaluate(now).value;
        return answerFrame(command, ram_);
    case kFirmwareInfo:
        return firmwareAnswer();
    case kMeasure: {
        if (replay_ && !replay_->rows.empty())
            return answerFrame(command, replayedWords(now));
        const Evaluation e = evaluate(now);
        ++measurementCount_;
        trackExtremes(e);
        return answerFrame(command, measurementWords(e));
    }
    case kVideoBlock: {
        const int start = std::min<int>(data[0], kVideoSamples - kVideoBlockSamples);
        if (start == 0)
            ++lineCount_;
        return videoBytes(now, start, kVideoBlockSamples);
    }
    case kHardwareInfo: {
        const SensorProfile &p = profile_;
        const Words words{p.ccdtype,
                          p.ccdmaxpixel,
                          p.ccdresolution,
                          p.pcbtype,
                          p.ccdmaxpixelX8,
                          p.ccdsubpixel,
                          p.ccdpixB,
                          p.ccdpixE,
                          p.softversion,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0,
                          0};
        return answerFrame(command, words);
    }
    case kResetOrVideoLine: {
        // The same code asks for the whole video line or resets the extremes; only the line
        // request carries sixteen zero words, and only boards beyond types 0 and 100 serve it.
        const bool allZero =
            std::all_of(data.begin(), data.end(), [](uint16_t w) { return w == 0; });
        if (allZero && profile_.pcbtype != 0 && profile_.pcbtype != 100) {
            ++lineCount_;
            return videoBytes(now, 0, kVideoSamples);
        }
        resetExtremes();
        return answerFrame(command, ram_);
    }
    default:
        return {};
    }
}

const char *faultKindName(FaultKind kind) {
    switch (kind) {
    case FaultKind::None:
        return "none";
    case FaultKind::Silence:
        return "silence";
    case FaultKind::Short:
        return "short";
    case FaultKind::Extra:
        return "extra";
    case FaultKind::WrongSync:
        return "wrong-sync";
    case FaultKind::WrongCommand:
        return "wrong-command";
    case FaultKind::Late:
        return "late";
    case FaultKind::Garbage:
        return "garbage";
    case FaultKind::Dim:
        return "dim";
    }
    return "none";
}

bool parseFaultKind(const std::string &text, FaultKind &kind) {
    auto normalise = [](const std::string &s) {
        std::string out;
        for (char c : s)
            if (c != '-' && c != '_')
                out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        return out;
    };
    const std::string wanted = normalise(text);
    for (FaultKind k : {FaultKind::None, FaultKind::Silence, FaultKind::Short, FaultKind::Extra,
                        FaultKind::WrongSync, FaultKind::WrongCommand, FaultKind::Late,
                        FaultKind::Garbage, FaultKind::Dim}) {
        if (normalise(faultKindName(k)) == wanted) {
            kind = k;
            return true;
        }
    }
    return false;
}

void FaultInjector::setFault(int command, const Fault &fault) {
    if (fault.kind == FaultKind::None || fault.times == 0)
        faults_.erase(command);
    else
        faults_[command] = fault;
}

Fault FaultInjector::fault(int command) const {
    auto it = faults_.find(command);
    return it == faults_.end() ? Fault{} : it->second;
}

void FaultInjector::setRandom(double rate, uint32_t seed) {
    randomRate_ = rate;
    rng_.seed(seed);
}

void FaultInjector::clear() {
    faults_.clear();
    randomRate_ = 0.0;
}

FaultedAnswer FaultInjector::apply(uint16_t command, std::vector<uint8_t> answer) {
    if (answer.empty())
        return FaultedAnswer{std::move(answer)};
    auto it = faults_.find(command);
    if (it != faults_.end()) {
        const Fault fault = it->second;
        if (fault.times > 0 && --it->second.times == 0)
            faults_.erase(it);
        return spoil(command, std::move(answer), fault);
    }
    // Plain integer draws rather than std distributions keep a seed's sequence the same with
    // every standard library.
    if (randomRate_ > 0.0 && rng_() / 4294967296.0 < randomRate_) {
        static constexpr FaultKind kinds[] = {FaultKind::Silence,      FaultKind::Short,
                                              FaultKind::Extra,        FaultKind::WrongSync,
                                              FaultKind::WrongCommand, FaultKind::Garbage};
        Fault fault;
        fault.kind = kinds[rng_() % std::size(kinds)];
        fault.bytes = 1 + static_cast<int>(rng_() % 4);
        return spoil(command, std::move(answer), fault);
    }
    return FaultedAnswer{std::move(answer)};
}

FaultedAnswer FaultInjector::spoil(uint16_t command, std::vector<uint8_t> answer,
                                   const Fault &fault) {
    ++injected_;
    FaultedAnswer out;
    out.kind = fault.kind;
    const bool isFrame = answer.size() == kFrameSize && wordAt(answer.data(), 0) == kAnswerSync;
    const std::size_t count = static_cast<std::size_t>(std::max(fault.bytes, 0));
    switch (fault.kind) {
    case FaultKind::None:
        break;
    case FaultKind::Silence:
        out.silent = true;
        answer.clear();
        break;
    case FaultKind::Short:
        answer.resize(answer.size() - std::min(count, answer.size()));
        break;
    case FaultKind::Extra:
        for (std::size_t i = 0; i < count; ++i)
            answer.push_back(randomByte());
        break;
    case FaultKind::WrongSync:
        if (isFrame) {
            answer[0] = static_cast<uint8_t>(kFaultSync >> 8);
            answer[1] = static_cast<uint8_t>(kFaultSync & 0xFF);
        } else {
            answer[0] ^= 0xFF;
            answer[1] ^= 0xFF;
        }
        break;
    case FaultKind::WrongCommand: {
        // Raw blocks have no command word; their second word, where a frame would carry it, is
        // spoiled the same way.
        const uint16_t word = isFrame ? static_cast<uint16_t>(command + 1)
                                      : static_cast<uint16_t>(wordAt(answer.data(), 1) + 1);
        if (answer.size() >= 4) {
            answer[2] = static_cast<uint8_t>(word >> 8);
            answer[3] = static_cast<uint8_t>(word & 0xFF);
        }
        break;
    }
    case FaultKind::Late:
        out.delay = std::max(fault.delay, 0.0);
        break;
    case FaultKind::Garbage:
        for (uint8_t &b : answer)
            b = randomByte();
        break;
    case FaultKind::Dim:
        out.litStep = std::max(fault.percent, 0.0);
        break;
    }
    out.bytes = std::move(answer);
    return out;
}

} // namespace kvexsim
