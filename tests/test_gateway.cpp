// The gateway against a real mosquitto broker and an independent Modbus client, with the
// simulated sensor on a pseudo-terminal; and its Qt-free parts on their own.
#include "gateway/core/backoff.h"
#include "gateway/core/samplequeue.h"
#include "gateway/core/sampletime.h"
#include "gateway/faces/modbus/registermap.h"
#include "gateway/options.h"
#include "gateway/payloads.h"
#include "gateway_fixture.h"
#include "platform/modbusserver.h"
#include "platform/processfigures.h"

#include <QCoreApplication>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <set>

using namespace gatewaytest;

namespace {

TEST_F(GatewayTest, MeasCarriesTheSensorsValuesInOrderAndTheWillSaysOffline) {
    Broker broker(dir);
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), std::string(kPrefix) + "/#");
    ASSERT_TRUE(subscriber.waitSubscribed());
    holdObject(300, 600);
    // The broker and the prefix from the INI file, the way the systemd unit passes them.
    const std::string config =
        writeConfig("[General]\nmqtt=127.0.0.1:" + std::to_string(broker.port()) +
                    "\ntopic-prefix=" + kPrefix + "\n");
    ASSERT_TRUE(startGateway({"--config", config}));
    ASSERT_TRUE(waitFor([&] { return subscriber.messages("/meas").size() >= 15; }, 20.0));
    holdObject(400, 700);
    const std::size_t before = subscriber.messages("/meas").size();
    ASSERT_TRUE(waitFor([&] { return subscriber.messages("/meas").size() >= before + 15; }, 20.0));

    EXPECT_EQ(subscriber.last("/status"), "online");
    const QJsonObject info = jsonObject(subscriber.last("/info"));
    EXPECT_EQ(info["pixels"].toInt(), sensor->profile().ccdmaxpixel);
    EXPECT_EQ(info["device"].toString().toStdString(), sensor->devicePath());
    EXPECT_TRUE(info["pitch_um"].isNull());
    const QJsonObject params = jsonObject(subscriber.last("/params"));
    ASSERT_EQ(params.size(), 16);
    EXPECT_EQ(params["v_thd"].toInt(), sensor->ram()[kvexsim::kParVideoThreshold]);
    EXPECT_EQ(params["t_tol"].toInt(), sensor->ram()[kvexsim::kParTolerance]);

    const kvexsim::Words first = expectedWords(300, 600);
    const kvexsim::Words second = expectedWords(400, 700);
    std::vector<QJsonObject> samples = samplesOf(subscriber.messages("/meas"));
    // Live samples arrive in the order taken; a sample taken before the broker connection was
    // up comes late, flagged.
    int firstLive = 0, lastLive = 0, lastLate = 0;
    for (const QJsonObject &s : samples)
        if (!s.contains("replay")) {
            EXPECT_GT(s["seq"].toInt(), lastLive);
            lastLive = s["seq"].toInt();
            firstLive = firstLive ? firstLive : lastLive;
        } else {
            lastLate = std::max(lastLate, s["seq"].toInt());
        }
    EXPECT_LT(lastLate, firstLive) << "a late sample without an outage";
    std::sort(samples.begin(), samples.end(), [](const QJsonObject &a, const QJsonObject &b) {
        return a["seq"].toInt() < b["seq"].toInt();
    });
    int switches = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const QJsonObject &s = samples[i];
        EXPECT_EQ(s["seq"].toInt(), static_cast<int>(i) + 1);
        const bool isFirst = s["left"].toInt() == first[kvexsim::kMeasLeftEdge];
        const kvexsim::Words &w = isFirst ? first : second;
        EXPECT_EQ(s["left"].toInt(), w[kvexsim::kMeasLeftEdge]) << i;
        EXPECT_EQ(s["right"].toInt(), w[kvexsim::kMeasRightEdge]) << i;
        EXPECT_EQ(s["value"].toInt(), w[kvexsim::kMeasValue]) << i;
        EXPECT_EQ(s["setpoint"].toInt(), w[kvexsim::kMeasSetPoint]) << i;
        EXPECT_EQ(s["tol"].toInt(), w[kvexsim::kMeasTolerance]) << i;
        EXPECT_TRUE(s["um"].isNull());
        EXPECT_EQ(s["ts"].toString().size(), 24);
        if (i > 0 && isFirst != (samples[i - 1]["left"].toInt() == first[kvexsim::kMeasLeftEdge]))
            ++switches;
    }
    EXPECT_EQ(switches, 1) << "the values of the two positions interleave";
    for (const Message &m : subscriber.messages("/meas"))
        EXPECT_FALSE(m.retained);

    gateway.kill(SIGKILL);
    EXPECT_TRUE(waitFor([&] { return subscriber.last("/status") == "offline"; }, 10.0))
        << "the broker did not publish the last will";
}

