// Asking a USB adapter for low latency when a port opens, against a stand-in for the FTDI driver
// (tests/fake_ftdi_sio.cpp) and the simulator's model of the adapter: the flags the program reads
// and writes back, what a refusal leaves, the mark beside the port list, and the switches of the
// panel, the command line and the gateway.
#include "app/K-VEX-RTN-RedozU15.h"
#include "com232/rs232link.h"
#include "platform/rs232.h"
#include "program_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>
#include <string>
#include <vector>

#include <linux/serial.h>
#include <sys/stat.h>

namespace {

// One TIOCGSERIAL or TIOCSSERIAL as the stand-in driver logged it.
struct DriverCall {
    std::string name;
    int error = 0;
    serial_struct serial{};
};

std::vector<DriverCall> driverCalls(const QString &dir) {
    std::vector<DriverCall> calls;
    QFile file(dir + "/calls");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return calls;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 3)
            continue;
        DriverCall call;
        call.name = fields[0].toStdString();
        call.error = fields[1].toInt();
        const QByteArray bytes = QByteArray::fromHex(fields[2]);
        EXPECT_EQ(static_cast<std::size_t>(bytes.size()), sizeof call.serial);
        std::memcpy(&call.serial, bytes.constData(),
                    std::min(sizeof call.serial, static_cast<std::size_t>(bytes.size())));
        calls.push_back(call);
    }
    return calls;
}

std::vector<DriverCall> setCalls(const std::vector<DriverCall> &calls) {
    std::vector<DriverCall> sets;
    for (const DriverCall &call : calls)
        if (call.name == "SET")
            sets.push_back(call);
    return sets;
}

// A write-back must be the driver's own report with ASYNC_LOW_LATENCY added and nothing else
// changed, read just before it.
void expectReadModifyWrite(const std::vector<DriverCall> &calls) {
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].name != "SET")
            continue;
        ASSERT_GT(i, 0u) << "a write without a read first";
        const DriverCall &get = calls[i - 1];
        ASSERT_EQ(get.name, "GET");
        ASSERT_EQ(get.error, 0);
        EXPECT_EQ(get.serial.flags & ASYNC_LOW_LATENCY, 0);
        EXPECT_EQ(calls[i].serial.flags, get.serial.flags | ASYNC_LOW_LATENCY);
        serial_struct expected = get.serial;
        expected.flags = calls[i].serial.flags;
        EXPECT_EQ(std::memcmp(&expected, &calls[i].serial, sizeof expected), 0)
            << "fields besides the flags changed";
    }
}

void writeText(const QString &path, const QByteArray &text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

// A directory the stand-in driver works in.
class FakeDriverDir {
  public:
    FakeDriverDir() { EXPECT_TRUE(dir.isValid()); }
    QString path() const { return dir.path(); }
    // The FIFO on which the driver reports low latency on /dev/pts/N.
    std::string notifyPath(const std::string &device) const {
        return dir.filePath("notify." + QFileInfo(QString::fromStdString(device)).fileName())
            .toStdString();
    }
    void refuse(const char *error) { writeText(dir.filePath("refuse"), error); }
    void clearCalls() { QFile::remove(dir.filePath("calls")); }
    std::vector<DriverCall> calls() const { return driverCalls(dir.path()); }

  private:
    QTemporaryDir dir;
};

kvexsim::SensorSim &adapterModel(kvexsim::SensorSim &sensor, const FakeDriverDir &driver) {
    sensor.setAdapter(kvexsim::Adapter::Ftdi);
    const std::string fifo = driver.notifyPath(sensor.devicePath());
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(sensor.watchLowLatencyFifo(fifo));
    return sensor;
}

struct PanelRow {
    const char *name;
    const char *refuse; // what the driver refuses: "", "EINVAL" (the write), "ENOTTY" (both)
    bool switchedOn;    // the panel's Low latency switch
    int sets;           // TIOCSSERIAL calls expected
    int setError;       // what the driver answered to it
    bool adapterLow;    // the simulated adapter runs its timer at 1 ms
    const char *mark;   // "" when no mark is shown, else a part of its tooltip
};

void PrintTo(const PanelRow &row, std::ostream *out) {
    *out << row.name;
}

const PanelRow panelRows[] = {
    {"asks_and_gets_it", "", true, 1, 0, true, ""},
    {"switched_off", "", false, 0, 0, false, "low latency is switched off"},
    {"write_refused", "EINVAL", true, 1, EINVAL, false, "although low latency was asked for"},
    {"no_serial_info", "ENOTTY", true, 0, 0, false, "although low latency was asked for"},
};

class LowLatencyPanelTest : public ProgramTest, public ::testing::WithParamInterface<PanelRow> {
  protected:
    void SetUp() override { qputenv("KVEX_FAKE_FTDI_DIR", driver.path().toLocal8Bit()); }
    void TearDown() override {
        ProgramTest::TearDown();
        qunsetenv("KVEX_FAKE_FTDI_DIR");
        setLowLatencyRequested(true);
    }
    FakeDriverDir driver;
};

TEST_P(LowLatencyPanelTest, OpeningAPortAsksTheAdapterAndMarksWhatItKept) {
    const PanelRow &row = GetParam();
    startSensor("standard", 1);
    kvexsim::SensorSim &sensor = adapterModel(startSensor("standard", 2), driver);
    ASSERT_TRUE(startProgram());
    auto *lowLatency = find<QCheckBox>("CHKLowLatency");
    ASSERT_NE(lowLatency, nullptr);
    EXPECT_TRUE(lowLatency->isChecked());
    if (!row.switchedOn)
        click("CHKLowLatency");
    driver.refuse(row.refuse);
    driver.clearCalls();

    auto *ports = find<QComboBox>("DropDCom");
    const int index = ports->findData(2);
    ASSERT_GE(index, 0);
    ports->setCurrentIndex(index);
    emit ports->activated(index);

    // Whatever the driver did, the port opened and the sensor was identified through it.
    EXPECT_EQ(com, 2);
    EXPECT_EQ(status().trimmed(), "KVEX-RTN FW 2.20 standard");
    const std::vector<DriverCall> calls = driver.calls();
    const std::vector<DriverCall> sets = setCalls(calls);
    ASSERT_EQ(static_cast<int>(sets.size()), row.sets);
    if (!sets.empty())
        EXPECT_EQ(sets.front().error, row.setError);
    expectReadModifyWrite(calls);
    if (row.adapterLow)
        EXPECT_TRUE(waitUntil([&] { return sensor.lowLatency(); }, 2.0));
    else
        EXPECT_FALSE(sensor.lowLatency());

    auto *mark = find<QLabel>("TEXTLatency");
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->isVisibleTo(mainPanel()), *row.mark != '\0');
    if (*row.mark) {
        EXPECT_TRUE(mark->toolTip().contains("16 ms")) << mark->toolTip().toStdString();
        EXPECT_TRUE(mark->toolTip().contains(row.mark)) << mark->toolTip().toStdString();
        EXPECT_TRUE(mark->toolTip().contains("/usr/lib/udev/rules.d/60-kvex-rtn.rules"));
    }
    // The mark has its own place: the status line keeps the sensor's texts.
    EXPECT_FALSE(status().contains("latency"));
}

