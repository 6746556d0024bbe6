// The gateway's web side against the simulated sensor: the JSON equals the MQTT payloads, the live
// stream carries every answer, writes are refused unless allowed (and then reach the sensor),
// metrics pass promtool, and hostile clients leave the page and the polling alone.
#include "app/parameterwords.h"
#include "gateway/faces/web/webbody.h"
#include "gateway_fixture.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/resource.h>

using namespace gatewaytest;

namespace {

// A write token of 128 bits, as the gateway asks for.
constexpr const char *kToken = "9d3b7e21c4a85f06e1b2d9c87a4f3e50";

struct Reply {
    int status = 0;
    std::string head;
    std::string body;
    bool has(const std::string &header) const { return head.find(header) != std::string::npos; }
};

// Everything the server sends until it closes or `seconds` pass.
std::string readAll(int fd, double seconds) {
    std::string in;
    const double end = now() + seconds;
    char buffer[65536];
    while (now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        in.append(buffer, static_cast<std::size_t>(n));
    }
    return in;
}

Reply parseReply(const std::string &raw) {
    Reply reply;
    const auto split = raw.find("\r\n\r\n");
    reply.head = raw.substr(0, split);
    reply.body = split == std::string::npos ? "" : raw.substr(split + 4);
    std::sscanf(raw.c_str(), "HTTP/1.1 %d", &reply.status);
    return reply;
}

// One request on a connection of its own; the raw request is sent as given.
Reply rawRequest(int port, const std::string &request, double seconds = 20.0,
                 const char *from = nullptr) {
    const int fd = connectTo(port, from);
    if (fd < 0)
        return {};
    sendAll(fd, request);
    const Reply reply = parseReply(readAll(fd, seconds));
    ::close(fd);
    return reply;
}

Reply http(int port, const std::string &method, const std::string &path,
           const std::string &headers = "", const std::string &body = "",
           const char *from = nullptr) {
    return rawRequest(port,
                      method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nConnection: close\r\n" + headers +
                          "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                      20.0, from);
}

// Whether the server has closed the connection (it sent its end) within `seconds`.
bool closedWithin(int fd, double seconds) {
    return waitFor(
        [&] {
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        },
        seconds);
}

// A metric's value on the page; NaN without it, so every comparison with it fails.
double metricValue(const std::string &metrics, const std::string &name) {
    const std::size_t at = metrics.find("\n" + name + " ");
    return at == std::string::npos ? std::nan("")
                                   : std::atof(metrics.c_str() + at + name.size() + 2);
}

// A WebSocket client that keeps every text message it gets.
class Stream {
  public:
    explicit Stream(int port, const std::string &origin = "") : fd_(connectTo(port)) {
        sendAll(fd_, "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                         "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                         "Sec-WebSocket-Version: 13\r\n" +
                         (origin.empty() ? "" : "Origin: " + origin + "\r\n") + "\r\n");
        const double end = now() + 10.0;
        while (buffer_.find("\r\n\r\n") == std::string::npos && now() < end && read(0.1)) {
        }
        const auto split = buffer_.find("\r\n\r\n");
        upgraded_ = buffer_.rfind("HTTP/1.1 101", 0) == 0;
        buffer_ = split == std::string::npos ? "" : buffer_.substr(split + 4);
    }
    ~Stream() { ::close(fd_); }
    bool upgraded() const { return upgraded_; }
    int fd() const { return fd_; }
    // Reads for `seconds`, taking complete frames apart.
    void collect(double seconds) {
        const double end = now() + seconds;
        while (now() < end && read(end - now())) {
            for (;;) {
                if (buffer_.size() < 2)
                    break;
                std::size_t length = static_cast<unsigned char>(buffer_[1]) & 0x7F, at = 2;
                if (length == 126) {
                    if (buffer_.size() < 4)
                        break;
                    length = static_cast<unsigned char>(buffer_[2]) * 256u +
                             static_cast<unsigned char>(buffer_[3]);
                    at = 4;
                }
                if (buffer_.size() < at + length)
                    break;
                if ((buffer_[0] & 0x0F) == 1)
                    messages.push_back(jsonObject(buffer_.substr(at, length)));
                buffer_.erase(0, at + length);
            }
        }
    }
    std::vector<QJsonObject> messages;

  private:
    bool read(double seconds) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0)
            return true;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    int fd_;
    std::string buffer_;
    bool upgraded_ = false;
};

QJsonObject object(const Reply &reply) {
    return jsonObject(reply.body);
}


class GatewayHttpTest : public GatewayTest {
  protected:
    bool startWeb(std::vector<std::string> options) {
        port = freePort();
        options.insert(options.begin(), {"--http", std::to_string(port)});
        return startGateway(options) &&
               waitFor([&] { return http(port, "GET", "/api/sample").status == 200; }, 10.0);
    }
    long samples() { return object(http(port, "GET", "/api/status"))["samples"].toInteger(); }
    std::string writeToken() {
        const std::string path = dir + "/token";
        std::ofstream(path) << kToken << "\n";
        ::chmod(path.c_str(), 0600);
        return path;
    }
    int port = 0;
};

TEST_F(GatewayHttpTest, ApiAndStreamSpeakTheMqttVocabularyAndMetricsPassPromtool) {
    Broker broker(dir);
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), std::string(kPrefix) + "/#");
    ASSERT_TRUE(subscriber.waitSubscribed());
    holdObject(300, 600);
    ASSERT_TRUE(startWeb(
        {"--mqtt", "127.0.0.1:" + std::to_string(broker.port()), "--topic-prefix", kPrefix}));
    Stream stream(port, "http://127.0.0.1:" + std::to_string(port));
    ASSERT_TRUE(stream.upgraded());
    ASSERT_TRUE(waitFor([&] { return subscriber.messages("/meas").size() >= 10; }, 20.0));
    stream.collect(2.5);

    EXPECT_EQ(object(http(port, "GET", "/api/params")), jsonObject(subscriber.last("/params")));
    EXPECT_EQ(object(http(port, "GET", "/api/info")), jsonObject(subscriber.last("/info")));
    const QJsonObject sample = object(http(port, "GET", "/api/sample"));
    EXPECT_EQ(sample.keys(), jsonObject(subscriber.messages("/meas").back().payload).keys());
    const QJsonObject limits = object(http(port, "GET", "/api/limits"));
    ASSERT_EQ(limits.size(), 16);
    EXPECT_EQ(limits["power"].toObject()["max"].toInt(),
              static_cast<int>(parameterLimit(0, -1).max));

    // Every answer reaches the stream, in order, as the broker has it; status once a second.
    std::map<int, QJsonObject> published;
    for (const QJsonObject &s : samplesOf(subscriber.messages("/meas")))
        published[s["seq"].toInt()] = s;
    int lastSeq = 0, statuses = 0;
    for (const QJsonObject &m : stream.messages) {
        if (m["type"] == "status") {
            ++statuses;
            EXPECT_EQ(m["mqtt"].toString(), "connected");
            continue;
        }
        // Identity and words open the stream, and the words do not change here.
        if (m["type"] == "info" || m["type"] == "params") {
            EXPECT_EQ(lastSeq, 0) << m["type"].toString().toStdString() << " after an answer";
            EXPECT_EQ(m[m["type"].toString()].toObject(),
                      jsonObject(subscriber.last("/" + m["type"].toString().toStdString())));
            continue;
        }
        ASSERT_EQ(m["type"].toString(), "meas");
        const QJsonObject s = m["sample"].toObject();
        if (lastSeq)
            EXPECT_EQ(s["seq"].toInt(), lastSeq + 1);
        lastSeq = s["seq"].toInt();
        if (published.count(lastSeq))
            EXPECT_EQ(s, published[lastSeq]);
    }
    EXPECT_GT(lastSeq, 40);
    EXPECT_GE(statuses, 2);

    const Reply page = http(port, "GET", "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, readFile(KVEX_WEB_DIR "/index.html"));
    for (const char *header : {"Content-Security-Policy: default-src 'self'", "nosniff",
                               "Referrer-Policy: no-referrer", "frame-ancestors 'none'"})
        EXPECT_TRUE(page.has(header)) << header;
    // The page's own files are served; the folder's developer notes are not built in.
    for (const auto &[path, status] :
         {std::pair<const char *, int>{"/app.js", 200}, {"/style.css", 200}, {"/README.md", 404}})
        EXPECT_EQ(http(port, "GET", path).status, status) << path;

    const QJsonObject status = object(http(port, "GET", "/api/status"));
    EXPECT_EQ(status["status"].toString(), "online");
    EXPECT_FALSE(status["writes_enabled"].toBool());
    EXPECT_EQ(status["store"].toString(), "off");
    const QJsonObject stats = object(http(port, "GET", "/api/stats"));
    EXPECT_GT(stats["count"].toInt(), 10);
    EXPECT_LE(object(http(port, "POST", "/api/stats/reset"))["count"].toInt(), 1);
    EXPECT_EQ(http(port, "POST", "/api/stats/reset", "Origin: http://elsewhere.example\r\n").status,
              403);

    const Reply metrics = http(port, "GET", "/metrics");
    EXPECT_NE(metrics.body.find("kvex_up 1\n"), std::string::npos);
    EXPECT_NE(metrics.body.find("kvex_mqtt_connected 1\n"), std::string::npos);
    if (::system("command -v promtool >/dev/null") != 0)
        GTEST_SKIP() << "promtool is not installed";
    std::ofstream(dir + "/metrics.txt") << metrics.body;
    const std::string check =
        "promtool check metrics < " + dir + "/metrics.txt > " + dir + "/promtool.txt 2>&1";
    EXPECT_EQ(::system(check.c_str()), 0) << readFile(dir + "/promtool.txt");
}

