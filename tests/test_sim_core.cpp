// Tests of the simulated sensor's protocol engine, framing, fault injection and profiles.
#include "sim/sensorsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace kvexsim;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr double kNow = 1000.0;

Frame request(uint16_t command, const Words &data = {}) {
    return buildFrame(kRequestSync, command, data);
}

Bytes answer(uint16_t command, const Words &data) {
    const Frame f = buildFrame(kAnswerSync, command, data);
    return Bytes(f.begin(), f.end());
}

Words answerData(const Bytes &bytes) {
    EXPECT_EQ(bytes.size(), kFrameSize);
    Frame f{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), kFrameSize), f.begin());
    return frameData(f);
}

std::vector<uint16_t> wordsOf(const Bytes &bytes) {
    std::vector<uint16_t> words;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        words.push_back(wordAt(bytes.data(), static_cast<int>(i / 2)));
    return words;
}

const SensorProfile &profile(const std::string &name) {
    const SensorProfile *p = findProfile(name);
    EXPECT_NE(p, nullptr) << name;
    return p ? *p : sensorProfiles().front();
}

const Words kSomeWords{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0xFFFF};

} // namespace

TEST(SimFrames, EchoAnswerMatchesTheWireExample) {
    SensorCore core;
    // The echo request the program sends with its start-up parameter values.
    const Bytes wire{0x00, 0x55, 0x00, 0x05, 0x01, 0xF4, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                     0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x04, 0x00, 0x02, 0x00, 0x00, 0x64,
                     0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    Frame req{};
    std::copy(wire.begin(), wire.end(), req.begin());
    Bytes expected = wire;
    expected[1] = 0xAA;
    EXPECT_EQ(core.handleRequest(req, kNow), expected);
}

TEST(SimFrames, EveryCommandAnswersAsDocumented) {
    const Words defaults = defaultParameterSet();
    const SensorProfile &standard = profile("standard");
    const Words hardware{standard.ccdtype,
                         standard.ccdmaxpixel,
                         standard.ccdresolution,
                         standard.pcbtype,
                         standard.ccdmaxpixelX8,
                         standard.ccdsubpixel,
                         standard.ccdpixB,
                         standard.ccdpixE,
                         standard.softversion,
                         0,
                         0,
                         0,
                         0,
                         0,
                         0,
                         0};
    struct Row {
        const char *name;
        uint16_t command;
        Words data;
        Bytes expected;
    };
    const std::vector<Row> rows{
        {"write RAM: no answer", 1, kSomeWords, {}},
        {"read RAM: default set", 2, kSomeWords, answer(2, defaults)},
        {"write EEPROM: no answer", 3, kSomeWords, {}},
        {"read EEPROM: default set", 4, kSomeWords, answer(4, defaults)},
        {"echo: data words back", 5, kSomeWords, answer(5, kSomeWords)},
        {"hardware information", 10, kSomeWords, answer(10, hardware)},
        {"reset with non-zero words: RAM set", 11, kSomeWords, answer(11, defaults)},
        {"reset on board type 0 with zero words: RAM set", 11, {}, answer(11, defaults)},
        {"command 0: no answer", 0, kSomeWords, {}},
        {"command 12: no answer", 12, kSomeWords, {}},
        {"command 0xFFFF: no answer", 0xFFFF, kSomeWords, {}},
    };
    for (const Row &row : rows) {
        SensorCore core(standard);
        EXPECT_EQ(core.handleRequest(request(row.command, row.data), kNow), row.expected)
            << row.name;
    }
}

TEST(SimFrames, DefaultParameterSet) {
    const Words expected{500, 0, 512, 0, 1, 1, 1, 1024, 512, 100, 0, 1, 0, 0, 0, 0};
    SensorCore core;
    EXPECT_EQ(core.ram(), expected);
    EXPECT_EQ(core.eeprom(), expected);
}

TEST(SimFrames, WritesLandInTheirOwnStore) {
    SensorCore core;
    const Words ramSet{700, 1, 300, 2, 0, 3, 10, 900, 450, 20, 1, 2, 12, 13, 64, 15};
    const Words eepromSet{100, 0, 600, 1, 1, 0, 5, 800, 400, 30, 0, 3, 0, 0, 8, 0};
    core.handleRequest(request(1, ramSet), kNow);
    EXPECT_EQ(core.ram(), ramSet);
    EXPECT_EQ(core.eeprom(), defaultParameterSet());
    core.handleRequest(request(3, eepromSet), kNow);
    EXPECT_EQ(core.eeprom(), eepromSet);
    EXPECT_EQ(core.ram(), ramSet);
    EXPECT_EQ(core.handleRequest(request(2), kNow), answer(2, ramSet));
    EXPECT_EQ(core.handleRequest(request(4), kNow), answer(4, eepromSet));
}

TEST(SimIdentification, HardwareAnswerOfSeveralProfiles) {
    struct Row {
        const char *profile;
        Words expected;
    };
    const std::vector<Row> rows{
        {"standard", {1, 1024, 0, 0, 8192, 1024, 1, 1024, 220, 0, 0, 0, 0, 0, 0, 0}},
        {"type1-fw1001", {1, 1024, 0, 100, 8192, 1024, 1, 1024, 1001, 0, 0, 0, 0, 0, 0, 0}},
        {"type103", {103, 1280, 0, 100, 10240, 1180, 1, 1180, 220, 0, 0, 0, 0, 0, 0, 0}},
        {"type102-230", {102, 768, 0, 400, 6144, 768, 1, 768, 230, 0, 0, 0, 0, 0, 0, 0}},
        {"unknown-type", {7, 1024, 0, 0, 8192, 1024, 1, 1024, 220, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Row &row : rows) {
        SensorCore core(profile(row.profile));
        EXPECT_EQ(core.handleRequest(request(10, kSomeWords), kNow), answer(10, row.expected))
            << row.profile;
    }
}

TEST(SimIdentification, FirmwareOfBoardType0IsOneCharacterPerWord) {
    SensorCore core(profile("standard"));
    const Bytes bytes = core.handleRequest(request(7), kNow);
    ASSERT_EQ(bytes.size(), 72u);
    const std::string text = "KVEX-RTN FW 2.20 standard";
    for (std::size_t i = 0; i < 36; ++i) {
        EXPECT_EQ(bytes[2 * i], 0x00) << i;
        EXPECT_EQ(bytes[2 * i + 1], i < text.size() ? text[i] : ' ') << i;
    }
}

TEST(SimIdentification, FirmwareOfOtherBoardsIsTheTextPaddedWithZeros) {
    SensorCore core(profile("type102-220"));
    const Bytes bytes = core.handleRequest(request(7), kNow);
    ASSERT_EQ(bytes.size(), 72u);
    const std::string text = profile("type102-220").firmwareText;
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(text.size())), text);
    EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<long>(text.size()), bytes.end(),
                            [](uint8_t b) { return b == 0; }));
}

