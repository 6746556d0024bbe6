// The gateway's OPC UA face against the simulated sensor, seen through an independent client
// (node-opcua, npm, MIT; tests/opcua/client.js), never through open62541's own client; what no
// client would send is written by hand.
#include "app/jsontext.h"
#include "gateway_fixture.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace gatewaytest;

namespace {

bool clientInstalled() {
    return std::filesystem::exists(KVEX_OPCUA_NODE_DIR "/node_modules/node-opcua-client");
}

std::string hostName() {
    char name[256] = "";
    ::gethostname(name, sizeof name - 1);
    return name[0] ? name : "localhost";
}

// The node id of a path below Objects in the gateway's namespace (index 1: the first one added).
std::string node(const std::string &path) {
    return "ns=1;s=" + path;
}

class OpcuaTest : public GatewayTest {
  protected:
    void SetUp() override {
        GatewayTest::SetUp();
        if (!clientInstalled()) {
            if (std::string(std::getenv("KVEX_OPCUA_CLIENT") ? std::getenv("KVEX_OPCUA_CLIENT")
                                                             : "") == "skip")
                GTEST_SKIP() << "KVEX_OPCUA_CLIENT=skip and no client installed";
            FAIL() << "node-opcua is not in " KVEX_OPCUA_NODE_DIR
                      " (ctest's opcua_client set-up installs it)";
        }
        // The server's certificate goes where systemd's StateDirectory= would put it.
        ::setenv("STATE_DIRECTORY", (dir + "/state").c_str(), 1);
    }

    bool startOpcua(std::vector<std::string> options = {}) {
        port = freePort();
        options.insert(options.begin(), {"--opcua", std::to_string(port)});
        return startGateway(options) &&
               waitFor([&] { return log().find("OPC UA on opc.tcp://") != std::string::npos; },
                       5.0);
    }

    // Runs the client with `plan` (the endpoint added) and gives its results, one per action.
    QJsonArray client(QJsonObject plan) {
        plan["endpoint"] = QString("opc.tcp://127.0.0.1:%1").arg(port);
        plan["namespaceUri"] = QString::fromStdString("urn:" + hostName() + ":kvex-rtn:gateway");
        plan["pki"] = QString::fromStdString(dir + "/client-pki");
        const std::string json = QJsonDocument(plan).toJson(QJsonDocument::Compact).toStdString();
        std::string quoted;
        for (const char c : json)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        std::string out;
        const std::string command = "cd '" + dir +
                                    "' && NODE_PATH='" KVEX_OPCUA_NODE_DIR
                                    "/node_modules' timeout 120 node '" KVEX_OPCUA_CLIENT_JS "' '" +
                                    quoted + "' 2>>'" + dir + "/client.log'";
        if (FILE *pipe = ::popen(command.c_str(), "r")) {
            char buffer[65536];
            std::size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
                out.append(buffer, n);
            ::pclose(pipe);
        }
        // node-opcua may say things of its own on stdout first: the answer is the last line.
        const auto start = out.rfind("\n[", out.size() >= 2 ? out.size() - 2 : 0);
        const std::string last = start == std::string::npos ? out : out.substr(start + 1);
        const QJsonArray results = QJsonDocument::fromJson(QByteArray::fromStdString(last)).array();
        EXPECT_FALSE(results.isEmpty()) << out << readFile(dir + "/client.log");
        return results;
    }

    std::size_t writeRequests() const { return gatewaytest::writeRequests(*sensor); }

    static QJsonObject action(const char *op, QJsonObject fields = {}) {
        fields["op"] = op;
        return fields;
    }

    int port = 0;
};

} // namespace

