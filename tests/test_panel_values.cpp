// Panel values: the range each parameter is forced into when shown, and what the panel derives.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/parameterwords.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "gui/graphs.h"
#include "platform/widgets/graphwidgets.h"
#include "program_fixture.h"

#include <QComboBox>
#include <QSpinBox>

namespace {

struct ClampRow {
    const char *name;
    unsigned short *variable;
    unsigned short given;
    unsigned short shown;
    const char *control;
};

class PanelValuesTest : public ProgramTest {
  protected:
    void SetUp() override {
        kvexsim::SensorSim &sensor = startSensor("standard");
        sensor.setFault(5, {kvexsim::FaultKind::Silence, 1, 0.0, -1});
        ASSERT_TRUE(startProgram()); // no sensor: the panel keeps its start values
        ccdsubpixel = 1024;
    }
    int controlValue(const char *name) const {
        if (auto *spin = find<QSpinBox>(name))
            return spin->value();
        auto *combo = find<QComboBox>(name);
        return combo ? combo->currentIndex() : -1;
    }
};

TEST_F(PanelValuesTest, EachParameterIsForcedIntoItsRangeWhenShown) {
    const ClampRow rows[] = {
        {"power 1001", &power, 1001, 500, "NUMPower"},
        {"power 1000", &power, 1000, 1000, "NUMPower"},
        {"pMode 2", &pMode, 2, 0, "SWITCHPMode"},
        {"polarity 2", &polarity, 2, 1, "SWITCHPolarity"},
        {"anaMode 8", &anaMode, 8, 0, "RINGAnaMode"},
        {"anaMode 7", &anaMode, 7, 7, "RINGAnaMode"},
        {"eMode 9", &eMode, 9, 4, "RINGEMode"},
        {"eHardware 7", &eHardware, 7, 3, "RINGEHardware"},
        {"average 5000", &average, 5000, 1024, "NUMAverage"},
        {"vThd 20", &vThd, 20, 50, "NUMVideoThreshold"},
        {"vThd 951", &vThd, 951, 950, "NUMVideoThreshold"},
        {"vThd 50", &vThd, 50, 50, "NUMVideoThreshold"},
        {"vThd 950", &vThd, 950, 950, "NUMVideoThreshold"},
        {"tTol 0", &tTol, 0, 1, "NEDITTolerance"},
        {"eBeg above the line", &eBeg, 1025, 1, "NEDITEdgeLeft"},
        {"eEnd above the line", &eEnd, 1025, 1024, "NEDITEdgeRight"},
        {"eEnd 0", &eEnd, 0, 1, "NEDITEdgeRight"},
        {"tVal unlimited", &tVal, 65535, 65535, "NUMTeachValue"},
    };
    for (const ClampRow &row : rows) {
        *row.variable = row.given;
        SetPanelValues();
        EXPECT_EQ(*row.variable, row.shown) << row.name;
        EXPECT_EQ(controlValue(row.control), row.shown) << row.name;
        // What the panel shows is what the next send reads back.
        GetPanelValues();
        EXPECT_EQ(*row.variable, row.shown) << row.name;
    }
    EXPECT_EQ(controlValue("NUMTolerance"), controlValue("NEDITTolerance"));
}

TEST_F(PanelValuesTest, SpinBoxesTakeTheLimitsTheFileCheckUses) {
    const struct {
        const char *control;
        int word;
    } spins[] = {{"NUMPower", 0},
                 {"NUMVideoThreshold", 2},
                 {"NUMTeachValue", 8},
                 {"NEDITTolerance", 9},
                 {"NUMAverage", 14}};
    for (const auto &s : spins) {
        auto *spin = find<QSpinBox>(s.control);
        ASSERT_NE(spin, nullptr) << s.control;
        const ParameterLimit limit = parameterLimit(s.word, -1);
        EXPECT_EQ(spin->minimum(), static_cast<int>(limit.min)) << s.control;
        EXPECT_EQ(spin->maximum(), static_cast<int>(limit.max)) << s.control;
    }
}

TEST_F(PanelValuesTest, OperatingModeAndHiddenWordsPassThroughUnchanged) {
    opMode = 5;
    para12 = 1234;
    SetPanelValues();
    GetPanelValues();
    EXPECT_EQ(opMode, 5);
    EXPECT_EQ(para12, 1234);
}

TEST_F(PanelValuesTest, WithoutIdentificationTheEdgeWindowCollapsesToOne) {
    ccdsubpixel = 0;
    eBeg = 10;
    eEnd = 500;
    SetPanelValues();
    EXPECT_EQ(eBeg, 1);
    EXPECT_EQ(eEnd, 1);
}

TEST_F(PanelValuesTest, ThresholdLineAndToleranceBandFollowTheValues) {
    vThd = 2000;
    tVal = 50;
    tTol = 100;
    SetPanelValues();
    for (unsigned short level : thdArray)
        ASSERT_EQ(level, 950);
    const auto rects = graph("GRAPHBar")->rectangles();
    ASSERT_GE(rects.size(), 2u);
    // The band is the last rectangle drawn, over the grey background, and may start below 0.
    EXPECT_DOUBLE_EQ(rects.back()[0], -50.0);
    EXPECT_DOUBLE_EQ(rects.back()[2], 150.0);
    EXPECT_DOUBLE_EQ(rects.back()[3], 0.25);
    EXPECT_EQ(static_cast<int>(rects.back()[4]), 0x00FF00);
    EXPECT_EQ(static_cast<int>(rects[rects.size() - 2][4]), 0xA0A0A0);
    EXPECT_DOUBLE_EQ(graph("GRAPHBar")->cursorX(2), eBeg);
    EXPECT_DOUBLE_EQ(graph("GRAPHBar")->cursorX(3), eEnd);
}

} // namespace