// A page learns from the stream what the gateway has, so it never asks before: a new stream gets
// the kept identity, words and last answer first, once each; what comes later follows.
TEST_F(GatewayHttpTest, StreamOpensWithWhatTheGatewayHasAndBringsTheRestWhenItComes) {
    silence(true);
    port = freePort();
    ASSERT_TRUE(startGateway({"--http", std::to_string(port)}, "no sensor answering"));
    Stream early(port);
    ASSERT_TRUE(early.upgraded());
    const auto types = [](const std::vector<QJsonObject> &messages, std::size_t count) {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < std::min(count, messages.size()); ++i)
            out.push_back(messages[i]["type"].toString().toStdString());
        return out;
    };
    ASSERT_TRUE(waitFor(
        [&] {
            early.collect(0.1);
            return !early.messages.empty();
        },
        5.0));
    EXPECT_EQ(types(early.messages, 99), std::vector<std::string>(early.messages.size(), "status"));
    EXPECT_EQ(early.messages.front()["status"].toString(), "no-sensor");
    EXPECT_EQ(http(port, "GET", "/api/info").status, 503) << "the API changed";

    silence(false);
    ASSERT_TRUE(waitFor(
        [&] {
            early.collect(0.1);
            const auto all = types(early.messages, early.messages.size());
            return std::count(all.begin(), all.end(), "meas") >= 3;
        },
        15.0));
    const QJsonObject info = object(http(port, "GET", "/api/info"));
    const QJsonObject params = object(http(port, "GET", "/api/params"));
    std::map<std::string, QJsonObject> firstOf;
    for (const QJsonObject &m : early.messages)
        firstOf.emplace(m["type"].toString().toStdString(), m);
    EXPECT_EQ(firstOf["info"]["info"].toObject(), info);
    EXPECT_EQ(firstOf["params"]["params"].toObject(), params);

    Stream late(port);
    ASSERT_TRUE(late.upgraded());
    ASSERT_TRUE(waitFor(
        [&] {
            late.collect(0.1);
            return late.messages.size() >= 6;
        },
        5.0));
    EXPECT_EQ(types(late.messages, 3), (std::vector<std::string>{"info", "params", "meas"}));
    int lastSeq = 0;
    for (const QJsonObject &m : late.messages) {
        if (m["type"] == "info")
            EXPECT_EQ(m["info"].toObject(), info);
        if (m["type"] == "params")
            EXPECT_EQ(m["params"].toObject(), params);
        if (m["type"] != "meas")
            continue;
        const int seq = m["sample"].toObject()["seq"].toInt();
        if (lastSeq)
            EXPECT_EQ(seq, lastSeq + 1) << "an answer missed or sent twice";
        lastSeq = seq;
    }
}

TEST_F(GatewayHttpTest, VideoLineAndPortCheckRunBetweenCyclesWhilePollingGoesOn) {
    ASSERT_TRUE(startWeb({"--http-token-file", writeToken()}));
    const std::string token = "Authorization: Bearer " + std::string(kToken) + "\r\n";
    const QJsonObject line = object(http(port, "GET", "/api/video"));
    ASSERT_EQ(line["pixels"].toArray().size(), 256);
    EXPECT_EQ(line["threshold"].toInt(), sensor->ram()[kvexsim::kParVideoThreshold]);
    EXPECT_GT(line["full_scale"].toInt(), 0);
    EXPECT_GT(line["x_step"].toDouble(), 0.0);
    const Reply again = http(port, "GET", "/api/video");
    EXPECT_EQ(again.status, 429);
    EXPECT_TRUE(again.has("Retry-After: 1"));
    // The port check reopens the port and pauses the measurement: the token's, like a write.
    EXPECT_EQ(http(port, "GET", "/api/doctor").status, 401);
    const QJsonObject report = object(http(port, "GET", "/api/doctor", token));
    EXPECT_TRUE(report["ok"].toBool()) << QJsonDocument(report).toJson().toStdString();
    const long before = samples();
    EXPECT_TRUE(waitFor([&] { return samples() > before + 10; }, 10.0));

    // The sensor gone: the status says so, the metrics too, and its work is refused at once.
    sensor->hangUp();
    EXPECT_TRUE(waitFor(
        [&] { return object(http(port, "GET", "/api/status"))["status"] == "no-sensor"; }, 10.0));
    EXPECT_NE(http(port, "GET", "/metrics").body.find("kvex_up 0\n"), std::string::npos);
    EXPECT_EQ(http(port, "GET", "/api/doctor", token).status, 503);
    EXPECT_EQ(http(port, "GET", "/api/params?from=eeprom").status, 503);
}