// The tree a client browses: the device with the nameplate identification gives, its 16 words
// with their ranges, the measurements with their units, the gateway's health; the log names the
// endpoint and its policies.
TEST_F(OpcuaTest, BrowsedTreeCarriesTheNameplateTheWordsAndTheMeasurements) {
    holdObject(300, 600);
    ASSERT_TRUE(startOpcua());
    EXPECT_NE(log().find("OPC UA on opc.tcp://127.0.0.1:" + std::to_string(port) +
                         ", security policies None"),
              std::string::npos)
        << log();
    ASSERT_TRUE(waitFor([&] { return log().find("sensor found") != std::string::npos; }, 10.0));
    const QJsonArray results = client({{"actions", QJsonArray{action("browse")}}});
    ASSERT_EQ(results.size(), 1);
    std::map<std::string, QJsonObject> tree;
    for (const QJsonValue &entry : results[0].toArray())
        tree[entry["path"].toString().toStdString()] = entry.toObject();
    ASSERT_FALSE(tree.empty()) << QJsonDocument(results).toJson().toStdString();

    const auto &profile = sensor->profile();
    struct Expected {
        std::string path;
        QJsonValue value; // undefined: any
        const char *dataType;
    };
    const QJsonValue any(QJsonValue::Undefined);
    std::vector<Expected> expected = {
        {"DeviceSet/sensor/Manufacturer", "KVEX", "ns=0;i=21"},
        {"DeviceSet/sensor/Model",
         QString("K-VEX-RTN type %1, %2 pixels").arg(profile.ccdtype).arg(profile.ccdmaxpixel),
         "ns=0;i=21"},
        {"DeviceSet/sensor/SoftwareRevision", any, "ns=0;i=12"},
        {"DeviceSet/sensor/HardwareRevision", QString("board %1").arg(profile.pcbtype),
         "ns=0;i=12"},
        {"DeviceSet/sensor/SerialNumber", "", "ns=0;i=12"},
        {"DeviceSet/sensor/RevisionCounter", 0, "ns=0;i=6"},
        {"DeviceSet/sensor/DeviceHealth", 0, "ns=0;i=6"},
        {"DeviceSet/sensor/Measurements/value", any, "ns=0;i=5"},
        {"DeviceSet/sensor/Measurements/um", any, "ns=0;i=11"},
        {"DeviceSet/sensor/Measurements/in_tol", any, "ns=0;i=1"},
        {"DeviceSet/sensor/Measurements/seq", any, "ns=0;i=7"},
        {"DeviceSet/sensor/Measurements/signal_reserve", any, "ns=0;i=11"},
        {"Gateway/sensor_answering", true, "ns=0;i=1"},
        {"Gateway/broker", "off", "ns=0;i=12"},
        {"Gateway/samples", any, "ns=0;i=9"},
    };
    const kvexsim::Words ram = sensor->ram();
    for (int word = 0; word < 16; ++word)
        expected.push_back({std::string("DeviceSet/sensor/ParameterSet/") + parameterJsonKey(word),
                            ram[word], "ns=0;i=5"});
    for (const Expected &e : expected) {
        SCOPED_TRACE(e.path);
        ASSERT_TRUE(tree.count(e.path));
        const QJsonObject &n = tree[e.path];
        // The node id is the path below Objects, the device's without DeviceSet.
        const std::string inDeviceSet = "DeviceSet/";
        EXPECT_EQ(
            n["nodeId"].toString().toStdString(),
            node(e.path.rfind(inDeviceSet, 0) == 0 ? e.path.substr(inDeviceSet.size()) : e.path));
        EXPECT_EQ(n["dataType"].toString().toStdString(), e.dataType);
        if (!e.value.isUndefined())
            EXPECT_EQ(n["value"], e.value);
    }
    EXPECT_TRUE(
        tree["DeviceSet/sensor/SoftwareRevision"]["value"].toString().startsWith("KVEX-RTN FW"));
    const QJsonObject range =
        tree["DeviceSet/sensor/ParameterSet/v_thd/EURange"]["value"].toObject();
    EXPECT_EQ(range["low"], 50);
    EXPECT_EQ(range["high"], 950);
    const QJsonObject unit =
        tree["DeviceSet/sensor/Measurements/um/EngineeringUnits"]["value"].toObject();
    EXPECT_EQ(unit["displayName"].toObject()["text"].toString(), QString::fromUtf8("µm"));
    EXPECT_EQ(unit["unitId"], 0x3448); // UNECE 4H
    EXPECT_EQ(tree["DeviceSet/sensor/Measurements/video_line"]["value"].toArray().size(), 256);

    // A silent sensor is a FAILURE in NAMUR's words; answering again, NORMAL.
    silence(true);
    ASSERT_TRUE(waitFor([&] { return log().find("sensor lost") != std::string::npos; }, 10.0));
    const std::string health = node("sensor/DeviceHealth");
    auto readHealth = [&] {
        const QJsonArray r = client(
            {{"actions", QJsonArray{action(
                             "read", {{"nodes", QJsonArray{QString::fromStdString(health)}}})}}});
        return r[0].toArray()[0].toObject()["value"].toInt(-1);
    };
    EXPECT_TRUE(waitFor([&] { return readHealth() == 1; }, 10.0));
    silence(false);
    EXPECT_TRUE(waitFor([&] { return readHealth() == 0; }, 15.0));
}

