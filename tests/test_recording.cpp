// Recording run mode to CSV and the value in micrometres: rows and their contents, what reaches
// the disk while the run goes on and when it ends in any way, write failures, and the micrometre
// display for every sensor type the identification knows.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/recording.h"
#include "com232/paraframe.h"
#include "platform/qtaccess.h"
#include "platform/utility.h"
#include "program_fixture.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>

namespace {

std::vector<std::string> readLines(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

QStringList fields(const std::string &line) {
    return QString::fromStdString(line).split(',');
}

class RecordingTest : public ProgramTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("run.csv").toStdString();
    }
    void TearDown() override {
        removeLiveObserver(counter);
        ProgramTest::TearDown();
    }

    kvexsim::SensorSim &connect(const char *profile = "type104") {
        kvexsim::SensorSim &sensor = startSensor(profile);
        sensor.setObject(400, 600);
        sampleTimes.clear();
        EXPECT_TRUE(startProgram());
        LiveObserver hooks;
        hooks.runSample = [this] { sampleTimes.push_back(Timer()); };
        counter = addLiveObserver(hooks);
        return sensor;
    }

    // Presses Record… and answers the file dialog with file.
    void chooseRecording(const std::string &file) {
        kvexplatform::setFileSelectHook(
            [file](const kvexplatform::FileSelectRequest &, std::string &chosen) {
                chosen = file;
                return 2;
            });
        click("BTNRecord");
    }

    QString recordingText() const { return find<QLabel>("TEXTRecording")->text(); }

    QTemporaryDir dir;
    std::string path;
    std::vector<double> sampleTimes;
    int counter = 0;
};

TEST_F(RecordingTest, EveryCycleIsOneRowWithTheMeasurement) {
    const kvexsim::SensorSim &sensor = connect();
    chooseRecording(path);
    EXPECT_EQ(recordingText(), "Recording: 0 rows");
    whenever([&] { return sampleTimes.size() >= 40; },
             [&] {
                 if (const char *folder = std::getenv("KVEX_SCREENSHOT_DIR")) {
                     mainPanel()->window()->resize(1290, 700);
                     mainPanel()->grab().save(QString("%1/recording.png").arg(folder));
                 }
                 click("BTNStop");
             });
    click("BTNRun");

    const auto lines = readLines(path);
    ASSERT_EQ(lines.size(), sampleTimes.size() + 1);
    EXPECT_EQ(recordedRows(), static_cast<long>(sampleTimes.size()));
    EXPECT_EQ(lines[0] + "\n", measurementCsvHeader());
    EXPECT_NE(lines[0].find("(µm)"), std::string::npos);
    const QRegularExpression iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)");
    for (size_t i = 1; i < lines.size(); ++i) {
        const QStringList f = fields(lines[i]);
        ASSERT_EQ(f.size(), 10) << lines[i];
        EXPECT_TRUE(iso.match(f[0]).hasMatch()) << lines[i];
        EXPECT_EQ(f[1], "400");
        EXPECT_EQ(f[2], "600");
        // Type 104: 63.5 µm per position.
        EXPECT_NEAR(f[4].toDouble(), f[3].toDouble() * 63.5, 0.01) << lines[i];
        EXPECT_TRUE(f[6] == "in" || f[6] == "out");
        EXPECT_EQ(f[9].toInt(), sensor.ram()[kvexsim::kParSetPoint]) << lines[i];
    }
    EXPECT_FALSE(recordingActive());
    EXPECT_EQ(recordingText(), QString("Recorded %1 rows to run.csv").arg(sampleTimes.size()));
}

TEST_F(RecordingTest, RecordingStartedDuringARunTakesTheCyclesFromThenOn) {
    connect();
    size_t before = 0;
    whenever([&] { return sampleTimes.size() >= 5; },
             [&] {
                 before = sampleTimes.size();
                 chooseRecording(path);
             });
    whenever([&] { return before > 0 && sampleTimes.size() >= before + 15; },
             [&] { click("BTNStop"); });
    click("BTNRun");
    EXPECT_EQ(readLines(path).size(), sampleTimes.size() - before + 1);
}