TEST(SimIdentification, FirmwareOfFullLengthHasNoZeroByte) {
    SensorCore core(profile("fw-raw72"));
    const Bytes bytes = core.handleRequest(request(7), kNow);
    ASSERT_EQ(bytes.size(), 72u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), profile("fw-raw72").firmwareText);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), 0);
}

TEST(SimProfiles, CoverEverySensorKindTheProgramTellsApart) {
    std::set<uint16_t> types, boards, versions, type2Resolutions;
    std::set<std::string> names;
    for (const auto &p : sensorProfiles()) {
        EXPECT_TRUE(names.insert(p.name).second) << "duplicate " << p.name;
        types.insert(p.ccdtype);
        boards.insert(p.pcbtype);
        versions.insert(p.softversion);
        if (p.ccdtype == 2)
            type2Resolutions.insert(p.ccdresolution);
    }
    for (uint16_t t : {0, 1, 2, 3, 4, 101, 102, 103, 104, 7})
        EXPECT_TRUE(types.count(t)) << "ccdtype " << t;
    for (uint16_t b : {0, 100, 400})
        EXPECT_TRUE(boards.count(b)) << "pcbtype " << b;
    for (uint16_t v : {220, 221, 230, 1001})
        EXPECT_TRUE(versions.count(v)) << "softversion " << v;
    for (uint16_t r : {250, 350, 750})
        EXPECT_TRUE(type2Resolutions.count(r)) << "resolution " << r;
    EXPECT_GE(type2Resolutions.size(), 4u);
    for (const char *name :
         {"standard", "type1-fw1001", "type2-750", "type2-350", "type2-250", "type2-other", "type3",
          "type4", "type101", "type102-220", "type102-230", "type102-221", "type103", "type104",
          "unknown-type", "fw-raw72"})
        EXPECT_NE(findProfile(name), nullptr) << name;
    EXPECT_EQ(findProfile("no-such-sensor"), nullptr);
}

