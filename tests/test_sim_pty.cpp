// Tests of the simulated sensor over a real pseudo-terminal: bytes, pacing, faults, the program.
#include "sim/sensorsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

using namespace kvexsim;

namespace {

using Bytes = std::vector<uint8_t>;

const Words kEchoWords{500, 0, 512, 0, 1, 1, 1, 1024, 512, 100, 0, 1, 0, 0, 0, 0};

struct Received {
    Bytes bytes;
    double firstByteTime = 0.0;
    double lastByteTime = 0.0;
};

// Reads until `count` bytes came or `timeout` seconds passed, noting when bytes arrived.
Received readBytes(int fd, std::size_t count, double timeout) {
    Received r;
    const double deadline = steadySeconds() + timeout;
    while (r.bytes.size() < count) {
        const double left = deadline - steadySeconds();
        if (left <= 0.0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, std::max(1, static_cast<int>(left * 1000.0))) <= 0)
            continue;
        uint8_t buffer[1024];
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - r.bytes.size()));
        if (n <= 0)
            break;
        const double now = steadySeconds();
        if (r.bytes.empty())
            r.firstByteTime = now;
        r.lastByteTime = now;
        r.bytes.insert(r.bytes.end(), buffer, buffer + n);
    }
    return r;
}

bool writeAll(int fd, const uint8_t *data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeFrame(int fd, const Frame &frame) {
    return writeAll(fd, frame.data(), frame.size());
}

Bytes answerBytes(uint16_t command, const Words &data) {
    const Frame f = buildFrame(kAnswerSync, command, data);
    return Bytes(f.begin(), f.end());
}

int openPort(const std::string &path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

class SimPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim.openPty());
        ASSERT_EQ(sim.devicePath().rfind("/dev/", 0), 0u) << sim.devicePath();
        sim.start();
        fd = openPort(sim.devicePath());
        ASSERT_GE(fd, 0) << sim.devicePath();
    }
    void TearDown() override {
        if (fd >= 0)
            close(fd);
    }

    SensorSim sim;
    int fd = -1;
};

} // namespace

TEST_F(SimPty, PacedEchoTakesTheWireTimeOfRequestAndAnswer) {
    const double sent = steadySeconds();
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 5, kEchoWords)));
    const Received r = readBytes(fd, kFrameSize, 2.0);
    EXPECT_EQ(r.bytes, answerBytes(5, kEchoWords));
    ASSERT_TRUE(sim.waitForRequests(1, 1.0));
    const std::vector<Request> requests = sim.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].command(), 5);
    EXPECT_EQ(requests[0].word(0), 500);
    EXPECT_GE(requests[0].time - sent, kFrameSize * kByteTime);
    EXPECT_GE(r.firstByteTime - requests[0].time, kByteTime);
    EXPECT_GE(r.lastByteTime - requests[0].time, kFrameSize * kByteTime);
    EXPECT_GE(r.lastByteTime - sent, 2 * kFrameSize * kByteTime);
    // Generous, so a loaded machine does not fail it; pacing is about the lower bound.
    EXPECT_LT(r.lastByteTime - sent, 0.5);
    EXPECT_TRUE(sim.waitForAnswers(1, 1.0));
    EXPECT_EQ(sim.answersSent(), 1u);
}

TEST_F(SimPty, UnpacedAnswersAtOnce) {
    sim.setPaced(false);
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 2, {})));
    const Received r = readBytes(fd, kFrameSize, 2.0);
    EXPECT_EQ(r.bytes, answerBytes(2, defaultParameterSet()));
}

TEST_F(SimPty, GarbageBeforeAFrameIsSkipped) {
    const Bytes noise{0x13, 0x00, 0x00, 0xAA, 0x55};
    ASSERT_TRUE(writeAll(fd, noise.data(), noise.size()));
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 5, kEchoWords)));
    EXPECT_EQ(readBytes(fd, kFrameSize, 2.0).bytes, answerBytes(5, kEchoWords));
}

TEST_F(SimPty, AnswersGoOutInOrderOfTheRequests) {
    const Frame echo = buildFrame(kRequestSync, 5, kEchoWords);
    const Frame read = buildFrame(kRequestSync, 4, {});
    Bytes both(echo.begin(), echo.end());
    both.insert(both.end(), read.begin(), read.end());
    ASSERT_TRUE(writeAll(fd, both.data(), both.size()));
    const Received r = readBytes(fd, 2 * kFrameSize, 2.0);
    Bytes expected = answerBytes(5, kEchoWords);
    const Bytes second = answerBytes(4, defaultParameterSet());
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(r.bytes, expected);
    const auto requests = sim.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_GE(requests[1].time - requests[0].time, kFrameSize * kByteTime - 1e-9);
    EXPECT_GE(r.lastByteTime - requests[0].time, 2 * kFrameSize * kByteTime);
}

