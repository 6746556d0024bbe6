// The sensor link over a pseudo-terminal: frames on the wire, unpacking, the receive callback
// and the line check.
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "platform/rs232.h"
#include "platform/utility.h"
#include "sim/sensorsim.h"

#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kPort = 4;

void setStartValues() {
    power = 500;
    pMode = 0;
    vThd = 512;
    anaMode = 0;
    polarity = 1;
    eMode = 1;
    eBeg = 1;
    eEnd = 1024;
    tVal = 512;
    tTol = 100;
    opMode = 0;
    eHardware = 1;
    para12 = para13 = average = para15 = 0;
}

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setStartValues();
        ASSERT_TRUE(sensor.openPty());
        sensor.start();
        bindPortDevice(kPort, sensor.devicePath());
        com = kPort;
        ASSERT_EQ(OpenComConfig(kPort, "", 19200, 0, 8, 1, 4096, 4096), 0);
        SetComTime(kPort, 2.0);
        InstallComCallback(kPort, eventMask, 36, com232::sync, RX_Receive_Function, nullptr);
        rx_flag = graphrefresh = 0;
    }
    void TearDown() override {
        CloseCom(kPort);
        bindPortDevice(kPort, "");
        sensor.stop();
        com = 1;
    }

    kvexsim::SensorSim sensor;
};

TEST(FrameTest, EchoRequestOfTheStartValues) {
    setStartValues();
    com232::sync = 0x55;
    CopyVarsToPP();
    FillTxBuf(5, pp);
    const unsigned char expected[36] = {0x00, 0x55, 0x00, 0x05, 0x01, 0xF4, 0x00, 0x00, 0x02,
                                        0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01,
                                        0x04, 0x00, 0x02, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00,
                                        0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(szWriteBuf, expected, 36), 0);
}

TEST(FrameTest, UnpackingIsUnsignedAndHighByteFirst) {
    const unsigned char frame[36] = {0x00, 0xAA, 0x00, 0x02, 0xFF, 0xFE, 0x80, 0x00, 0x01, 0x02};
    std::memcpy(szReadBuf, frame, sizeof frame);
    GetRxBuf(PNUM);
    EXPECT_EQ(pp[0], 65534);
    EXPECT_EQ(pp[1], 0x8000);
    EXPECT_EQ(pp[2], 0x0102);
    EXPECT_EQ(pp[3], 0);
}

TEST(FrameTest, ParameterCopiesMoveAllSixteenWordsUnchanged) {
    for (int i = 0; i < PNUM; ++i)
        pp[i] = static_cast<unsigned short>(65535 - i * 1000);
    CopyPPtoVars();
    EXPECT_EQ(power, 65535);
    EXPECT_EQ(eHardware, 65535 - 11000);
    EXPECT_EQ(para15, 65535 - 15000);
    std::memset(pp, 0, sizeof pp);
    CopyVarsToPP();
    for (int i = 0; i < PNUM; ++i)
        EXPECT_EQ(pp[i], 65535 - i * 1000) << i;
}

TEST_F(LinkTest, LineCheckWithCorrectEcho) {
    EXPECT_EQ(CheckComLine(kPort), 1);
    EXPECT_STREQ(szStatus, "Echo Check - Line Ok!");
    EXPECT_EQ(pp[0], 0x00AA);
    ASSERT_EQ(sensor.requests().size(), 1u);
    CopyVarsToPP();
    FillTxBuf(5, pp);
    EXPECT_EQ(std::memcmp(sensor.requests()[0].bytes.data(), szWriteBuf, 36), 0);
}

TEST_F(LinkTest, LineCheckWithWrongSyncWord) {
    sensor.setFault(5, {kvexsim::FaultKind::WrongSync});
    EXPECT_EQ(CheckComLine(kPort), 0);
    EXPECT_STREQ(szStatus, "read error - not sync byte 0xAA!");
    EXPECT_EQ(rx_flag, 1);
}

TEST_F(LinkTest, LineCheckOfASilentSensorTimesOut) {
    sensor.setFault(5, {kvexsim::FaultKind::Silence});
    const double start = Timer();
    EXPECT_EQ(CheckComLine(kPort), 0);
    const double took = Timer() - start;
    EXPECT_STREQ(szStatus, "Timeout-RS-232...");
    EXPECT_GE(took, 1.5);
    EXPECT_LT(took, 2.5);
}

TEST_F(LinkTest, ShortFrameNeverReachesTheCallback) {
    sensor.setFault(5, {kvexsim::FaultKind::Short, 1});
    EXPECT_EQ(CheckComLine(kPort), 0);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_STREQ(szStatus, "Timeout-RS-232...");
    EXPECT_EQ(GetInQLen(kPort), 35);
    // The next requester flushes the stray bytes and gets its own answer.
    EXPECT_EQ(CheckComLine(kPort), 1);
}

TEST_F(LinkTest, CallbackTakesTheFrameAndDiscardsBytesBeyondIt) {
    sensor.setPaced(false);
    sensor.setFault(5, {kvexsim::FaultKind::Extra, 20});
    EXPECT_EQ(CheckComLine(kPort), 1);
    EXPECT_EQ(pp[0], 0x00AA);
    EXPECT_EQ(pp[4], 1);    // polarity, echoed
    EXPECT_EQ(pp[7], 1024); // eEnd, echoed
    EXPECT_EQ(graphrefresh, 1);
    EXPECT_EQ(GetInQLen(kPort), 0);
}

