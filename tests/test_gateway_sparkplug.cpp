// The gateway's Sparkplug B face against a real mosquitto, every payload decoded (and every
// command encoded) by Eclipse Tahu's JavaScript codec, not by the gateway's own code.
#include "gateway_fixture.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>

#include <set>

using namespace gatewaytest;

// gtest prints a JSON value as JSON.
inline void PrintTo(const QJsonValue &value, std::ostream *out) {
    *out << QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).toStdString();
}

namespace {

const std::string kBase = "spBv1.0/plant/";
const std::string kDevice = "/line1/sensor";

std::string runCommand(const std::string &command) {
    std::string out;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

std::string tahu(const std::string &arguments) {
    return runCommand("NODE_PATH='" KVEX_SPARKPLUG_NODE_DIR "/node_modules' node '" KVEX_TAHU_JS
                      "' " +
                      arguments);
}

bool decoderInstalled() {
    return std::filesystem::exists(KVEX_SPARKPLUG_NODE_DIR "/node_modules/sparkplug-payload");
}

// One Sparkplug message as Tahu decoded it.
struct Decoded {
    std::string kind; // NBIRTH, DDATA, ...
    QJsonObject payload;
};

std::vector<Decoded> decode(const std::vector<Message> &messages, const std::string &dir) {
    const std::string file = dir + "/sparkplug.txt";
    {
        std::ofstream out(file);
        for (const Message &m : messages)
            out << m.topic << '\t' << QByteArray::fromStdString(m.payload).toBase64().toStdString()
                << '\n';
    }
    std::vector<Decoded> decoded;
    const std::string text = tahu("decode '" + file + "'");
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const QJsonObject line = jsonObject(text.substr(at, end - at));
        const QStringList levels = line["topic"].toString().split('/');
        decoded.push_back({levels.value(2).toStdString(), line["payload"].toObject()});
    }
    EXPECT_EQ(decoded.size(), messages.size()) << text;
    return decoded;
}

// The metric of that name (the first, or the n-th of that name), or an empty object.
QJsonObject metric(const QJsonObject &payload, const QString &name, int nth = 0) {
    for (const QJsonValue &m : payload["metrics"].toArray())
        if (m.toObject()["name"] == name && nth-- == 0)
            return m.toObject();
    return {};
}

// Publishes a payload Tahu encoded from JSON, as a Sparkplug host would.
void publishCommand(int port, const std::string &topic, const std::string &json,
                    const std::string &dir, bool retain = false) {
    const QByteArray bytes =
        QByteArray::fromBase64(QByteArray::fromStdString(tahu("encode '" + json + "'")));
    ASSERT_FALSE(bytes.isEmpty()) << json;
    const std::string file = dir + "/command.bin";
    std::ofstream(file, std::ios::binary).write(bytes.constData(), bytes.size());
    runCommand("mosquitto_pub -p " + std::to_string(port) + " -q 1 " + (retain ? "-r " : "") +
               "-t '" + topic + "' -f '" + file + "'");
}

void publishState(int port, bool online, long long timestamp) {
    runCommand("mosquitto_pub -p " + std::to_string(port) + " -q 1 -r -t spBv1.0/STATE/scada -m " +
               "'{\"online\":" + (online ? "true" : "false") +
               ",\"timestamp\":" + std::to_string(timestamp) + "}'");
}

std::string command(const std::string &metrics) {
    return "{\"timestamp\":" + std::to_string(QDateTime::currentMSecsSinceEpoch()) +
           ",\"metrics\":[" + metrics + "]}";
}

class SparkplugTest : public GatewayTest {
  protected:
    void SetUp() override {
        GatewayTest::SetUp();
        if (!decoderInstalled()) {
            if (std::string(std::getenv("KVEX_SPARKPLUG_DECODER")
                                ? std::getenv("KVEX_SPARKPLUG_DECODER")
                                : "") == "skip")
                GTEST_SKIP() << "KVEX_SPARKPLUG_DECODER=skip and no decoder installed";
            FAIL() << "Tahu's decoder is not in " KVEX_SPARKPLUG_NODE_DIR
                      " (ctest's sparkplug_decoder set-up installs it)";
        }
        // The bdSeq goes where systemd's StateDirectory= would put it, inside the test's folder.
        ::setenv("STATE_DIRECTORY", (dir + "/state").c_str(), 1);
        broker = std::make_unique<Broker>(dir);
        ASSERT_TRUE(broker->start());
        subscriber = std::make_unique<Subscriber>(broker->port(), "spBv1.0/#", nullptr, nullptr,
                                                  "kvex-gateway-test-sparkplug");
        json = std::make_unique<Subscriber>(broker->port(), std::string(kPrefix) + "/#");
        ASSERT_TRUE(subscriber->waitSubscribed() && json->waitSubscribed());
    }
    void TearDown() override {
        gateway.kill(SIGKILL);
        subscriber.reset();
        json.reset();
        if (broker)
            broker->stop();
        ::unsetenv("STATE_DIRECTORY");
        GatewayTest::TearDown();
    }
    std::vector<std::string> options(std::vector<std::string> more = {}) {
        std::vector<std::string> o = {
            "--mqtt",           "127.0.0.1:" + std::to_string(broker->port()),
            "--topic-prefix",   kPrefix,
            "--sparkplug",      "plant",
            "--sparkplug-node", "line1"};
        o.insert(o.end(), more.begin(), more.end());
        return o;
    }
    // The node's own messages, without the hosts' STATE and commands.
    std::vector<Message> nodeMessages() {
        std::vector<Message> own;
        for (const Message &m : subscriber->messages(""))
            if (m.topic.rfind(kBase, 0) == 0 && m.topic.find("CMD/") == std::string::npos)
                own.push_back(m);
        return own;
    }
    std::vector<Decoded> decoded() { return decode(nodeMessages(), dir); }
    std::size_t count(const std::string &kind) {
        return subscriber
            ->messages(kind == "NBIRTH" || kind == "NDEATH" || kind == "NDATA"
                           ? kBase + kind + "/line1"
                           : kBase + kind + kDevice)
            .size();
    }
    bool waitCount(const std::string &kind, std::size_t n, double seconds = 20.0) {
        return waitFor([&] { return count(kind) >= n; }, seconds);
    }
    std::vector<QJsonObject> of(const std::vector<Decoded> &all, const std::string &kind) {
        std::vector<QJsonObject> found;
        for (const Decoded &d : all)
            if (d.kind == kind)
                found.push_back(d.payload);
        return found;
    }
    // Whether a live DDATA has come after historical ones: the backlog is out, the present follows.
    bool historicalThenLive() {
        bool historical = false;
        for (const QJsonObject &d : of(decoded(), "DDATA")) {
            const bool h = metric(d, "value")["isHistorical"].toBool();
            if (historical && !h)
                return true;
            historical = historical || h;
        }
        return false;
    }
    // The last DDATA's (or DBIRTH's) value of a metric.
    QJsonValue lastValue(const QString &name) {
        const auto all = decoded();
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if (it->kind == "DDATA" || it->kind == "DBIRTH")
                if (const QJsonObject m = metric(it->payload, name); !m.isEmpty())
                    return m["value"];
        return {};
    }

