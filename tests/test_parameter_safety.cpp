// A failed exchange never loses the parameter set the panel shows: each path by which the
// panel's parameters change leaves the previous set in place when it fails.
#include "app/K-VEX-RTN-RedozU15.h"
#include "com232/paraframe.h"
#include "platform/qtaccess.h"
#include "platform/rs232.h"
#include "program_fixture.h"

#include <QComboBox>

namespace {

class ParameterSafetyTest : public ProgramTest {
  protected:
    // Connected to a sensor whose RAM holds a set of its own, now on the panel.
    // secondSensor: a sensor on port 2 as well, to change to.
    kvexsim::SensorSim &connectWithOwnSet(kvexsim::SensorSim **secondSensor = nullptr) {
        kvexsim::SensorSim &sensor = startSensor("standard");
        if (secondSensor)
            *secondSensor = &startSensor("standard", 2);
        kvexsim::Words ram = kvexsim::defaultParameterSet();
        ram[0] = 777;   // power
        ram[2] = 333;   // threshold
        ram[9] = 44;    // tolerance
        ram[12] = 4321; // a word without a control
        sensor.setRam(ram);
        EXPECT_TRUE(startProgram());
        EXPECT_EQ(spinValue("NUMPower"), 777);
        return sensor;
    }
    void expectOwnSet() {
        EXPECT_EQ(power, 777);
        EXPECT_EQ(vThd, 333);
        EXPECT_EQ(tTol, 44);
        EXPECT_EQ(para12, 4321);
        EXPECT_EQ(spinValue("NUMPower"), 777);
        EXPECT_EQ(spinValue("NUMVideoThreshold"), 333);
        EXPECT_EQ(spinValue("NEDITTolerance"), 44);
    }
    void choosePort(int port) {
        auto *ports = find<QComboBox>("DropDCom");
        const int index = ports->findData(port);
        ASSERT_GE(index, 0) << port;
        ports->setCurrentIndex(index);
        emit ports->activated(index);
    }
};

TEST_F(ParameterSafetyTest, GetWithoutAnAnswer) {
    kvexsim::SensorSim &sensor = connectWithOwnSet();
    sensor.setFault(2, {kvexsim::FaultKind::Silence});
    click("BTNGet");
    EXPECT_EQ(status(), "Timeout-RS-232...");
    expectOwnSet();
}

TEST_F(ParameterSafetyTest, TeachWhoseReadBackGetsNoAnswer) {
    kvexsim::SensorSim &sensor = connectWithOwnSet();
    sensor.setFault(2, {kvexsim::FaultKind::Silence});
    click("ButtonTeach");
    EXPECT_EQ(commands().back(), 2);
    EXPECT_EQ(status(), "Timeout-RS-232...");
    expectOwnSet();
}

// A spoilt answer to a GET, a teach or its read-back: the sensor holds another set by then, which
// a frame taken unchecked would bring onto the panel.
struct BadAnswerRow {
    const char *name;
    const char *target; // radio button chosen first, or nullptr for RAM
    const char *button; // the command
    int command;        // the answer that is spoilt
    kvexsim::FaultKind fault;
    const char *status;
};

const BadAnswerRow badAnswerRows[] = {
    {"GetRamWrongSync", nullptr, "BTNGet", 2, kvexsim::FaultKind::WrongSync,
     "Bad parameter-frame: wrong sync word!"},
    {"GetRamWrongCode", nullptr, "BTNGet", 2, kvexsim::FaultKind::WrongCommand,
     "Bad parameter-frame: wrong answer code!"},
    {"GetRamTooLong", nullptr, "BTNGet", 2, kvexsim::FaultKind::Extra,
     "Bad parameter-frame: wrong length!"},
    {"GetEepromWrongSync", "RBTEeprom", "BTNGet", 4, kvexsim::FaultKind::WrongSync,
     "Bad parameter-frame: wrong sync word!"},
    {"GetEepromWrongCode", "RBTEeprom", "BTNGet", 4, kvexsim::FaultKind::WrongCommand,
     "Bad parameter-frame: wrong answer code!"},
    {"TeachReadBackWrongSync", nullptr, "ButtonTeach", 2, kvexsim::FaultKind::WrongSync,
     "Bad parameter-frame: wrong sync word!"},
    {"TeachAnswerWrongCode", nullptr, "ButtonTeach", 6, kvexsim::FaultKind::WrongCommand,
     "Bad parameter-frame: wrong answer code!"},
    {"TeachAnswerTooLong", nullptr, "ButtonTeach", 6, kvexsim::FaultKind::Extra,
     "Bad parameter-frame: wrong length!"},
    {"TeachWithoutAnswer", nullptr, "ButtonTeach", 6, kvexsim::FaultKind::Silence,
     "Timeout RS232-Line!"},
};

class BadAnswerTest : public ParameterSafetyTest,
                      public ::testing::WithParamInterface<BadAnswerRow> {};

TEST_P(BadAnswerTest, LeavesTheSetAsItWas) {
    const BadAnswerRow &row = GetParam();
    kvexsim::SensorSim &sensor = connectWithOwnSet();
    const unsigned short setPoint = tVal;
    kvexsim::Words other = kvexsim::defaultParameterSet();
    other[0] = 111;
    other[2] = 222;
    other[9] = 33;
    other[12] = 1234;
    sensor.setRam(other);
    sensor.setEeprom(other);
    sensor.setObject(300, 600);
    if (row.target)
        click(row.target);
    sensor.setFault(row.command, {row.fault, 1});
    sensor.clearRequests();
    click(row.button);
    EXPECT_EQ(commands().back(), row.command);
    EXPECT_EQ(status(), row.status);
    expectOwnSet();
    EXPECT_EQ(tVal, setPoint);
    EXPECT_EQ(spinValue("NUMTeachValue"), setPoint);
}

INSTANTIATE_TEST_SUITE_P(Answers, BadAnswerTest, ::testing::ValuesIn(badAnswerRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ParameterSafetyTest, PortChangeToASilentSensor) {
    kvexsim::SensorSim *silent = nullptr;
    connectWithOwnSet(&silent);
    silent->setFault(5, {kvexsim::FaultKind::Silence, 1, 0.0, -1});
    choosePort(2);
    EXPECT_EQ(status(), "Timeout-RS-232...");
    expectOwnSet();
}

TEST_F(ParameterSafetyTest, PortChangeToAPortThatCannotOpen) {
    connectWithOwnSet();
    bindPortDevice(2, "/dev/kvex-no-such-device", "gone");
    // The port list was filled at start-up; give it the entry as a new adapter would.
    find<QComboBox>("DropDCom")->addItem("2: gone", 2);
    choosePort(2);
    EXPECT_TRUE(status().startsWith("Cannot open port: no such device /dev/kvex-no-such-device"))
        << status().toStdString();
    expectOwnSet();
}

TEST_F(ParameterSafetyTest, PortChangeWhoseParameterReadFails) {
    kvexsim::SensorSim *other = nullptr;
    connectWithOwnSet(&other);
    other->setFault(2, {kvexsim::FaultKind::Short, 3});
    choosePort(2);
    EXPECT_EQ(other->requests().size(), 4u);
    expectOwnSet();
}

} // namespace