// The broker goes away mid-run and comes back: every sample that fitted in the queue arrives,
// the late ones flagged; with a queue too small the oldest are dropped and counted.
TEST_F(GatewayTest, BrokerOutageLosesNothingThatFitsTheQueueAndCountsTheRest) {
    struct Case {
        const char *queue;
        bool expectDrops;
    };
    for (const Case &c : {Case{"100000", false}, Case{"10", true}}) {
        SCOPED_TRACE(c.queue);
        const std::string caseDir = makeTempDir();
        Broker broker(caseDir);
        ASSERT_TRUE(broker.start());
        auto subscriber = std::make_unique<Subscriber>(broker.port(), std::string(kPrefix) + "/#");
        ASSERT_TRUE(subscriber->waitSubscribed());
        // QoS 1: a sample counts as delivered only once the broker has it.
        ASSERT_TRUE(
            startGateway({"--mqtt", "127.0.0.1:" + std::to_string(broker.port()), "--topic-prefix",
                          kPrefix, "--meas-qos", "1", "--queue", c.queue}));
        ASSERT_TRUE(waitFor([&] { return subscriber->messages("/meas").size() >= 10; }, 20.0));
        broker.stop();
        // About 50 samples at the wire rate.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        ASSERT_TRUE(broker.start());
        ASSERT_TRUE(waitFor(
            [&] {
                for (const QJsonObject &s : samplesOf(subscriber->messages("/meas")))
                    if (s.contains("replay"))
                        return samplesOf(subscriber->messages("/meas")).back()["seq"].toInt() >
                               s["seq"].toInt() + 20;
                return false;
            },
            30.0))
            << samplesOf(subscriber->messages("/meas")).size() << " samples; broker log:\n"
            << readFile(caseDir + "/mosquitto.log");
        gateway.kill(SIGTERM);
        EXPECT_EQ(gateway.wait(10.0), 0);
        ASSERT_TRUE(waitFor([&] { return subscriber->last("/status") == "offline"; }, 10.0));

        std::map<int, bool> seen; // seq -> flagged replay
        for (const QJsonObject &s : samplesOf(subscriber->messages("/meas")))
            seen[s["seq"].toInt()] = seen[s["seq"].toInt()] || s["replay"].toBool();
        const int last = seen.rbegin()->first;
        int missing = 0, replayed = 0;
        for (int seq = 1; seq <= last; ++seq) {
            missing += seen.count(seq) == 0;
            replayed += seen.count(seq) && seen[seq];
        }
        const QJsonObject info = jsonObject(subscriber->last("/info"));
        if (c.expectDrops) {
            EXPECT_GT(missing, 0);
            // Exactly the dropped samples are missing: the oldest of the outage, in one run.
            EXPECT_EQ(info["dropped"].toInt(), missing);
            int firstMissing = 0, lastMissing = 0;
            for (int seq = 1; seq <= last; ++seq)
                if (!seen.count(seq)) {
                    firstMissing = firstMissing ? firstMissing : seq;
                    lastMissing = seq;
                }
            int replayedAfter = 0;
            for (int seq = lastMissing + 1; seq <= last; ++seq)
                replayedAfter += seen.count(seq) && seen[seq];
            EXPECT_EQ(lastMissing - firstMissing + 1, missing) << "drops not contiguous";
            EXPECT_TRUE(seen.count(lastMissing + 1) && seen[lastMissing + 1])
                << "the oldest sample kept was not replayed: a newer one was dropped first";
            EXPECT_LE(replayedAfter, 10);
        } else {
            EXPECT_EQ(missing, 0);
            EXPECT_EQ(info["dropped"].toInt(), 0);
            EXPECT_GT(replayed, 20);
        }
        for (const Message &m : subscriber->messages("/meas"))
            EXPECT_FALSE(m.retained);
        EXPECT_NE(log().find("backlog sent"), std::string::npos);
        subscriber.reset();
        broker.stop();
        if (!HasFailure())
            std::filesystem::remove_all(caseDir);
    }
}

TEST_F(GatewayTest, SilentSensorIsReportedAndFoundAgainWithSeqGoingOn) {
    Broker broker(dir);
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), std::string(kPrefix) + "/#");
    ASSERT_TRUE(subscriber.waitSubscribed());
    ASSERT_TRUE(startGateway({"--mqtt", "127.0.0.1:" + std::to_string(broker.port()),
                              "--topic-prefix", kPrefix, "--batch", "3"}));
    ASSERT_TRUE(waitFor([&] { return samplesOf(subscriber.messages("/meas")).size() >= 9; }, 20.0));
    kvexsim::Fault silence;
    silence.kind = kvexsim::FaultKind::Silence;
    silence.times = -1;
    for (int command = 0; command < 16; ++command)
        sensor->setFault(command, silence);
    ASSERT_TRUE(waitFor([&] { return subscriber.last("/status") == "no-sensor"; }, 10.0));
    const std::size_t before = samplesOf(subscriber.messages("/meas")).size();
    sensor->clearFaults();
    ASSERT_TRUE(waitFor([&] { return subscriber.last("/status") == "online"; }, 10.0));
    ASSERT_TRUE(waitFor(
        [&] { return samplesOf(subscriber.messages("/meas")).size() >= before + 9; }, 20.0));
    EXPECT_GE(subscriber.messages("/params").size(), 2u) << "params not sent again";

    const std::vector<QJsonObject> samples = samplesOf(subscriber.messages("/meas"));
    for (const Message &m : subscriber.messages("/meas"))
        EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(m.payload)).isArray());
    for (std::size_t i = 0; i < samples.size(); ++i)
        EXPECT_EQ(samples[i]["seq"].toInt(), static_cast<int>(i) + 1);
    EXPECT_NE(log().find("sensor lost"), std::string::npos);
}

