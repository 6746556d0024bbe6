// The recording window: a recording made by the real program opens with the live panel's
// statistics, rotated files open as one, bad files open what they can and say why, a span chosen
// in the chart changes the figures, and the video line nearest a time is shown.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/commissioning/runstatistics.h"
#include "app/commissioning/statisticspanel.h"
#include "app/liveobservers.h"
#include "app/measurement.h"
#include "app/recording/windowmodel.h"
#include "platform/language.h"
#include "platform/qtaccess.h"
#include "platform/report.h"
#include "program_fixture.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <qcustomplot.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

const std::int64_t kStart = 1796704512345; // 2026-12-08T04:35:12.345Z

std::string isoTime(std::int64_t ms) {
    std::string text = formatTime(ms);
    text[10] = 'T';
    return text + "Z";
}

// A recorder's row: time, value, and a set-point 500 with tolerance 100.
std::string row(std::int64_t ms, int value, bool setpoint = true) {
    Measurement m{isoTime(ms),  400, 600, static_cast<unsigned short>(value),
                  value * 63.5, 500, 100, std::abs(value - 500) <= 100,
                  900,          100};
    std::string line = measurementCsvLine(m);
    if (!setpoint)
        line = line.substr(0, line.rfind(',')) + "\n";
    return line;
}

void writeFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

QWidget *recordingWindow() {
    QWidget *found = nullptr;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->objectName() == "RecordingWindow" && window->isVisible())
            found = window;
    return found;
}

QString windowText(const char *name) {
    QWidget *window = recordingWindow();
    auto *label = window ? window->findChild<QLabel *>(name) : nullptr;
    return label ? label->text() : QString("(no %1)").arg(name);
}

void closeRecordingWindows() {
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->objectName() == "RecordingWindow")
            window->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QCustomPlot *windowPlot(const char *prefix) {
    QWidget *window = recordingWindow();
    if (!window)
        return nullptr;
    for (QCustomPlot *plot : window->findChildren<QCustomPlot *>())
        if (plot->objectName().startsWith(prefix))
            return plot;
    return nullptr;
}