// More sensor work than the budget allows: it waits its turn or is refused, never late, never
// for a client that left, never from another site's page, while the measurement goes on.
TEST_F(GatewayHttpTest, SensorWorkWaitsItsTurnWhileTheMeasurementGoesOn) {
    ASSERT_TRUE(startWeb({"--http-token-file", writeToken()}));
    const std::string token = "Authorization: Bearer " + std::string(kToken) + "\r\n";
    struct CrossSite {
        const char *path;
        std::string headers;
    } crossSite[] = {
        {"/api/video", "Origin: http://evil.example\r\n"},
        {"/api/params?from=eeprom", "Sec-Fetch-Site: cross-site\r\n"},
        {"/api/doctor", token + "Origin: http://evil.example\r\n"},
    };
    const std::size_t requestsBefore = sensor->requests().size();
    for (const CrossSite &c : crossSite)
        EXPECT_EQ(http(port, "GET", c.path, c.headers).status, 403) << c.path;
    const auto otherThanRun = [&](std::size_t from) {
        std::size_t count = 0;
        const auto requests = sensor->requests();
        for (std::size_t i = from; i < requests.size(); ++i)
            count += requests[i].command() != 8;
        return count;
    };
    EXPECT_EQ(otherThanRun(requestsBefore), 0u) << "a cross-site request reached the sensor";

    // 24 writes at once: a quarter of the line's time takes about seven, 16 may wait, the rest
    // are told when to come back.
    const long samplesBefore = samples();
    const double start = now();
    std::vector<int> statuses(24);
    std::vector<std::thread> clients;
    for (std::size_t i = 0; i < statuses.size(); ++i)
        clients.emplace_back([&, i] {
            statuses[i] = http(port, "PUT", "/api/params", token,
                               "{\"t_tol\":" + std::to_string(40 + i) + "}")
                              .status;
        });
    for (std::thread &client : clients)
        client.join();
    const double took = now() - start;
    const auto count = [&](int status) {
        return std::count(statuses.begin(), statuses.end(), status);
    };
    EXPECT_GE(count(200), 5);
    // Some are refused; how many depends on how many jobs started before the last request came
    // (under the sanitizers the 24 arrive over a second or more).
    EXPECT_GE(count(429), 1);
    EXPECT_EQ(count(200) + count(429) + count(504), 24) << "an answer of another kind";
    // The measurement went on: jobs leave it three quarters of the wire's 26 answers a second;
    // a measurement stalled by the writes would keep a few per cent. A third leaves room for a
    // loaded machine and the sanitizers.
    EXPECT_GE(samples() - samplesBefore, static_cast<long>(26 * 0.3 * took)) << took << " s";

    // A client that sends a write and leaves before its turn takes it along: behind three
    // writes it waits a second at least, however the budget stands.
    clients.clear();
    for (int i = 0; i < 3; ++i)
        clients.emplace_back([&] { http(port, "PUT", "/api/params", token, "{\"t_tol\":31}"); });
    waitFor([] { return false; }, 0.3);
    const int leaving = connectTo(port);
    ASSERT_GE(leaving, 0);
    const std::string body = "{\"power\":777}";
    sendAll(leaving, "PUT /api/params HTTP/1.1\r\nHost: 127.0.0.1\r\n" + token +
                         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    waitFor([] { return false; }, 0.2);
    ::close(leaving);
    // The write after it is done after it would have been.
    EXPECT_EQ(http(port, "PUT", "/api/params", token, "{\"t_tol\":30}").status, 200);
    for (std::thread &client : clients)
        client.join();
    EXPECT_NE(sensor->ram()[0], 777);
    EXPECT_EQ(http(port, "GET", "/api/audit").body.find("power=777"), std::string::npos);
}

TEST_F(GatewayHttpTest, WritesAreRefusedUnlessAllowedAndGoodOnesReachTheSensor) {
    // Without a token file every write is refused with the way to turn writes on.
    ASSERT_TRUE(startWeb({}));
    const Reply off = http(port, "PUT", "/api/params", "", "{\"power\":600}");
    EXPECT_EQ(off.status, 403);
    EXPECT_NE(off.body.find("--http-token-file"), std::string::npos);
    gateway.kill(SIGTERM);
    ASSERT_EQ(gateway.wait(10.0), 0);

    Broker broker(dir);
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), std::string(kPrefix) + "/#");
    ASSERT_TRUE(subscriber.waitSubscribed());
    ASSERT_TRUE(
        startWeb({"--http-token-file", writeToken(), "--mqtt",
                  "127.0.0.1:" + std::to_string(broker.port()), "--topic-prefix", kPrefix}));
    const std::string token = "Authorization: Bearer " + std::string(kToken) + "\r\n";
    struct Refused {
        const char *method, *path;
        std::string headers;
        const char *body;
        int status;
    };
    const Refused refused[] = {
        {"PUT", "/api/params", "", "{\"power\":600}", 401},
        {"PUT", "/api/params", "Authorization: Bearer guess\r\n", "{\"power\":600}", 401},
        {"POST", "/api/teach", "Authorization: Bearer " + std::string(kToken) + "X\r\n", "", 401},
        {"POST", "/api/reset-max-min", "", "", 401},
        {"PUT", "/api/params", token + "Origin: http://evil.example\r\n", "{\"power\":600}", 403},
        {"POST", "/api/teach", token + "Sec-Fetch-Site: cross-site\r\n", "", 403},
        {"PUT", "/api/params", token, "{\"power\":1001}", 422},
        {"PUT", "/api/params", token, "{\"v_thd\":10}", 422},
        {"PUT", "/api/params", token, "{\"power\":-1}", 422},
        {"PUT", "/api/params", token, "{\"power\":600", 400},
        {"PUT", "/api/params", token, "[600]", 400},
        {"PUT", "/api/params", token, "{\"power\":\"600\"}", 400},
        {"PUT", "/api/params", token, "{\"power\":600.5}", 400},
        {"PUT", "/api/params", token, "{\"power\":{\"a\":1}}", 400},
        {"PUT", "/api/params", token, "{\"power\":600,\"power\":601}", 400},
        {"PUT", "/api/params", token, "{\"nonsense\":1}", 400},
        {"PUT", "/api/params", token, "{}", 400},
        {"PUT", "/api/params?to=flash", token, "{\"power\":600}", 400},
    };
    for (const Refused &r : refused) {
        SCOPED_TRACE(std::string(r.method) + " " + r.path + " " + r.body);
        const Reply reply = http(port, r.method, r.path, r.headers, r.body);
        EXPECT_EQ(reply.status, r.status) << reply.body;
        EXPECT_TRUE(object(reply).contains("error")) << reply.body;
        if (r.status == 422) {
            const QJsonObject problem = object(reply);
            EXPECT_TRUE(problem["word"].isString() && problem["value"].isDouble() &&
                        problem["min"].isDouble() && problem["max"].isDouble())
                << reply.body;
        }
    }
    EXPECT_EQ(writeRequests(*sensor), 0u) << "a refused write reached the sensor";

    EXPECT_EQ(http(port, "PUT", "/api/params", token, "{\"power\":600,\"t_tol\":42}").status, 200);
    EXPECT_EQ(sensor->ram()[0], 600);
    EXPECT_EQ(sensor->ram()[kvexsim::kParTolerance], 42);
    EXPECT_TRUE(
        waitFor([&] { return jsonObject(subscriber.last("/params"))["power"] == 600; }, 5.0));
    EXPECT_EQ(object(http(port, "GET", "/api/params"))["power"].toInt(), 600);
    EXPECT_EQ(http(port, "PUT", "/api/params?to=eeprom", token, "{\"power\":700}").status, 200);
    EXPECT_EQ(sensor->eeprom()[0], 700);
    EXPECT_EQ(object(http(port, "GET", "/api/params?from=eeprom"))["power"].toInt(), 700);
    EXPECT_EQ(sensor->ram()[0], 600);
    const std::size_t before = sensor->requests().size();
    EXPECT_EQ(http(port, "POST", "/api/teach", token).status, 200);
    EXPECT_EQ(http(port, "POST", "/api/reset-max-min", token).status, 200);
    std::set<int> commands;
    const auto requests = sensor->requests();
    for (std::size_t i = before; i < requests.size(); ++i)
        commands.insert(requests[i].command());
    EXPECT_TRUE(commands.count(6) && commands.count(11));

    const QJsonArray audit =
        QJsonDocument::fromJson(QByteArray::fromStdString(http(port, "GET", "/api/audit").body))
            .array();
    ASSERT_GE(audit.size(), 7);
    EXPECT_EQ(audit.last().toObject()["what"].toString(), "reset max/min");
    EXPECT_EQ(audit.last().toObject()["client"].toString(), "127.0.0.1");
    EXPECT_TRUE(waitFor(
        [&] { return jsonObject(subscriber.last("/audit"))["what"] == "reset max/min"; }, 5.0));
    EXPECT_NE(log().find("web write from 127.0.0.1: teach"), std::string::npos);
}