TEST(SimProfiles, AreSelfConsistent) {
    for (const auto &p : sensorProfiles()) {
        EXPECT_EQ(p.videoFullScale, videoFullScaleFor(p.ccdtype, p.ccdresolution, p.softversion))
            << p.name;
        EXPECT_LE(p.firmwareText.size(), p.pcbtype == 0 ? 36u : 72u) << p.name;
        EXPECT_EQ(p.firmwareText.find('\0'), std::string::npos) << p.name;
        EXPECT_GE(p.ccdpixE, p.ccdpixB) << p.name;
        EXPECT_EQ(p.ccdmaxpixelX8, p.ccdmaxpixel * 8) << p.name;
    }
    EXPECT_EQ(profile("fw-raw72").firmwareText.size(), 72u);
    EXPECT_EQ(profile("fw-raw72").pcbtype, 400);
}

TEST(SimProfiles, VideoFullScaleFollowsTheProgramsAxisChoice) {
    struct Row {
        uint16_t type, resolution, version, expected;
    };
    const std::vector<Row> rows{
        {1, 0, 220, 1023},   {2, 750, 220, 1023}, {2, 350, 220, 255},  {2, 250, 220, 255},
        {2, 350, 230, 1023}, {2, 500, 220, 1023}, {102, 0, 220, 1023}, {102, 0, 221, 255},
        {102, 0, 230, 255},  {103, 0, 220, 255},  {103, 0, 230, 1023}, {104, 0, 220, 255},
        {104, 0, 230, 1023}, {101, 0, 220, 1023}, {7, 0, 220, 1023},
    };
    for (const Row &r : rows)
        EXPECT_EQ(videoFullScaleFor(r.type, r.resolution, r.version), r.expected)
            << r.type << "/" << r.resolution << "/" << r.version;
}

TEST(SimVideo, FourBlocksMakeOneLine) {
    SensorCore core(profile("standard"));
    core.setObject(400, 600);
    std::vector<uint16_t> line;
    for (uint16_t start : {0, 64, 128, 192}) {
        const Words data{start, static_cast<uint16_t>(start == 192 ? 1 : 0)};
        const Bytes block = core.handleRequest(request(9, data), kNow);
        ASSERT_EQ(block.size(), 128u) << start;
        const auto words = wordsOf(block);
        line.insert(line.end(), words.begin(), words.end());
    }
    const VideoLine expected = core.videoLine(kNow);
    EXPECT_TRUE(std::equal(line.begin(), line.end(), expected.begin()));
    // Sample i sits at (i + 0.5) * 1024 / 256: samples 100..149 are inside the object.
    for (int i = 0; i < 256; ++i) {
        EXPECT_LE(line[i], 1023) << i;
        if (i < 95 || i > 154) {
            EXPECT_NEAR(line[i], 818, 12) << i;
        } else if (i > 101 && i < 148) {
            EXPECT_NEAR(line[i], 102, 12) << i;
        }
    }
}

TEST(SimVideo, BlockStartsOutsideTheLineAreClamped) {
    SensorCore core;
    core.setObject(400, 600);
    struct Row {
        uint16_t start;
        int firstSample;
    };
    for (const Row &row : std::vector<Row>{{10, 10}, {192, 192}, {200, 192}, {0xFFFF, 192}}) {
        const Bytes block = core.handleRequest(request(9, Words{row.start}), kNow);
        ASSERT_EQ(block.size(), 128u) << row.start;
        const VideoLine line = core.videoLine(kNow);
        const auto words = wordsOf(block);
        EXPECT_TRUE(std::equal(words.begin(), words.end(), line.begin() + row.firstSample))
            << row.start;
    }
}

TEST(SimVideo, EightBitSensorsStayWithinTheirScale) {
    for (const char *name : {"type2-350", "type102-230", "type103"}) {
        SensorCore core(profile(name));
        for (double t = 0.0; t < 20.0; t += 0.7) {
            const VideoLine line = core.videoLine(t);
            EXPECT_LE(*std::max_element(line.begin(), line.end()), 255) << name;
            EXPECT_GT(*std::max_element(line.begin(), line.end()), 180) << name;
            EXPECT_LT(*std::min_element(line.begin(), line.end()), 40) << name;
        }
    }
}

TEST(SimVideo, Code11HasTwoMeanings) {
    struct Row {
        const char *profile;
        bool zeroWords;
        bool expectLine;
    };
    const std::vector<Row> rows{
        {"standard", true, false}, {"standard", false, false},  {"type1-fw1001", true, false},
        {"type103", true, false},  {"type102-220", true, true}, {"type102-220", false, false},
        {"type101", true, true},   {"fw-raw72", true, true},
    };
    for (const Row &row : rows) {
        SensorCore core(profile(row.profile));
        core.setObject(300, 500);
        const Bytes bytes =
            core.handleRequest(request(11, row.zeroWords ? Words{} : kSomeWords), kNow);
        if (row.expectLine) {
            ASSERT_EQ(bytes.size(), 512u) << row.profile;
            const VideoLine line = core.videoLine(kNow);
            EXPECT_EQ(wordsOf(bytes), std::vector<uint16_t>(line.begin(), line.end()))
                << row.profile;
        } else {
            EXPECT_EQ(bytes, answer(11, core.ram())) << row.profile;
        }
    }
}

