// The serial services over a real pseudo-terminal: queue counts, callback delivery, time-outs.
#include "platform/qtaccess.h"
#include "platform/rs232.h"
#include "platform/utility.h"
#include "sim/sensorsim.h"

#include <QSerialPort>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kPort = 3;

int callbackCalls = 0;
int callbackEvents = 0;
int nestedCalls = 0;
bool inCallback = false;

void countingCallback(int, int events, void *) {
    if (inCallback)
        ++nestedCalls;
    inCallback = true;
    ++callbackCalls;
    callbackEvents = events;
    char frame[36];
    ComRd(kPort, frame, 36);
    // A callback that pumps events itself must not be entered again meanwhile, though further
    // frames arrive while it runs.
    const double end = Timer() + 0.1;
    while (Timer() < end)
        ProcessSystemEvents();
    inCallback = false;
}

class SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        callbackCalls = nestedCalls = callbackEvents = 0;
        ASSERT_TRUE(sensor.openPty());
        sensor.start();
        bindPortDevice(kPort, sensor.devicePath());
        ASSERT_EQ(OpenComConfig(kPort, "", 19200, 0, 8, 1, 4096, 4096), 0);
    }
    void TearDown() override {
        CloseCom(kPort);
        bindPortDevice(kPort, "");
        sensor.stop();
    }

    void sendEcho() {
        const kvexsim::Frame frame = kvexsim::buildFrame(0x55, 5, kvexsim::Words{1, 2, 3});
        ASSERT_EQ(ComWrt(kPort, reinterpret_cast<const char *>(frame.data()), 36), 36);
    }

    kvexsim::SensorSim sensor;
};

TEST_F(SerialTest, WrittenBytesLeaveWithoutPumpingEvents) {
    sendEcho();
    ASSERT_TRUE(sensor.waitForRequests(1, 2.0));
    EXPECT_EQ(sensor.requests().front().command(), 5);
    EXPECT_EQ(sensor.requests().front().word(2), 3);
}

TEST_F(SerialTest, InQueueLengthCountsArrivedBytesWithoutRunningTheCallback) {
    ASSERT_EQ(InstallComCallback(kPort, LWRS_RECEIVE, 36, 0x55, countingCallback, nullptr), 0);
    sendEcho();
    const double end = Timer() + 2.0;
    int waiting = 0;
    while (waiting < 36 && Timer() < end)
        waiting = GetInQLen(kPort);
    EXPECT_EQ(waiting, 36);
    EXPECT_EQ(callbackCalls, 0);

    ProcessSystemEvents();
    EXPECT_EQ(callbackCalls, 1);
    EXPECT_EQ(callbackEvents & LWRS_RECEIVE, LWRS_RECEIVE);
    EXPECT_EQ(GetInQLen(kPort), 0);
}

TEST_F(SerialTest, CallbackIsNeverNestedAndNeverRunsInsideSerialCalls) {
    ASSERT_EQ(InstallComCallback(kPort, LWRS_RECEIVE, 36, 0x55, countingCallback, nullptr), 0);
    sendEcho();
    sendEcho();
    sendEcho();
    // ComRd waits for data itself; it must not hand the bytes to the callback.
    char first[36];
    ASSERT_EQ(ComRd(kPort, first, 36), 36);
    EXPECT_EQ(callbackCalls, 0);
    const double end = Timer() + 2.0;
    while (callbackCalls < 2 && Timer() < end)
        ProcessSystemEvents();
    EXPECT_EQ(callbackCalls, 2);
    EXPECT_EQ(nestedCalls, 0);
}