    std::unique_ptr<Broker> broker;
    std::unique_ptr<Subscriber> subscriber, json;
};

std::string bdSeqFileText(const std::string &path) {
    return readFile(path);
}

} // namespace

// Births name every metric with its type, unit and value; DDATA carries the simulator's answers in
// order at their own times, with the node's seq wrapping past 255; the JSON topics go on beside.
TEST_F(SparkplugTest, BirthsAndDataCarryTheSensorInTheJsonVocabularyWithSeqWrapping) {
    holdObject(300, 600);
    ASSERT_TRUE(startGateway(options()));
    ASSERT_TRUE(waitCount("DDATA", 300, 60.0));
    const std::vector<Decoded> all = decoded();
    ASSERT_GE(all.size(), 2u);

    ASSERT_EQ(all[0].kind, "NBIRTH");
    const QJsonObject nbirth = all[0].payload;
    EXPECT_EQ(nbirth["seq"].toInt(), 0);
    EXPECT_GT(nbirth["timestamp"].toDouble(), 0);
    struct Expected {
        const char *name, *type;
        QJsonValue value; // undefined: any
    };
    const QJsonValue any(QJsonValue::Undefined);
    const Expected node[] = {
        {"bdSeq", "UInt64", 0},
        {"Node Control/Rebirth", "Boolean", false},
        {"Gateway/version", "String", any},
        {"Gateway/queue_depth", "UInt64", any},
        {"Gateway/dropped", "UInt64", 0},
        {"Gateway/serial_errors", "UInt64", 0},
        {"Gateway/store", "String", "off"},
        {"Gateway/sensor_answering", "Boolean", true},
    };
    for (const Expected &e : node) {
        const QJsonObject m = metric(nbirth, e.name);
        EXPECT_EQ(m["type"].toString().toStdString(), e.type) << e.name;
        if (!e.value.isUndefined())
            EXPECT_EQ(m["value"], e.value) << e.name;
    }

    ASSERT_EQ(all[1].kind, "DBIRTH");
    const QJsonObject dbirth = all[1].payload;
    const auto &ram = sensor->ram();
    const auto &profile = sensor->profile();
    std::vector<Expected> device = {
        {"value", "UInt16", any},
        {"left", "UInt16", any},
        {"right", "UInt16", any},
        {"setpoint", "UInt16", any},
        {"tol", "UInt16", any},
        {"in_tol", "Boolean", any},
        {"ana_max", "UInt16", any},
        {"ana_min", "UInt16", any},
        {"seq", "UInt32", any},
        {"Info/sensor_type", "UInt32", profile.ccdtype},
        {"Info/board", "UInt32", profile.pcbtype},
        {"Info/pixels", "UInt32", profile.ccdmaxpixel},
        {"Info/firmware", "String", any},
        // The simulator's sensor type has no known pitch: no value in micrometres either.
        {"Info/pitch_um", "Double", QJsonValue::Null},
        {"Info/device", "String", QString::fromStdString(sensor->devicePath())},
        {"Device Control/Teach", "Boolean", false},
        {"Device Control/Reset Max Min", "Boolean", false},
        {"Device Control/Write Result", "String", ""},
        {"Parameters/v_thd", "UInt16", ram[kvexsim::kParVideoThreshold]},
        {"Parameters/t_val", "UInt16", ram[kvexsim::kParSetPoint]},
        {"Parameters/t_tol", "UInt16", ram[kvexsim::kParTolerance]},
        // Births come before the first drift check; without --golden nothing is compared with
        // an approved set.
        {"Drift/state", "String", "unknown"},
        {"Drift/ram_eeprom", "UInt32", QJsonValue::Null},
        {"Drift/eeprom_golden", "UInt32", QJsonValue::Null},
        {"Drift/ram_golden", "UInt32", QJsonValue::Null},
        {"Drift/words", "String", ""},
        {"Drift/checked", "DateTime", QJsonValue::Null},
    };
    for (const Expected &e : device) {
        const QJsonObject m = metric(dbirth, e.name);
        EXPECT_EQ(m["type"].toString().toStdString(), e.type) << e.name;
        if (!e.value.isUndefined())
            EXPECT_EQ(m["value"], e.value) << e.name;
    }
    EXPECT_TRUE(metric(dbirth, "um").isEmpty());
    // The first drift check's finding comes in a DDATA of its own.
    const std::vector<QJsonObject> ddata = of(all, "DDATA");
    const auto drift = std::find_if(ddata.begin(), ddata.end(), [](const QJsonObject &d) {
        return !metric(d, "Drift/state").isEmpty();
    });
    ASSERT_NE(drift, ddata.end());
    EXPECT_EQ(metric(*drift, "Drift/state")["value"], "ok");
    EXPECT_EQ(metric(*drift, "Drift/ram_eeprom")["value"], 0);
    EXPECT_EQ(metric(*drift, "Drift/ram_golden")["value"], QJsonValue::Null);
    EXPECT_NEAR(metric(*drift, "Drift/checked")["value"].toDouble(),
                static_cast<double>(QDateTime::currentMSecsSinceEpoch()), 60000.0);
    int parameters = 0;
    for (const QJsonValue &m : dbirth["metrics"].toArray())
        parameters += m.toObject()["name"].toString().startsWith("Parameters/");
    EXPECT_EQ(parameters, 16);
    EXPECT_EQ(metric(dbirth, "value")["properties"].toObject()["engUnit"].toObject()["value"],
              "positions");

    // The node's seq: one more on every message, 0 after 255; NBIRTH's is 0.
    bool wrapped = false;
    for (std::size_t i = 1; i < all.size(); ++i) {
        const int seq = all[i].payload["seq"].toInt(-1);
        const int before = all[i - 1].payload["seq"].toInt(-1);
        EXPECT_EQ(seq, (before + 1) % 256) << i << " " << all[i].kind;
        wrapped = wrapped || (before == 255 && seq == 0);
    }
    EXPECT_TRUE(wrapped);

    // Every sample equal to the simulator's answer and stamped with the time the JSON face gives
    // it.
    std::map<int, long long> jsonTimes;
    for (const QJsonObject &s : samplesOf(json->messages("/meas")))
        jsonTimes[s["seq"].toInt()] =
            QDateTime::fromString(s["ts"].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch();
    // Samples taken before the births come late and say so, beside the live ones (which go out
    // at once): each kind in order, and every sample once.
    const kvexsim::Words w = expectedWords(300, 600);
    int last[2] = {0, 0}, live = 0;
    std::set<int> seen;
    for (const QJsonObject &ddata : of(all, "DDATA")) {
        const QJsonObject seq = metric(ddata, "seq");
        if (seq.isEmpty())
            continue;
        const int sample = seq["value"].toInt();
        const bool historical = metric(ddata, "value")["isHistorical"].toBool();
        EXPECT_GT(sample, last[historical]) << (historical ? "historical" : "live");
        last[historical] = sample;
        EXPECT_TRUE(seen.insert(sample).second) << "sample " << sample << " twice";
        EXPECT_EQ(metric(ddata, "value")["value"].toInt(), w[kvexsim::kMeasValue]) << sample;
        EXPECT_EQ(metric(ddata, "left")["value"].toInt(), w[kvexsim::kMeasLeftEdge]) << sample;
        EXPECT_EQ(metric(ddata, "right")["value"].toInt(), w[kvexsim::kMeasRightEdge]) << sample;
        EXPECT_EQ(metric(ddata, "setpoint")["value"].toInt(), w[kvexsim::kMeasSetPoint]);
        EXPECT_EQ(metric(ddata, "tol")["value"].toInt(), w[kvexsim::kMeasTolerance]);
        if (jsonTimes.count(sample))
            EXPECT_EQ(static_cast<long long>(metric(ddata, "value")["timestamp"].toDouble()),
                      jsonTimes[sample])
                << sample;
        live += !historical;
    }
    EXPECT_GT(live, 250);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(*seen.begin(), 1);
    EXPECT_EQ(static_cast<int>(seen.size()), *seen.rbegin()) << "a sample is missing";
    for (const Message &m : nodeMessages())
        EXPECT_FALSE(m.retained);
    EXPECT_GE(json->messages("/meas").size(), 300u) << "the JSON topics stopped";
}

// kill -9: the broker publishes the will, NDEATH with the NBIRTH's bdSeq; the next start births
// with the next bdSeq, kept beside the store or in the state directory; the client id stays.
TEST_F(SparkplugTest, WillIsNdeathWithTheBirthsBdSeqAndARestartBirthsWithTheNext) {
    struct Case {
        bool store;
        std::string file;
    };
    const Case cases[] = {{false, dir + "/state/sparkplug-plant-line1.bdseq"},
                          {true, dir + "/samples.db.sparkplug-plant-line1.bdseq"}};
    std::size_t births = 0, deaths = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.store ? "store" : "state directory");
        const auto opts = options(c.store ? std::vector<std::string>{"--store", dir + "/samples.db"}
                                          : std::vector<std::string>{});
        for (int start = 0; start < 2; ++start) {
            ASSERT_TRUE(startGateway(opts));
            ASSERT_TRUE(waitCount("NBIRTH", ++births));
            ASSERT_TRUE(waitCount("DDATA", count("DDATA") + 5));
            gateway.kill(SIGKILL);
            ASSERT_TRUE(waitCount("NDEATH", ++deaths, 10.0)) << "the broker sent no will";
            const auto all = decoded();
            const auto nbirths = of(all, "NBIRTH");
            const auto ndeaths = of(all, "NDEATH");
            const QJsonObject birthSeq = metric(nbirths.back(), "bdSeq");
            EXPECT_EQ(metric(ndeaths.back(), "bdSeq")["value"], birthSeq["value"]);
            EXPECT_EQ(metric(ndeaths.back(), "bdSeq")["type"], "UInt64");
            EXPECT_FALSE(ndeaths.back().contains("seq")) << "NDEATH carries no seq";
            EXPECT_EQ(birthSeq["value"].toInt(), start) << "a new file starts at 0";
            EXPECT_EQ(bdSeqFileText(c.file), std::to_string(start) + "\n");
        }
        std::filesystem::remove(c.file);
    }
    for (const Message &m : subscriber->messages("/NDEATH/line1"))
        EXPECT_FALSE(m.retained);
    // The same client id every time, from the host and the port, without a process id in it.
    std::set<std::string> ids;
    const std::string text = log();
    for (std::size_t at = 0; (at = text.find("broker connected: ", at)) != std::string::npos; ++at)
        ids.insert(text.substr(text.find(" as ", at), text.find('\n', at) - text.find(" as ", at)));
    char host[256] = "";
    ::gethostname(host, sizeof host - 1);
    const std::string device = sensor->devicePath();
    EXPECT_EQ(ids, std::set<std::string>{" as kvex-rtn-" + std::string(host) + "-" +
                                         device.substr(device.rfind('/') + 1)});

    // A clean stop says NDEATH itself (the broker keeps the will to itself then).
    ASSERT_TRUE(startGateway(options()));
    ASSERT_TRUE(waitCount("DDATA", count("DDATA") + 5));
    gateway.kill(SIGTERM);
    EXPECT_EQ(gateway.wait(10.0), 0);
    ASSERT_TRUE(waitCount("NDEATH", deaths + 1, 10.0));
    EXPECT_TRUE(waitCount("DDEATH", 1, 5.0));
}