TEST(SimMeasurement, EdgesValueAndWindow) {
    struct Row {
        const char *name;
        uint16_t left, right, mode, windowBegin, windowEnd;
        uint16_t ledge, redge, value, edges;
        int order; // -1 mvstart < mvend, +1 mvstart >= mvend, 0 not checked
    };
    const std::vector<Row> rows{
        {"left edge mode", 300, 500, 0, 1, 1024, 300, 500, 300, 2, -1},
        {"right edge mode", 300, 500, 1, 1, 1024, 300, 500, 500, 2, -1},
        {"width mode", 300, 500, 2, 1, 1024, 300, 500, 200, 2, -1},
        {"centre mode 3", 300, 501, 3, 1, 1024, 300, 501, 400, 2, -1},
        {"centre mode 4", 300, 500, 4, 1, 1024, 300, 500, 400, 2, -1},
        {"only the left edge: dark to the right", 300, 500, 0, 100, 400, 300, 0, 300, 1, -1},
        {"only the right edge: dark to the left", 300, 500, 1, 400, 900, 500, 0, 500, 1, +1},
        {"right edge mode without a right edge", 300, 500, 1, 100, 400, 300, 0, 0, 1, -1},
        {"width needs both edges", 300, 500, 2, 400, 900, 500, 0, 0, 1, +1},
        {"no edge in the window", 300, 500, 3, 600, 900, 0, 0, 0, 0, 0},
        {"edges on the window's ends count", 300, 500, 2, 300, 500, 300, 500, 200, 2, -1},
        {"edges beyond the line are clamped", 0, 5000, 0, 1, 1024, 1, 1024, 1, 2, -1},
    };
    for (const Row &row : rows) {
        SensorCore core;
        Words ram = defaultParameterSet();
        ram[kParEvalMode] = row.mode;
        ram[kParEvalBegin] = row.windowBegin;
        ram[kParEvalEnd] = row.windowEnd;
        ram[kParSetPoint] = 444;
        ram[kParTolerance] = 55;
        core.setRam(ram);
        core.setObject(row.left, row.right);
        const Words w = answerData(core.handleRequest(request(8, kSomeWords), kNow));
        EXPECT_EQ(w[kMeasLeftEdge], row.ledge) << row.name;
        EXPECT_EQ(w[kMeasRightEdge], row.redge) << row.name;
        EXPECT_EQ(w[kMeasValue], row.value) << row.name;
        EXPECT_EQ(w[kMeasEdgeCount], row.edges) << row.name;
        EXPECT_EQ(w[kMeasSetPoint], 444) << row.name;
        EXPECT_EQ(w[kMeasTolerance], 55) << row.name;
        EXPECT_EQ(w[15], 0) << row.name;
        if (row.order < 0) {
            EXPECT_LT(w[kMeasStart], w[kMeasEnd]) << row.name;
        } else if (row.order > 0) {
            EXPECT_GE(w[kMeasStart], w[kMeasEnd]) << row.name;
        }
    }
}

TEST(SimMeasurement, AnswerFrameHeader) {
    SensorCore core;
    const Bytes bytes = core.handleRequest(request(8), kNow);
    ASSERT_EQ(bytes.size(), kFrameSize);
    EXPECT_EQ(wordAt(bytes.data(), 0), kAnswerSync);
    EXPECT_EQ(wordAt(bytes.data(), 1), 8);
}

TEST(SimMeasurement, ExtremesAreTrackedAndReset) {
    SensorCore core;
    Words ram = defaultParameterSet();
    ram[kParEvalMode] = 0;
    core.setRam(ram);
    struct Step {
        uint16_t left, right;
        bool reset;
        uint16_t anaMax, anaMin, leftMax, rightMax;
    };
    const std::vector<Step> steps{
        {300, 500, false, 300, 300, 300, 500}, {200, 600, false, 300, 200, 300, 600},
        {400, 450, false, 400, 200, 400, 600}, {250, 700, true, 250, 250, 250, 700},
        {260, 300, false, 260, 250, 260, 700},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step &s = steps[i];
        if (s.reset) {
            const Bytes reset = core.handleRequest(request(11, kSomeWords), kNow);
            EXPECT_EQ(reset, answer(11, core.ram()));
        }
        core.setObject(s.left, s.right);
        const Words w = answerData(core.handleRequest(request(8), kNow));
        EXPECT_EQ(w[kMeasAnaMax], s.anaMax) << "step " << i;
        EXPECT_EQ(w[kMeasAnaMin], s.anaMin) << "step " << i;
        EXPECT_EQ(w[kMeasLeftMax], s.leftMax) << "step " << i;
        EXPECT_EQ(w[kMeasRightMax], s.rightMax) << "step " << i;
    }
}