TEST_F(SerialTest, DisarmedCallbackGetsNothing) {
    ASSERT_EQ(InstallComCallback(kPort, LWRS_RECEIVE, 36, 0x55, countingCallback, nullptr), 0);
    ASSERT_EQ(InstallComCallback(kPort, 0, 36, 0x55, nullptr, nullptr), 0);
    sendEcho();
    const double end = Timer() + 0.3;
    while (Timer() < end)
        ProcessSystemEvents();
    EXPECT_EQ(callbackCalls, 0);
    EXPECT_EQ(GetInQLen(kPort), 36);

    // Re-arming with enough bytes waiting delivers them.
    ASSERT_EQ(InstallComCallback(kPort, LWRS_RECEIVE, 36, 0x55, countingCallback, nullptr), 0);
    ProcessSystemEvents();
    EXPECT_EQ(callbackCalls, 1);
}

TEST_F(SerialTest, ReadGivesUpAfterThePortTimeout) {
    ASSERT_EQ(SetComTime(kPort, 0.3), 0);
    char buffer[36];
    const double start = Timer();
    EXPECT_EQ(ComRd(kPort, buffer, 36), 0);
    const double took = Timer() - start;
    EXPECT_GE(took, 0.29);
    EXPECT_LT(took, 1.5);
}

TEST_F(SerialTest, FlushInQDiscardsWhatTheSystemStillHolds) {
    sendEcho();
    ASSERT_TRUE(sensor.waitForRequests(1, 2.0));
    // Wait for the whole answer without letting the port read it.
    const double end = Timer() + 1.0;
    while (sensor.answersSent() < 1 && Timer() < end)
        Delay(0.005);
    Delay(0.05);
    EXPECT_EQ(FlushInQ(kPort), 0);
    EXPECT_EQ(GetInQLen(kPort), 0);
}

TEST_F(SerialTest, ClosedAndUnknownPorts) {
    EXPECT_EQ(CloseCom(kPort), 0);
    EXPECT_EQ(CloseCom(kPort), 0);
    char byte = 0;
    EXPECT_EQ(ComWrt(kPort, &byte, 1), kComPortNotOpen);
    EXPECT_EQ(ComRd(kPort, &byte, 1), kComPortNotOpen);
    EXPECT_EQ(GetInQLen(kPort), kComPortNotOpen);
    EXPECT_EQ(OpenComConfig(0, "", 19200, 0, 8, 1, 4096, 4096), kComInvalidPortNumber);
    EXPECT_EQ(OpenComConfig(1001, "", 19200, 0, 8, 1, 4096, 4096), kComInvalidPortNumber);
    EXPECT_EQ(OpenComConfig(900, "", 19200, 0, 8, 1, 4096, 4096) < 0, true);
    EXPECT_EQ(OpenComConfig(kPort, "", 19200, 0, 9, 1, 4096, 4096), kComInvalidParameter);
    bindPortDevice(7, "/dev/kvex-no-such-device");
    EXPECT_EQ(OpenComConfig(7, "", 19200, 0, 8, 1, 4096, 4096), kComCannotOpenPort);
    bindPortDevice(7, "");
}

TEST_F(SerialTest, PassingErrorsKeepThePortAndAStormClosesIt) {
    QSerialPort *port = kvexplatform::serialPort(kPort);
    ASSERT_NE(port, nullptr);
    // A full buffer or a read under a flushed queue reports one error and goes on.
    emit port->errorOccurred(QSerialPort::ResourceError);
    emit port->errorOccurred(QSerialPort::ReadError);
    ProcessSystemEvents();
    sendEcho();
    ASSERT_TRUE(sensor.waitForRequests(1, 2.0));
    // A vanished device repeats its errors as long as the port is open.
    for (int i = 0; i < 50; ++i)
        emit port->errorOccurred(QSerialPort::ReadError);
    ProcessSystemEvents();
    char byte = 0;
    EXPECT_EQ(ComWrt(kPort, &byte, 1), kComPortNotOpen);
    EXPECT_EQ(kvexplatform::serialPort(kPort), nullptr);
}

TEST(TimingTest, TimerIsMonotonicAndDelayBlocks) {
    const double a = Timer();
    Delay(0.05);
    const double b = Timer();
    EXPECT_GE(b - a, 0.049);
    EXPECT_GE(Timer(), b);
}

} // namespace
