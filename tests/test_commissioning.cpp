// Run statistics, histogram and the commissioning report on the real panel against the
// simulator.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/commissioning/runstatistics.h"
#include "app/commissioning/statisticspanel.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/sensorunits.h"
#include "gui/graphs.h"
#include "platform/report.h"
#include "platform/rs232.h"
#include "program_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <qcustomplot.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <numeric>
#include <regex>

namespace {

struct Sample {
    double value;
    bool inTolerance;
};

class CommissioningTest : public ProgramTest {
  protected:
    void TearDown() override {
        kvexplatform::setReportSetupHook({});
        if (observer)
            removeLiveObserver(observer);
        ProgramTest::TearDown();
    }

    // Records every sample the run loop takes, as the program received it from the simulator.
    void recordSamples() {
        LiveObserver o;
        o.runStarted = [this] { samples.clear(); };
        o.runSample = [this] { samples.push_back({double(Mvalue), measurementInTolerance()}); };
        o.videoLine = [this] { ++videoLines; };
        observer = addLiveObserver(std::move(o));
    }

    // Runs run mode until it has taken `count` samples.
    void runFor(size_t count) {
        auto *poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, [this, poll, count] {
            if (samples.size() < count)
                return;
            poll->stop();
            poll->deleteLater();
            click("BTNStop");
        });
        poll->start(5);
        click("BTNRun");
    }

    // Runs video mode until it has drawn `count` lines.
    void videoFor(int count) {
        auto *poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, [this, poll, count] {
            if (videoLines < count)
                return;
            poll->stop();
            poll->deleteLater();
            click("BTNStop");
        });
        poll->start(5);
        videoLines = 0;
        click("BTNVideo");
    }

    QString text(const char *name) const { return find<QLabel>(name)->text(); }

    QString writeReport(const QString &path, const std::string &note, bool letter) {
        kvexplatform::setReportSetupHook([=](ReportRequest &request) {
            request.path = path.toStdString();
            request.note = note;
            request.letter = letter;
            return true;
        });
        click("BTNReport");
        return status();
    }

    std::vector<Sample> samples;
    int videoLines = 0;
    int observer = 0;
};