TEST_F(RecordingTest, RowsReachTheDiskWithinASecondWhileTheRunGoesOn) {
    connect();
    chooseRecording(path);
    size_t checked = 0;
    bool allOnDisk = true;
    auto *probe = new QTimer(qApp);
    QObject::connect(probe, &QTimer::timeout, [&] {
        // Every row older than a second must be on the disk already.
        const double now = Timer();
        size_t old = 0;
        while (old < sampleTimes.size() && sampleTimes[old] < now - 1.0)
            ++old;
        const size_t onDisk = readLines(path).size() - 1;
        allOnDisk = allOnDisk && onDisk >= old;
        checked += old > 0 ? 1 : 0;
    });
    probe->start(100);
    whenever([&] { return checked >= 10; }, [&] { click("BTNStop"); });
    click("BTNRun");
    probe->stop();
    delete probe;
    EXPECT_GE(checked, 10u);
    EXPECT_TRUE(allOnDisk);
}

// However the run ends, the file holds every row and is closed.
TEST_F(RecordingTest, EveryEndOfTheRunFlushesAndClosesTheFile) {
    enum class End { Stop, Unplug, CloseProgram };
    for (End end : {End::Stop, End::Unplug, End::CloseProgram}) {
        SCOPED_TRACE(static_cast<int>(end));
        kvexsim::SensorSim &sensor = connect();
        chooseRecording(path);
        whenever([&] { return sampleTimes.size() >= 15; },
                 [&] {
                     if (end == End::Stop)
                         click("BTNStop");
                     else if (end == End::Unplug)
                         sensor.hangUp();
                     else
                         mainPanel()->close();
                 });
        click("BTNRun");
        EXPECT_FALSE(recordingActive());
        EXPECT_EQ(readLines(path).size(), sampleTimes.size() + 1);
        if (end == End::Unplug)
            EXPECT_EQ(status(), "Timeout RS232-Line!");
        TearDown();
        SetUp();
    }
}

TEST_F(RecordingTest, AFileThatCannotBeWrittenStopsTheRecordingNotTheRun) {
    kvexsim::SensorSim &sensor = connect();
    chooseRecording(dir.filePath("missing/run.csv").toStdString());
    EXPECT_TRUE(recordingText().startsWith("Cannot record to run.csv: "))
        << recordingText().toStdString();
    EXPECT_FALSE(recordingActive());

    // A file that fills up after a few rows (a full disk, a quota).
    chooseRecording(path);
    rlimit kept{};
    getrlimit(RLIMIT_FSIZE, &kept);
    const auto keptSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = kept;
    small.rlim_cur = 600;
    setrlimit(RLIMIT_FSIZE, &small);
    size_t requestsAtFailure = 0;
    whenever([&] { return !recordingActive(); },
             [&] { requestsAtFailure = sensor.requests().size(); });
    whenever(
        [&] { return requestsAtFailure > 0 && sensor.requests().size() >= requestsAtFailure + 10; },
        [&] { click("BTNStop"); });
    click("BTNRun");
    setrlimit(RLIMIT_FSIZE, &kept);
    std::signal(SIGXFSZ, keptSignal);

    EXPECT_GT(requestsAtFailure, 0u);
    EXPECT_EQ(recordingText(), "Recording stopped: cannot write run.csv!");
    EXPECT_GE(sensor.requests().size(), requestsAtFailure + 10);
}

// The micrometre display for every simulated sensor type: the value where the identification
// names a pitch, a dash and dimmed where it does not.
TEST_F(RecordingTest, MicrometresForEverySensorType) {
    const std::map<std::string, double> micronsPerUnit = {
        {"type103", 31.75}, {"type104", 63.5}, {"type104-220", 63.5}};
    for (const kvexsim::SensorProfile &profile : kvexsim::sensorProfiles()) {
        SCOPED_TRACE(profile.name);
        connect(profile.name.c_str());
        whenever([&] { return sampleTimes.size() >= 3; }, [&] { click("BTNStop"); });
        click("BTNRun");
        auto *display = find<QDoubleSpinBox>("NUMMeasMicrons");
        const auto known = micronsPerUnit.find(profile.name);
        if (known != micronsPerUnit.end()) {
            EXPECT_NEAR(display->value(), Mvalue * known->second, 0.05);
            EXPECT_TRUE(display->isEnabled());
            EXPECT_NE(display->text(), display->specialValueText());
        } else {
            // The display's minimum, shown as a dash: no number at all.
            EXPECT_EQ(display->value(), display->minimum());
            EXPECT_EQ(display->text(), display->specialValueText());
            EXPECT_FALSE(display->isEnabled());
        }
        TearDown();
        SetUp();
    }
}

} // namespace