// Each attack is held while the page, the sample and the metrics must still answer; after it
// the gateway's descriptors are back where they were.
TEST_F(GatewayHttpTest, HostileClientsLeaveThePageAndThePollingAlone) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &files);
    // All from 127.0.0.1 here: the cap per address is the caps test's business.
    ASSERT_TRUE(startWeb({"--http-token-file", writeToken(), "--http-max-per-address", "5000"}));
    const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    auto openDescriptors = [&] {
        return metricValue(http(port, "GET", "/metrics").body, "process_open_fds");
    };
    const double descriptors = openDescriptors();
    ASSERT_GT(descriptors, 0);
    auto answersWhileHeld = [&] {
        EXPECT_EQ(http(port, "GET", "/").status, 200);
        EXPECT_EQ(http(port, "GET", "/api/sample").status, 200);
        EXPECT_NE(http(port, "GET", "/metrics").body.find("kvex_up 1"), std::string::npos);
        const long before = samples();
        EXPECT_TRUE(waitFor([&] { return samples() > before + 5; }, 10.0));
    };
    // A connection that never sends a request, and one kept alive after its answer: the server
    // closes both after its time-outs, while the attacks below run.
    const int silent = connectTo(port);
    const int keptAlive = connectTo(port);
    sendAll(keptAlive, "GET /api/status HTTP/1.1\r\n" + host + "\r\n");
    EXPECT_EQ(parseReply(readAll(keptAlive, 1.0)).status, 200);
    std::vector<std::unique_ptr<Stream>> stalled;
    struct Attack {
        const char *name;
        std::function<void()> run;
    };
    const Attack attacks[] = {
        {"1 MB header",
         [&] {
             const Reply r = rawRequest(port, "GET / HTTP/1.1\r\n" + host + "X-Big: " +
                                                  std::string(1 << 20, 'a') + "\r\n\r\n");
             EXPECT_EQ(r.status, 431) << r.head;
         }},
        {"100 MB body announced",
         [&] {
             const Reply r = rawRequest(port,
                                        "PUT /api/params HTTP/1.1\r\n" + host +
                                            "Authorization: Bearer " + std::string(kToken) +
                                            "\r\n"
                                            "Content-Length: 100000000\r\n\r\n{\"power\":",
                                        5.0);
             EXPECT_EQ(r.status, 413) << r.head;
         }},
        {"2 000 idle connections",
         [&] {
             std::vector<int> idle;
             for (int i = 0; i < 2000; ++i)
                 if (const int fd = connectTo(port); fd >= 0)
                     idle.push_back(fd);
             EXPECT_EQ(idle.size(), 2000u);
             answersWhileHeld();
             for (const int fd : idle)
                 ::close(fd);
         }},
        {"200 clients dripping a byte a second",
         [&] {
             std::vector<int> drips;
             for (int i = 0; i < 200; ++i)
                 drips.push_back(connectTo(port));
             const std::string request = "GET /api/status HTTP/1.1\r\n" + host;
             std::atomic<bool> dripping{true};
             std::thread dripper([&] {
                 for (std::size_t at = 0; dripping && at < request.size(); ++at) {
                     for (const int fd : drips)
                         ::send(fd, &request[at], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                     std::this_thread::sleep_for(std::chrono::seconds(1));
                 }
             });
             answersWhileHeld();
             // The request time-out (10 s) counts from the first byte, not from the last.
             std::size_t cut = 0;
             for (const int fd : drips)
                 cut += closedWithin(fd, 15.0);
             dripping = false;
             dripper.join();
             EXPECT_EQ(cut, drips.size());
             for (const int fd : drips)
                 ::close(fd);
         }},
        {"500 live pages",
         [&] {
             std::vector<std::unique_ptr<Stream>> pages;
             for (int i = 0; i < 500; ++i)
                 pages.push_back(std::make_unique<Stream>(port));
             EXPECT_TRUE(std::all_of(pages.begin(), pages.end(),
                                     [](const auto &p) { return p->upgraded(); }));
             answersWhileHeld();
             EXPECT_EQ(metricValue(http(port, "GET", "/metrics").body,
                                   "kvex_http_connections{kind=\"page\"}"),
                       500);
             // A broadcast reaches 500 pages in slices: each page still gets the samples once
             // and in order, wherever it lies among them (one that lagged may have lost some).
             for (const std::size_t at : {std::size_t{0}, std::size_t{250}, std::size_t{499}}) {
                 pages[at]->collect(1.0);
                 std::vector<qint64> seqs;
                 for (const QJsonObject &m : pages[at]->messages)
                     if (m["type"].toString() == "meas")
                         seqs.push_back(m["sample"].toObject()["seq"].toInteger());
                 EXPECT_GT(seqs.size(), 5u) << "page " << at;
                 EXPECT_TRUE(std::adjacent_find(seqs.begin(), seqs.end(),
                                                [](qint64 a, qint64 b) { return b <= a; }) ==
                             seqs.end())
                     << "page " << at;
             }
         }},
        {"paths with .. and encoded slashes",
         [&] {
             for (const char *path :
                  {"/../../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd",
                   "/..%2f..%2f..%2fetc%2fpasswd", "/%2fetc%2fpasswd", "/api/..%2f..%2fmetrics",
                   "//etc/passwd", "/index.html%00", "/%zz"}) {
                 const Reply r = http(port, "GET", path);
                 EXPECT_EQ(r.body.find("root:"), std::string::npos) << path;
                 EXPECT_TRUE(r.status == 404 || r.status == 400) << path << " " << r.status;
             }
         }},
        {"malformed WebSocket frames",
         [&] {
             for (const std::string &frame :
                  {std::string("\x81\x7f\xff\xff\xff\xff\xff\xff\xff\xff", 10),
                   std::string("\x8f\x85\x00\x00\x00\x00hello", 11), std::string("\x01\x05hello"),
                   std::string(4096, '\xff')}) {
                 Stream stream(port);
                 ASSERT_TRUE(stream.upgraded());
                 sendAll(stream.fd(), frame);
                 EXPECT_TRUE(closedWithin(stream.fd(), 5.0));
             }
         }},
        {"live pages that never read",
         [&] {
             for (int i = 0; i < 8; ++i)
                 stalled.push_back(std::make_unique<Stream>(port));
             std::this_thread::sleep_for(std::chrono::seconds(3));
             answersWhileHeld();
             stalled.clear();
         }},
        {"WebSocket from another site",
         [&] { EXPECT_FALSE(Stream(port, "http://evil.example").upgraded()); }},
    };
    for (const Attack &attack : attacks) {
        SCOPED_TRACE(attack.name);
        const long before = samples();
        attack.run();
        EXPECT_TRUE(waitFor([&] { return http(port, "GET", "/").status == 200; }, 30.0));
        EXPECT_TRUE(waitFor([&] { return samples() > before + 5; }, 10.0));
        // The two slow connections above close on their own meanwhile.
        EXPECT_TRUE(waitFor([&] { return openDescriptors() <= descriptors; }, 20.0))
            << openDescriptors() << " descriptors open, " << descriptors << " before";
    }
    EXPECT_EQ(writeRequests(*sensor), 0u);
    for (const int fd : {silent, keptAlive}) {
        EXPECT_TRUE(closedWithin(fd, 20.0)) << "the server kept an idle connection open";
        ::close(fd);
    }
}

// Beyond the cap per address a new connection is closed at once, while another address still
// gets the page; beyond the total cap every address is refused; the log says so once.
TEST_F(GatewayHttpTest, ConnectionCapsRefuseTheSurplusAndSayWhy) {
    ASSERT_TRUE(startWeb({"--http-max-connections", "30", "--http-max-per-address", "20",
                          "--http-keep-alive", "60", "--http-request-timeout", "60"}));
    std::vector<int> held;
    auto hold = [&](int count, const char *from) {
        for (int i = 0; i < count; ++i)
            held.push_back(connectTo(port, from));
        // The server has taken them once a request behind them is answered.
        return http(port, "GET", "/api/status", "", "", "127.0.0.9").status == 200;
    };
    ASSERT_TRUE(hold(20, "127.0.0.1"));
    const int surplus = connectTo(port);
    EXPECT_TRUE(closedWithin(surplus, 5.0)) << "a 21st connection from one address was held";
    ::close(surplus);
    EXPECT_EQ(http(port, "GET", "/", "", "", "127.0.0.2").status, 200);
    ASSERT_TRUE(hold(9, "127.0.0.2"));
    held.push_back(connectTo(port, "127.0.0.2"));
    const int beyond = connectTo(port, "127.0.0.3");
    EXPECT_TRUE(closedWithin(beyond, 5.0)) << "a connection beyond the total cap was held";
    ::close(beyond);
    for (const int fd : held)
        ::close(fd);
    held.clear();
    ASSERT_TRUE(waitFor([&] { return http(port, "GET", "/").status == 200; }, 10.0));
    const std::string metrics = http(port, "GET", "/metrics").body;
    EXPECT_GE(metricValue(metrics, "kvex_http_connections_refused_total{cause=\"address_cap\"}"),
              1);
    EXPECT_GE(metricValue(metrics, "kvex_http_connections_refused_total{cause=\"total_cap\"}"), 1);
    EXPECT_NE(log().find("refused 1 new connection(s) (the cap of 20 per address: 1)"),
              std::string::npos);
    EXPECT_NE(log().find("holds up to 30 connections, 20 from one address"), std::string::npos);
}