TEST(SimMeasurement, TeachTakesTheMeasuredValue) {
    SensorCore core;
    Words ram = defaultParameterSet();
    ram[kParEvalMode] = 3;
    core.setRam(ram);
    core.setObject(300, 500);
    const Bytes bytes = core.handleRequest(request(6, kSomeWords), kNow);
    EXPECT_EQ(core.ram()[kParSetPoint], 400);
    ram[kParSetPoint] = 400;
    EXPECT_EQ(bytes, answer(6, ram));
    const Words w = answerData(core.handleRequest(request(8), kNow));
    EXPECT_EQ(w[kMeasSetPoint], 400);
}

TEST(SimScene, ObjectMovesWithinTheLine) {
    for (const char *name : {"standard", "type101", "type2-250"}) {
        SensorCore core(profile(name));
        const double length = core.lineLength();
        double lowest = length, highest = 0.0;
        for (double t = 0.0; t < 20.0; t += 0.25) {
            const auto [left, right] = core.objectEdges(t);
            EXPECT_NEAR(right - left, 0.2 * length, 1e-6) << name;
            EXPECT_GE(left, 1.0) << name;
            EXPECT_LE(right, length) << name;
            lowest = std::min(lowest, left);
            highest = std::max(highest, right);
        }
        EXPECT_LT(lowest, 0.25 * length) << name;
        EXPECT_GT(highest, 0.75 * length) << name;
    }
}

TEST(SimScene, DirtDimsTheLineAndItsEdgesJitterNearTheThreshold) {
    SensorCore core(profile("standard"));
    core.setObject(400, 600);
    // 10 % of the clean level a second; the threshold word stays at 512 of 1023.
    core.setDimming(36000.0, kNow);
    struct Row {
        double after, share;
        bool jitter, lost;
    };
    // Clean background 818: margin 0.6, 0.44, 0.2 (within a third: jitter), below the threshold.
    const Row rows[] = {{0.0, 1.0, false, false},
                        {1.0, 0.9, false, false},
                        {2.5, 0.75, true, false},
                        {4.0, 0.6, false, true}};
    for (const Row &row : rows) {
        const double now = kNow + row.after;
        EXPECT_NEAR(core.litShare(now), row.share, 1e-9) << row.after;
        EXPECT_NEAR(core.videoLine(now)[20], 818 * row.share, 12) << row.after;
        std::set<uint16_t> lefts;
        for (int i = 0; i < 20; ++i) {
            const Words w = answerData(core.handleRequest(request(8), now));
            lefts.insert(w[kMeasLeftEdge]);
            EXPECT_EQ(w[kMeasEdgeCount], row.lost ? 0 : 2) << row.after;
            if (!row.lost) {
                EXPECT_NEAR(w[kMeasLeftEdge], 400, 11) << row.after;
            }
        }
        EXPECT_EQ(lefts.size() > 1, row.jitter) << row.after;
    }
    core.setDimming(0.0, kNow);
    core.stepLitLevel(30.0);
    EXPECT_NEAR(core.litShare(kNow + 100.0), 0.7, 1e-9);
    EXPECT_NEAR(core.videoLine(kNow)[20], 818 * 0.7, 12);
}

TEST(SimScene, SetObjectFreezesAndReleaseResumes) {
    SensorCore core;
    core.setObject(700, 100);
    EXPECT_TRUE(core.objectFrozen());
    EXPECT_EQ(core.objectEdges(1.0), std::make_pair(100.0, 700.0));
    EXPECT_EQ(core.objectEdges(7.0), std::make_pair(100.0, 700.0));
    core.releaseObject();
    EXPECT_NE(core.objectEdges(1.0), core.objectEdges(7.0));
}

TEST(SimScene, ZeroSubpixelCountMeansA1024Line) {
    SensorProfile p = profile("standard");
    p.ccdsubpixel = 0;
    SensorCore core(p);
    EXPECT_EQ(core.lineLength(), 1024);
}