// Subscribed with sampling interval 0, a client gets every answer once, in order, each with the
// time it arrived, the value the simulator gave.
TEST_F(OpcuaTest, SubscriptionGetsEverySampleOnceInOrderWithItsOwnTime) {
    holdObject(300, 600);
    ASSERT_TRUE(startOpcua());
    const kvexsim::Words w = expectedWords(300, 600);
    const QJsonArray results = client(
        {{"actions",
          QJsonArray{action(
              "subscribe",
              {{"nodes", QJsonArray{QString::fromStdString(node("sensor/Measurements/seq")),
                                    QString::fromStdString(node("sensor/Measurements/value"))}},
               {"seconds", 10},
               {"samplingInterval", 0},
               {"queueSize", 100}})}}});
    ASSERT_EQ(results.size(), 1);
    const QJsonArray seqs = results[0].toArray()[0].toArray(),
                     values = results[0].toArray()[1].toArray();
    // At the wire's rate (about 26 answers a second) ten seconds hold well over 200.
    ASSERT_GT(seqs.size(), 200);
    for (int i = 1; i < seqs.size(); ++i) {
        EXPECT_EQ(seqs[i]["value"].toInt(), seqs[i - 1]["value"].toInt() + 1) << i;
        EXPECT_GT(seqs[i]["sourceTimestamp"].toString(), seqs[i - 1]["sourceTimestamp"].toString())
            << i;
    }
    // The value node has the same samples (the first may come from before the subscription).
    EXPECT_LE(std::abs(values.size() - seqs.size()), 2);
    std::set<QString> seqTimes;
    for (const QJsonValue &s : seqs)
        seqTimes.insert(s["sourceTimestamp"].toString());
    int matched = 0;
    for (const QJsonValue &v : values) {
        EXPECT_EQ(v["value"].toInt(), w[kvexsim::kMeasValue]);
        matched += seqTimes.count(v["sourceTimestamp"].toString());
    }
    EXPECT_GE(matched, static_cast<int>(values.size()) - 2);
}

namespace {

// A users file as an operator makes it: openssl passwd -6, readable by its owner only.
std::string writeUsers(const std::string &dir) {
    auto hash = [](const char *password) {
        std::string out;
        if (FILE *pipe =
                ::popen(("openssl passwd -6 '" + std::string(password) + "'").c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, pipe))
                out += buffer;
            ::pclose(pipe);
        }
        while (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    };
    const std::string path = dir + "/opcua-users";
    std::ofstream(path) << "# name:role:hash\n"
                        << "line3:write:" << hash("w-secret") << "\n"
                        << "viewer:read:" << hash("r-secret") << "\n";
    ::chmod(path.c_str(), 0600);
    return path;
}

QJsonObject user(const char *name, const char *password, const char *mode = "SignAndEncrypt",
                 const char *policy = "Basic256Sha256") {
    QJsonObject plan{{"securityMode", mode}, {"securityPolicy", policy}};
    if (name) {
        plan["user"] = name;
        plan["password"] = password;
    }
    return plan;
}

QJsonObject writeAction(const char *word, int value) {
    return {{"op", "write"},
            {"node", QString::fromStdString(node(std::string("sensor/ParameterSet/") + word))},
            {"dataType", "UInt16"},
            {"value", value}};
}

QJsonObject callAction(const char *method, QJsonArray inputs = {}) {
    return {{"op", "call"},
            {"object", QString::fromStdString(node("sensor/MethodSet"))},
            {"method", QString::fromStdString(node(std::string("sensor/MethodSet/") + method))},
            {"inputs", inputs}};
}

} // namespace