// The limits, each with the server's own answer, which carries the page's security headers.
TEST_F(GatewayHttpTest, LimitsAreAnsweredByTheServerWithThePagesHeaders) {
    ASSERT_TRUE(
        startWeb({"--http-request-timeout", "2", "--http-keep-alive", "1", "--http-page-timeout",
                  "2", "--http-max-header-bytes", "4096", "--http-max-body-bytes", "2048"}));
    const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    struct Row {
        const char *what;
        std::string request;
        int status;
    };
    const Row rows[] = {
        {"headers above the limit",
         "GET / HTTP/1.1\r\n" + host + "X-A: " + std::string(5000, 'a') + "\r\n\r\n", 431},
        {"body above the limit, announced",
         "PUT /api/params HTTP/1.1\r\n" + host + "Content-Length: 3000\r\n\r\n", 413},
        {"body above the limit, chunked",
         "PUT /api/params HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\nc00\r\n" +
             std::string(3072, 'x') + "\r\n0\r\n\r\n",
         413},
        {"not HTTP", "HELLO\r\n\r\n", 400},
        {"a broken escape", "GET /%g1 HTTP/1.1\r\n" + host + "\r\n", 400},
        {"a request that stops half-way", "GET / HTTP/1.1\r\n" + host, 408},
        {"no such file", "GET /nothing HTTP/1.1\r\n" + host + "\r\n", 404},
        {"a method not allowed", "DELETE /api/sample HTTP/1.1\r\n" + host + "\r\n", 405},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const Reply reply = rawRequest(port, row.request, 6.0);
        EXPECT_EQ(reply.status, row.status) << reply.head;
        for (const char *header : {"Content-Security-Policy: default-src 'self'",
                                   "X-Content-Type-Options: nosniff", "X-Frame-Options: DENY"})
            EXPECT_TRUE(reply.has(header)) << header;
    }
    // An idle kept-alive connection is closed after its time-out; a page that answers no ping
    // after its own.
    const int keptAlive = connectTo(port);
    sendAll(keptAlive, "GET /api/status HTTP/1.1\r\n" + host + "\r\n");
    EXPECT_TRUE(closedWithin(keptAlive, 5.0));
    ::close(keptAlive);
    Stream page(port);
    ASSERT_TRUE(page.upgraded());
    EXPECT_TRUE(closedWithin(page.fd(), 10.0)) << "a page that answers no ping was kept";
    const std::string metrics = http(port, "GET", "/metrics").body;
    for (const char *sample :
         {"kvex_http_requests_total{code=\"431\"}", "kvex_http_requests_total{code=\"408\"}",
          "kvex_http_requests_total{code=\"101\"}"})
        EXPECT_GE(metricValue(metrics, sample), 1) << sample;
    EXPECT_GE(metricValue(metrics, "process_max_fds"), 1024);
    EXPECT_GT(metricValue(metrics, "process_resident_memory_bytes"), 1e6);
}

// The Modbus face's closures reach the metrics through the core: over its per-address cap, the
// surplus connections are counted by cause.
TEST_F(GatewayHttpTest, ModbusConnectionsOverTheCapAreCountedInTheMetrics) {
    const int modbus = freePort();
    ASSERT_TRUE(startWeb({"--modbus", "127.0.0.1:" + std::to_string(modbus),
                          "--modbus-max-per-address", "1", "--modbus-idle-timeout", "0"}));
    std::vector<int> held;
    for (int i = 0; i < 3; ++i)
        held.push_back(connectTo(modbus));
    EXPECT_TRUE(waitFor(
        [&] {
            const std::string metrics = http(port, "GET", "/metrics").body;
            return metricValue(metrics,
                               "kvex_modbus_connections_refused_total{cause=\"address_cap\"}") == 2;
        },
        10.0))
        << http(port, "GET", "/metrics").body;
    for (const int fd : held)
        ::close(fd);
}

// Guesses sent side by side from one address are not each compared: while the address waits
// after a wrong token its others are refused unread; another address is not held up, and a
// flood of wrong tokens from many addresses fills the audit with ten lines, not all of them.
TEST_F(GatewayHttpTest, WrongTokensAreSlowedPerAddressAndTheirAuditIsBounded) {
    ASSERT_TRUE(startWeb({"--http-token-file", writeToken()}));
    auto attempt = [&](const std::string &token, const std::string &from) {
        return http(port, "POST", "/api/reset-max-min", "Authorization: Bearer " + token + "\r\n",
                    "", from.c_str())
            .status;
    };
    std::vector<int> statuses(8);
    std::vector<std::thread> guesses;
    for (std::size_t i = 0; i < statuses.size(); ++i)
        guesses.emplace_back(
            [&, i] { statuses[i] = attempt("guess" + std::to_string(i), "127.0.0.2"); });
    for (std::thread &t : guesses)
        t.join();
    EXPECT_LE(std::count(statuses.begin(), statuses.end(), 401), 2)
        << "guesses compared side by side";
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 401) +
                  std::count(statuses.begin(), statuses.end(), 429),
              8);
    EXPECT_EQ(attempt(kToken, "127.0.0.3"), 200) << "another address was held up";

    const std::size_t before = log().size();
    guesses.clear();
    for (int i = 0; i < 25; ++i)
        guesses.emplace_back([&, i] { attempt("guess", "127.0.0." + std::to_string(10 + i)); });
    for (std::thread &t : guesses)
        t.join();
    std::size_t lines = 0;
    for (std::size_t at = log().find("refused: wrong token", before); at != std::string::npos;
         at = log().find("refused: wrong token", at + 1))
        ++lines;
    EXPECT_GE(lines, 5u);
    EXPECT_LE(lines, 10u);
}