TEST(SimFraming, ByteStreams) {
    const Frame a = request(5, kSomeWords);
    const Frame b = request(2);
    const Bytes ab = [&] {
        Bytes out(a.begin(), a.end());
        out.insert(out.end(), b.begin(), b.end());
        return out;
    }();
    auto bytesOf = [](const Frame &f) { return Bytes(f.begin(), f.end()); };
    auto concat = [](Bytes x, const Bytes &y) {
        x.insert(x.end(), y.begin(), y.end());
        return x;
    };
    struct Row {
        const char *name;
        std::vector<Bytes> chunks;
        std::vector<Frame> frames;
        std::size_t leftOver;
    };
    const std::vector<Row> rows{
        {"one frame", {bytesOf(a)}, {a}, 0},
        {"leading garbage", {concat({0x12, 0x55, 0xAA, 0x00, 0x00}, bytesOf(a))}, {a}, 0},
        {"split across reads",
         {Bytes(a.begin(), a.begin() + 1), Bytes(a.begin() + 1, a.begin() + 20),
          Bytes(a.begin() + 20, a.end())},
         {a},
         0},
        {"byte by byte",
         [&] {
             std::vector<Bytes> chunks;
             for (uint8_t byte : a)
                 chunks.push_back({byte});
             return chunks;
         }(),
         {a},
         0},
        {"two back to back", {ab}, {a, b}, 0},
        {"one byte short", {Bytes(a.begin(), a.end() - 1)}, {}, 35},
        {"one byte long", {concat(bytesOf(a), {0x77})}, {a}, 0},
        {"one byte long, then a frame",
         {concat(concat(bytesOf(a), {0x77}), bytesOf(b))},
         {a, b},
         0},
        {"lone zero byte waits", {{0x00}}, {}, 1},
        {"answer sync is not a request", {concat({0x00, 0xAA}, bytesOf(b))}, {b}, 0},
        {"garbage only", {{0x01, 0x02, 0x03, 0x55}}, {}, 0},
    };
    for (const Row &row : rows) {
        FrameAssembler assembler;
        std::vector<Frame> frames;
        double t = 0.0;
        for (const Bytes &chunk : row.chunks)
            for (const auto &f : assembler.push(chunk.data(), chunk.size(), t += 1.0))
                frames.push_back(f.bytes);
        EXPECT_EQ(frames, row.frames) << row.name;
        EXPECT_EQ(assembler.buffered(), row.leftOver) << row.name;
    }
}

TEST(SimFraming, FrameTimesAreThoseOfItsFirstAndLastByte) {
    const Frame a = request(5);
    FrameAssembler assembler;
    const Bytes noise{0x42, 0x43};
    EXPECT_TRUE(assembler.push(noise.data(), noise.size(), 1.0).empty());
    EXPECT_TRUE(assembler.push(a.data(), 10, 2.0).empty());
    const auto frames = assembler.push(a.data() + 10, 26, 3.0);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].firstByteTime, 2.0);
    EXPECT_EQ(frames[0].lastByteTime, 3.0);
    EXPECT_EQ(assembler.droppedBytes(), 2u);
}

TEST(SimFaults, EachKindSpoilsAFrame) {
    const Bytes clean = answer(5, kSomeWords);
    struct Row {
        Fault fault;
        std::size_t size;
        bool silent;
        double delay;
    };
    const std::vector<Row> rows{
        {{FaultKind::Silence}, 0, true, 0.0},
        {{FaultKind::Short, 1}, 35, false, 0.0},
        {{FaultKind::Short, 10}, 26, false, 0.0},
        {{FaultKind::Short, 100}, 0, false, 0.0},
        {{FaultKind::Extra, 1}, 37, false, 0.0},
        {{FaultKind::Extra, 4}, 40, false, 0.0},
        {{FaultKind::WrongSync}, 36, false, 0.0},
        {{FaultKind::WrongCommand}, 36, false, 0.0},
        {{FaultKind::Late, 1, 0.25}, 36, false, 0.25},
        {{FaultKind::Garbage}, 36, false, 0.0},
        {{FaultKind::Dim, 1, 0.0, 1, 40.0}, 36, false, 0.0},
    };
    for (const Row &row : rows) {
        FaultInjector injector;
        injector.setFault(5, row.fault);
        const FaultedAnswer out = injector.apply(5, clean);
        const char *name = faultKindName(row.fault.kind);
        EXPECT_EQ(out.kind, row.fault.kind) << name;
        EXPECT_EQ(out.bytes.size(), row.size) << name;
        EXPECT_EQ(out.silent, row.silent) << name;
        EXPECT_EQ(out.delay, row.delay) << name;
        const std::size_t common = std::min(out.bytes.size(), clean.size());
        switch (row.fault.kind) {
        case FaultKind::Short:
        case FaultKind::Extra:
        case FaultKind::Late:
            EXPECT_TRUE(std::equal(clean.begin(), clean.begin() + static_cast<long>(common),
                                   out.bytes.begin()))
                << name;
            break;
        case FaultKind::WrongSync:
            EXPECT_EQ(wordAt(out.bytes.data(), 0), 0x00BB);
            EXPECT_TRUE(std::equal(clean.begin() + 2, clean.end(), out.bytes.begin() + 2));
            break;
        case FaultKind::WrongCommand:
            EXPECT_EQ(wordAt(out.bytes.data(), 1), 6);
            EXPECT_EQ(wordAt(out.bytes.data(), 0), kAnswerSync);
            EXPECT_TRUE(std::equal(clean.begin() + 4, clean.end(), out.bytes.begin() + 4));
            break;
        case FaultKind::Garbage:
            EXPECT_NE(out.bytes, clean);
            break;
        case FaultKind::Dim:
            // A step in the scene, not a spoiled answer.
            EXPECT_EQ(out.bytes, clean);
            EXPECT_EQ(out.litStep, 40.0);
            break;
        default:
            break;
        }
        // The fault was for one answer only.
        EXPECT_EQ(injector.apply(5, clean).bytes, clean) << name;
    }
}