// Under systemd the gateway says it is ready once it serves, pings the watchdog at half its
// period from the polling loop (while the sensor is silent too), and says when it stops.
TEST_F(GatewayTest, TellsTheServiceManagerItIsReadyAndKeepsItsWatchdog) {
    const std::string path = dir + "/notify";
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    auto now = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    std::vector<std::pair<double, std::string>> said;
    auto collect = [&](double seconds) {
        const double until = now() + seconds;
        while (now() < until) {
            char buffer[512];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                said.push_back({now(), std::string(buffer, static_cast<std::size_t>(n))});
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    // The longest gap between two pings since `from`, and how many came.
    auto pings = [&](double from, double *longestGap) {
        int count = 0;
        double last = from;
        *longestGap = 0.0;
        for (const auto &s : said)
            if (s.first >= from && s.second == "WATCHDOG=1") {
                *longestGap = std::max(*longestGap, s.first - last);
                last = s.first;
                ++count;
            }
        return count;
    };
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    // WatchdogSec=5s: a ping every 2.5 s, and none missed while a call on a silent line waits
    // for its time limit.
    ::setenv("WATCHDOG_USEC", "5000000", 1);
    const bool started = startGateway({"--http", std::to_string(freePort())});
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    ASSERT_TRUE(started);
    const double polling = now();
    collect(3.0);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.front().second.rfind("READY=1\nSTATUS=serving ", 0), 0u) << said.front().second;
    silence(true);
    collect(6.0);
    double longestGap = 0.0;
    EXPECT_GE(pings(polling, &longestGap), 3);
    EXPECT_LT(longestGap, 5.0) << "the watchdog would have ended the gateway";
    silence(false);
    gateway.kill(SIGTERM);
    EXPECT_EQ(gateway.wait(10.0), 0);
    collect(0.2);
    EXPECT_EQ(said.back().second, "STOPPING=1");
    ::close(fd);
}

// Credentials from the environment or a file, a refused password, and TLS to the broker.
TEST_F(GatewayTest, BrokerCredentialsAndTls) {
    const std::string script =
        "cd " + dir +
        " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=kvex-test-ca"
        " -keyout ca.key -out ca.crt"
        " && openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key"
        " -out server.csr && printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext"
        " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 1"
        " -extfile san.ext -out server.crt && chmod 644 server.key"
        " && mosquitto_passwd -b -c passwd line3 s3cret && chmod 644 passwd"
        " && echo s3cret > good.pw && echo wrong > bad.pw && chmod 600 good.pw bad.pw";
    ASSERT_EQ(std::system(("(" + script + ") > /dev/null 2>&1").c_str()), 0);
    const int tlsPort = freePort();
    Broker broker(dir, "allow_anonymous false\npassword_file " + dir + "/passwd\nlistener " +
                           std::to_string(tlsPort) + " 127.0.0.1\ncafile " + dir +
                           "/ca.crt\ncertfile " + dir + "/server.crt\nkeyfile " + dir +
                           "/server.key\n");
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitFor([&] { return portAccepts(tlsPort); }, 10.0));
    Subscriber subscriber(broker.port(), "test/#", "line3", "s3cret");
    ASSERT_TRUE(subscriber.waitSubscribed());

    struct Case {
        const char *prefix;
        bool tls;
        const char *environment; // KVEX_MQTT_PASSWORD
        const char *passwordFile;
        bool accepted;
    };
    for (const Case &c : {Case{"test/env", false, "s3cret", nullptr, true},
                          Case{"test/tls", true, nullptr, "good.pw", true},
                          Case{"test/refused", false, nullptr, "bad.pw", false}}) {
        SCOPED_TRACE(c.prefix);
        std::vector<std::string> options = {
            "--mqtt",         "127.0.0.1:" + std::to_string(c.tls ? tlsPort : broker.port()),
            "--topic-prefix", c.prefix,
            "--username",     "line3"};
        if (c.tls)
            options.insert(options.end(), {"--cafile", dir + "/ca.crt"});
        if (c.passwordFile)
            options.insert(options.end(), {"--password-file", dir + "/" + c.passwordFile});
        if (c.environment)
            ::setenv("KVEX_MQTT_PASSWORD", c.environment, 1);
        const std::size_t logged = log().size();
        ASSERT_TRUE(startGateway(options));
        ::unsetenv("KVEX_MQTT_PASSWORD");
        const std::string meas = std::string(c.prefix) + "/meas";
        if (c.accepted) {
            EXPECT_TRUE(waitFor([&] { return subscriber.messages(meas).size() >= 5; }, 20.0));
            EXPECT_EQ(subscriber.last(std::string(c.prefix) + "/status"), "online");
        } else {
            EXPECT_TRUE(waitFor(
                [&] { return log().find("not authorised", logged) != std::string::npos; }, 20.0));
            EXPECT_TRUE(subscriber.messages(meas).empty());
        }
        gateway.kill(SIGTERM);
        EXPECT_EQ(gateway.wait(10.0), 0);
    }
    broker.stop();
}

TEST_F(GatewayTest, ModbusBlockHoldsTheLastSampleAndRefusesWhatItMust) {
    holdObject(250, 650);
    const int port = freePort();
    ASSERT_TRUE(startGateway({"--modbus", "127.0.0.1:" + std::to_string(port), "--unit-id", "7"}));
    const std::string host = " 127.0.0.1";
    ASSERT_TRUE(waitFor(
        [&] {
            const auto r = registersOf(mbpoll(port, "-a 7 -t 3 -r 0 -c 6" + host));
            return r.size() == 6 && (r.at(1) & 1) && r.at(5) > 3;
        },
        20.0));

    const kvexsim::Words w = expectedWords(250, 650);
    const auto input = registersOf(mbpoll(port, "-a 7 -t 3 -r 0 -c 32" + host));
    const auto holding = registersOf(mbpoll(port, "-a 7 -t 4 -r 0 -c 32" + host));
    ASSERT_EQ(input.size(), 32u);
    ASSERT_EQ(holding.size(), 32u);
    EXPECT_EQ(input.at(0), 1);
    EXPECT_EQ(input.at(1) & 0b1001, 0b0001) << "answering, and no µm without a pitch";
    EXPECT_EQ(input.at(6), w[kvexsim::kMeasLeftEdge]);
    EXPECT_EQ(input.at(7), w[kvexsim::kMeasRightEdge]);
    EXPECT_EQ(input.at(8), w[kvexsim::kMeasValue]);
    EXPECT_EQ(input.at(9), w[kvexsim::kMeasSetPoint]);
    EXPECT_EQ(input.at(10), w[kvexsim::kMeasTolerance]);
    EXPECT_EQ(input.at(11), 0x7FC0) << "float32 NaN, high word first";
    EXPECT_EQ(input.at(15), 0);
    EXPECT_LT(input.at(3), 2000) << "age of the last sample";
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(input.at(16 + i), sensor->ram()[static_cast<std::size_t>(i)]) << i;
    for (int i : {0, 1, 6, 7, 8, 9, 10, 11, 12, 15, 16, 31})
        EXPECT_EQ(holding.at(i), input.at(i)) << i;

    const long heartbeat = input.at(2);
    EXPECT_TRUE(waitFor(
        [&] {
            const auto r = registersOf(mbpoll(port, "-a 7 -t 3 -r 2 -c 1" + host));
            return r.count(2) && r.at(2) != heartbeat;
        },
        10.0));

    struct Refusal {
        const char *args;
        const char *answer;
    };
    for (const Refusal &r : {
             Refusal{"-a 7 -t 3 -r 30 -c 10", "Illegal data address"},
             Refusal{"-a 7 -t 4 -r 16", "Illegal function"}, // a write: the block is read-only
             Refusal{"-a 7 -t 0 -r 0 -c 4", "Illegal function"},
             Refusal{"-a 5 -t 3 -r 0 -c 4", "Target device failed to respond"},
         }) {
        std::string args = std::string(r.args) + host;
        if (std::string(r.args).find("-t 4 -r 16") != std::string::npos)
            args += " 5";
        EXPECT_NE(mbpoll(port, args).find(r.answer), std::string::npos) << r.args;
    }
    EXPECT_EQ(registersOf(mbpoll(port, "-a 7 -t 4 -r 16 -c 1" + host)).at(16), sensor->ram()[0]);

    gateway.kill(SIGTERM);
    EXPECT_EQ(gateway.wait(10.0), 0);
}