// Half a TLS pair, a file it cannot read, a secret others may read, a token short enough to
// guess and an approved parameter set that is none are refused at the start, naming the option; a token from systemd's credentials is
// taken, and SIGHUP without TLS leaves the gateway running.
TEST_F(GatewayHttpTest, StartRefusesWhatWouldLeaveItOpenAndTakesCredentials) {
    const std::string make =
        "cd " + dir +
        " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
        " -keyout web.key -out web.crt > openssl.log 2>&1 && chmod 600 web.key"
        " && cp web.key loose.key && chmod 644 loose.key";
    ASSERT_EQ(::system(make.c_str()), 0) << readFile(dir + "/openssl.log");
    auto secret = [&](const std::string &name, const std::string &text, mode_t mode) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << text << "\n";
        ::chmod(path.c_str(), mode);
        return path;
    };
    const std::string missing = dir + "/missing.pem";
    const std::string web = std::to_string(freePort());
    const struct {
        std::vector<std::string> options;
        std::string logged;
    } cases[] = {
        {{"--http", web, "--http-key", dir + "/web.key"}, "--http-key needs --http-cert too"},
        {{"--http", web, "--http-cert", dir + "/web.crt"}, "--http-cert needs --http-key too"},
        {{"--http", web, "--http-cert", dir + "/web.crt", "--http-key", missing},
         "--http-key " + missing + ": No such file"},
        {{"--http", web, "--http-cert", dir + "/web.crt", "--http-key", dir + "/loose.key"},
         "group or others may read it (mode 0644)"},
        {{"--http", web, "--http-token-file", secret("loose.token", kToken, 0644)},
         "group or others may read it"},
        {{"--http", web, "--http-token-file", secret("short.token", "0123456789abcdef", 0600)},
         "too short to stand guessing (64 bits of the 128 needed); make one with "
         "(umask 077 && openssl rand -hex 32 > FILE)"},
        {{"--mqtt", "127.0.0.1:1", "--cafile", missing}, "--cafile " + missing},
        {{"--mqtt", "127.0.0.1:1", "--cert", dir + "/web.crt"}, "--cert needs --key too"},
        {{"--mqtt", "127.0.0.1:1", "--password-file", secret("loose.pw", "pw", 0640)},
         "--password-file " + dir + "/loose.pw: group or others may read it"},
        {{"--http", web, "--golden", secret("approved.dat", "500\n0\n10", 0644)},
         "approved.dat is no approved parameter set"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.logged);
        std::vector<std::string> args = {KVEX_CLI_PATH,        "--lang", "en", "--port",
                                         sensor->devicePath(), "serve"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        Child refused;
        ASSERT_TRUE(refused.start(args, dir + "/refused.log"));
        EXPECT_EQ(refused.wait(10.0), 2);
        EXPECT_NE(readFile(dir + "/refused.log").find(c.logged), std::string::npos)
            << readFile(dir + "/refused.log");
    }

    const std::string credentials = dir + "/credentials";
    std::filesystem::create_directory(credentials);
    secret("credentials/http-token", kToken, 0400);
    ::setenv("CREDENTIALS_DIRECTORY", credentials.c_str(), 1);
    const bool started = startWeb({"--http-allowed-hosts", "HMI.plant.example,line3"});
    ::unsetenv("CREDENTIALS_DIRECTORY");
    ASSERT_TRUE(started);
    // Only the gateway's own names: another name is a page that had it rebound to this address.
    const std::string portText = std::to_string(port);
    for (const auto &c :
         std::vector<std::pair<std::string, int>>{{"127.0.0.1:" + portText, 200},
                                                  {"localhost:" + portText, 200},
                                                  {"[::1]:" + portText, 200},
                                                  {"hmi.plant.example:" + portText, 200},
                                                  {"line3.", 200},
                                                  {"evil.example:" + portText, 421},
                                                  {"127.0.0.1.evil.example", 421},
                                                  {"localhost:80:81", 421}}) {
        const Reply r = rawRequest(port, "GET /api/status HTTP/1.1\r\nHost: " + c.first +
                                             "\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(r.status, c.second) << c.first;
    }
    const Reply upgrade =
        rawRequest(port,
                   "GET /ws HTTP/1.1\r\nHost: evil.example\r\nUpgrade: websocket\r\n"
                   "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                   "Sec-WebSocket-Version: 13\r\n\r\n",
                   5.0);
    EXPECT_NE(upgrade.status, 101);
    const std::string host = "Host: 127.0.0.1\r\n";
    EXPECT_EQ(rawRequest(port,
                         "POST /api/reset-max-min HTTP/1.1\r\n" + host + "Authorization: Bearer " +
                             kToken + "\r\nContent-Length: 0\r\n\r\n",
                         10.0)
                  .status,
              200);
    gateway.kill(SIGHUP);
    EXPECT_TRUE(waitFor([&] { return log().find("nothing to reload") != std::string::npos; }, 5.0));
    EXPECT_EQ(http(port, "GET", "/api/status").status, 200) << "SIGHUP ended the gateway";
}

// TLS with the certificate and the key in files of their own; no plain HTTP on that port.
TEST_F(GatewayHttpTest, TlsServesThePageAndRefusesPlainHttp) {
    const std::string make =
        "cd " + dir +
        " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
        " -keyout web.key -out web.crt > openssl.log 2>&1";
    ASSERT_EQ(::system(make.c_str()), 0) << readFile(dir + "/openssl.log");
    port = freePort();
    ASSERT_TRUE(startGateway({"--http", std::to_string(port), "--http-cert", dir + "/web.crt",
                              "--http-key", dir + "/web.key"}));
    const std::string fetch = "printf 'GET /api/status HTTP/1.1\\r\\nHost: 127.0.0.1\\r\\n"
                              "Connection: close\\r\\n\\r\\n' | timeout 10 openssl s_client "
                              "-quiet -connect 127.0.0.1:" +
                              std::to_string(port) + " > " + dir + "/tls.txt 2>/dev/null";
    EXPECT_TRUE(waitFor(
        [&] {
            return ::system(fetch.c_str()) >= 0 &&
                   readFile(dir + "/tls.txt").find("\"status\":\"online\"") != std::string::npos;
        },
        15.0))
        << readFile(dir + "/tls.txt");
    EXPECT_EQ(readFile(dir + "/tls.txt").rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_NE(http(port, "GET", "/api/status").status, 200);

    // TLS 1.2 and 1.3 only: the client offers 1.1 at its lowest security level, so the refusal
    // is the server's.
    const std::string connect = " -connect 127.0.0.1:" + std::to_string(port);
    auto handshake = [&](const std::string &options) {
        const std::string command = "timeout 10 openssl s_client -brief" + connect + " " + options +
                                    " < /dev/null > " + dir + "/hs.txt 2>&1";
        return ::system(command.c_str()) == 0 &&
               readFile(dir + "/hs.txt").find("CONNECTION ESTABLISHED") != std::string::npos;
    };
    EXPECT_TRUE(handshake("-tls1_2")) << readFile(dir + "/hs.txt");
    EXPECT_TRUE(handshake("-tls1_3")) << readFile(dir + "/hs.txt");
    EXPECT_FALSE(handshake("-tls1_1 -cipher DEFAULT@SECLEVEL=0")) << readFile(dir + "/hs.txt");

    // A live page over TLS stays connected while the certificate is renewed by SIGHUP; new
    // connections get the new one, and a broken pair keeps the one in use.
    const std::string page = dir + "/page.bin";
    const std::string open =
        "(printf 'GET /ws HTTP/1.1\\r\\nHost: 127.0.0.1\\r\\nUpgrade: websocket\\r\\n"
        "Connection: Upgrade\\r\\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\\r\\n"
        "Sec-WebSocket-Version: 13\\r\\n\\r\\n'; sleep 40) 2>/dev/null | openssl s_client -quiet" +
        connect + " > " + page + " 2>/dev/null & echo $! > " + dir + "/page.pid";
    ASSERT_EQ(::system(open.c_str()), 0);
    ASSERT_TRUE(
        waitFor([&] { return readFile(page).find("\"meas\"") != std::string::npos; }, 10.0));
    const std::string renew = "cd " + dir +
                              " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 "
                              "-subj /CN=renewed -keyout new.key -out new.crt > openssl.log 2>&1"
                              " && cp new.key web.key && cp new.crt web.crt";
    ASSERT_EQ(::system(renew.c_str()), 0) << readFile(dir + "/openssl.log");
    gateway.kill(SIGHUP);
    EXPECT_TRUE(waitFor([&] { return log().find("read again") != std::string::npos; }, 5.0));
    auto subject = [&] {
        handshake("");
        return readFile(dir + "/hs.txt");
    };
    EXPECT_NE(subject().find("CN = renewed"), std::string::npos) << readFile(dir + "/hs.txt");
    std::ofstream(dir + "/web.crt") << "not a certificate\n";
    gateway.kill(SIGHUP);
    EXPECT_TRUE(
        waitFor([&] { return log().find("kept the certificate") != std::string::npos; }, 5.0))
        << log();
    EXPECT_NE(subject().find("CN = renewed"), std::string::npos) << readFile(dir + "/hs.txt");
    const std::size_t before = readFile(page).size();
    EXPECT_TRUE(waitFor([&] { return readFile(page).size() > before + 1000; }, 10.0))
        << "the live page stopped getting samples after the renewal";
    const std::string stop = "kill $(cat " + dir + "/page.pid)";
    ::system(stop.c_str());
}

// An answer to the measurement request that is not one (its sync word or its answer code
// spoilt) never becomes a sample; the next good answer's sample carries the serial error.
TEST_F(GatewayHttpTest, SpoiltMeasurementAnswersAreCountedAndNeverPublished) {
    holdObject(300, 600);
    ASSERT_TRUE(startWeb({}));
    auto serialErrors = [&] {
        return object(http(port, "GET", "/api/status"))["serial_errors"].toInteger();
    };
    const kvexsim::Words w = expectedWords(300, 600);
    for (const kvexsim::FaultKind kind :
         {kvexsim::FaultKind::WrongSync, kvexsim::FaultKind::WrongCommand}) {
        const long before = serialErrors();
        sensor->setFault(8, kvexsim::Fault{kind, 1, 0.0, 3});
        ASSERT_TRUE(waitFor([&] { return serialErrors() > before; }, 10.0))
            << kvexsim::faultKindName(kind);
        const QJsonObject sample = object(http(port, "GET", "/api/sample"));
        EXPECT_EQ(sample["left"].toInt(), w[kvexsim::kMeasLeftEdge]);
        EXPECT_EQ(sample["right"].toInt(), w[kvexsim::kMeasRightEdge]);
        EXPECT_EQ(sample["value"].toInt(), w[kvexsim::kMeasValue]);
    }
}

TEST(GatewayWebBody, OnlyFlatObjectsOfWholeNumbersPass) {
    struct Case {
        const char *body;
        bool ok;
    };
    for (const Case &c :
         {Case{"{\"power\":500}", true}, Case{" { \"a\" : -3 , \"b\":0 } ", true},
          Case{"{\"a\\u0062\":1}", true}, Case{"{\"a\":1e3}", false}, Case{"{\"a\":01}", false},
          Case{"{\"a\":1,}", false}, Case{"{\"a\":1} x", false}, Case{"{\"a\":true}", false},
          Case{"{\"a\":null}", false}, Case{"{\"a\":99999999999999999999}", false},
          Case{"{\"a\":-}", false}, Case{"{\"a", false}, Case{"", false},
          Case{"{\"a\":[1]}", false}, Case{"{\"\\x\":1}", false}}) {
        std::vector<WordValue> words;
        std::string error;
        EXPECT_EQ(parseWordObject(c.body, &words, &error), c.ok) << c.body << ": " << error;
        EXPECT_EQ(error.empty(), c.ok) << c.body;
    }
    std::vector<WordValue> words;
    std::string error;
    ASSERT_TRUE(parseWordObject("{\"ab\":-3,\"c\":65535}", &words, &error));
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0].name, "ab");
    EXPECT_EQ(words[0].value, -3);
    EXPECT_EQ(words[1].value, 65535);
}

} // namespace