TEST(SimFaults, RawBlocksAreCorruptedInTheirFirstWords) {
    const Bytes block(128, 0x01);
    FaultInjector injector;
    injector.setFault(9, {FaultKind::WrongSync});
    Bytes out = injector.apply(9, block).bytes;
    ASSERT_EQ(out.size(), 128u);
    EXPECT_EQ(wordAt(out.data(), 0), 0xFEFE);
    EXPECT_TRUE(std::equal(block.begin() + 2, block.end(), out.begin() + 2));
    injector.setFault(9, {FaultKind::WrongCommand});
    out = injector.apply(9, block).bytes;
    EXPECT_EQ(wordAt(out.data(), 1), 0x0102);
}

TEST(SimFaults, TimesCountsAnswersOfThatCommandOnly) {
    const Bytes clean = answer(2, kSomeWords);
    FaultInjector injector;
    Fault fault{FaultKind::Silence};
    fault.times = 2;
    injector.setFault(2, fault);
    EXPECT_FALSE(injector.apply(5, clean).silent);
    EXPECT_TRUE(injector.apply(1, {}).bytes.empty());
    EXPECT_TRUE(injector.apply(2, clean).silent);
    EXPECT_EQ(injector.fault(2).times, 1);
    EXPECT_TRUE(injector.apply(2, clean).silent);
    EXPECT_FALSE(injector.apply(2, clean).silent);

    fault.times = -1;
    injector.setFault(2, fault);
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(injector.apply(2, clean).silent);
    injector.clear();
    EXPECT_FALSE(injector.apply(2, clean).silent);
}

TEST(SimFaults, RandomModeIsReproducibleFromItsSeed) {
    const Bytes clean = answer(8, kSomeWords);
    auto run = [&](double rate, uint32_t seed) {
        FaultInjector injector;
        injector.setRandom(rate, seed);
        std::vector<FaultedAnswer> outs;
        for (int i = 0; i < 400; ++i)
            outs.push_back(injector.apply(8, clean));
        return outs;
    };
    const auto first = run(0.25, 42);
    const auto second = run(0.25, 42);
    std::set<FaultKind> kinds;
    int faulted = 0;
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].bytes, second[i].bytes) << i;
        EXPECT_EQ(first[i].kind, second[i].kind) << i;
        if (first[i].kind != FaultKind::None) {
            ++faulted;
            kinds.insert(first[i].kind);
        }
    }
    EXPECT_GT(faulted, 60);
    EXPECT_LT(faulted, 140);
    EXPECT_EQ(kinds, (std::set<FaultKind>{FaultKind::Silence, FaultKind::Short, FaultKind::Extra,
                                          FaultKind::WrongSync, FaultKind::WrongCommand,
                                          FaultKind::Garbage}));
    for (const auto &out : run(0.0, 42))
        EXPECT_EQ(out.kind, FaultKind::None);
    for (const auto &out : run(1.0, 7))
        EXPECT_NE(out.kind, FaultKind::None);
}

TEST(SimFaults, KindNamesRoundTrip) {
    for (FaultKind k :
         {FaultKind::None, FaultKind::Silence, FaultKind::Short, FaultKind::Extra,
          FaultKind::WrongSync, FaultKind::WrongCommand, FaultKind::Late, FaultKind::Garbage}) {
        FaultKind parsed = FaultKind::None;
        EXPECT_TRUE(parseFaultKind(faultKindName(k), parsed));
        EXPECT_EQ(parsed, k);
    }
    FaultKind parsed = FaultKind::None;
    EXPECT_TRUE(parseFaultKind("WrongSync", parsed));
    EXPECT_EQ(parsed, FaultKind::WrongSync);
    EXPECT_FALSE(parseFaultKind("sometimes", parsed));
}