// The broker away: the samples of the outage come afterwards from the same queue, in order,
// with is_historical; none is lost (meas at QoS 1 behind each DDATA on the one connection).
TEST_F(SparkplugTest, BrokerOutageDeliversTheBacklogAsHistoricalInOrder) {
    ASSERT_TRUE(startGateway(options({"--meas-qos", "1"})));
    ASSERT_TRUE(waitCount("DDATA", 20));
    broker->stop();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_TRUE(broker->start());
    ASSERT_TRUE(waitCount("NBIRTH", 2));
    ASSERT_TRUE(waitFor([&] { return historicalThenLive(); }, 30.0));
    ASSERT_TRUE(waitCount("DDATA", count("DDATA") + 20));
    gateway.kill(SIGTERM);
    EXPECT_EQ(gateway.wait(10.0), 0);

    const auto all = decoded();
    // Live samples go out at once, the backlog beside them at the replay rate: each in order.
    std::map<int, bool> seen; // sample seq -> historical
    int order[2] = {0, 0};
    bool afterSecondBirth = false;
    int births = 0, historicalAfter = 0;
    for (const Decoded &d : all) {
        births += d.kind == "NBIRTH";
        afterSecondBirth = births >= 2;
        if (d.kind != "DDATA")
            continue;
        for (int i = 0; !metric(d.payload, "seq", i).isEmpty(); ++i) {
            const int seq = metric(d.payload, "seq", i)["value"].toInt();
            const bool historical = metric(d.payload, "value", i)["isHistorical"].toBool();
            if (afterSecondBirth) {
                EXPECT_GT(seq, order[historical]) << "out of order after the outage";
                order[historical] = seq;
                historicalAfter += historical;
            }
            seen[seq] = seen[seq] || historical;
        }
    }
    EXPECT_GT(historicalAfter, 20);
    for (int seq = seen.begin()->first; seq <= seen.rbegin()->first; ++seq)
        EXPECT_TRUE(seen.count(seq)) << "sample " << seq << " lost";
}