// One read of the whole block as input registers (function 04, unit 255) from a client of its
// own, over and over on one connection until `done`; the send and answer times of each read, on
// the simulator's clock. Empty when an answer does not come or is not the block.
struct RoundTrip {
    double sent, answered;
};
std::vector<RoundTrip> readBlockUntil(int port, const std::function<bool()> &done) {
    std::vector<RoundTrip> trips;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return {};
    }
    for (uint16_t id = 1; !done(); ++id) {
        uint8_t request[] = {0, 0, 0, 0, 0, 6, 255, 4, 0, 0, 0, 32};
        request[0] = static_cast<uint8_t>(id >> 8);
        request[1] = static_cast<uint8_t>(id);
        uint8_t answer[9 + 64];
        const double sent = kvexsim::steadySeconds();
        std::size_t got = 0;
        const bool asked =
            ::write(fd, request, sizeof request) == static_cast<ssize_t>(sizeof request);
        while (asked && got < sizeof answer) {
            const ssize_t n = ::read(fd, answer + got, sizeof answer - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got < sizeof answer || answer[0] != request[0] || answer[1] != request[1] ||
            answer[7] != 4 || answer[8] != 64) {
            trips.clear();
            break;
        }
        trips.push_back({sent, kvexsim::steadySeconds()});
    }
    ::close(fd);
    return trips;
}

TEST_F(GatewayTest, ModbusIsAnsweredWhileARequestCrossesTheWire) {
    const int port = freePort();
    ASSERT_TRUE(startGateway({"--modbus", "127.0.0.1:" + std::to_string(port)}));
    ASSERT_TRUE(sensor->waitForRequests(sensor->requests().size() + 1, 5.0));
    const std::size_t first = sensor->requests().size();
    constexpr std::size_t kCycles = 20;
    const auto trips =
        readBlockUntil(port, [&] { return sensor->requests().size() >= first + kCycles; });
    ASSERT_FALSE(trips.empty()) << "a read went unanswered or got something else than the block";

    // The simulator records a request once its 36 bytes could have crossed the wire, so the
    // gateway wrote it at least that long before; a read sent and answered in between was served
    // while the gateway waited for the sensor.
    const auto requests = sensor->requests();
    int windows = 0, served = 0;
    for (std::size_t k = first; k < requests.size(); ++k) {
        const double crossed = requests[k].time;
        const double written = crossed - kvexsim::kFrameSize * kvexsim::kByteTime;
        ++windows;
        served += std::any_of(trips.begin(), trips.end(), [&](const RoundTrip &t) {
            return t.sent >= written && t.answered <= crossed;
        });
    }
    // Half leaves room for a loaded machine; a gateway that sleeps through the wire serves none.
    EXPECT_GE(served, windows / 2)
        << "of " << windows << " requests, with " << trips.size() << " reads";
}

// A Modbus client from a loopback address of its choice on a non-blocking socket, so that the
// test's thread can run the server's event loop meanwhile.
class LoopbackModbusClient {
  public:
    LoopbackModbusClient(int port, const char *source) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{}, to{};
        from.sin_family = to.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &from.sin_addr);
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // The kernel completes the connection before the server takes it.
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr *>(&from), sizeof from), 0) << source;
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr *>(&to), sizeof to), 0) << source;
        socklen_t length = sizeof local_;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&local_), &length);
        ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~LoopbackModbusClient() { close(); }
    LoopbackModbusClient(const LoopbackModbusClient &) = delete;
    LoopbackModbusClient &operator=(const LoopbackModbusClient &) = delete;

    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void send(const std::vector<uint8_t> &bytes) {
        ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    // Two input registers of unit 1; the answer has 13 bytes.
    void ask() {
        send({0, 1, 0, 0, 0, 6, 1, 4, 0, 0, 0, 2});
        expected_ += 13;
    }
    // Takes what has come; false once the server has closed the connection.
    bool open() {
        char buffer[256];
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0)
                received_ += static_cast<std::size_t>(n);
            else
                return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    bool answered() { return open() && received_ == expected_; }
    // The server's end of the connection (the descriptor whose peer is this client), -1 once the
    // server has closed it.
    int serverEnd() const {
        for (int fd = 0; fd < 4 * FD_SETSIZE; ++fd) {
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            if (fd != fd_ && ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 &&
                length == sizeof peer && std::memcmp(&peer, &local_, sizeof peer) == 0)
                return fd;
        }
        return -1;
    }

  private:
    int fd_ = -1;
    sockaddr_in local_{};
    std::size_t received_ = 0, expected_ = 0;
};

