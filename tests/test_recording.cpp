// Recording run mode to CSV and the value in micrometres: rows and their contents, what reaches
// the disk while the run goes on and when it ends in any way, write failures, and the micrometre
// display for every sensor type the identification knows.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/recording/rotation.h"
#include "app/recording/videocsv.h"
#include "app/recording/writer.h"
#include "com232/paraframe.h"
#include "platform/qtaccess.h"
#include "platform/recordingchoice.h"
#include "platform/utility.h"
#include "program_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTime>
#include <QTimer>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

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

// The files in a folder, by name.
std::set<std::string> filesIn(const std::string &folder) {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A clock the test moves: 2026-12-08 00:00:00 UTC to start with.
struct SetClock {
    std::chrono::system_clock::time_point now = std::chrono::system_clock::from_time_t(1796688000);
    RecordingFiles::Clock clock() {
        return [this] { return now; };
    }
};

QWidget *visibleWindow(const char *objectName) {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName && w->isVisible())
            return w;
    return nullptr;
}

// The choice after the file dialog as the operator makes it in the dialog's own widgets; a
// single file has no cap, and a cancelled dialog records nothing.
TEST(RecordingChoiceTest, TheDialogGivesWhatTheOperatorPicked) {
    struct Case {
        const char *what;
        int newFile; // one file, every N hours, every N MB
        int every;
        bool keep;
        bool video;
        bool record;
        int result;
        RecordingChoice expected;
    };
    const Case cases[] = {
        {"one file with video lines", 0, 5, true, true, true, 1, {0, 0, 0, 10}},
        {"hourly with a cap", 1, 2, true, false, true, 1, {2, 0, 500, 0}},
        {"by size without a cap", 2, 20, false, true, true, 1, {0, 20, 0, 10}},
        {"cancelled", 2, 20, true, true, false, 0, {1, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        whenever([] { return visibleWindow("RecordingChoicePopup") != nullptr; },
                 [&c] {
                     QWidget *dialog = visibleWindow("RecordingChoicePopup");
                     dialog->findChild<QComboBox *>("RINGNewFile")->setCurrentIndex(c.newFile);
                     dialog->findChild<QSpinBox *>("NUMRotateEvery")->setValue(c.every);
                     dialog->findChild<QCheckBox *>("CHECKKeep")->setChecked(c.keep);
                     dialog->findChild<QSpinBox *>("NUMKeepMegabytes")->setValue(500);
                     dialog->findChild<QCheckBox *>("CHECKVideo")->setChecked(c.video);
                     dialog->findChild<QSpinBox *>("NUMVideoEvery")->setValue(10);
                     if (const char *folder = std::getenv("KVEX_SCREENSHOT_DIR"))
                         if (c.newFile == 1)
                             dialog->grab().save(QString("%1/recording-choice.png").arg(folder));
                     if (c.record)
                         dialog->findChild<QPushButton *>("BTNStartRecording")->click();
                     else
                         static_cast<QDialog *>(dialog)->reject();
                 });
        RecordingChoice choice;
        choice.rotateHours = 1;
        EXPECT_EQ(RecordingChoicePopup(choice), c.result);
        EXPECT_EQ(choice.rotateHours, c.expected.rotateHours);
        EXPECT_EQ(choice.rotateMegabytes, c.expected.rotateMegabytes);
        EXPECT_EQ(choice.keepMegabytes, c.expected.keepMegabytes);
        EXPECT_EQ(choice.videoEvery, c.expected.videoEvery);
    }
}

// Rotation by time and by size: every file stands on its own with the header, is named by its
// start time, and together they hold every row in order.
TEST(RecordingFilesTest, RotationStartsNamedFilesThatEachStandOnTheirOwn) {
    using std::chrono::minutes;
    using std::chrono::seconds;
    struct Case {
        const char *what;
        RecordingOptions options;
        std::chrono::system_clock::duration step; // clock advance before each row
        size_t rowBytes;
        int rows;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"one file", {}, minutes(30), 20, 5, {"run.csv"}},
        {"every hour",
         {1, 0, 0, 0},
         minutes(25),
         20,
         6,
         {"run-20261208T000000Z.csv", "run-20261208T011500Z.csv", "run-20261208T023000Z.csv"}},
        {"every 2 hours",
         {2, 0, 0, 0},
         minutes(50),
         20,
         3,
         {"run-20261208T000000Z.csv", "run-20261208T023000Z.csv"}},
        // 1 MB is 1 000 000 bytes: four rows of 250 000 fill a file with its header.
        {"every MB",
         {0, 1, 0, 0},
         seconds(1),
         250000,
         9,
         {"run-20261208T000000Z.csv", "run-20261208T000005Z.csv", "run-20261208T000009Z.csv"}},
        // Two files of one second would share a name: the next waits for the next second.
        {"every MB within a second",
         {0, 1, 0, 0},
         std::chrono::milliseconds(300),
         600000,
         5,
         {"run-20261208T000000Z.csv", "run-20261208T000001Z.csv"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        SetClock time;
        RecordingFiles files(time.clock());
        const std::string folder = dir.path().toStdString();
        ASSERT_TRUE(files.open(folder + "/run.csv", c.options, nullptr));
        std::vector<std::string> written;
        for (int i = 0; i < c.rows; ++i) {
            time.now += c.step;
            written.push_back(std::to_string(i) + "," + std::string(c.rowBytes, 'x'));
            ASSERT_TRUE(files.writeRow(written.back() + "\n"));
        }
        ASSERT_TRUE(files.close());
        EXPECT_EQ(filesIn(folder), std::set<std::string>(c.files.begin(), c.files.end()));
        EXPECT_EQ(files.filesStarted(), static_cast<int>(c.files.size()));
        std::vector<std::string> read;
        for (const std::string &file : c.files) {
            const auto lines = readLines(folder + "/" + file);
            ASSERT_GE(lines.size(), 2u) << file;
            EXPECT_EQ(lines[0] + "\n", measurementCsvHeader()) << file;
            read.insert(read.end(), lines.begin() + 1, lines.end());
        }
        EXPECT_EQ(read, written);
    }
}

// The cap removes the oldest files of this recording, rows and video lines together, and never
// a file that only looks alike, nor the file being written.
TEST(RecordingFilesTest, TheCapRemovesOnlyItsOwnOldestFiles) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const std::vector<std::string> foreign = {"run.csv",
                                              "other.csv",
                                              "run-notes.csv",
                                              "runner-20200101T000000Z.csv",
                                              "run-20200101T000000Z.txt",
                                              "run-2020010T000000Z.csv",
                                              "RUN-20200101T000000Z.csv"};
    for (const std::string &name : foreign)
        std::ofstream(folder + "/" + name) << std::string(400000, 'f');
    // An earlier recording of the same name: its files are the oldest of all.
    for (const char *name : {"run-20200101T000000Z.csv", "run-20200101T000000Z-video.csv"})
        std::ofstream(folder + "/" + name) << std::string(400000, 'o');

    SetClock time;
    RecordingFiles files(time.clock());
    RecordingOptions options;
    options.rotateMegabytes = 1;
    options.keepMegabytes = 4;
    options.videoEvery = 1;
    ASSERT_TRUE(files.open(folder + "/run.csv", options, nullptr));
    // Each second a row of 200 000 bytes and a video line of 100 000: a new file every 5 seconds,
    // 1.5 MB with its video file (the line that finds its file full opens the next one).
    for (int i = 0; i < 30; ++i) {
        time.now += std::chrono::seconds(1);
        ASSERT_TRUE(files.writeRow(std::string(200000, 'r') + "\n"));
        ASSERT_TRUE(files.writeVideoRow(std::string(100000, 'v') + "\n"));
    }
    ASSERT_TRUE(files.close());

    const std::set<std::string> left = filesIn(folder);
    for (const std::string &name : foreign)
        EXPECT_TRUE(left.count(name)) << name << " was removed";
    // The cap of 4 MB holds two finished files with their video files besides the one being
    // written.
    const std::set<std::string> own = {
        "run-20261208T000020Z.csv", "run-20261208T000020Z-video.csv",
        "run-20261208T000025Z.csv", "run-20261208T000025Z-video.csv",
        "run-20261208T000030Z.csv", "run-20261208T000030Z-video.csv"};
    std::set<std::string> ownLeft;
    for (const std::string &name : left)
        if (!std::count(foreign.begin(), foreign.end(), name))
            ownLeft.insert(name);
    EXPECT_EQ(ownLeft, own);
    EXPECT_EQ(files.filesStarted(), 7);
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
        hooks.videoLine = [this] { ++videoLines; };
        counter = addLiveObserver(hooks);
        return sensor;
    }

    // Presses Record…, answers the file dialog with file and the choice after it with choice.
    void chooseRecording(const std::string &file, RecordingChoice choice = {}) {
        kvexplatform::setFileSelectHook(
            [file](const kvexplatform::FileSelectRequest &, std::string &chosen) {
                chosen = file;
                return 2;
            });
        kvexplatform::setRecordingChoiceHook([choice](RecordingChoice &asked) {
            asked = choice;
            return 1;
        });
        click("BTNRecord");
    }

    QString recordingText() const { return find<QLabel>("TEXTRecording")->text(); }

    QTemporaryDir dir;
    std::string path;
    std::vector<double> sampleTimes;
    int videoLines = 0;
    int counter = 0;
};

// Video lines beside the rows, every Nth taken between run cycles or in video mode, in the
// command line's video CSV format with the threshold last; the choice after the file dialog
// reaches the files (a rotating recording is named by its start time).
TEST_F(RecordingTest, EveryNthVideoLineGoesBesideTheRecording) {
    struct Case {
        const char *button;
        int every;
    };
    for (const Case c : {Case{"BTNRun", 5}, Case{"BTNVideo", 2}}) {
        SCOPED_TRACE(c.button);
        connect();
        videoLines = 0;
        enterValue("NUMVideoThreshold", 321);
        RecordingChoice choice;
        choice.rotateHours = 1;
        choice.videoEvery = c.every;
        chooseRecording(path, choice);
        const std::string file = recordingFile();
        EXPECT_TRUE(
            QString::fromStdString(file).contains(QRegularExpression(R"(/run-\d{8}T\d{6}Z\.csv$)")))
            << file;
        whenever([&] { return sampleTimes.size() + videoLines >= 30; }, [&] { click("BTNStop"); });
        click(c.button);
        EXPECT_FALSE(recordingActive());

        const auto lines = readLines(videoFileFor(file));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0] + "\n", videoCsvHeader());
        const size_t offered = sampleTimes.size() + static_cast<size_t>(videoLines);
        EXPECT_EQ(lines.size() - 1, offered / c.every);
        for (size_t i = 1; i < lines.size(); ++i) {
            const QStringList f = fields(lines[i]);
            ASSERT_EQ(f.size(), 4 + 256 + 1) << lines[i];
            EXPECT_EQ(f[1], "400");
            EXPECT_EQ(f[2], "600");
            EXPECT_EQ(f.last(), "321");
            // The object darkens part of the line.
            int darkest = 65535, brightest = 0;
            for (int s = 4; s < 4 + 256; ++s) {
                darkest = std::min(darkest, f[s].toInt());
                brightest = std::max(brightest, f[s].toInt());
            }
            EXPECT_LT(darkest, brightest / 2) << lines[i];
        }
        TearDown();
        SetUp();
    }
}

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