// Rebirth by NCMD; with a primary host the node births only while the host's STATE is online,
// stops with an NDEATH when it goes offline and births again when it comes back.
TEST_F(SparkplugTest, RebirthAndThePrimaryHostsStateRuleThePublishing) {
    publishState(broker->port(), false, 1000);
    ASSERT_TRUE(startGateway(options({"--sparkplug-host", "scada"})));
    ASSERT_TRUE(waitFor(
        [&] { return log().find("waiting for primary host scada") != std::string::npos; }, 10.0));
    EXPECT_EQ(nodeMessages().size(), 0u) << "published while the host was offline";
    EXPECT_TRUE(waitFor([&] { return json->messages("/meas").size() > 5; }, 10.0))
        << "the JSON topics wait for no host";

    publishState(broker->port(), true, 2000);
    ASSERT_TRUE(waitCount("NBIRTH", 1));
    ASSERT_TRUE(waitCount("DDATA", 5));
    // An older STATE (a message that overtook the newer one) changes nothing, nor does one below
    // zero or from the future (which would make every true one after it look old).
    publishState(broker->port(), false, 1500);
    publishState(broker->port(), false, -1);
    publishState(broker->port(), false, QDateTime::currentMSecsSinceEpoch() + 3600 * 1000);

    publishCommand(
        broker->port(), kBase + "NCMD/line1",
        command("{\"name\":\"Node Control/Rebirth\",\"type\":\"Boolean\",\"value\":true}"), dir);
    ASSERT_TRUE(waitCount("NBIRTH", 2));
    ASSERT_TRUE(waitCount("DBIRTH", 2));
    ASSERT_TRUE(waitCount("DDATA", count("DDATA") + 5));

    publishState(broker->port(), false, 3000);
    ASSERT_TRUE(waitCount("NDEATH", 1));
    const std::size_t quietFrom = nodeMessages().size();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    publishState(broker->port(), true, 4000);
    ASSERT_TRUE(waitCount("NBIRTH", 3));
    ASSERT_TRUE(waitCount("DBIRTH", 3));

    const auto all = decoded();
    std::vector<std::string> kinds;
    for (const Decoded &d : all)
        if (d.kind != "DDATA" && d.kind != "NDATA")
            kinds.push_back(d.kind);
    const std::vector<std::string> expected = {"NBIRTH", "DBIRTH", "NBIRTH", "DBIRTH",
                                               "DDEATH", "NDEATH", "NBIRTH", "DBIRTH"};
    EXPECT_EQ(kinds, expected);
    for (std::size_t i = quietFrom; i < all.size() && all[i].kind != "NBIRTH"; ++i)
        ADD_FAILURE() << all[i].kind << " sent while the host was offline";
    const auto nbirths = of(all, "NBIRTH");
    for (const QJsonObject &b : nbirths) {
        EXPECT_EQ(b["seq"].toInt(), 0);
        // One connection: one bdSeq for all its births and the NDEATH.
        EXPECT_EQ(metric(b, "bdSeq")["value"], metric(of(all, "NDEATH")[0], "bdSeq")["value"]);
    }
}

