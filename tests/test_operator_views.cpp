// The operator's views: exporting the video line and the strip chart, reading and zooming the
// graphs, comparing parameter sets, and the question before a permanent EEPROM write.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/videodata.h"
#include "gui/graphs.h"
#include "platform/confirm.h"
#include "platform/widgets/graphwidgets.h"
#include "platform/qtaccess.h"
#include "platform/userint.h"
#include "program_fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <cstdlib>
#include <fstream>

namespace {

std::vector<QStringList> readCsv(const QString &path) {
    std::ifstream in(path.toStdString());
    std::vector<QStringList> rows;
    for (std::string line; std::getline(in, line);)
        rows.push_back(QString::fromStdString(line).split(','));
    return rows;
}

// With KVEX_SCREENSHOT_DIR set, saves a widget's picture there for the documentation; a panel
// first gets the size it opens with on a desktop, not the offscreen screen's.
void saveScreenshot(QWidget *widget, const char *name, bool panel = false) {
    const char *folder = std::getenv("KVEX_SCREENSHOT_DIR");
    if (!folder || !widget)
        return;
    if (panel)
        widget->window()->resize(1290, 700);
    widget->grab().save(QString("%1/%2.png").arg(folder, name));
}

QWidget *visibleWindow(const char *objectName) {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == objectName && w->isVisible())
            return w;
    return nullptr;
}

bool pictureSaved(const QString &png, const QString &pdf) {
    QFile file(pdf);
    return !QImage(png).isNull() && file.open(QIODevice::ReadOnly) && file.read(4) == "%PDF";
}

using OperatorViewTest = CountingProgramTest;

TEST_F(OperatorViewTest, ExportLineSavesTheShownVideoLineAndItsPicture) {
    connect();
    const QString csv = dir.filePath("line.csv");
    answerFileDialog(csv);
    std::vector<unsigned short> shown;
    whenever([&] { return samples >= 3; },
             [&] {
                 shown.assign(adcbuf, adcbuf + 256);
                 click("BTNExportLine");
                 click("BTNStop");
             });
    click("BTNVideo");

    const auto rows = readCsv(csv);
    ASSERT_EQ(rows.size(), 257u);
    EXPECT_EQ(rows[0].join(","), "position (units),level,threshold");
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(rows[i + 1].size(), 3);
        EXPECT_DOUBLE_EQ(rows[i + 1][0].toDouble(), xArray8[i]);
        EXPECT_EQ(rows[i + 1][1].toInt(), shown[i]) << i;
        EXPECT_EQ(rows[i + 1][2].toInt(), thdArray[i]);
    }
    EXPECT_TRUE(pictureSaved(dir.filePath("line.png"), dir.filePath("line.pdf")));
    char outcome[260] = "";
    GetCtrlVal(pHandle, TEXTRecording, outcome);
    EXPECT_STREQ(outcome, "Saved line.csv, line.png and line.pdf");
    if (const char *folder = std::getenv("KVEX_SCREENSHOT_DIR")) {
        QFile::remove(QString("%1/exported-line.png").arg(folder));
        QFile::copy(dir.filePath("line.png"), QString("%1/exported-line.png").arg(folder));
    }
}

TEST_F(OperatorViewTest, ExportChartSavesThePointsOnScreen) {
    connect();
    runCycles("BTNRun", 30);
    const QString csv = dir.filePath("chart.csv");
    answerFileDialog(csv);
    click("BTNExportChart");

    const auto rows = readCsv(csv);
    const std::vector<double> measured = stripChart()->traceSamples(4);
    ASSERT_GE(measured.size(), 30u);
    ASSERT_EQ(rows.size(), measured.size() + 1);
    EXPECT_TRUE(rows[0][4].startsWith("measured value"));
    for (size_t k = 0; k < measured.size(); ++k)
        EXPECT_DOUBLE_EQ(rows[k + 1][4].toDouble(), measured[k]) << k;
    EXPECT_TRUE(pictureSaved(dir.filePath("chart.png"), dir.filePath("chart.pdf")));

    // A file that cannot be written says so.
    answerFileDialog(dir.filePath("missing/chart.csv"));
    click("BTNExportChart");
    EXPECT_EQ(status(), "Cannot write chart.csv!");
}

