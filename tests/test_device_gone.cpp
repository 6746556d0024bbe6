// The serial device vanishes (adapter pulled, sensor's pseudo-terminal closed): no crash, no
// spinning, loops end with their time-out text, and choosing the port again reconnects.
#include "app/K-VEX-RTN-RedozU15.h"
#include "com232/rs232link.h"
#include "platform/rs232.h"
#include "platform/utility.h"
#include "program_fixture.h"

#include <QComboBox>
#include <QFileInfo>
#include <QTimer>

#include <ctime>

namespace {

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

class DeviceGoneTest : public ProgramTest {
  protected:
    kvexsim::SensorSim &connect() {
        kvexsim::SensorSim &sensor = startSensor("standard");
        EXPECT_TRUE(startProgram());
        EXPECT_EQ(status().trimmed(), "KVEX-RTN FW 2.20 standard");
        return sensor;
    }

    // Runs a live loop, pulls the device after a few passes, and measures the rest.
    void pullDuringLoop(const char *button) {
        kvexsim::SensorSim &sensor = connect();
        double pulledAt = 0, cpuAtPull = 0;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (pulledAt == 0 && sensor.requests().size() >= 8) {
                sensor.hangUp();
                pulledAt = Timer();
                cpuAtPull = threadCpuSeconds();
            }
        });
        poll.start(5);
        click(button);
        poll.stop();
        ASSERT_GT(pulledAt, 0);
        const double after = Timer() - pulledAt;
        EXPECT_EQ(status(), "Timeout RS232-Line!");
        EXPECT_GE(after, 1.4);
        // Video mode still waits out the blocks of the pass it was in, then the next request.
        EXPECT_LT(after, 8.0);
        // Waiting on a dead line must not spin a core.
        EXPECT_LT((threadCpuSeconds() - cpuAtPull) / after, 0.5);
        EXPECT_EQ(stop_flag, 1);
        EXPECT_EQ(exchangeDepth, 0);
    }

    void choosePortOne() {
        auto *ports = find<QComboBox>("DropDCom");
        const int index = ports->findData(1);
        ASSERT_GE(index, 0);
        emit ports->activated(index);
    }
};

TEST_F(DeviceGoneTest, WhileIdleLaterRequestsTimeOutQuietly) {
    kvexsim::SensorSim &sensor = connect();
    sensor.hangUp();
    waitUntil([] { return false; }, 0.2);
    const double cpu = threadCpuSeconds(), start = Timer();
    click("BTNGet");
    const double took = Timer() - start;
    EXPECT_EQ(status(), "Timeout-RS-232...");
    EXPECT_GE(took, 1.5);
    EXPECT_LT((threadCpuSeconds() - cpu) / took, 0.5);
    EXPECT_EQ(ComWrt(com, "x", 1), kComPortNotOpen);
}

TEST_F(DeviceGoneTest, DuringAParameterReadTheReadTimesOut) {
    kvexsim::SensorSim &sensor = connect();
    sensor.setFault(2, {kvexsim::FaultKind::Late, 1, 1.0, 1});
    later(0.2, [&] { sensor.hangUp(); });
    click("BTNGet");
    EXPECT_EQ(status(), "Timeout-RS-232...");
}

TEST_F(DeviceGoneTest, DuringRunModeTheLoopEndsWithItsTimeout) {
    pullDuringLoop("BTNRun");
}

TEST_F(DeviceGoneTest, DuringVideoModeTheLoopEndsWithItsTimeout) {
    pullDuringLoop("BTNVideo");
}

TEST_F(DeviceGoneTest, ChoosingThePortAgainReconnectsOnceTheDeviceIsBack) {
    kvexsim::SensorSim &sensor = connect();
    sensor.hangUp();
    waitUntil([] { return false; }, 0.2);
    // Still gone: the port cannot be opened, and the program says so. Tests running beside this
    // one may already have a new pseudo-terminal under the freed name, and then what opening it
    // shows (in use, silent, another simulator's sensor) is theirs, not this test's.
    const QString gone = QString::fromStdString(portDevicePath(1));
    choosePortOne();
    if (!status().startsWith("Cannot open port: no such device " + gone))
        EXPECT_TRUE(QFileInfo::exists(gone)) << status().toStdString();

    ASSERT_TRUE(sensor.openPty());
    sensor.start();
    bindPortDevice(1, sensor.devicePath());
    sensor.clearRequests();
    choosePortOne();
    EXPECT_EQ(status().trimmed(), "KVEX-RTN FW 2.20 standard");
    EXPECT_EQ(commands(), (std::vector<int>{5, 10, 2, 7}));
}

} // namespace
