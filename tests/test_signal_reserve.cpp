// The signal reserve over lines made for it: one row per case, with the figures the documented
// formula gives (docs/signal-reserve.md).
#include "com232/videodata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct Stretch {
    int from, to; // samples, both included
    unsigned short level;
};

struct ReserveCase {
    const char *name;
    unsigned short background;
    std::vector<Stretch> stretches; // drawn over the background in order
    unsigned threshold, polarity, evalBegin, evalEnd;
    ReserveState state;
    double ratio, contrast; // NaN: must be NaN
    bool saturated;
};

// 256 samples, 4 positions apart (a 1024-position line), full scale 1024.
constexpr double kStep = 4.0;
constexpr unsigned kFullScale = 1024;
const double kNone = std::nan("");

// The background with the stretches drawn over it in order.
std::vector<unsigned short> lineOf(unsigned short background, const std::vector<Stretch> &stretches) {
    std::vector<unsigned short> line(256, background);
    for (const Stretch &s : stretches)
        for (int i = s.from; i <= s.to; ++i)
            line[i] = s.level;
    return line;
}

void PrintTo(const ReserveCase &c, std::ostream *os) {
    *os << c.name;
}

class ReserveTest : public ::testing::TestWithParam<ReserveCase> {};

TEST_P(ReserveTest, GivesTheDocumentedFigures) {
    const ReserveCase &c = GetParam();
    const std::vector<unsigned short> line = lineOf(c.background, c.stretches);
    const SignalReserve r = GetSIGNALReserve(line.data(), kStep, c.threshold, c.polarity,
                                             c.evalBegin, c.evalEnd, kFullScale);
    EXPECT_STREQ(reserveStateKey(r.state), reserveStateKey(c.state));
    auto expectFigure = [](double got, double want, const char *what) {
        if (std::isnan(want))
            EXPECT_TRUE(std::isnan(got)) << what << " " << got;
        else
            EXPECT_NEAR(got, want, 1e-9) << what;
    };
    expectFigure(r.ratio, c.ratio, "ratio");
    expectFigure(r.contrast, c.contrast, "contrast");
    EXPECT_EQ(r.saturated, c.saturated);
}

// The worked example of the docs: lit 800, shadow 100, threshold 500.
const ReserveCase kCases[] = {
    {"clean", 800, {{100, 140, 100}}, 500, 1, 1, 1024, ReserveState::Ok, 0.6, 700.0 / 900, false},
    {"the object elsewhere in the window gives the same",
     800,
     {{10, 50, 100}},
     500,
     1,
     1,
     1024,
     ReserveState::Ok,
     0.6,
     700.0 / 900,
     false},
    {"dim", 560, {{100, 140, 70}}, 500, 1, 1, 1024, ReserveState::Ok, 0.12, 490.0 / 630, false},
    {"saturated",
     1023,
     {{100, 140, 100}},
     500,
     1,
     1,
     1024,
     ReserveState::Ok,
     0.8,
     923.0 / 1123,
     true},
    {"no object in the window",
     800,
     {{200, 240, 100}},
     500,
     1,
     1,
     600,
     ReserveState::NoObject,
     0.6,
     kNone,
     false},
    {"hot and dead pixels move nothing",
     800,
     {{100, 140, 100}, {20, 20, 1023}, {110, 110, 1023}, {60, 61, 0}},
     500,
     1,
     1,
     1024,
     ReserveState::Ok,
     0.6,
     700.0 / 900,
     false},
    {"two dead pixels are no object",
     800,
     {{60, 61, 0}},
     500,
     1,
     1,
     1024,
     ReserveState::NoObject,
     0.6,
     kNone,
     false},
    {"two hot pixels are not saturation",
     800,
     {{100, 140, 100}, {30, 31, 1023}},
     500,
     1,
     1,
     1024,
     ReserveState::Ok,
     0.6,
     700.0 / 900,
     false},
    {"lit below the threshold: lost, not a reserve",
     450,
     {{100, 140, 100}},
     500,
     1,
     1,
     1024,
     ReserveState::Lost,
     -0.1,
     kNone,
     false},
    {"polarity 0 gives the nearer side's margin too",
     800,
     {{100, 140, 100}},
     500,
     0,
     1,
     1024,
     ReserveState::Ok,
     0.6,
     700.0 / 900,
     false},
    {"polarity 0 with a dimmed light",
     560,
     {{100, 140, 100}},
     500,
     0,
     1,
     1024,
     ReserveState::Ok,
     0.12,
     460.0 / 660,
     false},
    {"polarity 1 with stray light over the shadow",
     800,
     {{100, 140, 450}},
     500,
     1,
     1,
     1024,
     ReserveState::Ok,
     0.1,
     350.0 / 1250,
     false},
    {"polarity 0 with stray light over the shadow",
     800,
     {{100, 140, 450}},
     500,
     0,
     1,
     1024,
     ReserveState::Ok,
     0.1,
     350.0 / 1250,
     false},
    {"polarity 0 without a shadow side is lost",
     800,
     {},
     500,
     0,
     1,
     1024,
     ReserveState::Lost,
     -0.6,
     kNone,
     false},
    {"window at the line's start",
     800,
     {{0, 3, 100}},
     500,
     1,
     0,
     40,
     ReserveState::Ok,
     0.6,
     700.0 / 900,
     false},
    {"window at the line's end",
     800,
     {{250, 255, 100}},
     500,
     1,
     960,
     1024,
     ReserveState::Ok,
     0.6,
     700.0 / 900,
     false},
    {"window beyond the line",
     800,
     {},
     500,
     1,
     1100,
     1200,
     ReserveState::NoWindow,
     kNone,
     kNone,
     false},
    {"no threshold",
     800,
     {{100, 140, 100}},
     0,
     1,
     1,
     1024,
     ReserveState::NoWindow,
     kNone,
     kNone,
     false},
};