TEST_F(LinkTest, EchoArrivingInThePassThatTimesOutDecidesTheResult) {
    // The first pass of the wait is held up past the limit while the echo arrives, so the
    // time-out and the echo come in the same pass.
    QTimer::singleShot(0, [] { Delay(1.7); });
    EXPECT_EQ(CheckComLine(kPort), 1);
    EXPECT_STREQ(szStatus, "Echo Check - Line Ok!");
    EXPECT_GT(tdiff, TIMEOUT);
}

TEST_F(LinkTest, FrameArrivingAfterItsRequesterGaveUpIsStillUnpacked) {
    sensor.setFault(5, {kvexsim::FaultKind::Late, 1, 1.7});
    EXPECT_EQ(CheckComLine(kPort), 0);
    EXPECT_STREQ(szStatus, "Timeout-RS-232...");
    pp[0] = 0;
    graphrefresh = 0;
    const double end = Timer() + 2.0;
    while (rx_flag == 0 && Timer() < end)
        ProcessSystemEvents();
    EXPECT_EQ(rx_flag, 1);
    EXPECT_EQ(graphrefresh, 1);
    EXPECT_EQ(pp[0], 500); // the echo's data word 0: power
    EXPECT_EQ(pp[7], 1024);
}

// The connection sequence pauses for the sensor after each answered step without holding up the
// program's events: a timer keeps firing through every pause.
TEST(ConnectionSequenceTest, TheEventLoopIsServedDuringEveryPause) {
    kvexsim::SensorSim sensor;
    ASSERT_TRUE(sensor.openPty());
    sensor.start();
    bindPortDevice(kPort, sensor.devicePath());
    setStartValues();
    com = kPort;
    // Per firing: the requests the sensor had and the answers it had sent by then.
    std::vector<std::pair<size_t, size_t>> firings;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout,
                     [&] { firings.emplace_back(sensor.requests().size(), sensor.answersSent()); });
    timer.start();
    const int outcome = InitRS232(kPort);
    timer.stop();
    CloseCom(kPort);
    bindPortDevice(kPort, "");
    sensor.stop();
    com = 1;
    ASSERT_EQ(outcome, LINK_OK) << szStatus;
    const struct {
        const char *after;
        size_t steps;
    } pauses[] = {{"the line check", 1}, {"the hardware info", 2}, {"reading RAM", 3}};
    for (const auto &pause : pauses) {
        SCOPED_TRACE(pause.after);
        // A pause of 100 ms holds some twenty firings; a blocked loop leaves only the few of the
        // step's own wait for surplus bytes (20 ms).
        const auto during =
            std::count(firings.begin(), firings.end(), std::make_pair(pause.steps, pause.steps));
        EXPECT_GE(during, 10);
    }
}

TEST(PortErrorTest, PortsWithoutADeviceGiveTheLibraryCodeAndItsText) {
    bindPortDevice(6, "/dev/kvex-no-such-device");
    InitRS232(6);
    EXPECT_EQ(ret, kComCannotOpenPort);
    EXPECT_STREQ(szStatus, "Cannot open port");
    bindPortDevice(6, "");

    InitRS232(0);
    EXPECT_EQ(ret, kComInvalidPortNumber);
    EXPECT_STREQ(szStatus, "Invalid port number");

    InitRS232(999);
    EXPECT_LT(ret, 0);
    EXPECT_STREQ(szStatus, comErrorText(ret));
}

TEST(PortErrorTest, ErrorTextsOfTheCodes) {
    const struct {
        int code;
        const char *text;
    } rows[] = {{-1, "Unknown system error"},
                {-2, "Invalid port number"},
                {-3, "Port is not open"},
                {-4, "Unknown I/0 error"},
                {-5, "RS-232 error!"},
                {-6, "No serial port found"},
                {-7, "Cannot open port"},
                {-8, "RS-232 error!"},
                {-12, "RS-232 error!"},
                {-13, "Invalid parameter"},
                {-99, "Timeout"},
                {-50, "RS-232 error!"}};
    for (const auto &row : rows)
        EXPECT_STREQ(comErrorText(row.code), row.text) << row.code;
}

} // namespace

namespace {

TEST(StandaloneSimulatorTest, AnswersTheProgramsLineCheckOverItsPseudoTerminal) {
    QProcess simulator;
    simulator.start(KVEX_SENSOR_SIM_PATH, {"--profile", "type101"});
    ASSERT_TRUE(simulator.waitForStarted(5000));
    ASSERT_TRUE(simulator.waitForReadyRead(5000));
    const QString line = QString::fromLocal8Bit(simulator.readLine()).trimmed();
    const QString device = line.section(" on ", -1);
    ASSERT_TRUE(device.startsWith("/dev/")) << line.toStdString();

    bindPortDevice(kPort, device.toStdString());
    com = kPort;
    ASSERT_EQ(OpenComConfig(kPort, "", 19200, 0, 8, 1, 4096, 4096), 0);
    InstallComCallback(kPort, eventMask, 36, com232::sync, RX_Receive_Function, nullptr);
    EXPECT_EQ(CheckComLine(kPort), 1);
    EXPECT_STREQ(szStatus, "Echo Check - Line Ok!");
    CloseCom(kPort);
    bindPortDevice(kPort, "");
    com = 1;
    simulator.terminate();
    EXPECT_TRUE(simulator.waitForFinished(5000));
}

} // namespace