// Who may do what: anonymous clients and read users read, a write user over SignAndEncrypt
// writes (read back, audited, the revision counted) and calls each method; a password over a
// channel that does not encrypt, a wrong one and a value outside the panel's limits are refused
// with nothing sent; no sensor, no write.
TEST_F(OpcuaTest, OnlyWriteUsersOverAnEncryptedChannelWriteAndEachRefusalSendsNothing) {
    ASSERT_TRUE(startOpcua({"--opcua-users", writeUsers(dir)}));
    EXPECT_NE(log().find("security policies None, Basic256Sha256, Aes256_Sha256_RsaPss"),
              std::string::npos)
        << log();
    EXPECT_TRUE(std::filesystem::exists(
        dir + "/state/opcua-" + sensor->devicePath().substr(sensor->devicePath().rfind('/') + 1) +
        ".key"));
    const int tol = kvexsim::kParTolerance;
    const int was = sensor->ram()[tol];
    struct Refused {
        const char *what;
        QJsonObject who;
        const char *status; // in the session's or the write's answer
    };
    const Refused refused[] = {
        {"anonymous", user(nullptr, nullptr, "None", "None"), "BadUserAccessDenied"},
        {"read user", user("viewer", "r-secret"), "BadUserAccessDenied"},
        {"write user over None", user("line3", "w-secret", "None", "None"),
         "BadSecurityModeInsufficient"},
        {"write user, signed only", user("line3", "w-secret", "Sign"),
         "BadSecurityModeInsufficient"},
        {"wrong password", user("line3", "guess", "SignAndEncrypt", "Aes256_Sha256_RsaPss"),
         "BadUserAccessDenied"},
    };
    for (const Refused &r : refused) {
        SCOPED_TRACE(r.what);
        QJsonObject plan = r.who;
        plan["actions"] = QJsonArray{writeAction("t_tol", was + 7), callAction("Teach")};
        const std::string answer = QJsonDocument(client(plan)).toJson().toStdString();
        EXPECT_NE(answer.find(r.status), std::string::npos) << answer;
        EXPECT_EQ(writeRequests(), 0u) << answer;
    }
    // Out of the panel's limits: refused by the same check as the web's, nothing sent.
    QJsonObject writer = user("line3", "w-secret");
    writer["actions"] = QJsonArray{writeAction("v_thd", 10)};
    EXPECT_EQ(client(writer)[0].toObject()["status"], "BadOutOfRange");
    EXPECT_EQ(writeRequests(), 0u);

    writer["actions"] = QJsonArray{
        writeAction("t_tol", was + 7),
        QJsonObject{{"op", "read"},
                    {"nodes", QJsonArray{QString::fromStdString(node("sensor/ParameterSet/t_tol")),
                                         QString::fromStdString(node("sensor/RevisionCounter"))}}},
        callAction(
            "WriteParameters",
            {QJsonObject{{"dataType", "String"}, {"value", "eeprom"}},
             QJsonObject{{"dataType", "String"}, {"value", QJsonArray{"t_tol"}}, {"array", true}},
             QJsonObject{{"dataType", "UInt16"}, {"value", QJsonArray{was + 9}}, {"array", true}}}),
        callAction("ResetMaxMin"),
        callAction("Teach"),
        callAction("ReadVideoLine")};
    const QJsonArray results = client(writer);
    ASSERT_EQ(results.size(), 6) << QJsonDocument(results).toJson().toStdString();
    EXPECT_EQ(results[0].toObject()["status"], "Good");
    EXPECT_EQ(sensor->ram()[tol], was + 7);
    EXPECT_EQ(results[1].toArray()[0].toObject()["value"], was + 7);
    EXPECT_EQ(results[1].toArray()[1].toObject()["value"], 1) << "the revision counter";
    const QJsonObject eeprom = results[2].toObject();
    EXPECT_EQ(eeprom["status"], "Good");
    EXPECT_EQ(sensor->eeprom()[tol], was + 9);
    const QJsonObject written = jsonObject(eeprom["outputs"].toArray()[0].toString().toStdString());
    EXPECT_EQ(written["memory"], "eeprom");
    EXPECT_EQ(written["verified"], true);
    EXPECT_EQ(
        jsonObject(results[3].toObject()["outputs"].toArray()[0].toString().toStdString())["reset"],
        true);
    EXPECT_EQ(results[4].toObject()["status"], "Good");
    const QJsonArray line = results[5].toObject()["outputs"].toArray()[0].toArray();
    EXPECT_EQ(line.size(), 256);
    const std::string text = log();
    for (const char *entry :
         {"OPC UA write from line3: parameter words to RAM: t_tol=",
          "OPC UA write from line3: "
          "parameter words to EEPROM",
          "OPC UA write from line3: reset max/min", "OPC UA write from line3: teach",
          "OPC UA write from line3: parameter words to RAM: refused: v_thd (word 2) is 10"})
        EXPECT_NE(text.find(entry), std::string::npos) << entry << "\n" << text;

    // No sensor, no write: refused at once, nothing waits for it.
    silence(true);
    ASSERT_TRUE(waitFor([&] { return log().find("sensor lost") != std::string::npos; }, 10.0));
    const std::size_t before = writeRequests();
    writer["actions"] = QJsonArray{writeAction("t_tol", was)};
    EXPECT_EQ(client(writer)[0].toObject()["status"], "BadNoCommunication");
    EXPECT_EQ(writeRequests(), before);
}