TEST_F(SimPty, WritesReachTheSensorsStores) {
    const Words set{700, 1, 300, 2, 0, 3, 10, 900, 450, 20, 1, 2, 12, 13, 64, 15};
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 1, set)));
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 2, {})));
    EXPECT_EQ(readBytes(fd, kFrameSize, 2.0).bytes, answerBytes(2, set));
    EXPECT_EQ(sim.ram(), set);
    EXPECT_EQ(sim.eeprom(), defaultParameterSet());
}

TEST_F(SimPty, SilenceFaultSwallowsOneAnswer) {
    sim.setFault(5, Fault{FaultKind::Silence});
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 5, kEchoWords)));
    ASSERT_TRUE(sim.waitForRequests(1, 1.0));
    // A paced echo would be complete 36 byte times (19 ms) after the request.
    EXPECT_TRUE(readBytes(fd, 1, 0.15).bytes.empty());
    EXPECT_EQ(sim.answersSent(), 0u);
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 5, kEchoWords)));
    EXPECT_EQ(readBytes(fd, kFrameSize, 2.0).bytes, answerBytes(5, kEchoWords));
    EXPECT_EQ(sim.requests().size(), 2u);
    EXPECT_TRUE(sim.waitForAnswers(1, 1.0));
    EXPECT_EQ(sim.answersSent(), 1u);
}

TEST_F(SimPty, LateFaultDelaysTheAnswer) {
    Fault late{FaultKind::Late};
    late.delay = 0.2;
    sim.setFault(2, late);
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 2, {})));
    const Received r = readBytes(fd, kFrameSize, 2.0);
    EXPECT_EQ(r.bytes, answerBytes(2, defaultParameterSet()));
    ASSERT_EQ(sim.requests().size(), 1u);
    EXPECT_GE(r.firstByteTime - sim.requests()[0].time, 0.2);
    EXPECT_GE(r.lastByteTime - sim.requests()[0].time, 0.2 + kFrameSize * kByteTime);
}

TEST_F(SimPty, ShortAndWrongSyncFaultsReachTheWire) {
    sim.setFault(10, Fault{FaultKind::Short, 3});
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 10, {})));
    // Once the answer counts as sent, all that will ever come of it is waiting to be read.
    ASSERT_TRUE(sim.waitForAnswers(1, 2.0));
    EXPECT_EQ(readBytes(fd, kFrameSize, 0.05).bytes.size(), kFrameSize - 3);
    sim.setFault(5, Fault{FaultKind::WrongSync});
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 5, kEchoWords)));
    const Bytes bytes = readBytes(fd, kFrameSize, 2.0).bytes;
    ASSERT_EQ(bytes.size(), kFrameSize);
    EXPECT_EQ(wordAt(bytes.data(), 0), kFaultSync);
}

TEST_F(SimPty, RawBlocksOfFirmwareAndVideo) {
    sim.setProfile(*findProfile("type102-220"));
    sim.setPaced(false);
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 7, {})));
    const Bytes firmware = readBytes(fd, kFirmwareSize, 2.0).bytes;
    ASSERT_EQ(firmware.size(), kFirmwareSize);
    EXPECT_EQ(firmware[0], 'K');
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 11, {})));
    EXPECT_EQ(readBytes(fd, 2 * kVideoSamples, 2.0).bytes.size(), 2u * kVideoSamples);
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 10, {})));
    const Bytes hardware = readBytes(fd, kFrameSize, 2.0).bytes;
    ASSERT_EQ(hardware.size(), kFrameSize);
    EXPECT_EQ(wordAt(hardware.data(), 2), 102);
    EXPECT_EQ(wordAt(hardware.data(), 5), 400);
}

TEST_F(SimPty, FrozenObjectShowsInTheMeasurement) {
    sim.setObject(250, 650);
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 8, {})));
    const Bytes bytes = readBytes(fd, kFrameSize, 2.0).bytes;
    ASSERT_EQ(bytes.size(), kFrameSize);
    EXPECT_EQ(wordAt(bytes.data(), 2 + kMeasLeftEdge), 250);
    EXPECT_EQ(wordAt(bytes.data(), 2 + kMeasRightEdge), 650);
    EXPECT_EQ(wordAt(bytes.data(), 2 + kMeasEdgeCount), 2);
}

TEST_F(SimPty, DeviceSurvivesTheProgramClosingAndReopeningIt) {
    close(fd);
    fd = openPort(sim.devicePath());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 5, kEchoWords)));
    EXPECT_EQ(readBytes(fd, kFrameSize, 2.0).bytes, answerBytes(5, kEchoWords));
}

TEST_F(SimPty, HangUpLeavesTheProgramWithADeadLine) {
    sim.hangUp();
    EXPECT_FALSE(sim.running());
    pollfd pfd{fd, POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 1000), 1);
    EXPECT_TRUE(pfd.revents & (POLLHUP | POLLERR));
    uint8_t byte = 0;
    EXPECT_LE(read(fd, &byte, 1), 0);
}

TEST_F(SimPty, WaitForRequestsTimesOutAndStopIsPrompt) {
    EXPECT_FALSE(sim.waitForRequests(1, 0.05));
    const double before = steadySeconds();
    sim.stop();
    EXPECT_LT(steadySeconds() - before, 0.25);
    EXPECT_FALSE(sim.running());
}