void mouse(QWidget *widget, QEvent::Type type, Qt::MouseButton button, int x) {
    const QPoint at(x, widget->height() / 2);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Drags with the right button from time `from` to time `to` on the chart; the rows of the span
// chosen, as the pixels allow.
std::size_t selectSpan(QCustomPlot *chart, double from, double to) {
    const int x0 = static_cast<int>(chart->xAxis->coordToPixel(from));
    const int x1 = static_cast<int>(chart->xAxis->coordToPixel(to));
    mouse(chart, QEvent::MouseButtonPress, Qt::RightButton, x0);
    mouse(chart, QEvent::MouseMove, Qt::RightButton, (x0 + x1) / 2);
    mouse(chart, QEvent::MouseMove, Qt::RightButton, x1);
    mouse(chart, QEvent::MouseButtonRelease, Qt::RightButton, x1);
    const auto rows =
        lastRecordingView()->rowsIn(chart->xAxis->pixelToCoord(x0), chart->xAxis->pixelToCoord(x1));
    return rows.second - rows.first;
}

class RecordingWindowTest : public CountingProgramTest {
  protected:
    void TearDown() override {
        closeRecordingWindows();
        kvexplatform::setReportSetupHook({});
        kvexplatform::useLanguage("en", false);
        CountingProgramTest::TearDown();
    }

    std::string file(const char *name) const { return dir.filePath(name).toStdString(); }
};

// Recorded by the program against the simulator, opened with Open recording…: the window's
// figures are the live panel's, to the last digit.
TEST_F(RecordingWindowTest, ARecordedRunOpensWithTheLivePanelsStatistics) {
    // The simulator's object moves when none is set; a window over the whole line finds it.
    kvexsim::SensorSim &sensor = startSensor("type104");
    std::array<uint16_t, 16> ram = sensor.ram();
    ram[7] = 1536;
    sensor.setRam(ram);
    ASSERT_TRUE(startProgram());
    const QString path = dir.filePath("run.csv");
    answerFileDialog(path);
    click("BTNRecord");
    whenever([] { return runStatistics().count() >= 120; }, [this] { click("BTNStop"); });
    click("BTNRun");
    answerFileDialog(path);
    click("BTNOpenRecording");
    ASSERT_NE(recordingWindow(), nullptr) << status().toStdString();
    const auto view = lastRecordingView();
    ASSERT_TRUE(view);
    const RunStatistics &live = runStatistics();
    RunStatistics opened;
    view->statisticsOf(view->firstTime(), view->lastTime(), opened);
    EXPECT_EQ(opened.count(), live.count());
    EXPECT_GE(opened.count(), 120);
    EXPECT_DOUBLE_EQ(opened.mean(), live.mean());
    EXPECT_DOUBLE_EQ(opened.standardDeviation(), live.standardDeviation());
    EXPECT_EQ(opened.minimum(), live.minimum());
    EXPECT_EQ(opened.maximum(), live.maximum());
    EXPECT_DOUBLE_EQ(opened.inToleranceShare(), live.inToleranceShare());
    for (const char *figure :
         {"Samples", "Mean", "Sigma", "Minimum", "Maximum", "InTolerance", "Cp", "Cpk"})
        EXPECT_EQ(windowText((std::string("recordingStat") + figure).c_str()),
                  find<QLabel>((std::string("STAT") + figure).c_str())->text())
            << figure;
    EXPECT_FALSE(windowText("recordingStatCp").isEmpty());
    EXPECT_TRUE(windowText("recordingSkipped").isEmpty());
}

// With or without a sensor, --open shows the recording once the panel is up.
TEST_F(RecordingWindowTest, TheCommandLineOpensARecordingWithoutASensor) {
    writeFile(file("night.csv"), measurementCsvHeader() + row(kStart, 500) + row(kStart + 10, 510));
    setRecordingToOpenAtStart(file("night.csv"));
    const bool started = startProgram();
    setRecordingToOpenAtStart("");
    ASSERT_TRUE(started);
    ASSERT_NE(recordingWindow(), nullptr);
    EXPECT_EQ(recordingWindow()->windowTitle(), "Recording night.csv");
    EXPECT_EQ(windowText("recordingStatSamples"), "2");
}

// A folder of rotated files is one recording in the order of their first rows; picking one of
// the files opens the folder. Other CSV files (video lines, notes) are not rows.
TEST_F(RecordingWindowTest, RotatedFilesOpenAsOneRecording) {
    ASSERT_TRUE(startProgram());
    const std::int64_t hour = 3600000;
    // Named so that the name order differs from the time order.
    writeFile(file("b-20261208T053512Z.csv"),
              measurementCsvHeader() + row(kStart + hour, 520) + row(kStart + hour + 5, 521));
    writeFile(file("a-20261208T063512Z.csv"), measurementCsvHeader() + row(kStart + 2 * hour, 530));
    writeFile(file("c-20261208T043512Z.csv"), measurementCsvHeader() + row(kStart, 510));
    writeFile(file("notes.csv"), "not,a,recording\n");
    for (const std::string &opened : {dir.path().toStdString(), file("a-20261208T063512Z.csv")}) {
        SCOPED_TRACE(opened);
        ASSERT_TRUE(openRecording(opened));
        const Recording &r = lastRecordingView()->recording();
        EXPECT_EQ(r.timeMs, (std::vector<std::int64_t>{kStart, kStart + hour, kStart + hour + 5,
                                                       kStart + 2 * hour}));
        EXPECT_EQ(r.value, (std::vector<std::uint16_t>{510, 520, 521, 530}));
        EXPECT_EQ(r.skippedRows(), 0);
        EXPECT_EQ(windowText("recordingStatSamples"), "4");
        closeRecordingWindows();
    }
}

// Whatever the file holds, the window opens what it can and says what it left out and where.
TEST_F(RecordingWindowTest, BadFilesOpenWhatTheyCanAndSayWhy) {
    ASSERT_TRUE(startProgram());
    const std::string header = measurementCsvHeader();
    const std::string oldHeader = header.substr(0, header.rfind(',')) + "\n";
    std::string good;
    for (int i = 0; i < 3; ++i)
        good += row(kStart + i * 100, 500 + i);
    std::string crlf = header;
    for (char c : good)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    struct Case {
        const char *name;
        std::string content;
        size_t rows;
        SkipReason reason;
        long skipped;
        long firstLine;
        const char *says;
    };
    const Case cases[] = {
        {"not a recording", "a,b,c\n1,2,3\n", 0, SkipReason::NotARecording, 2, 1,
         "not a recording"},
        {"empty", "", 0, SkipReason::Empty, 1, 0, "the file is empty"},
        {"truncated last line", header + good + row(kStart + 400, 600).substr(0, 30), 3,
         SkipReason::Truncated, 1, 5, "the last line is cut off (file.csv, line 5)"},
        {"out of order",
         header + row(kStart + 200, 500) + row(kStart, 501) + row(kStart + 300, 502), 2,
         SkipReason::OutOfOrder, 1, 3, "1 rows skipped: earlier than the row before them"},
        {"bad fields",
         header + row(kStart, 500) + "2026-12-08T04:35:12.345Z,400,600,abc,,100,500,in,900,100\n" +
             "2026-12-08T04:35:12.999Z,400,600,70000,,100,in,900,100,500\n" +
             "2026-12-08T04:35:13.000Z,400,600,500,,100,maybe,900,100,500\n" +
             "2026-12-08T04:35:13.000Z,400,600,500,,100,in,900,100,500,7\n" +
             "2026-13-08T04:35:13.000Z,400,600,500,,100,in,900,100,500\n" + std::string(5000, ',') +
             "\n" + std::string("\0\xff\n", 3),
         1, SkipReason::BadField, 7, 3,
         "7 rows skipped: a field is missing, extra or not a number"},
        {"a line longer than any row",
         header + good + std::string(3 << 20, 'x') + "\n" + row(kStart + 900, 510), 4,
         SkipReason::BadField, 1, 5, "1 rows skipped: a field is missing"},
        {"old header without set-point",
         oldHeader + row(kStart, 500, false) + row(kStart + 5, 560, false), 2, SkipReason::BadField,
         0, 0, ""},
        {"windows line ends", crlf, 3, SkipReason::BadField, 0, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file("file.csv"), c.content);
        ASSERT_TRUE(openRecording(file("file.csv")));
        ASSERT_NE(recordingWindow(), nullptr);
        const Recording &r = lastRecordingView()->recording();
        EXPECT_EQ(r.size(), c.rows);
        const SkipCount &skip = r.skipped[static_cast<int>(c.reason)];
        EXPECT_EQ(skip.rows, c.skipped);
        EXPECT_EQ(r.skippedRows(), c.skipped);
        if (c.skipped > 0) {
            EXPECT_EQ(skip.firstLine, c.firstLine);
            EXPECT_TRUE(windowText("recordingSkipped").contains(c.says))
                << windowText("recordingSkipped").toStdString();
        }
        EXPECT_EQ(windowText("recordingStatSamples"), QString::number(c.rows));
        closeRecordingWindows();
    }
    // Without the set-point column there is no window to rate against.
    writeFile(file("old.csv"), oldHeader + row(kStart, 500, false) + row(kStart + 5, 560, false));
    ASSERT_TRUE(openRecording(file("old.csv")));
    EXPECT_EQ(windowText("recordingStatCp"), "");
    EXPECT_EQ(windowText("recordingStatMean"), "530.00 (33655.0 µm)");
    EXPECT_EQ(recordingWindow()->findChild<QLabel *>("recordingStatCp")->toolTip(),
              "Recorded without the set-point: no tolerance window to rate");
    // Nothing at all to open.
    EXPECT_FALSE(openRecording(file("missing.csv")));
    EXPECT_TRUE(status().startsWith("Cannot open missing.csv: ")) << status().toStdString();
}

// The figures follow the span chosen in the chart; the chart draws the envelope of the span
// shown and reads out the row under the pointer.
TEST_F(RecordingWindowTest, ASpanChosenInTheChartChangesTheStatistics) {
    ASSERT_TRUE(startProgram());
    std::string content = measurementCsvHeader();
    for (int i = 0; i < 2000; ++i)
        content += row(kStart + i * 10, i < 1000 ? 500 + i % 3 : 600);
    writeFile(file("span.csv"), content);
    ASSERT_TRUE(openRecording(file("span.csv")));
    QWidget *window = recordingWindow();
    ASSERT_NE(window, nullptr);
    window->resize(1000, 720);
    QCustomPlot *chart = windowPlot("recordingChart");
    ASSERT_NE(chart, nullptr);
    QTest::qWait(50);
    chart->replot();
    EXPECT_EQ(windowText("recordingStatSamples"), "2000");

    const double t0 = kStart / 1000.0;
    const std::size_t chosen = selectSpan(chart, t0 + 10.5, t0 + 20.1);
    EXPECT_NEAR(static_cast<double>(chosen), 950, 5);
    EXPECT_EQ(windowText("recordingStatSamples"), QString::number(chosen));
    EXPECT_EQ(windowText("recordingStatMean"), "600.00 (38100.0 µm)");
    EXPECT_EQ(windowText("recordingStatMinimum"), "600 (38100.0 µm)");
    EXPECT_EQ(windowText("recordingStatInTolerance"), "100.0 %");
    if (const char *folder = std::getenv("KVEX_SCREENSHOT_DIR")) {
        mouse(chart, QEvent::MouseMove, Qt::NoButton,
              static_cast<int>(chart->xAxis->coordToPixel(t0 + 5)));
        QTest::qWait(100);
        window->grab().save(QString("%1/recording-window.png").arg(folder));
    }
    window->findChild<QPushButton *>("recordingWhole")->click();
    EXPECT_EQ(windowText("recordingStatSamples"), "2000");
    EXPECT_EQ(windowText("recordingStatMaximum"), "600 (38100.0 µm)");

    // The pointer's row, and one stroke from minimum to maximum per pixel column.
    mouse(chart, QEvent::MouseMove, Qt::NoButton,
          static_cast<int>(chart->xAxis->coordToPixel(t0 + 15)));
    EXPECT_TRUE(windowText("recordingReadout").contains("value 600 (38100.0 µm)"))
        << windowText("recordingReadout").toStdString();
    const int strokes = chart->graph(0)->dataCount();
    EXPECT_GT(strokes, 0);
    EXPECT_LE(strokes, 2 * chart->width());
    std::vector<double> low, high;
    lastRecordingView()->envelope(t0, t0 + 20, 2, low, high);
    EXPECT_EQ(low, (std::vector<double>{500, 600}));
    EXPECT_EQ(high, (std::vector<double>{502, 600}));

    // A span's report: the window's figures and graphs in the commissioning report.
    const QString pdf = dir.filePath("span.pdf");
    kvexplatform::setReportSetupHook([&](ReportRequest &request) {
        request.path = pdf.toStdString();
        return true;
    });
    const std::size_t reported = selectSpan(chart, t0 + 10.5, t0 + 20.1);
    window->findChild<QPushButton *>("recordingReport")->click();
    EXPECT_EQ(windowText("recordingStatus"), "Report written: " + pdf);
    QProcess text;
    text.start("pdftotext", {"-layout", pdf, "-"});
    ASSERT_TRUE(text.waitForFinished(20000));
    const QString pages = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(pages.contains("Statistics of the span")) << pages.toStdString();
    EXPECT_TRUE(pages.contains(QRegularExpression(QString("Samples\\s+%1").arg(reported))));
    EXPECT_TRUE(pages.contains("span.csv"));

    if (const char *folder = std::getenv("KVEX_SCREENSHOT_DIR")) {
        closeRecordingWindows();
        kvexplatform::useLanguage("de", false);
        ASSERT_TRUE(openRecording(file("span.csv")));
        recordingWindow()->resize(1000, 720);
        selectSpan(windowPlot("recordingChart"), t0 + 10.5, t0 + 20.1);
        QTest::qWait(100);
        recordingWindow()->grab().save(QString("%1/recording-window-de.png").arg(folder));
    }
}

// Beside R.csv, R-video.csv: the line nearest the time clicked in the chart is shown.
TEST_F(RecordingWindowTest, TheVideoLineNearestTheChosenTimeIsShown) {
    ASSERT_TRUE(startProgram());
    std::string content = measurementCsvHeader();
    for (int i = 0; i <= 300; ++i)
        content += row(kStart + i * 100, 500);
    writeFile(file("lens.csv"), content);
    std::string video = "time (UTC),left edge (units),right edge (units),measured value (units)";
    for (int i = 0; i < 256; ++i)
        video += ",sample " + std::to_string(i);
    video += ",threshold (units)\n";
    // Lines at 0 s, 10 s and 20 s, each at its own level, written out of order.
    for (int line : {2, 0, 1}) {
        video += isoTime(kStart + line * 10000) + ",400,600,500";
        for (int i = 0; i < 256; ++i)
            video += "," + std::to_string(1000 * (line + 1) + i);
        video += "," + std::to_string(700 + line) + "\n";
    }
    writeFile(file("lens-video.csv"), video);
    ASSERT_TRUE(openRecording(file("lens.csv")));
    const auto view = lastRecordingView();
    const double t0 = kStart / 1000.0;
    const struct {
        double at;
        int line;
    } nearest[] = {{-5, 0}, {4.9, 0}, {5.1, 1}, {14, 1}, {16, 2}, {99, 2}};
    for (const auto &n : nearest) {
        const RecordingVideoLine line = view->videoLine(t0 + n.at);
        ASSERT_TRUE(line.found);
        EXPECT_EQ(line.samples[0], 1000 * (n.line + 1)) << n.at;
        EXPECT_EQ(line.threshold, 700 + n.line) << n.at;
    }
    QCustomPlot *chart = windowPlot("recordingChart");
    QCustomPlot *videoPlot = windowPlot("recordingVideo");
    ASSERT_TRUE(videoPlot && videoPlot->isVisible());
    chart->replot();
    const int x = static_cast<int>(chart->xAxis->coordToPixel(t0 + 19));
    mouse(chart, QEvent::MouseButtonPress, Qt::LeftButton, x);
    mouse(chart, QEvent::MouseButtonRelease, Qt::LeftButton, x);
    ASSERT_EQ(videoPlot->graph(0)->dataCount(), 256);
    EXPECT_EQ(videoPlot->graph(0)->data()->at(5)->value, 3005);
    EXPECT_TRUE(videoPlot->toolTip().contains("threshold 702"))
        << videoPlot->toolTip().toStdString();
}

// In a child process of this test: the panel asked for the panel file's size, 1080 x 700, in the
// language and at the scale the parent chose; every visible button as wide as its text needs
// and inside the window. A request below the layout's minimum gets the minimum, never a squeezed
// panel (test_screen_fit checks every widget on the screens plants have).
TEST_F(RecordingWindowTest, ButtonTextsFitTheirWidthInThisProcess) {
    const char *language = std::getenv("KVEX_FIT_LANGUAGE");
    if (!language)
        GTEST_SKIP() << "run by EveryButtonIsWholeAtThePanelsSize";
    kvexplatform::useLanguage(language, false);
    ASSERT_TRUE(startProgram());
    QWidget *window = mainPanel()->window();
    window->resize(1080, 700);
    QTest::qWait(100);
    ASSERT_GE(window->width(), 1080);
    ASSERT_GE(window->height(), 700);
    int checked = 0;
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        if (!button->isVisible())
            continue;
        SCOPED_TRACE(button->objectName().toStdString());
        ++checked;
        EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
        const QRect where(button->mapTo(window, QPoint(0, 0)), button->size());
        EXPECT_TRUE(window->rect().contains(where));
    }
    EXPECT_GE(checked, 19);
}

TEST_F(RecordingWindowTest, EveryButtonIsWholeAtThePanelsSize) {
    const struct {
        const char *scale;
        const char *language;
    } cases[] = {{"1", "en"}, {"2", "en"}, {"1", "de"}, {"2", "de"}};
    // A 4K screen, so that 1080 x 700 fits at 200 % too: windows never open larger than theirs.
    QTemporaryDir dir;
    QFile screen(dir.filePath("screen.json"));
    ASSERT_TRUE(screen.open(QIODevice::WriteOnly));
    screen.write(R"({"screens": [{"name": "uhd", "x": 0, "y": 0, "width": 3840, "height": 2160,
                     "logicalDpi": 96, "logicalBaseDpi": 96}]})");
    screen.close();
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.scale) + " " + c.language);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_SCALE_FACTOR", c.scale);
        environment.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + screen.fileName());
        environment.insert("KVEX_FIT_LANGUAGE", c.language);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=*ButtonTextsFitTheirWidthInThisProcess"});
        ASSERT_TRUE(child.waitForFinished(60000));
        const QString output = QString::fromUtf8(child.readAll());
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    }
}

} // namespace