// A client that was away fills its gap with HistoryRead: every sample of the range, in order,
// at its own time; 100 sessions open at once.
TEST_F(OpcuaTest, HistoryFillsAnAbsentClientsGapAndHundredSessionsOpen) {
    holdObject(300, 600);
    // With a store (which serves an MQTT broker) the history is kept in its file too.
    Broker broker(dir);
    ASSERT_TRUE(broker.start());
    const std::string mqtt = "127.0.0.1:" + std::to_string(broker.port());
    const std::string store = dir + "/store.db";
    ASSERT_TRUE(startOpcua({"--opcua-anonymous", "on", "--mqtt", mqtt, "--store", store}));
    const QString from = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const QString to = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    const QJsonArray results = client(
        {{"sessions", 100},
         {"actions",
          QJsonArray{
              QJsonObject{{"op", "history"},
                          {"node", QString::fromStdString(node("sensor/Measurements/seq"))},
                          {"start", from},
                          {"end", to}},
              QJsonObject{{"op", "history"},
                          {"node", QString::fromStdString(node("sensor/Measurements/value"))},
                          {"start", from},
                          {"end", to}}}}});
    ASSERT_EQ(results.size(), 3) << QJsonDocument(results).toJson().toStdString();
    EXPECT_EQ(results[0].toObject()["opened"], 100);
    const QJsonArray seqs = results[1].toObject()["values"].toArray();
    const QJsonArray values = results[2].toObject()["values"].toArray();
    EXPECT_EQ(results[1].toObject()["status"], "Good");
    // Four seconds at the wire's rate.
    ASSERT_GT(seqs.size(), 80);
    EXPECT_EQ(values.size(), seqs.size());
    const kvexsim::Words w = expectedWords(300, 600);
    for (int i = 0; i < seqs.size(); ++i) {
        if (i > 0)
            EXPECT_EQ(seqs[i]["value"].toInt(), seqs[i - 1]["value"].toInt() + 1) << i;
        EXPECT_GE(seqs[i]["sourceTimestamp"].toString(), from);
        EXPECT_LE(seqs[i]["sourceTimestamp"].toString(), to);
        EXPECT_EQ(values[i]["value"].toInt(), w[kvexsim::kMeasValue]);
        EXPECT_EQ(values[i]["sourceTimestamp"], seqs[i]["sourceTimestamp"]);
    }
    // With anonymous reading off, a client must log in (and without users the start is refused).
    gateway.kill(SIGTERM);
    ASSERT_EQ(gateway.wait(10.0), 0);
    Child refused;
    ASSERT_TRUE(
        refused.start({KVEX_CLI_PATH, "--lang", "en", "--port", sensor->devicePath(), "serve",
                       "--opcua", std::to_string(freePort()), "--opcua-anonymous", "off"},
                      dir + "/refused.log"));
    EXPECT_EQ(refused.wait(10.0), 2);
    EXPECT_NE(readFile(dir + "/refused.log").find("--opcua-anonymous off needs --opcua-users"),
              std::string::npos);
    ASSERT_TRUE(startOpcua({"--opcua-anonymous", "off", "--opcua-users", writeUsers(dir), "--mqtt",
                            mqtt, "--store", store}));
    const QJsonArray read{QJsonObject{
        {"op", "read"},
        {"nodes", QJsonArray{QString::fromStdString(node("sensor/Measurements/seq"))}}}};
    const std::string anonymous = QJsonDocument(client({{"actions", read}})).toJson().toStdString();
    EXPECT_NE(anonymous.find("session:"), std::string::npos) << anonymous;
    // The store's file kept the first run's samples across the restart, though the broker has
    // them all: the same answers, each at its own time, in pages of 30 through continuation
    // points.
    QJsonObject viewer = user("viewer", "r-secret");
    viewer["actions"] = QJsonArray{
        read[0], QJsonObject{{"op", "history"},
                             {"node", QString::fromStdString(node("sensor/Measurements/seq"))},
                             {"start", from},
                             {"end", to},
                             {"max", 30}}};
    const QJsonArray again = client(viewer);
    ASSERT_EQ(again.size(), 2) << QJsonDocument(again).toJson().toStdString();
    EXPECT_EQ(again[0].toArray()[0].toObject()["status"], "Good");
    EXPECT_EQ(again[1].toObject()["values"].toArray(), seqs);
}

