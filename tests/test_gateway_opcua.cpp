// The gateway's OPC UA face against the simulated sensor, seen through an independent client
// (node-opcua, npm, MIT; tests/opcua/client.js), never through open62541's own client.
#include "app/jsontext.h"
#include "gateway_fixture.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

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
    ASSERT_TRUE(startOpcua({"--opcua-anonymous", "on"}));
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
    ASSERT_TRUE(startOpcua({"--opcua-anonymous", "off", "--opcua-users", writeUsers(dir)}));
    const QJsonArray read{QJsonObject{
        {"op", "read"},
        {"nodes", QJsonArray{QString::fromStdString(node("sensor/Measurements/seq"))}}}};
    const std::string anonymous = QJsonDocument(client({{"actions", read}})).toJson().toStdString();
    EXPECT_NE(anonymous.find("session:"), std::string::npos) << anonymous;
    QJsonObject viewer = user("viewer", "r-secret");
    viewer["actions"] = read;
    EXPECT_EQ(client(viewer)[0].toArray()[0].toObject()["status"], "Good");
}