namespace {

// The standalone program, started and stopped from inside the test.
class SimProgram {
  public:
    explicit SimProgram(std::vector<std::string> args) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        // Usage texts of the bad-argument cases would only clutter the test log.
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        args.insert(args.begin(), KVEX_SENSOR_SIM_PATH);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, KVEX_SENSOR_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        out_ = pipeFds[0];
    }
    ~SimProgram() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    std::string readLine(double timeout) {
        std::string line;
        while (line.empty() || line.back() != '\n') {
            const Received r = readBytes(out_, 1, timeout);
            if (r.bytes.empty())
                break;
            line.push_back(static_cast<char>(r.bytes[0]));
        }
        return line;
    }

    void sendSignal(int signal) { kill(pid_, signal); }

    int waitForExit() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

} // namespace

TEST(SimProgram, ServesAPseudoTerminalUntilSigterm) {
    SimProgram program(
        {"--profile", "type103", "--fault", "10:wrong-command", "--adapter", "ftdi"});
    const std::string line = program.readLine(5.0);
    const std::string prefix = "kvex-sensor-sim: sensor \"type103\" on ";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    const std::string path = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    const int fd = openPort(path);
    ASSERT_GE(fd, 0) << path;
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 5, kEchoWords)));
    EXPECT_EQ(readBytes(fd, kFrameSize, 2.0).bytes, answerBytes(5, kEchoWords));
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 10, {})));
    const Bytes hardware = readBytes(fd, kFrameSize, 2.0).bytes;
    ASSERT_EQ(hardware.size(), kFrameSize);
    EXPECT_EQ(wordAt(hardware.data(), 1), 11);
    EXPECT_EQ(wordAt(hardware.data(), 2), 103);
    close(fd);
    program.sendSignal(SIGTERM);
    EXPECT_EQ(program.waitForExit(), 0);
}

TEST(SimProgram, BadArgumentsExitWithCode2) {
    const std::vector<std::vector<std::string>> cases{
        {"--bogus"},
        {"--profile", "no-such-sensor"},
        {"--profile"},
        {"--fault", "5"},
        {"--fault", "5:sometimes"},
        {"--fault", "x:silence"},
        {"--fault", "5:silence:3"},
        {"--random-faults", "1.5:7"},
        {"--random-faults", "0.5"},
        {"--unpaced=yes"},
        {"--adapter", "usb"},
        {"--speed", "0"},
        {"--speed", "fast"},
        {"--replay"},
    };
    for (const auto &args : cases) {
        SimProgram program(args);
        EXPECT_EQ(program.waitForExit(), 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    }
}

// The program plays a recording back: a file it cannot use ends it with code 1 and the reason, a
// recording is said with its rows and answers the measurement request.
TEST(SimProgram, ReplaysARecording) {
    SimProgram missing({"--replay", testing::TempDir() + "no-such-recording.csv"});
    EXPECT_EQ(missing.waitForExit(), 1);

    const std::string path = testing::TempDir() + "replay-program.csv";
    std::FILE *file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("time (UTC),left edge (units),right edge (units),measured value (units),"
               "measured value (µm),tolerance (units),in tolerance,analogue max,analogue min,"
               "set-point (units)\n"
               "2026-12-08T10:00:00.000Z,321,654,654,,77,out,654,654,500\n",
               file);
    std::fclose(file);
    SimProgram program({"--replay", path, "--speed", "4"});
    const std::string line = program.readLine(5.0);
    const std::string prefix = "kvex-sensor-sim: sensor \"standard\" on ";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    EXPECT_EQ(program.readLine(5.0).rfind("kvex-sensor-sim: replaying 1 rows and 0 video lines", 0),
              0u);
    const int fd = openPort(line.substr(prefix.size(), line.size() - prefix.size() - 1));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(writeFrame(fd, buildFrame(kRequestSync, 8, {})));
    const Bytes answer = readBytes(fd, kFrameSize, 2.0).bytes;
    ASSERT_EQ(answer.size(), kFrameSize);
    EXPECT_EQ(wordAt(answer.data(), 2 + kMeasLeftEdge), 321);
    EXPECT_EQ(wordAt(answer.data(), 2 + kMeasRightEdge), 654);
    EXPECT_EQ(wordAt(answer.data(), 2 + kMeasTolerance), 77);
    EXPECT_EQ(wordAt(answer.data(), 2 + kMeasSetPoint), 500);
    close(fd);
    program.sendSignal(SIGTERM);
    EXPECT_EQ(program.waitForExit(), 0);
    std::remove(path.c_str());
}

TEST(SimProgram, ListsItsProfiles) {
    SimProgram program({"--list-profiles"});
    std::string all;
    for (std::string line = program.readLine(5.0); !line.empty(); line = program.readLine(5.0))
        all += line;
    EXPECT_EQ(program.waitForExit(), 0);
    for (const auto &p : sensorProfiles())
        EXPECT_NE(all.find(p.name), std::string::npos) << p.name;
}