// Runs the event loop of the servers in this thread until `done`, or false after ten seconds.
bool pumpUntil(const std::function<bool()> &done) {
    const double end = now() + 10.0;
    while (!done()) {
        if (now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(ModbusServer, ClosesWhatIsOverItsCapsOrIdleAndHoldsTheRestAboveSelectsRange) {
    int argc = 1;
    char name[] = "test_gateway";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::string error;
    auto refusals = [](const ModbusServer &server) {
        const ModbusRefusals r = server.refusals();
        return std::vector<uint64_t>{r.addressCap, r.totalCap, r.idle};
    };

    ModbusServer capped;
    const int port = freePort();
    ASSERT_TRUE(capped.start("127.0.0.1", port, 1, &error, {2, 3, 0})) << error;
    struct Connection {
        const char *source;
        bool held;
    };
    // Two from one address, three in all; the server takes them in this order.
    const Connection connections[] = {
        {"127.0.0.2", true}, {"127.0.0.2", true},  {"127.0.0.2", false},
        {"127.0.0.3", true}, {"127.0.0.3", false},
    };
    std::vector<std::unique_ptr<LoopbackModbusClient>> clients;
    for (const Connection &c : connections) {
        clients.push_back(std::make_unique<LoopbackModbusClient>(port, c.source));
        clients.back()->ask();
    }
    const bool settled = pumpUntil([&] {
        for (std::size_t i = 0; i < clients.size(); ++i)
            if (connections[i].held ? !clients[i]->answered() : clients[i]->open())
                return false;
        return true;
    });
    for (std::size_t i = 0; i < clients.size(); ++i)
        EXPECT_EQ(clients[i]->answered(), connections[i].held) << i;
    ASSERT_TRUE(settled);
    EXPECT_EQ(refusals(capped), (std::vector<uint64_t>{1, 1, 0}));
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur > 2 * FD_SETSIZE)
        for (std::size_t i = 0; i < clients.size(); ++i)
            if (connections[i].held)
                EXPECT_GE(clients[i]->serverEnd(), FD_SETSIZE) << i;
    // A connection that ends makes room for the next.
    clients[0]->close();
    ASSERT_TRUE(pumpUntil([&] { return clients[0]->serverEnd() < 0; }));
    LoopbackModbusClient next(port, "127.0.0.3");
    next.ask();
    EXPECT_TRUE(pumpUntil([&] { return next.answered(); }));
    EXPECT_EQ(refusals(capped), (std::vector<uint64_t>{1, 1, 0}));

    ModbusServer idling;
    const int idlePort = freePort();
    constexpr int kIdleMs = 1000;
    ASSERT_TRUE(idling.start("127.0.0.1", idlePort, 1, &error, {8, 64, kIdleMs})) << error;
    LoopbackModbusClient silent(idlePort, "127.0.0.1"), trickling(idlePort, "127.0.0.1"),
        polling(idlePort, "127.0.0.1");
    // A header announcing 250 more bytes, which come one every 100 ms: no whole request.
    trickling.send({0, 1, 0, 0, 0, 250});
    const double start = now();
    double trickled = start;
    polling.ask();
    pumpUntil([&] {
        if (polling.answered())
            polling.ask();
        if (now() - trickled > 0.1) {
            trickling.send({0});
            trickled = now();
        }
        // The poller outlives two idle periods after the first close.
        return !polling.open() ||
               (now() - start > 3 * kIdleMs / 1000.0 && !silent.open() && !trickling.open());
    });
    EXPECT_FALSE(silent.open());
    EXPECT_FALSE(trickling.open());
    EXPECT_TRUE(polling.open()) << "a polling client was cut";
    EXPECT_EQ(refusals(idling), (std::vector<uint64_t>{0, 0, 2}));
}

TEST(GatewayCore, QueueDropsTheOldestAndCountsThem) {
    SampleQueue queue(3);
    auto sample = [](uint32_t seq) {
        GatewaySample s{};
        s.seq = seq;
        return s;
    };
    for (uint32_t seq = 1; seq <= 5; ++seq)
        queue.push(sample(seq));
    EXPECT_EQ(queue.dropped(), 2u);
    auto taken = queue.take(2);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].seq, 3u);
    // Undelivered samples go back in front; what no longer fits counts as dropped, oldest first.
    queue.push(sample(6));
    queue.requeue({sample(4), sample(3)});
    EXPECT_EQ(queue.dropped(), 3u);
    taken = queue.take(10);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].seq, 4u);
    EXPECT_EQ(taken[1].seq, 5u);
    EXPECT_EQ(taken[2].seq, 6u);
}

TEST(GatewayCore, RegisterBlockPacksWordsInEitherOrder) {
    GatewayState state;
    state.sensorAnswering = true;
    state.haveSample = true;
    state.sample.seq = 0x00012345;
    state.sample.um = 1.5;
    state.sample.inTol = true;
    state.params[15] = 77;
    for (bool swap : {false, true}) {
        const RegisterBlock r = buildRegisterBlock(state, 9, swap);
        EXPECT_EQ(r[1], 0b1011);
        EXPECT_EQ(r[2], 9);
        EXPECT_EQ(r[swap ? 5 : 4], 0x0001);
        EXPECT_EQ(r[swap ? 4 : 5], 0x2345);
        EXPECT_EQ(r[swap ? 12 : 11], 0x3FC0); // 1.5f is 0x3FC00000
        EXPECT_EQ(r[swap ? 11 : 12], 0x0000);
        EXPECT_EQ(r[31], 77);
    }
}

TEST(GatewayCore, PayloadsAreValidJson) {
    GatewaySample s{};
    s.timeMs = msOfIsoTime("2026-12-08T04:35:12.345Z");
    s.seq = 4000000000u;
    s.um = std::nan("");
    s.replay = true;
    const QJsonObject one = jsonObject(measJson({s}));
    EXPECT_EQ(one["seq"].toDouble(), 4000000000.0);
    EXPECT_TRUE(one["um"].isNull());
    EXPECT_TRUE(one["replay"].toBool());
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(measJson({s, s}))).array().size(),
              2);
    SensorInfo info{104,          1,     1536, std::string("FW \"x\"\x01\xe9  ", 10), 63.5,
                    "/dev/ttyS0", "1.5", 7};
    const QJsonObject parsed = jsonObject(infoJson(info));
    EXPECT_EQ(parsed["firmware"].toString(), QString::fromUtf8("FW \"x\"\x01\xc3\xa9"));
    EXPECT_EQ(parsed["pitch_um"].toDouble(), 63.5);
    EXPECT_EQ(parsed["dropped"].toInt(), 7);
    EXPECT_EQ(defaultTopicPrefix("line3", "/dev/ttyUSB0"), "kvex/line3-ttyUSB0");
    EXPECT_EQ(defaultTopicPrefix("a+b", "com#1"), "kvex/a_b-com_1");
}