namespace {

// What no well-behaved client sends is written here byte by byte: OPC UA's binary transport and
// a secure channel with the None policy, little-endian throughout.
struct Encoder {
    std::string out;
    Encoder &u8(uint8_t v) {
        out += static_cast<char>(v);
        return *this;
    }
    Encoder &u16(uint16_t v) { return u8(v & 0xff).u8(v >> 8); }
    Encoder &u32(uint32_t v) { return u16(v & 0xffff).u16(v >> 16); }
    Encoder &u64(uint64_t v) { return u32(static_cast<uint32_t>(v)).u32(v >> 32); }
    // A String or ByteString, its length first; null() is the null one.
    Encoder &text(const std::string &s) {
        u32(static_cast<uint32_t>(s.size())).out += s;
        return *this;
    }
    Encoder &null() { return u32(0xffffffffu); }
};

uint32_t u32At(const std::string &bytes, std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<uint8_t>(at + i < bytes.size() ? bytes[at + i] : 0);
    return v;
}

// A transport message: "HELF", "OPNF", "MSGF" (a whole one) or "MSGC" (a chunk of more to come).
std::string frame(const char *type, const std::string &body) {
    return std::string(type, 4) + Encoder().u32(static_cast<uint32_t>(8 + body.size())).out + body;
}

std::string hello(uint32_t receiveBuffer, uint32_t sendBuffer, uint32_t maxMessage,
                  uint32_t maxChunks, const std::string &url) {
    Encoder e;
    e.u32(0).u32(receiveBuffer).u32(sendBuffer).u32(maxMessage).u32(maxChunks).text(url);
    return frame("HELF", e.out);
}

// A service request's type and the header every request carries.
std::string request(uint16_t type, uint32_t handle) {
    const auto sinceUnix = std::chrono::system_clock::now().time_since_epoch();
    const int64_t since1601 = // in 100 ns
        std::chrono::duration_cast<std::chrono::microseconds>(sinceUnix).count() * 10 +
        116444736000000000LL;
    Encoder e;
    e.u8(1).u8(0).u16(type); // the type's binary encoding, a four-byte numeric node id
    e.u8(0).u8(0);           // no session
    // The time now (one from 1601 is refused), no diagnostics, no audit entry, a 10 s hint.
    e.u64(static_cast<uint64_t>(since1601)).u32(handle).u32(0).null().u32(10000);
    e.u8(0).u8(0).u8(0); // no additional header
    return e.out;
}

constexpr uint16_t kOpenSecureChannel = 446, kGetEndpoints = 428, kCreateSession = 461;
// The secure channels open62541 keeps by default: beyond them it closes the oldest one without a
// session.
constexpr std::size_t kChannels = 100;

std::string openSecureChannel() {
    const std::string none = "http://opcfoundation.org/UA/SecurityPolicy#None";
    Encoder e;
    // No channel yet, no certificates, sequence number and request id 1.
    e.u32(0).text(none).null().null().u32(1).u32(1);
    e.out += request(kOpenSecureChannel, 1);
    // Protocol version 0, a new channel, mode None, no nonce, for ten minutes.
    e.u32(0).u32(0).u32(1).text("").u32(600000);
    return frame("OPNF", e.out);
}

std::string createSession(uint32_t handle, const std::string &url) {
    const double oneHour = 3600000.0;
    uint64_t timeout = 0;
    std::memcpy(&timeout, &oneHour, sizeof timeout);
    Encoder e;
    e.out = request(kCreateSession, handle);
    // The client's description: its URI, no product URI, no name, a client, no gateway, no
    // discovery profile, no discovery URLs.
    e.text("urn:kvex-rtn:hostile").null().u8(0).u32(1).null().null().null();
    e.null().text(url).text("hostile");  // no server URI
    e.text(std::string(32, 'n')).null(); // a nonce, no certificate
    e.u64(timeout).u32(0);               // no limit to the answer's size
    return e.out;
}

std::string getEndpoints(uint32_t handle, const std::string &url) {
    return request(kGetEndpoints, handle) + Encoder().text(url).null().null().out;
}

// The next whole message, or nothing when the server closes first or takes longer than 5 s.
std::string readMessage(int fd) {
    std::string in;
    const double end = now() + 5.0;
    while (now() < end && (in.size() < 8 || in.size() < u32At(in, 4))) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buffer[65536];
        const std::size_t want = in.size() < 8 ? 8 - in.size() : u32At(in, 4) - in.size();
        const ssize_t n = ::recv(fd, buffer, std::min(want, sizeof buffer), 0);
        if (n <= 0)
            return {};
        in.append(buffer, static_cast<std::size_t>(n));
    }
    return in.size() >= 8 && in.size() == u32At(in, 4) ? in : std::string();
}

// Whether the server has closed the connection: it sent its end, or reset it.
bool closedByServer(int fd) {
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
    }
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
}

std::size_t closedByServer(const std::vector<int> &fds) {
    return static_cast<std::size_t>(
        std::count_if(fds.begin(), fds.end(), [](int fd) { return closedByServer(fd); }));
}

void closeAll(std::vector<int> &fds) {
    for (const int fd : fds)
        ::close(fd);
    fds.clear();
}