// DCMD: refused while commands are off; with them on, a value outside the panel's limits changes
// nothing and never reaches the sensor, a good one is written, answered and audited.
TEST_F(SparkplugTest, DeviceCommandsGoThroughTheWebsLimitsAndAudit) {
    const std::string dcmd = kBase + "DCMD" + kDevice;
    auto writes = [&] {
        std::size_t n = 0;
        for (const kvexsim::Request &r : sensor->requests())
            n += r.command() == 1 || r.command() == 3 || r.command() == 6 || r.command() == 11;
        return n;
    };
    auto answered = [&](const std::string &part) {
        return waitFor(
            [&] {
                return lastValue("Device Control/Write Result")
                    .toString()
                    .contains(QString::fromStdString(part));
            },
            10.0);
    };
    ASSERT_TRUE(startGateway(options()));
    ASSERT_TRUE(waitCount("DBIRTH", 1));
    publishCommand(broker->port(), dcmd,
                   command("{\"name\":\"Parameters/t_tol\",\"type\":\"UInt16\",\"value\":42}"),
                   dir);
    EXPECT_TRUE(answered("commands are off"));
    gateway.kill(SIGTERM);
    ASSERT_EQ(gateway.wait(10.0), 0);

    // A command the broker kept would be obeyed at every start: refused, and audited.
    publishCommand(broker->port(), dcmd,
                   command("{\"name\":\"Parameters/power\",\"type\":\"UInt16\",\"value\":600}"),
                   dir, true);
    ASSERT_TRUE(startGateway(options({"--sparkplug-commands"})));
    ASSERT_TRUE(waitCount("DBIRTH", 2));
    EXPECT_TRUE(answered("retained by the broker"));
    EXPECT_NE(log().find("Sparkplug write from DCMD: Parameters/power=600: refused: the command "
                         "was retained"),
              std::string::npos);
    runCommand("mosquitto_pub -p " + std::to_string(broker->port()) + " -q 1 -r -n -t '" + dcmd +
               "'");
    const uint16_t power = sensor->ram()[0];
    struct Refused {
        const char *metrics, *answer;
    };
    const Refused refused[] = {
        {"{\"name\":\"Parameters/power\",\"type\":\"UInt16\",\"value\":1001}", "allowed 0 to 1000"},
        {"{\"name\":\"Parameters/power\",\"type\":\"Int32\",\"value\":-1}", "power (word 0)"},
        {"{\"name\":\"Parameters/power\",\"type\":\"UInt16\",\"value\":600},"
         "{\"name\":\"Parameters/v_thd\",\"type\":\"UInt16\",\"value\":10}",
         "v_thd"},
        {"{\"name\":\"Parameters/nonsense\",\"type\":\"UInt16\",\"value\":1}", "nonsense"},
        {"{\"name\":\"Parameters/\\u001b[2Jred\\nline\",\"type\":\"UInt16\",\"value\":1}",
         "[2Jred"},
        {"{\"name\":\"Parameters/power\",\"type\":\"String\",\"value\":\"600\"}", "no writable"},
    };
    for (const Refused &r : refused) {
        SCOPED_TRACE(r.metrics);
        publishCommand(broker->port(), dcmd, command(r.metrics), dir);
        EXPECT_TRUE(answered(r.answer))
            << lastValue("Device Control/Write Result").toString().toStdString();
        EXPECT_EQ(lastValue("Parameters/power").toInt(), power) << "the refused word's own value";
    }
    EXPECT_EQ(writes(), 0u) << "a refused write reached the sensor";
    EXPECT_EQ(sensor->ram()[0], power);
    // A name from the network reaches the journal as one line, its escape sequence spelt out.
    EXPECT_EQ(log().find('\x1b'), std::string::npos);
    EXPECT_NE(log().find("Parameters/\\x1B[2Jred\\x0Aline"), std::string::npos);

    publishCommand(broker->port(), dcmd,
                   command("{\"name\":\"Parameters/power\",\"type\":\"UInt16\",\"value\":600},"
                           "{\"name\":\"Parameters/t_tol\",\"type\":\"UInt16\",\"value\":42}"),
                   dir);
    ASSERT_TRUE(answered("written and verified"));
    EXPECT_EQ(sensor->ram()[0], 600);
    EXPECT_EQ(sensor->ram()[kvexsim::kParTolerance], 42);
    EXPECT_TRUE(waitFor([&] { return lastValue("Parameters/t_tol").toInt() == 42; }, 5.0));
    EXPECT_TRUE(waitFor([&] { return jsonObject(json->last("/params"))["power"] == 600; }, 5.0));
    publishCommand(broker->port(), dcmd,
                   command("{\"name\":\"EEPROM/power\",\"type\":\"UInt16\",\"value\":700}"), dir);
    ASSERT_TRUE(answered("EEPROM: power=700: written and verified"));
    EXPECT_EQ(sensor->eeprom()[0], 700);
    EXPECT_EQ(sensor->ram()[0], 600) << "an EEPROM write changed RAM";
    const std::size_t before = sensor->requests().size();
    publishCommand(
        broker->port(), dcmd,
        command("{\"name\":\"Device Control/Teach\",\"type\":\"Boolean\",\"value\":true},"
                "{\"name\":\"Device Control/Reset Max Min\",\"type\":\"Boolean\","
                "\"value\":true}"),
        dir);
    ASSERT_TRUE(answered("reset max/min: done"));
    std::set<int> commands;
    const auto requests = sensor->requests();
    for (std::size_t i = before; i < requests.size(); ++i)
        commands.insert(requests[i].command());
    EXPECT_TRUE(commands.count(6) && commands.count(11));
    EXPECT_NE(log().find("Sparkplug write from DCMD: Parameters/power=600, Parameters/t_tol=42: "
                         "parameter words to RAM: power=600, t_tol=42: written and verified"),
              std::string::npos);
    EXPECT_TRUE(waitFor(
        [&] {
            const QJsonObject entry = jsonObject(json->last("/audit"));
            return entry["client"] == "DCMD" && entry["result"].toString().contains("teach");
        },
        5.0));
}