// Every body the gateway sends, byte for byte for a fixed input, so that moving or sharing the
// code that writes them cannot change what a client parses.
TEST(GatewayCore, EveryBodyKeepsItsExactBytes) {
    GatewaySample s{};
    s.timeMs = msOfIsoTime("2026-12-08T04:35:12.345Z");
    s.seq = 7;
    s.left = s.value = 300;
    s.right = 600;
    s.um = 19050.0;
    s.setpoint = 310;
    s.tol = 20;
    s.inTol = true;
    s.anaMax = 900;
    s.anaMin = 100;
    s.epoch = 1765000000;
    GatewaySample late = s;
    late.seq = 8;
    late.um = std::nan("");
    late.inTol = false;
    late.replay = true;
    late.epoch = 0;
    const SensorInfo info{104,          1,     1536, std::string("FW \"x\"\x01\xe9  ", 10), 63.5,
                          "/dev/ttyS0", "1.5", 7};
    SensorInfo stored = info;
    stored.pitchMicrons = std::nan("");
    stored.storeEpoch = 1765000000;
    stored.storeFault = "disk full";
    const uint16_t words[16] = {500, 0, 400, 1, 0, 2, 1, 2048, 1000, 50, 0, 0, 12, 13, 4, 15};
    const std::string wordsJson =
        R"({"power":500,"p_mode":0,"v_thd":400,"ana_mode":1,"polarity":0,"e_mode":2,"e_beg":1,)"
        R"("e_end":2048,"t_val":1000,"t_tol":50,"op_mode":0,"e_hardware":0,"para12":12,)"
        R"("para13":13,"average":4,"para15":15})";
    const std::string sample =
        R"({"ts":"2026-12-08T04:35:12.345Z","seq":7,"store_epoch":1765000000,"left":300,)"
        R"("right":600,"value":300,"um":19050.000,"setpoint":310,"tol":20,"in_tol":true,)"
        R"("ana_max":900,"ana_min":100})";

    // An hour after the start, the last sample 12 ms old.
    const double now = 10000.0;
    GatewayState status;
    status.sensorAnswering = true;
    status.broker = "connected";
    status.queueDepth = 3;
    status.dropped = 2;
    status.samples = 4000000000u;
    status.store = "failing: disk full";
    status.serialErrors = 1;
    status.sampleAt = now - 0.012;
    status.startedAt = now - 3600;
    status.version = "1.5";
    status.reserve.known = true;
    status.reserve.last = {"2026-12-08T04:35:12.345Z", "lost", -0.05, std::nan(""), false};
    status.reserve.failures = 2;
    ReserveHealth clean;
    clean.known = true;
    clean.warnBelow = 0.25;
    clean.last = {"2026-12-08T04:35:12.345Z", "ok", 0.6125, 0.7777777, true};
    ReserveHealth off;
    off.enabled = false;
    ReserveHealth dim = clean;
    dim.last.ratio = 0.249;
    dim.last.state = "no_object";
    dim.last.contrast = std::nan("");
    dim.last.saturated = false;
    const std::string cleanFigures =
        R"("signal_reserve":0.613,"reserve_state":"ok","contrast":0.778,"saturated":true)";
    const std::string healthKeys =
        R"("health":"ok",)" + cleanFigures +
        R"(,"ts":"2026-12-08T04:35:12.345Z","reserve_warn":0.25,"reserve_failures":0,)"
        R"("advice":null})";
    GatewayState starting;
    starting.version = "1.5";
    const std::string startingJson =
        R"("status":"no-sensor","sensor_answering":false,"mqtt":"off","queue_depth":0,)"
        R"("dropped":0,"samples":0,"store":"off","serial_errors":0,"last_sample_age_ms":null,)"
        R"("uptime_s":0,"version":"1.5","writes_enabled":false,"health":"unknown",)"
        R"("signal_reserve":null,"reserve_state":null,"contrast":null,"saturated":null,)"
        R"("reserve_failures":0,"advice":null})";
    ParameterLimit limits[16];
    for (int word = 0; word < 16; ++word)
        limits[word] = {static_cast<unsigned>(word), static_cast<unsigned>(1000 + word)};
    StatsFigures stats;
    stats.count = 3;
    stats.mean = 301.5;
    stats.stdDev = 1.0 / 3;
    stats.min = 300;
    stats.max = 1234567;
    stats.inTolShare = 2.0 / 3;
    stats.cp = stats.cpk = std::nan("");
    stats.cpReason = "no spread";
    stats.haveWindow = true;
    stats.windowLower = 290;
    stats.windowUpper = 330;
    stats.haveHistogram = true;
    stats.histogramLower = 288;
    stats.histogramWidth = 2;
    stats.histogramCounts = {1, 0, 2};
    StatsFigures empty;
    empty.mean = empty.stdDev = empty.min = empty.max = empty.inTolShare = empty.cp = empty.cpk =
        std::nan("");
    empty.cpReason = "no samples";
    VideoLine line;
    line.ts = "2026-12-08T04:35:12.345Z";
    line.pixels = {4095, 12, 0};
    line.threshold = 400;
    line.left = line.value = 300;
    line.right = 600;
    line.evalBegin = 1;
    line.evalEnd = line.positions = 2048;
    line.pixelCount = line.fullScale = 1024;
    line.xStep = 8.0;
    line.reserve = clean.last;

    const struct {
        const char *body;
        std::string written, expected;
    } bodies[] = {
        {"meas", measJson({s}), sample},
        {"meas batch", measJson({s, late}),
         "[" + sample +
             R"(,{"ts":"2026-12-08T04:35:12.345Z","seq":8,"left":300,"right":600,"value":300,)"
             R"("um":null,"setpoint":310,"tol":20,"in_tol":false,"ana_max":900,"ana_min":100,)"
             R"("replay":true}])"},
        {"info", infoJson(info),
         "{\"sensor_type\":104,\"board\":1,\"pixels\":1536,\"firmware\":\"FW "
         "\\\"x\\\"\\u0001\xc3\xa9\","
         "\"pitch_um\":63.500,\"device\":\"/dev/ttyS0\",\"version\":\"1.5\",\"dropped\":7}"},
        {"info with a store", infoJson(stored),
         "{\"sensor_type\":104,\"board\":1,\"pixels\":1536,\"firmware\":\"FW "
         "\\\"x\\\"\\u0001\xc3\xa9\","
         "\"pitch_um\":null,\"device\":\"/dev/ttyS0\",\"version\":\"1.5\",\"dropped\":7,"
         "\"store_epoch\":1765000000,\"store\":\"failing: disk full\"}"},
        {"params", paramsJson(words), wordsJson},
        {"status", statusJson(status, now, true),
         R"({"status":"online","sensor_answering":true,"mqtt":"connected","queue_depth":3,)"
         R"("dropped":2,"samples":4000000000,"store":"failing: disk full","serial_errors":1,)"
         R"("last_sample_age_ms":12,"uptime_s":3600,"version":"1.5","writes_enabled":true,)"
         R"("health":"warn","signal_reserve":-0.050,"reserve_state":"lost","contrast":null,)"
         R"("saturated":false,"reserve_failures":2,"advice":"clean the lens or check the light"})"},
        {"status before a sample", statusJson(starting, 0.0, false), "{" + startingJson},
        {"limits", limitsJson(limits),
         R"({"power":{"word":0,"min":0,"max":1000},"p_mode":{"word":1,"min":1,"max":1001},)"
         R"("v_thd":{"word":2,"min":2,"max":1002},"ana_mode":{"word":3,"min":3,"max":1003},)"
         R"("polarity":{"word":4,"min":4,"max":1004},"e_mode":{"word":5,"min":5,"max":1005},)"
         R"("e_beg":{"word":6,"min":6,"max":1006},"e_end":{"word":7,"min":7,"max":1007},)"
         R"("t_val":{"word":8,"min":8,"max":1008},"t_tol":{"word":9,"min":9,"max":1009},)"
         R"("op_mode":{"word":10,"min":10,"max":1010},)"
         R"("e_hardware":{"word":11,"min":11,"max":1011},)"
         R"("para12":{"word":12,"min":12,"max":1012},"para13":{"word":13,"min":13,"max":1013},)"
         R"("average":{"word":14,"min":14,"max":1014},"para15":{"word":15,"min":15,"max":1015}})"},
        {"stats", statsJson(stats),
         R"({"count":3,"mean":301.5,"std_dev":0.333333,"min":300,"max":1.23457e+06,)"
         R"("in_tol_share":0.666667,"cp":null,"cpk":null,"cp_reason":"no spread",)"
         R"("window":{"lower":290,"upper":330},"histogram":{"lower":288,"width":2,)"
         R"("counts":[1,0,2]}})"},
        {"stats without samples", statsJson(empty),
         R"({"count":0,"mean":null,"std_dev":null,"min":null,"max":null,"in_tol_share":null,)"
         R"("cp":null,"cpk":null,"cp_reason":"no samples","window":null,"histogram":null})"},
        {"video", videoJson(line),
         R"({"ts":"2026-12-08T04:35:12.345Z","pixels":[4095,12,0],"threshold":400,"left":300,)"
         R"("right":600,"value":300,"eval_begin":1,"eval_end":2048,"pixel_count":1024,)"
         R"("positions":2048,"x_step":8,"full_scale":1024,)" +
             cleanFigures + "}"},
        {"health", healthJson(clean), "{" + healthKeys},
        {"health below the warning level", healthJson(dim),
         R"({"health":"warn","signal_reserve":0.249,"reserve_state":"no_object","contrast":null,)"
         R"("saturated":false,"ts":"2026-12-08T04:35:12.345Z","reserve_warn":0.25,)"
         R"("reserve_failures":0,"advice":"clean the lens or check the light"})"},
        {"health without reserve lines", healthWord(off), std::string("off")},
        {"health before a reserve line", healthJson(ReserveHealth{}),
         R"({"health":"unknown","signal_reserve":null,"reserve_state":null,"contrast":null,)"
         R"("saturated":null,"ts":null,"reserve_warn":0.3,"reserve_failures":0,"advice":null})"},
        {"health message", healthMessage(clean), R"({"type":"health",)" + healthKeys},
        {"reserve trend", reserveTrendJson(0.25, {clean.last, dim.last}),
         R"({"reserve_warn":0.25,"readings":[{"ts":"2026-12-08T04:35:12.345Z",)" + cleanFigures +
             R"(},{"ts":"2026-12-08T04:35:12.345Z","signal_reserve":0.249,)"
             R"("reserve_state":"no_object","contrast":null,"saturated":false}]})"},
        {"write", writeResultJson(true, false, words),
         R"({"memory":"eeprom","verified":false,"params":)" + wordsJson + "}"},
        {"write to RAM", writeResultJson(false, true, words),
         R"({"memory":"ram","verified":true,"params":)" + wordsJson + "}"},
        {"teach", teachResultJson(words), R"({"params":)" + wordsJson + "}"},
        {"reset", resetResultJson(), R"({"reset":true})"},
        {"audit entry", auditEntryJson("2026-12-08T04:35:12.345Z", "::1", "teach", "set-point 310"),
         R"({"ts":"2026-12-08T04:35:12.345Z","client":"::1","what":"teach",)"
         R"("result":"set-point 310"})"},
        {"audit", auditListJson({R"({"a":1})", R"({"b":2})"}), R"([{"a":1},{"b":2}])"},
        {"audit empty", auditListJson({}), "[]"},
        {"error", errorJson("no \"x\"\n"), R"({"error":"no \"x\"\u000a"})"},
        {"range error", rangeErrorJson("power", 0, 1001, {0, 1000}),
         R"({"error":"power (word 0) is 1001, allowed 0 to 1000","word":"power","value":1001,)"
         R"("min":0,"max":1000})"},
        {"meas message", measMessage(sample), R"({"type":"meas","sample":)" + sample + "}"},
        {"info message", infoMessage("{}"), R"({"type":"info","info":{}})"},
        {"params message", paramsMessage(wordsJson),
         R"({"type":"params","params":)" + wordsJson + "}"},
        {"audit message", auditMessage("{}"), R"({"type":"audit","entry":{}})"},
        {"status message", statusMessage(starting, 0.0, false),
         R"({"type":"status",)" + startingJson},
    };
    for (const auto &b : bodies)
        EXPECT_EQ(b.written, b.expected) << b.body;
}