// A secure channel with the None policy, opened by hand: Hello, OpenSecureChannel, then requests
// on it as the attack needs them.
class RawChannel {
  public:
    RawChannel(int port, const std::string &url, int receiveBuffer = 0)
        : fd_(connectTo(port, nullptr, receiveBuffer)) {
        if (fd_ < 0 || !sendAll(fd_, hello(65536, 65536, 0, 0, url)) ||
            readMessage(fd_).compare(0, 3, "ACK") != 0 || !sendAll(fd_, openSecureChannel()))
            return;
        const std::string answer = readMessage(fd_);
        if (answer.compare(0, 3, "OPN") != 0)
            return;
        // Past the policy's URI, the two certificates, the sequence header, the answer's type
        // and its header: the protocol version, then the token's channel and id.
        std::size_t at = 12;
        for (int i = 0; i < 3; ++i)
            at += 4 + (u32At(answer, at) == 0xffffffffu ? 0 : u32At(answer, at));
        at += 8 + 4 + 8 + 4 + 4 + 1 + 4 + 3 + 4;
        channel_ = u32At(answer, at);
        token_ = u32At(answer, at + 4);
        open_ = true;
    }
    ~RawChannel() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool open() const { return open_; }
    int fd() const { return fd_; }
    // A request, or a chunk of one ("MSGC"), under the next sequence number.
    std::string message(const std::string &body, const char *type = "MSGF") {
        ++sequence_;
        return frame(type,
                     Encoder().u32(channel_).u32(token_).u32(sequence_).u32(sequence_).out + body);
    }
    bool send(const std::string &body, const char *type = "MSGF") {
        return sendAll(fd_, message(body, type));
    }
    uint32_t nextHandle() const { return sequence_ + 1; }

  private:
    int fd_;
    bool open_ = false;
    uint32_t channel_ = 0, token_ = 0, sequence_ = 1;
};

// The gateway's process: this one's child that runs the command-line program.
pid_t gatewayPid() {
    const auto program = std::filesystem::canonical(KVEX_CLI_PATH);
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path() / "exe", error) != program)
            continue;
        const std::string stat = readFile(entry.path() / "stat");
        int parent = 0;
        if (std::sscanf(stat.c_str() + stat.rfind(')') + 1, " %*c %d", &parent) == 1 &&
            parent == ::getpid())
            return std::stoi(entry.path().filename());
    }
    return -1;
}

} // namespace