// The sensor stops answering: DDEATH, and the node's health says so in NDATA; it answers again:
// DBIRTH, then data with the sample seq going on.
TEST_F(SparkplugTest, SilentSensorGivesDdeathAndItsReturnADbirth) {
    ASSERT_TRUE(startGateway(options()));
    ASSERT_TRUE(waitCount("DDATA", 5));
    silence(true);
    ASSERT_TRUE(waitCount("DDEATH", 1));
    ASSERT_TRUE(waitFor(
        [&] {
            for (const QJsonObject &n : of(decoded(), "NDATA"))
                if (metric(n, "Gateway/sensor_answering")["value"] == false)
                    return true;
            return false;
        },
        10.0));
    silence(false);
    ASSERT_TRUE(waitCount("DBIRTH", 2));
    const std::size_t data = count("DDATA");
    ASSERT_TRUE(waitCount("DDATA", data + 5));
    std::vector<std::string> kinds;
    int lastSeq = 0;
    for (const Decoded &d : decoded()) {
        if (d.kind != "DDATA" && d.kind != "NDATA")
            kinds.push_back(d.kind);
        if (d.kind == "DDATA") {
            EXPECT_EQ(kinds.back(), "DBIRTH") << "DDATA while the device was dead";
            const int seq = metric(d.payload, "seq")["value"].toInt();
            EXPECT_GT(seq, lastSeq);
            lastSeq = seq;
        }
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"NBIRTH", "DBIRTH", "DDEATH", "DBIRTH"}));
}