TEST_F(OperatorViewTest, TheValueUnderTheMouseAndAZoomThatLiveUpdatesKeep) {
    connect();
    runCycles("BTNRun", 40);
    KvexStripChart *strip = stripChart();
    OperatorView *view = strip->operatorView();
    ASSERT_NE(view, nullptr);

    // The tracer names the sample nearest to the mouse and its measured value.
    const QPoint middle = strip->axisRect()->rect().center();
    QMouseEvent move(QEvent::MouseMove, middle, strip->mapToGlobal(middle), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(strip, &move);
    const std::vector<double> measured = strip->traceSamples(4);
    const int x = static_cast<int>(std::lround(strip->xAxis->pixelToCoord(middle.x())));
    const int first = strip->pointsPerScreen() - static_cast<int>(measured.size());
    ASSERT_GE(x, first);
    EXPECT_EQ(view->readout(),
              QString("sample %1, value %2").arg(x).arg(measured[static_cast<size_t>(x - first)]));

    // The wheel zooms in; the next samples keep that view.
    const QCPRange before = strip->yAxis->range();
    strip->replot();
    const QPoint onCurve(static_cast<int>(strip->xAxis->coordToPixel(strip->pointsPerScreen() - 8)),
                         static_cast<int>(strip->yAxis->coordToPixel(measured.back())));
    QWheelEvent wheel(onCurve, strip->mapToGlobal(onCurve), QPoint(), QPoint(0, 1200), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(strip, &wheel);
    const QCPRange zoomed = strip->yAxis->range();
    EXPECT_LT(zoomed.size(), before.size());
    EXPECT_TRUE(view->zoomed());
    if (std::getenv("KVEX_SCREENSHOT_DIR")) {
        mainPanel()->window()->resize(1290, 700);
        strip->replot();
        QMouseEvent over(QEvent::MouseMove, onCurve, strip->mapToGlobal(onCurve), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(strip, &over);
        strip->replot();
        saveScreenshot(mainPanel(), "graph-zoom");
    }
    runCycles("BTNRun", 10);
    EXPECT_EQ(strip->yAxis->range(), zoomed);
    EXPECT_EQ(strip->xAxis->range().size() < strip->pointsPerScreen() - 1, true);

    // Zoom fits the graph again: the program's range of the last sample, here the full line.
    click("TOGGBTN_Zoom");
    EXPECT_FALSE(view->zoomed());
    EXPECT_EQ(strip->yAxis->range(), QCPRange(0.0, ccdmaxpixelX8));
    EXPECT_EQ(strip->xAxis->range(), QCPRange(0, strip->pointsPerScreen() - 1));

    // Dragging pans the video graph, and video mode keeps it.
    KvexGraph *video = graph("GRAPHVideo");
    runCycles("BTNVideo", 2);
    const QCPRange fullX = video->xAxis->range();
    const QPoint from = video->axisRect()->rect().center();
    QTest::mousePress(video, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent drag(QEvent::MouseMove, from + QPoint(60, 0),
                     video->mapToGlobal(from + QPoint(60, 0)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(video, &drag);
    QTest::mouseRelease(video, Qt::LeftButton, Qt::NoModifier, from + QPoint(60, 0));
    const QCPRange panned = video->xAxis->range();
    EXPECT_LT(panned.lower, fullX.lower);
    runCycles("BTNVideo", 3);
    EXPECT_EQ(video->xAxis->range(), panned);
    EXPECT_TRUE(video->operatorView()->readout().startsWith("position "));
}

TEST_F(OperatorViewTest, CompareHighlightsTheWordsThatDiffer) {
    kvexsim::SensorSim &sensor = connect();
    auto eeprom = sensor.eeprom();
    eeprom[8] = 700;
    sensor.setEeprom(eeprom);
    enterValue("NEDITTolerance", 150);

    struct Seen {
        QString summary;
        std::vector<int> highlighted;
        QString firstHeader, secondHeader;
    };
    auto look = [](QWidget *view) {
        Seen seen;
        auto *table = view->findChild<QTableWidget *>("compareTable");
        seen.summary = view->findChild<QLabel *>("compareSummary")->text();
        seen.firstHeader = table->horizontalHeaderItem(2)->text();
        seen.secondHeader = table->horizontalHeaderItem(3)->text();
        for (int w = 0; w < table->rowCount(); ++w)
            if (table->item(w, 2)->font().bold())
                seen.highlighted.push_back(w);
        return seen;
    };
    std::vector<Seen> seen;
    whenever([] { return visibleWindow("CompareView") != nullptr; },
             [&] {
                 QWidget *view = visibleWindow("CompareView");
                 seen.push_back(look(view));
                 auto *second = view->findChild<QComboBox *>("compareSecond");
                 second->setCurrentIndex(second->findText("Sensor EEPROM"));
                 seen.push_back(look(view));
                 auto *first = view->findChild<QComboBox *>("compareFirst");
                 first->setCurrentIndex(first->findText("Sensor RAM"));
                 seen.push_back(look(view));
                 second->setCurrentIndex(second->findText("Sensor RAM"));
                 first->setCurrentIndex(first->findText("Panel"));
                 saveScreenshot(view, "compare");
                 static_cast<QDialog *>(view)->reject();
             });
    click("BTNCompare");

    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].firstHeader, "Panel");
    EXPECT_EQ(seen[0].secondHeader, "Sensor RAM");
    EXPECT_EQ(seen[0].highlighted, std::vector<int>{9});
    EXPECT_EQ(seen[0].summary, "1 of 16 words differ.");
    EXPECT_EQ(seen[1].highlighted, (std::vector<int>{8, 9}));
    EXPECT_EQ(seen[2].highlighted, std::vector<int>{8});
    // The comparison changed nothing: the panel keeps its edit, the sensor its sets.
    EXPECT_EQ(spinValue("NEDITTolerance"), 150);
    EXPECT_EQ(sensor.ram()[9], 100);
    EXPECT_EQ(commands(), (std::vector<int>{2, 4, 2, 2}));
}

TEST_F(OperatorViewTest, EepromSendShowsTheChangesAndAsksRamSendDoesNot) {
    struct Case {
        const char *name;
        int target; // radio button to choose
        int tolerance;
        int answer; // -1: the real question box, answered with its Cancel button
        bool asked;
        int sentCommand; // 0: nothing sent
        const char *statusText;
    };
    const Case cases[] = {
        {"EEPROM unchanged", EEPROM, 100, 1, false, 0,
         "EEPROM already holds this parameter set - nothing sent."},
        {"EEPROM changed, no", EEPROM, 150, 0, true, 0, "EEPROM write cancelled."},
        {"EEPROM changed, box cancelled", EEPROM, 150, -1, true, 0, "EEPROM write cancelled."},
        {"EEPROM changed, yes", EEPROM, 150, 1, true, 3, "Line Ok!"},
        {"RAM changed", RAM, 150, 0, false, 1, "Line Ok!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        kvexsim::SensorSim &sensor = connect();
        std::vector<std::string> questions;
        if (c.answer >= 0) {
            kvexplatform::setConfirmHook([&](const std::string &, const std::string &message) {
                questions.push_back(message);
                return c.answer;
            });
        } else {
            whenever([] { return visibleWindow("ConfirmPopup") != nullptr; },
                     [&] {
                         auto *box = static_cast<QMessageBox *>(visibleWindow("ConfirmPopup"));
                         questions.push_back(box->text().toStdString());
                         saveScreenshot(box, "confirm-eeprom");
                         box->button(QMessageBox::Cancel)->click();
                     });
        }
        enterValue("NEDITTolerance", c.tolerance);
        click(c.target == EEPROM ? "RBTEeprom" : "RBTRam");
        ASSERT_EQ(target, c.target);
        click("BTNSend");
        waitUntil([&] { return false; }, 0.3);

        EXPECT_EQ(questions.size(), c.asked ? 1u : 0u);
        if (c.asked)
            EXPECT_NE(questions[0].find("Tolerance (word 9): 100 -> 150"), std::string::npos)
                << questions[0];
        std::vector<int> sent;
        for (int code : commands())
            if (code == 1 || code == 3)
                sent.push_back(code);
        EXPECT_EQ(sent, c.sentCommand ? std::vector<int>{c.sentCommand} : std::vector<int>{});
        if (c.sentCommand == 3)
            EXPECT_EQ(sensor.eeprom()[9], 150);
        EXPECT_EQ(status().toStdString(), c.statusText);
        TearDown();
        SetUp();
    }
}

} // namespace