// Each attack is held while a client must still read the value and the sensor must still be
// polled; after it the gateway's descriptors are back where they were, and nothing was written.
TEST_F(OpcuaTest, HostileClientsLeaveTheSessionsAndThePollingAlone) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &files);
    ASSERT_TRUE(startOpcua());
    const std::string url = "opc.tcp://127.0.0.1:" + std::to_string(port);
    const pid_t pid = gatewayPid();
    ASSERT_GT(pid, 0);
    auto openDescriptors = [&] {
        std::error_code error;
        const auto fds =
            std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
        return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
    };
    const std::size_t descriptors = openDescriptors();
    auto polled = [&] { return sensor->requests().size(); };
    // A client that only reads is answered within `patience`. An attack that holds it up longer
    // is given up then (`giveUp`), so a server that lets one client starve the others fails here
    // rather than hanging the test.
    const double patience = 25.0;
    const QJsonObject read = action(
        "read", {{"nodes", QJsonArray{QString::fromStdString(node("sensor/Measurements/value"))}}});
    auto answersWhileHeld = [&](const std::function<void()> &giveUp = {}) {
        std::atomic<bool> answered{false};
        std::thread watch([&] {
            if (!waitFor([&] { return answered.load(); }, patience) && giveUp)
                giveUp();
        });
        const double start = now();
        const QJsonArray results = client({{"actions", QJsonArray{read}}});
        answered = true;
        watch.join();
        ASSERT_FALSE(results.isEmpty());
        EXPECT_EQ(results[0].toArray()[0].toObject()["status"], "Good")
            << QJsonDocument(results).toJson().toStdString();
        EXPECT_LT(now() - start, patience) << "the client waited on the attack";
        const std::size_t before = polled();
        EXPECT_TRUE(waitFor([&] { return polled() > before + 5; }, 10.0));
    };
    struct Attack {
        const char *name;
        std::function<void()> run;
    };
    const Attack attacks[] = {
        {"2 000 connections that never send",
         [&] {
             std::vector<int> idle;
             // Fifty at a time: beyond the stack's backlog of 100 a connection waits a second
             // for its SYN to be sent again.
             for (int i = 0; i < 2000; ++i) {
                 if (const int fd = connectTo(port); fd >= 0)
                     idle.push_back(fd);
                 if (i % 50 == 49)
                     std::this_thread::sleep_for(std::chrono::milliseconds(20));
             }
             EXPECT_EQ(idle.size(), 2000u);
             EXPECT_TRUE(
                 waitFor([&] { return openDescriptors() <= descriptors + kChannels; }, 10.0))
                 << openDescriptors() << " descriptors open, " << descriptors << " before";
             answersWhileHeld();
             // The Hello is due within 10 s of the connection.
             EXPECT_TRUE(waitFor([&] { return closedByServer(idle) == idle.size(); }, 15.0))
                 << closedByServer(idle) << " of " << idle.size() << " closed";
             closeAll(idle);
         }},
        {"50 clients dripping a Hello a byte a second",
         [&] {
             std::vector<int> drips;
             for (int i = 0; i < 50; ++i)
                 drips.push_back(connectTo(port));
             const std::string bytes = hello(65536, 65536, 0, 0, url);
             std::atomic<bool> dripping{true};
             std::thread dripper([&] {
                 for (std::size_t at = 0; dripping && at < bytes.size(); ++at) {
                     for (const int fd : drips)
                         ::send(fd, &bytes[at], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                     waitFor([&] { return !dripping; }, 1.0);
                 }
             });
             answersWhileHeld();
             // The time-out counts from the connection, not from the last byte.
             EXPECT_TRUE(waitFor([&] { return closedByServer(drips) == drips.size(); }, 15.0))
                 << closedByServer(drips) << " of " << drips.size() << " closed";
             dripping = false;
             dripper.join();
             closeAll(drips);
         }},
        {"openings no client sends",
         [&] {
             std::vector<int> fds;
             for (const std::string &opening :
                  {hello(~0u, ~0u, ~0u, ~0u, std::string(4096, 'x')), hello(1, 1, 1, 1, url),
                   std::string("MSGF\xff\xff\xff\xff") + std::string(8, '\0'), openSecureChannel(),
                   std::string(4096, '\xff')}) {
                 fds.push_back(connectTo(port));
                 sendAll(fds.back(), opening);
             }
             answersWhileHeld();
             // Refused at once, or, the Hello answered with the server's own sizes, when no
             // OpenSecureChannel has followed within 10 s.
             EXPECT_TRUE(waitFor([&] { return closedByServer(fds) == fds.size(); }, 15.0))
                 << closedByServer(fds) << " of " << fds.size() << " closed";
             closeAll(fds);
         }},
        {"150 secure channels without a session",
         [&] {
             std::vector<std::unique_ptr<RawChannel>> channels;
             for (int i = 0; i < 150; ++i)
                 channels.push_back(std::make_unique<RawChannel>(port, url));
             EXPECT_TRUE(std::all_of(channels.begin(), channels.end(),
                                     [](const auto &c) { return c->open(); }));
             std::vector<int> fds;
             for (const auto &c : channels)
                 fds.push_back(c->fd());
             EXPECT_TRUE(waitFor([&] { return closedByServer(fds) >= 150 - kChannels; }, 5.0))
                 << closedByServer(fds) << " closed";
             answersWhileHeld();
         }},
        {"150 sessions never activated",
         [&] {
             auto channel = std::make_unique<RawChannel>(port, url);
             ASSERT_TRUE(channel->open());
             int answered = 0;
             for (int i = 0; i < 150; ++i) {
                 channel->send(createSession(channel->nextHandle(), url));
                 answered += readMessage(channel->fd()).compare(0, 3, "MSG") == 0;
             }
             EXPECT_EQ(answered, 150);
             answersWhileHeld([&] { channel.reset(); });
         }},
        {"a 64 MB message in chunks",
         [&] {
             RawChannel channel(port, url);
             ASSERT_TRUE(channel.open());
             const std::string chunk(65000, '\0');
             std::size_t sent = 0;
             while (sent < (64u << 20) && channel.send(chunk, "MSGC"))
                 sent += chunk.size();
             EXPECT_LT(sent, 64u << 20) << "the server took a 64 MB message in";
             answersWhileHeld();
             EXPECT_TRUE(waitFor([&] { return closedByServer(channel.fd()); }, 5.0))
                 << "the server kept the chunks";
         }},
        {"a client that asks and never reads the answers",
         [&] {
             auto reader = std::make_unique<RawChannel>(port, url, 4096);
             ASSERT_TRUE(reader->open());
             // Each answer carries the server's certificate: some 20 MB of them in all.
             std::string requests;
             for (int i = 0; i < 3000; ++i)
                 requests += reader->message(getEndpoints(reader->nextHandle(), url));
             EXPECT_TRUE(sendAll(reader->fd(), requests));
             answersWhileHeld([&] { reader.reset(); });
         }},
    };
    for (const Attack &attack : attacks) {
        SCOPED_TRACE(attack.name);
        const std::size_t asked = polled();
        attack.run();
        EXPECT_TRUE(waitFor([&] { return polled() > asked + 5; }, 10.0));
        EXPECT_TRUE(waitFor([&] { return openDescriptors() <= descriptors; }, 20.0))
            << openDescriptors() << " descriptors open, " << descriptors << " before";
    }
    EXPECT_EQ(writeRequests(), 0u);
}