// Sparkplug alone (--json-topics off): nothing under the JSON prefix, and the samples taken while
// the primary host is away wait in the queue and come afterwards as historical, none missing.
TEST_F(SparkplugTest, WithoutJsonTopicsSamplesWaitForTheHostAndComeAsHistorical) {
    publishState(broker->port(), false, 1000);
    ASSERT_TRUE(startGateway(options({"--json-topics", "off", "--sparkplug-host", "scada"})));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    publishState(broker->port(), true, 2000);
    ASSERT_TRUE(waitCount("DBIRTH", 1));
    ASSERT_TRUE(waitFor([&] { return historicalThenLive(); }, 20.0));
    std::set<int> seqs;
    int historical = 0;
    for (const QJsonObject &d : of(decoded(), "DDATA"))
        for (int i = 0; !metric(d, "seq", i).isEmpty(); ++i) {
            seqs.insert(metric(d, "seq", i)["value"].toInt());
            historical += metric(d, "value", i)["isHistorical"].toBool();
        }
    EXPECT_GT(historical, 20) << "two seconds of samples before the host came";
    ASSERT_FALSE(seqs.empty());
    EXPECT_EQ(*seqs.begin(), 1);
    EXPECT_EQ(static_cast<std::size_t>(*seqs.rbegin()), seqs.size()) << "a sample is missing";
    EXPECT_TRUE(json->messages("").empty()) << "a JSON topic was published";
}