TEST(GatewayCore, OptionsAreCheckedAndSecretsStayOffTheCommandLine) {
    struct Case {
        std::string key, value;
        bool fromFile, ok;
    };
    const Case cases[] = {
        {"mqtt", "broker.plant:1884", false, true},
        {"mqtt", "broker:x", false, false},
        {"modbus", "1502", false, true},
        {"modbus", "0.0.0.0:502", false, true},
        {"modbus", "host", false, false},
        {"unit-id", "256", false, false},
        {"word-order", "swap", false, true},
        {"word-order", "little", false, false},
        {"password", "secret", false, false},
        {"General/password", "secret", true, true},
        {"topic-prefix", "a/#", false, false},
        {"queue", "0", false, false},
        {"config", "x.conf", true, false},
        {"colour", "red", false, false},
        {"low-latency", "off", true, true},
        {"low-latency", "no", false, false},
        {"http", "8080", false, true},
        {"General/http", "0.0.0.0:8080", true, true},
        {"http", "localhost", false, false},
        {"http", "70000", false, false},
        {"http-token-file", "/etc/kvex-rtn/line3.token", true, true},
        {"reserve-every", "10m", false, true},
        {"General/reserve-every", "0", true, true},
        {"reserve-every", "0.5s", false, false},
        {"reserve-every", "10x", false, false},
        {"reserve-every", "-1m", false, false},
        {"drift-every", "1h", false, true},
        {"General/drift-every", "1m", true, true},
        {"drift-every", "0", false, true},
        {"drift-every", "59s", false, false},
        {"General/golden", "/etc/kvex-rtn/line3-approved.dat", true, true},
        {"golden", "", false, false},
        {"reserve-warn", "0.3", true, true},
        {"reserve-warn", "lots", false, false},
        {"sparkplug", "Line 3", false, true},
        {"sparkplug", "Line/3", false, false},
        {"sparkplug-node", "press+7", false, false},
        {"sparkplug-device", "#", false, false},
        {"sparkplug-host", "", false, false},
        {"sparkplug-host", "scada\n", true, false},
        {"sparkplug-commands", "", false, true},
        {"sparkplug-commands", "on", true, true},
        {"sparkplug-commands", "yes", true, false},
        {"json-topics", "off", false, true},
    };
    for (const Case &c : cases) {
        GatewayOptions options;
        std::string error;
        EXPECT_EQ(applyOption(&options, c.key, c.value, c.fromFile, &error), c.ok)
            << c.key << "=" << c.value << " " << error;
    }
    GatewayOptions options;
    std::string error;
    EXPECT_FALSE(applyOption(&options, "password", "s3cret", false, &error));
    EXPECT_EQ(error.find("s3cret"), std::string::npos) << "the password is repeated in the log";
    ASSERT_TRUE(applyOption(&options, "mqtt", "broker.plant:1884", false, &error));
    EXPECT_EQ(options.mqttHost, "broker.plant");
    EXPECT_EQ(options.mqttPort, 1884);
    ASSERT_TRUE(applyOption(&options, "modbus", "1502", false, &error));
    EXPECT_EQ(options.modbusAddress, "127.0.0.1");
    EXPECT_EQ(options.modbusPort, 1502);
    ASSERT_TRUE(applyOption(&options, "http", "8080", false, &error));
    EXPECT_EQ(options.httpAddress, "127.0.0.1");
    EXPECT_EQ(options.httpPort, 8080);
    EXPECT_EQ(options.reserveEvery, 600.0);
    for (const auto &d : {std::pair<const char *, double>{"30s", 30.0},
                          {"1s", 1.0},
                          {"10m", 600.0},
                          {"2h", 7200.0},
                          {"1d", 86400.0},
                          {"45", 45.0}}) {
        ASSERT_TRUE(applyOption(&options, "reserve-every", d.first, false, &error)) << d.first;
        EXPECT_EQ(options.reserveEvery, d.second) << d.first;
    }
    OptionList words;
    EXPECT_TRUE(splitOptionWords({"--batch=5", "--queue", "9"}, &words, &error));
    EXPECT_EQ(words.size(), 2u);
    EXPECT_FALSE(splitOptionWords({"--batch"}, &words, &error));
}