// A recording the program made, played back by the simulator's own reader, comes back through
// the panel as it was: the same rows and video lines in the same order, not faster than recorded.
TEST_F(RecordingTest, ARecordingPlayedBackGivesTheSameValues) {
    constexpr double speed = 2.0;
    kvexsim::SensorSim &recorded = connect();
    // The scene moves, so every row differs from the one before.
    recorded.releaseObject();
    RecordingChoice choice;
    choice.videoEvery = 4;
    chooseRecording(path, choice);
    whenever([&] { return sampleTimes.size() >= 40; }, [&] { click("BTNStop"); });
    click("BTNRun");
    const auto original = readLines(path);
    const auto originalVideo = readLines(videoFileFor(path));
    ASSERT_EQ(original.size(), 41u);
    ASSERT_GE(originalVideo.size(), 10u);
    TearDown();
    SetUp();

    auto replay = std::make_shared<kvexsim::Replay>();
    std::string error;
    ASSERT_TRUE(kvexsim::loadReplay(path, *replay, error)) << error;
    EXPECT_EQ(replay->rows.size(), 40u);
    EXPECT_EQ(replay->skipped, 0u);
    kvexsim::SensorSim &player = startSensor("type104");
    player.setReplay(replay, speed);
    ASSERT_TRUE(startProgram());
    sampleTimes.clear();
    LiveObserver hooks;
    hooks.runSample = [this] { sampleTimes.push_back(Timer()); };
    counter = addLiveObserver(hooks);
    const std::string again = dir.filePath("again.csv").toStdString();
    chooseRecording(again, choice);
    whenever([&] { return sampleTimes.size() >= 40; }, [&] { click("BTNStop"); });
    click("BTNRun");

    const auto played = readLines(again);
    ASSERT_GE(played.size(), 41u);
    // Time apart, every column as recorded: edges, value, micrometres, tolerance, verdict,
    // extremes, set-point.
    auto withoutTime = [](const std::string &line) { return line.substr(line.find(',')); };
    for (size_t i = 1; i <= 40; ++i)
        EXPECT_EQ(withoutTime(played[i]), withoutTime(original[i])) << "row " << i;
    const auto playedVideo = readLines(videoFileFor(again));
    ASSERT_GE(playedVideo.size(), originalVideo.size());
    for (size_t i = 1; i < originalVideo.size(); ++i)
        EXPECT_EQ(withoutTime(playedVideo[i]), withoutTime(originalVideo[i])) << "video line " << i;
    // Replayed rows wait for their time: the run takes at least the recorded span at the speed.
    auto seconds = [](const std::string &line) {
        const QTime t =
            QTime::fromString(QString::fromStdString(line.substr(11, 12)), "HH:mm:ss.zzz");
        return t.msecsSinceStartOfDay() / 1000.0;
    };
    const double span = seconds(original[40]) - seconds(original[1]);
    EXPECT_GE(sampleTimes[39] - sampleTimes[0], span / speed * 0.9);
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