QString fixed(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

TEST_F(CommissioningTest, StatisticsAndHistogramEqualAReferenceFromTheSamplesTaken) {
    struct Case {
        const char *profile;
        unsigned short evaluation;
        bool microns;
    };
    for (const Case &c :
         {Case{"standard", 0, false}, Case{"type104", 1, true}, Case{"standard", 2, false}}) {
        SCOPED_TRACE(c.profile + std::string(" eMode ") + std::to_string(c.evaluation));
        // The evaluation mode, and a window over the whole line so that the moving object's
        // edges are always found; the program reads them at start-up.
        kvexsim::SensorSim &sensor = startSensor(c.profile);
        std::array<uint16_t, 16> ram = sensor.ram();
        ram[5] = c.evaluation;
        ram[7] = 1536;
        sensor.setRam(ram);
        ASSERT_TRUE(startProgram());
        ASSERT_EQ(eMode, c.evaluation);
        recordSamples();
        runFor(30);
        ASSERT_GE(samples.size(), 30u);

        const double n = static_cast<double>(samples.size());
        double sum = 0, lo = 1e9, hi = -1e9, inside = 0;
        for (const Sample &s : samples) {
            sum += s.value;
            lo = std::min(lo, s.value);
            hi = std::max(hi, s.value);
            inside += s.inTolerance;
        }
        const double mean = sum / n;
        double squares = 0;
        for (const Sample &s : samples)
            squares += (s.value - mean) * (s.value - mean);
        const double sigma = std::sqrt(squares / (n - 1));
        const double mpu = micronsPerUnit();
        ASSERT_EQ(std::isnan(mpu), !c.microns);

        EXPECT_EQ(text("STATSamples"), QString::number(samples.size()));
        // The running and the two-pass figures may differ in their last bits and so round
        // apart at a tie: the shown numbers are compared within the display's step.
        auto expectShown = [&](const char *name, double units, int decimals) {
            const QString t = text(name);
            const QStringList parts = t.split(' ', Qt::SkipEmptyParts);
            ASSERT_EQ(parts.size(), c.microns ? 3 : 1) << name << ": " << t.toStdString();
            EXPECT_EQ(parts[0].section('.', 1).size(), decimals) << name;
            EXPECT_NEAR(parts[0].toDouble(), units, 0.5 * std::pow(10.0, -decimals) + 1e-9) << name;
            if (c.microns) {
                EXPECT_EQ(parts[2], "µm)") << name;
                EXPECT_NEAR(parts[1].mid(1).toDouble(), units * mpu, 0.05 + 1e-9) << name;
            }
        };
        expectShown("STATMean", mean, 2);
        expectShown("STATSigma", sigma, 3);
        expectShown("STATMinimum", lo, 0);
        expectShown("STATMaximum", hi, 0);
        EXPECT_EQ(text("STATInTolerance"), fixed(100.0 * inside / n, 1) + " %");

        if (c.evaluation == 2) {
            EXPECT_EQ(text("STATCp"), "");
            EXPECT_EQ(text("STATCpk"), "");
            EXPECT_TRUE(find<QLabel>("STATCp")->toolTip().contains("Two tolerance windows"));
        } else {
            ASSERT_GT(sigma, 0.0);
            const double lsl = double(tVal) - tol, usl = double(tVal) + tol;
            EXPECT_EQ(text("STATCp"), fixed((usl - lsl) / (6 * sigma), 2));
            EXPECT_EQ(text("STATCpk"), fixed(std::min(usl - mean, mean - lsl) / (3 * sigma), 2));
        }

        // Every sample is in one bar; the limits are marked in the modes with one window.
        auto *histogram = find<QCustomPlot>("GRAPHHistogram");
        ASSERT_NE(histogram, nullptr);
        auto *bars = qobject_cast<QCPBars *>(histogram->plottable(0));
        ASSERT_NE(bars, nullptr);
        double counted = 0;
        for (auto it = bars->data()->constBegin(); it != bars->data()->constEnd(); ++it)
            counted += it->value;
        EXPECT_EQ(counted, n);
        int limitsShown = 0;
        for (int i = 0; i < histogram->itemCount(); ++i)
            limitsShown += histogram->item(i)->objectName().contains("Lower") ||
                                   histogram->item(i)->objectName().contains("Upper")
                               ? histogram->item(i)->visible()
                               : 0;
        EXPECT_EQ(limitsShown, c.evaluation == 2 ? 0 : 2);

        // Reset empties them; Cp and Cpk stay blank below two samples.
        click("BTNResetStatistics");
        EXPECT_EQ(text("STATSamples"), "0");
        EXPECT_EQ(text("STATMean"), "");
        EXPECT_EQ(text("STATCp"), "");
        EXPECT_EQ(runStatistics().count(), 0);
        if (c.evaluation != 2)
            EXPECT_TRUE(find<QLabel>("STATCp")->toolTip().contains("at least two"));

        // A new run starts afresh.
        runFor(5);
        EXPECT_EQ(text("STATSamples"), QString::number(samples.size()));
        TearDown();
    }
}

std::string pdfText(const QString &path, const QStringList &options = {}) {
    QProcess tool;
    tool.start("pdftotext", options + QStringList{"-layout", path, "-"});
    tool.waitForFinished(20000);
    return tool.readAllStandardOutput().toStdString();
}

std::string pdfInfo(const QString &path) {
    QProcess tool;
    tool.start("pdfinfo", {path});
    tool.waitForFinished(20000);
    return tool.readAllStandardOutput().toStdString();
}

// The parameter table's line of word `index`, or "".
std::string parameterLine(const std::string &text, int index, const std::string &name) {
    const std::regex row("(^|\\n) *" + std::to_string(index) + " +" +
                         std::regex_replace(name, std::regex("[.()-]"), "\\$&") + " [^\\n]*");
    std::smatch match;
    return std::regex_search(text, match, row) ? match.str(0) : "";
}

std::string pageCount(const std::string &info) {
    std::smatch match;
    return std::regex_search(info, match, std::regex("Pages: +([0-9]+)")) ? match.str(1) : "";
}

// The line of the text that holds `what`, or "".
std::string lineWith(const std::string &text, const std::string &what) {
    const size_t at = text.find(what);
    if (at == std::string::npos)
        return "";
    const size_t begin = text.rfind('\n', at), end = text.find('\n', at);
    return text.substr(begin == std::string::npos ? 0 : begin + 1, end - begin - 1);
}

TEST_F(CommissioningTest, ReportHoldsIdentityParametersStatisticsAndNote) {
    kvexsim::SensorSim &sensor = startSensor("type104");
    // The window spans the whole line, so the moving object's edges are always found.
    std::array<uint16_t, 16> ram = sensor.ram();
    ram[7] = 1536;
    sensor.setRam(ram);
    std::array<uint16_t, 16> eeprom = ram;
    eeprom[0] = 777;
    eeprom[9] = 55;
    sensor.setEeprom(eeprom);
    ASSERT_TRUE(startProgram());
    recordSamples();
    // The EEPROM read first, then the RAM the sensor works with.
    click("RBTEeprom");
    click("BTNGet");
    ASSERT_EQ(power, 777);
    click("RBTRam");
    click("BTNGet");
    videoFor(2);
    runFor(20);

    QTemporaryDir folder;
    const QString path = folder.filePath("commissioning.pdf");
    const std::string note = "Line 3, left conveyor; set-point taught on the reference part";
    EXPECT_EQ(writeReport(path, note, false), "Report written: " + path);
    const std::string text = pdfText(path);
    ASSERT_FALSE(text.empty());
    // For the README's picture of page 1.
    if (const char *folder = std::getenv("KVEX_SCREENSHOT_DIR"))
        QFile::copy(path, QString(folder) + "/report.pdf");

    EXPECT_NE(lineWith(text, "Sensor type").find("104"), std::string::npos);
    EXPECT_NE(lineWith(text, "Pixels").find(std::to_string(ccdmaxpixel)), std::string::npos);
    const std::string firmware = sensor.profile().firmwareText;
    EXPECT_NE(lineWith(text, "Firmware").find(firmware), std::string::npos) << firmware;
    EXPECT_NE(lineWith(text, "Port").find(portDevicePath(1)), std::string::npos);

    const unsigned short words[16] = {power,  pMode,  vThd,    anaMode, polarity, eMode,
                                      eBeg,   eEnd,   tVal,    tTol,    opMode,   eHardware,
                                      para12, para13, average, para15};
    const char *names[16] = {"Power",     "P-mode",     "Video threshold", "Analogue mode",
                             "Polarity",  "Evaluation", "Window left",     "Window right",
                             "Set-point", "Tolerance",  "Operating mode",  "Hardware setting",
                             "Word 12",   "Word 13",    "Average",         "Aux. value"};
    for (int i = 0; i < 16; ++i) {
        const std::string line = parameterLine(text, i, names[i]);
        ASSERT_FALSE(line.empty()) << names[i];
        EXPECT_NE(line.find(" " + std::to_string(words[i])), std::string::npos) << line;
        const bool differs = i == 0 || i == 9;
        EXPECT_EQ(line.find("EEPROM: " + std::to_string(eeprom[i])) != std::string::npos, differs)
            << line;
    }

    EXPECT_NE(lineWith(text, "Samples").find(std::to_string(samples.size())), std::string::npos);
    const RunStatistics &stats = runStatistics();
    EXPECT_NE(lineWith(text, "Mean").find(fixed(stats.mean(), 2).toStdString()), std::string::npos);
    EXPECT_NE(
        lineWith(text, "Std. deviation").find(fixed(stats.standardDeviation(), 3).toStdString()),
        std::string::npos);
    EXPECT_NE(lineWith(text, "In tolerance").find("%"), std::string::npos);
    // The caption carries the line's signal reserve: the simulator's clean line stands about
    // 0.6 above its threshold (docs/signal-reserve.md).
    EXPECT_NE(text.find("Last video line, threshold " + std::to_string(thdArray[0]) +
                        "; Signal reserve 0."),
              std::string::npos)
        << lineWith(text, "Last video line");
    EXPECT_NE(text.find("Histogram of the last run"), std::string::npos);
    EXPECT_NE(text.find("Line 3, left conveyor"), std::string::npos);

    const std::string info = pdfInfo(path);
    EXPECT_EQ(pageCount(info), "1") << info;
    EXPECT_NE(info.find("(A4)"), std::string::npos) << info;

    const QString letter = folder.filePath("letter.pdf");
    writeReport(letter, "", true);
    EXPECT_NE(pdfInfo(letter).find("(letter)"), std::string::npos) << pdfInfo(letter);
}

TEST_F(CommissioningTest, ReportDialogAsksForFilePageSizeAndNote) {
    startSensor("standard");
    ASSERT_TRUE(startProgram());
    QTemporaryDir folder;
    const QString path = folder.filePath("asked.pdf");
    // The proposed file lies in the home folder; keep it in the scratch folder.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", folder.path().toLocal8Bit());
    struct Answer {
        bool save;
        QString path;
    };
    for (const Answer &answer : {Answer{false, path}, Answer{true, ""}, Answer{true, path}}) {
        bool proposedAFile = false;
        later(0.3, [&] {
            QWidget *dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            auto *file = dialog->findChild<QLineEdit *>("reportPath");
            proposedAFile = file->text().endsWith(".pdf");
            file->clear();
            QTest::keyClicks(file, answer.path);
            dialog->findChild<QComboBox *>("reportPageSize")->setCurrentIndex(1);
            QTest::keyClicks(dialog->findChild<QPlainTextEdit *>("reportNote"), "Typed note");
            auto *buttons = dialog->findChild<QDialogButtonBox *>();
            QTest::mouseClick(
                buttons->button(answer.save ? QDialogButtonBox::Save : QDialogButtonBox::Cancel),
                Qt::LeftButton);
            // Save without a file name keeps the dialog open.
            if (answer.save && answer.path.isEmpty()) {
                EXPECT_TRUE(dialog->isVisible());
                dialog->close();
            }
        });
        const QString before = status();
        click("BTNReport");
        EXPECT_TRUE(proposedAFile);
        if (answer.save && !answer.path.isEmpty()) {
            EXPECT_EQ(status(), "Report written: " + path);
            EXPECT_NE(pdfInfo(path).find("(letter)"), std::string::npos);
            EXPECT_NE(pdfText(path).find("Typed note"), std::string::npos);
        } else {
            EXPECT_EQ(status(), before);
            EXPECT_FALSE(QFile::exists(path));
        }
    }
    qputenv("HOME", home);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"asked.pdf"});
}

TEST_F(CommissioningTest, ReportThatCannotBeWrittenLeavesNoFileAndSaysSo) {
    startSensor("standard");
    ASSERT_TRUE(startProgram());
    QTemporaryDir folder;
    QFile blocker(folder.filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    // A full disk: the file size limit stops the writes part-way, as a full disk would.
    const QString existing = folder.filePath("kept.pdf");
    QFile previous(existing);
    ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
    previous.write("the previous report");
    previous.close();
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1500;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString full = writeReport(existing, "", false);
    setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_TRUE(full.startsWith("Report not written: ")) << full.toStdString();
    ASSERT_TRUE(previous.open(QIODevice::ReadOnly));
    EXPECT_EQ(previous.readAll(), "the previous report");
    previous.close();

    const QString cannot = writeReport(folder.filePath("not-a-folder/report.pdf"), "", false);
    EXPECT_TRUE(cannot.startsWith("Report not written: ")) << cannot.toStdString();
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"kept.pdf", "not-a-folder"}));
}

} // namespace