// A recording as the program writes it, with lines no reader should trust, played back: rows in
// turn, each not before its time at the chosen speed, pauses shortened, a program that fell behind
// taken up where it is, video lines in turn.
TEST(SimReplay, RowsAndVideoLinesInTurnAtTheirRecordedPace) {
    const std::string path = testing::TempDir() + "replay-core.csv";
    {
        std::FILE *rows = std::fopen(path.c_str(), "w");
        ASSERT_NE(rows, nullptr);
        std::fputs("time (UTC),left edge (units),right edge (units),measured value (units),"
                   "measured value (µm),tolerance (units),in tolerance,analogue max,"
                   "analogue min,set-point (units)\n"
                   "2026-12-08T10:00:10.000Z,100,300,300,,50,in,300,300,512\n"
                   "2026-12-08T10:00:10.500Z,110,310,310,19685.00,50,out,310,300,512\r\n"
                   "2026-12-08T10:00:11.000Z,70000,310,310,,50,out,310,300,512\n"
                   "2026-12-08T10:00:11.000Z,abc,310,310,,50,out,310,300,512\n"
                   "2026-12-08T10:00:11.000Z,110,310\n"
                   "2026-12-08T10:00:1,110,310,310,,50,out,310,300,512\n"
                   "2026-12-08T10:00:13.000Z,120,320,320,,50,in,320,300\n"
                   "2026-12-08T10:00:12.000Z,130,330,330,,50,in,330,300,600\n",
                   rows);
        std::fclose(rows);
        std::FILE *video = std::fopen(replayVideoFile(path).c_str(), "w");
        ASSERT_NE(video, nullptr);
        std::fputs("header\n", video);
        for (int line = 0; line < 3; ++line) {
            std::string text = "2026-12-08T10:00:10.000Z,1,2,3";
            for (int i = 0; i < kVideoSamples; ++i)
                text += "," + std::to_string(line == 2 ? 99999 : 10 * line + i);
            std::fputs((text + (line == 0 ? ",512\n" : "\n")).c_str(), video);
        }
        std::fclose(video);
    }
    auto replay = std::make_shared<Replay>();
    std::string error;
    ASSERT_TRUE(loadReplay(path, *replay, error)) << error;
    EXPECT_EQ(replay->rows.size(), 4u);
    EXPECT_EQ(replay->videoLines.size(), 2u);
    EXPECT_EQ(replay->skipped, 5u);
    EXPECT_FALSE(loadReplay(testing::TempDir() + "no-such-recording.csv", *replay, error));

    ASSERT_TRUE(loadReplay(path, *replay, error));
    SensorCore core(profile("type104"));
    core.setReplay(replay, 2.0);
    const struct {
        double now;
        uint16_t left, setPoint;
        double notBefore;
    } steps[] = {
        {100.0, 100, 512, 100.0},  // the first row starts the recording's clock
        {100.1, 110, 512, 100.25}, // half a second later in the recording, at twice the speed
        {100.3, 120, 512, 101.3},  // 1.25 s ahead: a pause plays as one second at most
        {101.3, 130, 600, 101.3},  // recorded before the row ahead of it: plays at once
        {101.4, 100, 512, 101.4},  // from the start again
        {110.0, 110, 512, 110.0},  // far behind (a stopped run): taken up from here
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.now);
        const Words w = answerData(core.handleRequest(request(8), step.now));
        EXPECT_EQ(w[kMeasLeftEdge], step.left);
        EXPECT_EQ(w[kMeasRightEdge], step.left + 200);
        EXPECT_EQ(w[kMeasValue], step.left + 200);
        EXPECT_EQ(w[kMeasTolerance], 50);
        // The row without the set-point column gets the sensor's own.
        EXPECT_EQ(w[kMeasSetPoint], step.setPoint);
        EXPECT_DOUBLE_EQ(core.answerNotBefore(), step.notBefore);
    }
    EXPECT_EQ(core.handleRequest(request(2), 111.0).size(), kFrameSize);
    EXPECT_EQ(core.answerNotBefore(), 0.0);
    for (int line : {0, 1, 0}) {
        const std::vector<uint16_t> samples = wordsOf(core.handleRequest(request(11), 112.0));
        ASSERT_EQ(samples.size(), static_cast<std::size_t>(kVideoSamples));
        EXPECT_EQ(samples[0], 10 * line);
        EXPECT_EQ(samples[255], 10 * line + 255);
    }
    std::remove(path.c_str());
    std::remove(replayVideoFile(path).c_str());
}