namespace {

// Commands of the requests the sensor saw, in order.
std::vector<uint16_t> commandsSeen(const kvexsim::SensorSim &sensor) {
    std::vector<uint16_t> commands;
    for (const kvexsim::Request &r : sensor.requests())
        commands.push_back(r.command());
    return commands;
}

} // namespace

TEST_F(GatewayHttpTest, ReserveFallsOnADimmingSensorAndEverySideWarnsWhenTheDocsSayItWill) {
    Broker broker(dir);
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), std::string(kPrefix) + "/#");
    ASSERT_TRUE(subscriber.waitSubscribed());
    holdObject(300, 600);
    // 2 % of the clean lit level a second. docs/signal-reserve.md: the simulator's clean lit
    // level 818 over the threshold word 512 warns at 0.3 once the lit level is down to
    // 1.3 x 512 = 666, 81.3 % of the clean one.
    constexpr double kWarnShare = 1.3 * 512 / 818.4;
    sensor->setDimming(7200.0);
    ASSERT_TRUE(startWeb({"--mqtt", "127.0.0.1:" + std::to_string(broker.port()), "--topic-prefix",
                          kPrefix, "--reserve-every", "1s"}));
    double shareAtWarn = 0.0;
    ASSERT_TRUE(waitFor(
        [&] {
            const double share = sensor->litShare();
            if (object(http(port, "GET", "/api/status"))["health"] != "warn")
                return false;
            shareAtWarn = share;
            return true;
        },
        40.0));
    // Not before the lit level reached the docs' level, and within a few lines of it.
    EXPECT_LT(shareAtWarn, kWarnShare + 0.005);
    EXPECT_GT(shareAtWarn, kWarnShare - 0.12);

    const QJsonObject status = object(http(port, "GET", "/api/status"));
    EXPECT_EQ(status["status"], "online");
    EXPECT_LT(status["signal_reserve"].toDouble(), 0.3);
    EXPECT_EQ(status["advice"], "clean the lens or check the light");
    const QJsonArray readings = object(http(port, "GET", "/api/reserve"))["readings"].toArray();
    ASSERT_GE(readings.size(), 3);
    for (int i = 1; i < readings.size(); ++i)
        EXPECT_LT(readings[i]["signal_reserve"].toDouble(),
                  readings[i - 1]["signal_reserve"].toDouble())
            << "reading " << i;
    EXPECT_GT(readings[0]["signal_reserve"].toDouble(), 0.3);
    EXPECT_EQ(readings.last()["signal_reserve"].toDouble(), status["signal_reserve"].toDouble());
    // The last line suggests a threshold halfway down to the dimmed lit level, round the object,
    // and the gateway itself writes none of it.
    const QJsonObject proposal = object(http(port, "GET", "/api/proposal"));
    EXPECT_EQ(proposal["proposed"], true) << proposal["reason"].toString().toStdString();
    EXPECT_LT(proposal["v_thd"].toInt(), 512);
    EXPECT_GT(proposal["v_thd"].toInt(), 300);
    EXPECT_LT(proposal["e_beg"].toInt(), 300);
    EXPECT_GT(proposal["e_end"].toInt(), 600);
    EXPECT_GT(proposal["signal_reserve"].toDouble(), 0.5);
    EXPECT_EQ(sensor->ram()[2], 512);

    const std::string metrics = http(port, "GET", "/metrics").body;
    EXPECT_LT(metricValue(metrics, "kvex_signal_reserve_ratio"), 0.3) << metrics;
    EXPECT_EQ(metricValue(metrics, "kvex_signal_reserve_warning"), 1.0);
    EXPECT_EQ(metricValue(metrics, "kvex_signal_reserve_warn_ratio"), 0.3);
    EXPECT_GT(metricValue(metrics, "kvex_signal_contrast_ratio"), 0.0);

    ASSERT_TRUE(
        waitFor([&] { return jsonObject(subscriber.last("/health"))["health"] == "warn"; }, 10.0));
    // Retained: a client that comes later gets it at once.
    std::string retained;
    if (FILE *pipe =
            ::popen(("timeout 10 mosquitto_sub -h 127.0.0.1 -p " + std::to_string(broker.port()) +
                     " -t " + kPrefix + "/health --retained-only -C 1 -W 5 2>&1")
                        .c_str(),
                    "r")) {
        char buffer[1024];
        while (std::fgets(buffer, sizeof buffer, pipe))
            retained += buffer;
        ::pclose(pipe);
    }
    EXPECT_EQ(jsonObject(retained)["health"], "warn") << retained;
    EXPECT_EQ(subscriber.last("/status"), "online");

    // The run went on between the reserve lines: every line (four blocks on this board) is
    // followed by the next run request and many run answers lie between two lines.
    const std::vector<uint16_t> commands = commandsSeen(*sensor);
    std::vector<std::size_t> lines;
    for (std::size_t i = 0; i + 4 < commands.size(); ++i)
        if (commands[i] != 9 && commands[i + 1] == 9) {
            lines.push_back(i + 1);
            EXPECT_EQ(std::vector<uint16_t>(commands.begin() + i + 1, commands.begin() + i + 6),
                      (std::vector<uint16_t>{9, 9, 9, 9, 8}))
                << "request " << i + 1;
        }
    ASSERT_GE(lines.size(), 3u);
    for (std::size_t k = 1; k < lines.size(); ++k)
        EXPECT_GT(lines[k] - lines[k - 1], 10u);
    // For the record, not a verdict: the run's gap across a reserve line against its usual one.
    const std::vector<kvexsim::Request> requests = sensor->requests();
    std::vector<double> usual;
    double across = 0.0;
    for (std::size_t i = 1; i < requests.size(); ++i)
        if (requests[i].command() == 8 && requests[i - 1].command() == 8)
            usual.push_back(requests[i].time - requests[i - 1].time);
    for (std::size_t line : lines)
        if (line > 0 && line + 4 < requests.size())
            across = std::max(across, requests[line + 4].time - requests[line - 1].time);
    std::sort(usual.begin(), usual.end());
    if (!usual.empty())
        RecordProperty("run_gap_ms", std::to_string(1000 * usual[usual.size() / 2]) + " usual, " +
                                         std::to_string(1000 * across) +
                                         " at most across a reserve line");
}

TEST_F(GatewayHttpTest, AReserveLineThatTimesOutIsCountedAndTriedAgainNeverShownAsZero) {
    holdObject(300, 600);
    kvexsim::Fault silent;
    silent.kind = kvexsim::FaultKind::Silence;
    // The standard sensor's board sends a line in four blocks: one silent block spoils it.
    sensor->setFault(9, silent);
    ASSERT_TRUE(startWeb({"--reserve-every", "1s"}));
    auto status = [&] { return object(http(port, "GET", "/api/status")); };
    ASSERT_TRUE(waitFor([&] { return status()["reserve_failures"].toInt() == 1; }, 20.0));
    EXPECT_TRUE(status()["signal_reserve"].isNull());
    EXPECT_EQ(status()["health"], "unknown");
    ASSERT_TRUE(waitFor([&] { return status()["signal_reserve"].isDouble(); }, 20.0));
    const double clean = status()["signal_reserve"].toDouble();
    EXPECT_NEAR(clean, 818.4 / 512 - 1, 0.03);

    sensor->setFault(9, silent);
    ASSERT_TRUE(waitFor([&] { return status()["reserve_failures"].toInt() == 2; }, 20.0));
    EXPECT_NEAR(status()["signal_reserve"].toDouble(), clean, 0.03);
    EXPECT_EQ(status()["health"], "ok");
    const std::string metrics = http(port, "GET", "/metrics").body;
    EXPECT_EQ(metricValue(metrics, "kvex_reserve_line_failures_total"), 2.0);
    EXPECT_NEAR(metricValue(metrics, "kvex_signal_reserve_ratio"), clean, 0.03);
}