TEST(GatewayCore, BackoffDoublesWithJitterUpToItsLimit) {
    Backoff backoff(1.0, 8.0, 42);
    const double bases[] = {1, 2, 4, 8, 8, 8};
    for (double base : bases) {
        const double delay = backoff.next();
        EXPECT_GE(delay, base * 0.75);
        EXPECT_LE(delay, base * 1.25);
    }
    backoff.reset();
    EXPECT_LE(backoff.next(), 1.25);
}

TEST(GatewayCore, ProcessFiguresCountEveryOpenDescriptor) {
    auto figure = [] {
        ProcessFigures figures;
        EXPECT_TRUE(readProcessFigures(&figures));
        return figures.openDescriptors;
    };
    auto listed = [] {
        int n = -1; // the listing's own
        if (DIR *folder = ::opendir("/proc/self/fd")) {
            while (const dirent *entry = ::readdir(folder))
                n += entry->d_name[0] != '.';
            ::closedir(folder);
        }
        return n;
    };
    const double before = figure();
    EXPECT_EQ(before, listed());
    std::vector<int> held;
    for (int i = 0; i < 300; ++i)
        held.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(figure(), before + 300);
    EXPECT_EQ(figure(), listed());
    for (const int fd : held)
        ::close(fd);
    EXPECT_EQ(figure(), before);
}

} // namespace