INSTANTIATE_TEST_SUITE_P(Drivers, LowLatencyPanelTest, ::testing::ValuesIn(panelRows),
                         [](const auto &info) { return std::string(info.param.name); });

struct CommandRow {
    const char *name;
    QStringList before; // options before the command word
    QStringList after;  // the command and its options
    const char *config; // the gateway's config file, or nullptr
    int sets;
    bool warned; // --verbose said the adapter holds answers
};

void PrintTo(const CommandRow &row, std::ostream *out) {
    *out << row.name;
}

// The gateway polls once identified; a broker that is not there does not stop it.
const CommandRow commandRows[] = {
    {"identify", {"--verbose"}, {"identify"}, nullptr, 1, false},
    {"identify_switched_off",
     {"--low-latency", "off", "--verbose"},
     {"identify"},
     nullptr,
     0,
     true},
    {"serve_config_off", {}, {"serve", "--mqtt", "127.0.0.1:9"}, "low-latency=off\n", 0, false},
    {"serve_command_line_wins",
     {},
     {"serve", "--mqtt", "127.0.0.1:9", "--low-latency", "on"},
     "low-latency=off\n",
     1,
     false},
};

class LowLatencyCommandTest : public ::testing::TestWithParam<CommandRow> {};

TEST_P(LowLatencyCommandTest, TheSwitchReachesThePortAndVerboseSaysWhatTheAdapterKept) {
    const CommandRow &row = GetParam();
    FakeDriverDir driver;
    kvexsim::SensorSim sensor(*kvexsim::findProfile("standard"));
    ASSERT_TRUE(sensor.openPty());
    adapterModel(sensor, driver);
    sensor.start();

    QStringList args = row.before;
    args << "--port" << QString::fromStdString(sensor.devicePath()) << row.after;
    if (row.config) {
        writeText(driver.path() + "/gateway.conf", row.config);
        args << "--config" << driver.path() + "/gateway.conf";
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_PRELOAD", KVEX_FAKE_FTDI_PATH);
    env.insert("KVEX_FAKE_FTDI_DIR", driver.path());
    // A sanitizer build wants its runtime first; the stand-in comes before it here.
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(KVEX_CLI_PATH, args);
    ASSERT_TRUE(process.waitForStarted(5000));
    if (row.after.front() == "serve") {
        auto polled = [&] {
            for (const kvexsim::Request &request : sensor.requests())
                if (request.command() == 8)
                    return true;
            return false;
        };
        for (int i = 0; i < 200 && !polled(); ++i)
            process.waitForFinished(50);
        EXPECT_TRUE(polled()) << process.readAllStandardError().toStdString();
        process.terminate();
    }
    ASSERT_TRUE(process.waitForFinished(30000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 0) << err.toStdString();

    const std::vector<DriverCall> calls = driver.calls();
    EXPECT_EQ(static_cast<int>(setCalls(calls).size()), row.sets);
    expectReadModifyWrite(calls);
    EXPECT_EQ(sensor.lowLatency(), row.sets > 0);
    EXPECT_EQ(err.contains("latency timer"), row.warned) << err.toStdString();
    if (row.warned)
        EXPECT_TRUE(err.contains("/usr/lib/udev/rules.d/60-kvex-rtn.rules"));
}

INSTANTIATE_TEST_SUITE_P(Commands, LowLatencyCommandTest, ::testing::ValuesIn(commandRows),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