TEST_F(GatewayHttpTest, TheReserveTrendOutlivesARestartInTheStore) {
    Broker broker(dir);
    ASSERT_TRUE(broker.start());
    const std::vector<std::string> args = {
        "--mqtt",          "127.0.0.1:" + std::to_string(broker.port()),
        "--topic-prefix",  kPrefix,
        "--store",         dir + "/gateway.db",
        "--reserve-every", "1s"};
    ASSERT_TRUE(startWeb(args));
    auto readings = [&] { return object(http(port, "GET", "/api/reserve"))["readings"].toArray(); };
    ASSERT_TRUE(waitFor([&] { return readings().size() >= 2; }, 20.0));
    gateway.kill(SIGTERM);
    ASSERT_EQ(gateway.wait(10.0), 0);
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open((dir + "/gateway.db").c_str(), &db), SQLITE_OK);
    sqlite3_stmt *count = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*), min(ts) FROM reserve", -1, &count, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    const int kept = sqlite3_column_int(count, 0);
    const std::string oldest = reinterpret_cast<const char *>(sqlite3_column_text(count, 1));
    sqlite3_finalize(count);
    sqlite3_close(db);
    EXPECT_GE(kept, 2);

    ASSERT_TRUE(startWeb(args));
    const QJsonArray after = readings();
    ASSERT_GE(after.size(), kept);
    EXPECT_EQ(after[0]["ts"].toString().toStdString(), oldest);
}

// The approved set equal to the sensor: no drift. A RAM write past the gateway is "unsaved
// changes" at the next check, an EEPROM change "differs from the approved set" on every face, and
// a write back through the gateway clears it at once; the log says each drift once, and the
// checks' reads sit between run cycles.
TEST_F(GatewayHttpTest, DriftFromTheApprovedSetIsSaidOnEveryFaceOnceAndClearedByAWriteBack) {
    Broker broker(dir);
    ASSERT_TRUE(broker.start());
    Subscriber subscriber(broker.port(), std::string(kPrefix) + "/#");
    ASSERT_TRUE(subscriber.waitSubscribed());
    const kvexsim::Words approved = sensor->eeprom();
    const std::string golden = dir + "/approved.dat";
    {
        std::ofstream out(golden);
        for (const uint16_t word : approved)
            out << word << "\n";
    }
    ASSERT_TRUE(
        startWeb({"--mqtt", "127.0.0.1:" + std::to_string(broker.port()), "--topic-prefix", kPrefix,
                  "--golden", golden, "--drift-every", "1m", "--http-token-file", writeToken()}));
    Stream stream(port);
    ASSERT_TRUE(stream.upgraded());
    auto drift = [&] { return object(http(port, "GET", "/api/drift")); };
    ASSERT_TRUE(waitFor([&] { return drift()["drift"] == "ok"; }, 15.0)) << log();
    EXPECT_EQ(drift()["golden_file"], "approved.dat");
    EXPECT_TRUE(waitFor([&] { return jsonObject(subscriber.last("/drift"))["drift"] == "ok"; }, 5));

    struct Step {
        const char *what;
        int ram, eeprom;     // the tolerance word in each; -1: unchanged
        bool throughGateway; // written back with the web's PUT, else set on the sensor
        QJsonArray says;
        int ramEeprom, eepromGolden, ramGolden;
    };
    const int tol = kvexsim::kParTolerance, was = approved[tol];
    const Step steps[] = {
        {"RAM written past the gateway",
         was + 50,
         -1,
         false,
         {"unsaved changes", "differs from the approved set"},
         1,
         0,
         1},
        {"EEPROM written too", -1, was + 50, false, {"differs from the approved set"}, 0, 1, 1},
        {"both written back through the gateway", was, was, true, {}, 0, 0, 0},
    };
    const std::string token = "Authorization: Bearer " + std::string(kToken) + "\r\n";
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        const std::size_t heard = stream.messages.size();
        if (step.throughGateway) {
            const std::string body = "{\"t_tol\":" + std::to_string(step.ram) + "}";
            ASSERT_EQ(http(port, "PUT", "/api/params?to=eeprom", token, body).status, 200);
            ASSERT_EQ(http(port, "PUT", "/api/params", token, body).status, 200);
        } else {
            kvexsim::Words ram = sensor->ram(), eeprom = sensor->eeprom();
            if (step.ram >= 0)
                ram[tol] = static_cast<uint16_t>(step.ram);
            if (step.eeprom >= 0)
                eeprom[tol] = static_cast<uint16_t>(step.eeprom);
            sensor->setRam(ram);
            sensor->setEeprom(eeprom);
            // SIGHUP reads the approved file again and checks at once.
            gateway.kill(SIGHUP);
        }
        ASSERT_TRUE(waitFor([&] { return drift()["says"] == step.says; }, 10.0)) << log();
        const QJsonObject found = drift();
        EXPECT_EQ(found["drift"], step.says.isEmpty() ? "ok" : "drift");
        EXPECT_EQ(found["ram_eeprom"], step.ramEeprom);
        EXPECT_EQ(found["eeprom_golden"], step.eepromGolden);
        EXPECT_EQ(found["ram_golden"], step.ramGolden);
        const QJsonArray words = found["words"].toArray();
        ASSERT_EQ(words.size(), step.says.isEmpty() ? 0 : 1);
        if (!words.isEmpty()) {
            EXPECT_EQ(words[0]["key"], "t_tol");
            EXPECT_EQ(words[0]["approved"], was);
            EXPECT_EQ(words[0]["eeprom"], sensor->eeprom()[tol]);
            EXPECT_EQ(words[0]["ram"], sensor->ram()[tol]);
        }
        // The words the gateway shows follow the sensor's RAM, whoever wrote it.
        EXPECT_EQ(object(http(port, "GET", "/api/params"))["t_tol"], sensor->ram()[tol]);
        const std::string metrics = http(port, "GET", "/metrics").body;
        EXPECT_NE(metrics.find("kvex_parameter_drift_words{compare=\"eeprom_golden\"} " +
                               std::to_string(step.eepromGolden) + "\n"),
                  std::string::npos)
            << metrics;
        EXPECT_NE(metrics.find("kvex_parameter_drift_words{compare=\"ram_eeprom\"} " +
                               std::to_string(step.ramEeprom) + "\n"),
                  std::string::npos);
        EXPECT_TRUE(waitFor(
            [&] { return jsonObject(subscriber.last("/drift"))["says"] == step.says; }, 5.0));
        stream.collect(0.5);
        bool streamed = false;
        for (std::size_t i = heard; i < stream.messages.size(); ++i)
            streamed = streamed || (stream.messages[i]["type"] == "drift" &&
                                    stream.messages[i]["says"] == step.says);
        EXPECT_TRUE(streamed);
    }
    const std::string text = log();
    auto count = [](const std::string &text, const std::string &what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(
        count(text, "parameter drift: unsaved changes, differs from the approved set; Tolerance "
                    "(word 9): approved " +
                        std::to_string(was) + ", EEPROM " + std::to_string(was) + ", RAM " +
                        std::to_string(was + 50)),
        1u)
        << text;
    EXPECT_EQ(count(text, "parameter drift: differs from the approved set;"), 1u) << text;
    EXPECT_EQ(count(text, "parameter drift ended: RAM, EEPROM and the approved set agree"), 1u)
        << text;
    // A check that finds what the last one found says nothing.
    gateway.kill(SIGHUP);
    ASSERT_TRUE(
        waitFor([&] { return count(log(), "approved parameter set read again") == 3; }, 5.0));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(log().find("parameter drift", text.size()), std::string::npos) << log();

    // Each check reads RAM then EEPROM between two run cycles, and the run goes on after it.
    const std::vector<uint16_t> commands = commandsSeen(*sensor);
    int checks = 0;
    for (std::size_t i = 1; i + 2 < commands.size(); ++i)
        if (commands[i] == 2 && commands[i + 1] == 4) {
            ++checks;
            EXPECT_EQ(commands[i - 1], 8) << "request " << i;
            EXPECT_EQ(commands[i + 2], 8) << "request " << i;
        }
    EXPECT_GE(checks, 5);
}