INSTANTIATE_TEST_SUITE_P(Lines, ReserveTest, ::testing::ValuesIn(kCases));

// The proposal over lines made for it: the simulator's clean line (lit 818, shadow 102) with the
// object at samples 100 to 140 crosses 460 at positions 398 and 562; the window adds a tenth of
// the 1024-position line beyond each edge.
struct ProposalCase {
    const char *name;
    unsigned short background;
    std::vector<Stretch> stretches;
    unsigned evalBegin, evalEnd, thresholdMax;
    const char *reason; // empty: proposed
    unsigned threshold, begin, end;
};

void PrintTo(const ProposalCase &c, std::ostream *os) {
    *os << c.name;
}

class ProposalTest : public ::testing::TestWithParam<ProposalCase> {};

TEST_P(ProposalTest, ProposesOnlyWhatTheLineSupports) {
    const ProposalCase &c = GetParam();
    const std::vector<unsigned short> line = lineOf(c.background, c.stretches);
    const SetupProposal p =
        ProposeSETUP(line.data(), kStep, c.evalBegin, c.evalEnd, kFullScale, 1, c.thresholdMax);
    EXPECT_EQ(p.reason, c.reason);
    EXPECT_EQ(p.proposed, std::string(c.reason).empty());
    EXPECT_EQ(proposalAdvice(p.reason)[0] == '\0', p.proposed);
    if (!p.proposed)
        return;
    EXPECT_EQ(p.threshold, c.threshold);
    EXPECT_EQ(p.evalBegin, c.begin);
    EXPECT_EQ(p.evalEnd, c.end);
    // Equal margins unless the threshold was clamped, and the reserve the reserve's own formula
    // gives for the proposed words.
    if (c.threshold < c.thresholdMax)
        EXPECT_NEAR(p.litMargin, p.shadowMargin, 1.0);
    const SignalReserve r =
        GetSIGNALReserve(line.data(), kStep, p.threshold, 1, p.evalBegin, p.evalEnd, kFullScale);
    EXPECT_EQ(r.state, ReserveState::Ok);
    EXPECT_NEAR(p.reserve, r.ratio, 1e-9);
}

const ProposalCase kProposals[] = {
    {"clean", 818, {{100, 140, 102}}, 1, 1024, 1000, "", 460, 295, 665},
    {"the object outside the current window", 818, {{100, 140, 102}}, 700, 1000, 1000, "", 460,
     295, 665},
    {"dim", 560, {{100, 140, 70}}, 1, 1024, 1000, "", 315, 295, 665},
    {"hot and dead pixels", 818, {{100, 140, 102}, {20, 20, 1023}, {60, 61, 0}}, 1, 1024, 1000, "",
     460, 295, 665},
    {"a bright object in a dark line", 102, {{100, 140, 818}}, 1, 1024, 1000, "", 460, 295, 665},
    {"object at the line's start", 818, {{0, 30, 102}}, 1, 1024, 1000, "", 460, 19, 225},
    {"object at the line's end", 818, {{230, 255, 102}}, 1, 1024, 1000, "", 460, 815, 1021},
    {"threshold held to its range", 818, {{100, 140, 102}}, 1, 1024, 400, "", 400, 295, 665},
    {"saturated", 1023, {{100, 140, 102}}, 1, 1024, 1000, "saturated", 0, 0, 0},
    {"low contrast", 500, {{100, 140, 420}}, 1, 1024, 1000, "low_contrast", 0, 0, 0},
    {"no object", 818, {}, 1, 1024, 1000, "no_edge", 0, 0, 0},
    {"no object, with noise", 818, {{10, 60, 812}, {90, 200, 824}}, 1, 1024, 1000, "no_edge", 0, 0,
     0},
    {"two objects", 818, {{50, 70, 102}, {150, 170, 102}}, 1, 1024, 1000, "too_many_edges", 0, 0,
     0},
};

INSTANTIATE_TEST_SUITE_P(Lines, ProposalTest, ::testing::ValuesIn(kProposals));

} // namespace
