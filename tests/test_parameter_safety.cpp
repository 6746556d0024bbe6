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
