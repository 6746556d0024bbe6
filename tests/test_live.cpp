// Run mode and video mode on the real panel against the simulator, and the drawings they make.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "gui/graphs.h"
#include "platform/confirm.h"
#include "platform/qtaccess.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "platform/widgets/graphwidgets.h"
#include "program_fixture.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include <sys/resource.h>

namespace {

void saveScreenshot(QWidget *panel, const char *name) {
    const char *folder = std::getenv("KVEX_SCREENSHOT_DIR");
    if (folder && panel)
        panel->grab().save(QString("%1/%2.png").arg(folder, name));
}

// Each time the calling thread went to sleep and was woken again: blocking on the event loop, a
// read, or in the kernel for a byte the thread does not even get to see.
long voluntarySwitches() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

std::vector<kvexsim::Request> withCommand(const std::vector<kvexsim::Request> &requests,
                                          int command) {
    std::vector<kvexsim::Request> out;
    for (const auto &r : requests)
        if (r.command() == command)
            out.push_back(r);
    return out;
}

class LiveTest : public ProgramTest {
  protected:
    kvexsim::SensorSim &connect(const char *profile) {
        kvexsim::SensorSim &sensor = startSensor(profile);
        sensor.setObject(400, 600);
        EXPECT_TRUE(startProgram());
        sensor.clearRequests();
        return sensor;
    }
    bool dimmed(const char *name) const { return !find<QWidget>(name)->isEnabled(); }
};

TEST_F(LiveTest, RunModeRequestsMeasurementsAndShowsThem) {
    kvexsim::SensorSim &sensor = connect("standard");
    power = 321; // the requests carry the variables, whatever the panel shows
    bool dimmedWhileRunning = false;
    whenever([&] { return sensor.requests().size() >= 10; },
             [&] {
                 dimmedWhileRunning = dimmed("BTNRun") && dimmed("BTNVideo") && dimmed("BTNGet") &&
                                      dimmed("BTNSend") && dimmed("ButtonTeach") &&
                                      dimmed("ButtonReset");
                 saveScreenshot(mainPanel(), "run-mode");
                 click("BTNStop");
             });
    click("BTNRun");
    EXPECT_TRUE(dimmedWhileRunning);
    const auto requests = sensor.requests();
    ASSERT_GE(requests.size(), 10u);
    for (const auto &r : requests) {
        EXPECT_EQ(r.command(), 8);
        EXPECT_EQ(r.word(0), 321);
    }
    EXPECT_EQ(Ledge, 400);
    EXPECT_EQ(Redge, 600);
    EXPECT_EQ(spinValue("NUMLeftEdge"), 400);
    EXPECT_EQ(spinValue("NUMRightEdge"), 600);
    EXPECT_EQ(spinValue("NUMMeasValueB"), Mvalue);
    const auto values = stripChart()->traceSamples(4);
    ASSERT_FALSE(values.empty());
    EXPECT_DOUBLE_EQ(values.back(), Mvalue);
    EXPECT_TRUE(stripChart()->isVisibleTo(mainPanel()));
    EXPECT_FALSE(graph("GRAPHVideo")->isVisibleTo(mainPanel()));
    EXPECT_EQ(stop_flag, 1);
    EXPECT_FALSE(dimmed("BTNRun"));
    EXPECT_FALSE(dimmed("BTNGet"));
    EXPECT_FALSE(dimmed("ButtonReset"));
}

TEST_F(LiveTest, AStoppedRunLeavesNoAnswerOnTheWayForTheNextExchange) {
    kvexsim::SensorSim &sensor = connect("standard");
    // Stopped right after a request went out, the run still has its answer on the wire.
    LiveObserver stopper;
    stopper.runSample = [&] {
        if (sensor.requests().size() >= 5 && stop_flag == 0)
            click("BTNStop");
    };
    const int id = addLiveObserver(stopper);
    click("BTNRun");
    removeLiveObserver(id);
    // Had that answer come in after the run's flush, the GET would take it for its own.
    click("BTNGet");
    EXPECT_EQ(status(), "Parameter-frame received! - Line Ok!");
    EXPECT_EQ(sensor.requests().back().command(), 2);
}

TEST_F(LiveTest, RunModeSelectsRamAndCarriesTheReportedSetPoint) {
    kvexsim::SensorSim &sensor = connect("standard");
    click("RBTEeprom");
    kvexsim::Words ram = sensor.ram();
    ram[8] = 777;
    sensor.setRam(ram);
    whenever([&] { return sensor.requests().size() >= 3; }, [&] { click("BTNStop"); });
    click("BTNRun");
    EXPECT_EQ(target, RAM);
    EXPECT_TRUE(find<QAbstractButton>("RBTRam")->isChecked());
    EXPECT_FALSE(find<QAbstractButton>("RBTEeprom")->isChecked());
    const auto requests = sensor.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].word(8), 512);
    EXPECT_EQ(requests[1].word(8), 777);
}

TEST_F(LiveTest, RunModeEndsByItselfWhenTheSensorFallsSilent) {
    kvexsim::SensorSim &sensor = connect("standard");
    whenever([&] { return sensor.requests().size() >= 3; },
             [&] {
                 sensor.setFault(8, {kvexsim::FaultKind::Silence, 1, 0.0, -1});
             });
    click("BTNRun");
    EXPECT_EQ(status(), "Timeout RS232-Line!");
    const auto requests = sensor.requests();
    ASSERT_FALSE(requests.empty());
    const double silentFor = kvexsim::steadySeconds() - requests.back().time;
    EXPECT_GE(silentFor, 1.45);
    EXPECT_LT(silentFor, 2.5);
    EXPECT_FALSE(dimmed("BTNRun"));
}

TEST_F(LiveTest, ClosingTheWindowDuringRunModeEndsTheLoop) {
    kvexsim::SensorSim &sensor = connect("standard");
    whenever([&] { return sensor.requests().size() >= 3; }, [&] { mainPanel()->close(); });
    click("BTNRun");
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(GetInQLen(com), kComPortNotOpen);
}

// While a request and its answer cross the wire the port does not watch the line: the program's
// thread sleeps through the answer's bytes, each of which would wake it, and its event loop
// still serves at once whatever else comes.
TEST_F(LiveTest, LiveLoopsSleepThroughTheWireYetServeEventsMeanwhile) {
    kvexsim::SensorSim &sensor = connect("standard");
    constexpr int kWarmUp = 3, kMeasured = 20;
    for (const char *button : {"BTNRun", "BTNVideo"}) {
        SCOPED_TRACE(button);
        int samples = 0;
        long switchesAtStart = 0;
        std::size_t requestsAtStart = 0;
        double wakeUpsPerExchange = -1;
        auto count = [&] {
            ++samples;
            if (samples == kWarmUp) {
                switchesAtStart = voluntarySwitches();
                requestsAtStart = sensor.requests().size();
            } else if (samples == kWarmUp + kMeasured) {
                const long switches = voluntarySwitches() - switchesAtStart;
                const std::size_t exchanges = sensor.requests().size() - requestsAtStart;
                wakeUpsPerExchange = exchanges ? static_cast<double>(switches) / exchanges : -1;
                click("BTNStop");
            }
        };
        LiveObserver observer;
        observer.runSample = count;
        observer.videoLine = count;
        const int id = addLiveObserver(observer);

        // The simulator records a request once it has crossed the wire, half way through the
        // exchange; an event posted then must be served while the port still ignores the line.
        std::atomic<bool> looping{true};
        std::atomic<int> posted{0}, servedWhileQuiet{0};
        std::thread poster([&] {
            for (std::size_t n = sensor.requests().size() + 1; looping; ++n) {
                while (looping && !sensor.waitForRequests(n, 0.05)) {
                }
                if (!looping)
                    break;
                ++posted;
                QMetaObject::invokeMethod(
                    qApp,
                    [&] {
                        QSerialPort *port = kvexplatform::serialPort(com);
                        const auto notifiers = port ? port->findChildren<QSocketNotifier *>()
                                                    : QList<QSocketNotifier *>();
                        const bool watching =
                            std::any_of(notifiers.begin(), notifiers.end(), [](QSocketNotifier *n) {
                                return n->type() == QSocketNotifier::Read && n->isEnabled();
                            });
                        servedWhileQuiet += port && !watching;
                    },
                    Qt::QueuedConnection);
            }
        });
        click(button);
        looping = false;
        poster.join();
        removeLiveObserver(id);
        // Events the poster queued after the loop ended count too; none may outlive this pass.
        QCoreApplication::sendPostedEvents(qApp, QEvent::MetaCall);

        ASSERT_EQ(samples, kWarmUp + kMeasured);
        // A frame is 36 bytes, a video block 128: without the quiet time each byte wakes the
        // thread.
        EXPECT_GE(wakeUpsPerExchange, 0);
        EXPECT_LT(wakeUpsPerExchange, 15);
        // Half leaves room for a loaded machine; a loop that sleeps through the wire serves none.
        EXPECT_GE(servedWhileQuiet, posted / 2) << "of " << posted;
    }
}

struct VideoRow {
    const char *profile;
    int blockCommand;
    int blocksPerLine;
};

class VideoModeTest : public LiveTest, public ::testing::WithParamInterface<VideoRow> {};

TEST_P(VideoModeTest, ReadsTheLineInTheBoardsBlocks) {
    const VideoRow &row = GetParam();
    kvexsim::SensorSim &sensor = connect(row.profile);
    // The dark object in the middle fifth of this sensor's line.
    const int length = ccdsubpixel;
    sensor.setObject(static_cast<uint16_t>(length * 2 / 5), static_cast<uint16_t>(length * 3 / 5));
    std::fill(std::begin(adcbuf), std::end(adcbuf), 0);
    whenever([&] { return withCommand(sensor.requests(), 8).size() >= 3; },
             [&] {
                 saveScreenshot(mainPanel(), "video-mode");
                 click("BTNStop");
             });
    click("BTNVideo");
    const auto requests = sensor.requests();
    const auto blocks = withCommand(requests, row.blockCommand);
    ASSERT_GE(blocks.size(), static_cast<size_t>(2 * row.blocksPerLine));
    if (row.blocksPerLine == 4) {
        for (int b = 0; b < 4; ++b) {
            EXPECT_EQ(blocks[b].word(0), 64 * b);
            EXPECT_EQ(blocks[b].word(1), b == 3 ? 1 : 0);
        }
    } else {
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(blocks[0].word(i), 0);
    }
    // The first pass: one measurement, then the line's blocks.
    EXPECT_EQ(requests[0].command(), 8);
    EXPECT_EQ(requests[1].command(), row.blockCommand);
    const int inside = 128, outside = 25;
    EXPECT_LT(adcbuf[inside], adcbuf[outside]);
    EXPECT_GT(adcbuf[outside], 0);
    EXPECT_TRUE(graph("GRAPHVideo")->isVisibleTo(mainPanel()));
    EXPECT_EQ(graph("GRAPHVideo")->plotCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(BoardTypes, VideoModeTest,
                         ::testing::Values(VideoRow{"standard", 9, 4},
                                           VideoRow{"type1-fw1001", 9, 4},
                                           VideoRow{"type101", 11, 1}),
                         [](const auto &info) {
                             return std::to_string(info.param.blocksPerLine) + "blocks_" +
                                    std::to_string(info.index);
                         });

TEST_F(LiveTest, ShortBlockHoldsTheLineAndTheLoopGoesOn) {
    kvexsim::SensorSim &sensor = connect("standard");
    // The last block of the first line comes one byte short.
    whenever([&] { return withCommand(sensor.requests(), 9).size() >= 3; },
             [&] {
                 sensor.setFault(9, {kvexsim::FaultKind::Short, 1});
             });
    QString seen;
    whenever([&] { return status().startsWith("Short video block"); }, [&] { seen = status(); });
    whenever([&] { return withCommand(sensor.requests(), 8).size() >= 3; },
             [&] { click("BTNStop"); });
    click("BTNVideo");
    EXPECT_EQ(seen, "Short video block: previous line held! Short blocks: 1");
    EXPECT_EQ(status(), "Data[64] block received! Short blocks: 1");
    EXPECT_GE(withCommand(sensor.requests(), 8).size(), 3u);
}

TEST_F(LiveTest, ShortBlockDrawsNothingOfItsLine) {
    kvexsim::SensorSim &sensor = connect("standard");
    InstallComCallback(com, 0, 36, 0x55, nullptr, nullptr);
    const auto readLine = [] {
        ReadData64(0, 0);
        ReadData64(64, 0);
        ReadData64(128, 0);
        ReadData64(192, 1);
    };
    readLine();
    EXPECT_STREQ(szStatus, "Data[64] block received!");
    EXPECT_FALSE(videoLineHeld);
    unsigned short whole[256];
    std::copy(adcbuf, adcbuf + 256, whole);

    // What the graph shows now; a line that is held leaves every word of it.
    std::fill(adcbuf, adcbuf + 256, 4242);
    sensor.setFault(9, {kvexsim::FaultKind::Short, 2});
    sensor.clearRequests();
    readLine();
    EXPECT_EQ(withCommand(sensor.requests(), 9).size(), 4u);
    EXPECT_EQ(nBytesR, 128);
    EXPECT_TRUE(videoLineHeld);
    EXPECT_EQ(shortVideoBlocks, 1);
    EXPECT_STREQ(szStatus, "Short video block: previous line held! Short blocks: 1");
    EXPECT_EQ(std::count(adcbuf, adcbuf + 256, 4242), 256);

    readLine();
    EXPECT_FALSE(videoLineHeld);
    EXPECT_STREQ(szStatus, "Data[64] block received! Short blocks: 1");
    // The scene is frozen, so the next whole line matches the first.
    for (int k = 0; k < 256; ++k)
        EXPECT_NEAR(adcbuf[k], whole[k], 40) << k;
}

TEST_F(LiveTest, StopDuringABlockReadFinishesThatPass) {
    kvexsim::SensorSim &sensor = connect("standard");
    whenever([&] { return withCommand(sensor.requests(), 9).size() >= 5; },
             [&] { click("BTNStop"); });
    click("BTNVideo");
    const auto requests = sensor.requests();
    // Two whole passes: the stop came during the second pass's first block.
    EXPECT_EQ(withCommand(requests, 8).size(), 2u);
    EXPECT_EQ(withCommand(requests, 9).size(), 8u);
    EXPECT_EQ(requests.back().command(), 9);
    EXPECT_EQ(requests.back().word(1), 1);
}

// Live loops redraw only what changed: the data layers of the graphs, the displays whose value
// moved, and group boxes from a picture of their frame. What the screen then shows must be what
// drawing everything afresh shows, also after the axes moved in the middle of a run.
TEST_F(LiveTest, TheScreenAfterARunIsWhatAFullRedrawShows) {
    kvexsim::SensorSim &sensor = connect("standard");
    auto *strip = static_cast<KvexPlot *>(stripChart());
    auto *bar = static_cast<KvexPlot *>(graph("GRAPHBar"));
    const int fullBefore = strip->fullRedraws();
    whenever([&] { return sensor.requests().size() >= 6; },
             [&] {
                 sensor.setObject(300, 700);
                 click("TOGGBTN_Zoom"); // the strip chart's y axis moves to the measured value
             });
    whenever([&] { return sensor.requests().size() >= 14; }, [&] { click("BTNStop"); });
    click("BTNRun");
    EXPECT_GT(strip->fullRedraws(), fullBefore);
    EXPECT_GT(strip->dataRedraws(), 5);
    EXPECT_GT(bar->dataRedraws(), 5);
    waitUntil([] { return false; }, 0.2); // the last redraws reach the screen

    QWidget *panel = mainPanel();
    auto screen = [&](QWidget *widget) {
        const QRect area(widget->mapTo(panel, QPoint(0, 0)), widget->size());
        return panel->screen()->grabWindow(panel->winId()).copy(area).toImage();
    };
    for (KvexPlot *plot : {strip, bar}) {
        SCOPED_TRACE(plot->objectName().toStdString());
        const QImage shown = screen(plot);
        ASSERT_FALSE(shown.isNull());
        plot->replot(QCustomPlot::rpImmediateRefresh);
        EXPECT_EQ(shown, screen(plot));
    }
    // Group boxes copy their frame; the panel drawn afresh around them looks the same.
    EXPECT_EQ(screen(panel), panel->grab().toImage().convertToFormat(screen(panel).format()));
}

TEST_F(LiveTest, ThresholdAndEdgeEditsWhileVideoModeRuns) {
    kvexsim::SensorSim &sensor = connect("standard");
    whenever([&] { return withCommand(sensor.requests(), 8).size() >= 2; },
             [&] {
                 enterValue("NUMVideoThreshold", 700);
                 enterValue("NEDITEdgeLeft", 2000);
                 enterValue("NEDITEdgeRight", 0);
             });
    whenever([&] { return withCommand(sensor.requests(), 8).size() >= 4; },
             [&] { click("BTNStop"); });
    click("BTNVideo");
    for (unsigned short level : thdArray)
        ASSERT_EQ(level, 700);
    EXPECT_NE(vThd, 700); // the variable follows at the next read of the panel
    EXPECT_EQ(spinValue("NEDITEdgeLeft"), pixE - 1);
    EXPECT_EQ(eBeg, pixE - 1);
    EXPECT_EQ(spinValue("NEDITEdgeRight"), pixB + 1);
    EXPECT_EQ(eEnd, pixB + 1);
}

TEST(ArrayHelperTest, ShiftAndCopy) {
    double in[500], out[500];
    for (int i = 0; i < 500; ++i)
        in[i] = i;
    EXPECT_EQ(Shift(in, 500, -5, out), 0);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[494], 499);
    for (int i = 495; i < 500; ++i)
        EXPECT_EQ(out[i], 0.0);
    EXPECT_EQ(Shift(in, 500, 3, out), 0);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(Shift(in, 500, -5, in), 0); // in place
    EXPECT_EQ(in[0], 5);
    out[0] = -1;
    EXPECT_EQ(Shift(in, 500, 500, out), -20102);
    EXPECT_EQ(Shift(in, 500, -500, out), -20102);
    EXPECT_EQ(Shift(in, 0, 0, out), -20003);
    EXPECT_EQ(Copy1D(in, 0, out), -20003);
    EXPECT_EQ(out[0], -1); // nothing written on an error
    EXPECT_EQ(Copy1D(in, 3, out), 0);
    EXPECT_EQ(out[2], in[2]);
}

// The bar graph drawn from one measurement.
class BarGraphTest : public LiveTest {
  protected:
    void SetUp() override { connect("standard"); }
    std::vector<std::vector<double>> bars() { return graph("GRAPHBar")->rectangles(); }
    void measure(int mode, int left, int right, int count, int setPoint, int tolerance) {
        eMode = mode;
        Ledge = left;
        Redge = right;
        edcnt = count;
        tVal = setPoint;
        tol = tolerance;
        PlotVIDEOBarGraph();
    }
};

TEST_F(BarGraphTest, Cases) {
    pixB = 1;
    pixE = 1024;
    ccdsubpixel = 1024;
    struct Row {
        const char *name;
        int mode, left, right, count, setPoint, tolerance, mvStart, mvEnd;
        double cursor1;
        std::vector<std::vector<double>> bars; // x1, x2, colour
    } rows[] = {
        {"left edge, two edges",
         0,
         300,
         700,
         2,
         512,
         100,
         0,
         0,
         300,
         {{1, 300, 0xFF0000}, {700, 1024, 0xFF0000}, {412, 612, 0x00FF00}}},
        {"right edge",
         1,
         300,
         700,
         2,
         512,
         100,
         0,
         0,
         700,
         {{1, 300, 0xFF0000}, {700, 1024, 0xFF0000}, {412, 612, 0x00FF00}}},
        {"width band, odd values",
         2,
         450,
         550,
         2,
         101,
         21,
         0,
         0,
         500,
         {{1, 450, 0xFF0000}, {550, 1024, 0xFF0000}, {440, 460, 0x00FF00}, {540, 560, 0x00FF00}}},
        {"width band without edges",
         2,
         450,
         550,
         0,
         101,
         21,
         0,
         0,
         500,
         {{1, 450, 0xFF0000}, {550, 1024, 0xFF0000}}},
        {"centre, no left edge",
         3,
         0,
         550,
         2,
         512,
         100,
         0,
         0,
         1,
         {{1, 0, 0xFF0000}, {550, 1024, 0xFF0000}, {412, 612, 0x00FF00}}},
        {"one edge, dark to the right",
         1,
         300,
         0,
         1,
         512,
         100,
         1,
         2,
         1,
         {{300, 1024, 0xFF0000}, {412, 612, 0x00FF00}}},
        {"one edge, dark to the left",
         0,
         300,
         0,
         1,
         512,
         100,
         2,
         2,
         300,
         {{1, 300, 0xFF0000}, {412, 612, 0x00FF00}}},
        {"band starting at 0",
         0,
         300,
         700,
         2,
         100,
         100,
         0,
         0,
         300,
         {{1, 300, 0xFF0000}, {700, 1024, 0xFF0000}, {0, 200, 0x00FF00}}},
        {"band below 0 starts at 1",
         0,
         300,
         700,
         2,
         50,
         100,
         0,
         0,
         300,
         {{1, 300, 0xFF0000}, {700, 1024, 0xFF0000}, {1, 150, 0x00FF00}}},
        {"band beyond the line",
         0,
         300,
         700,
         2,
         1000,
         100,
         0,
         0,
         300,
         {{1, 300, 0xFF0000}, {700, 1024, 0xFF0000}, {900, 1024, 0x00FF00}}},
        {"position beyond the line stops at its end",
         1,
         300,
         2000,
         2,
         512,
         100,
         0,
         0,
         1024,
         {{1, 300, 0xFF0000}, {2000, 1024, 0xFF0000}, {412, 612, 0x00FF00}}},
    };
    for (const Row &row : rows) {
        mvstart = row.mvStart;
        mvend = row.mvEnd;
        measure(row.mode, row.left, row.right, row.count, row.setPoint, row.tolerance);
        EXPECT_DOUBLE_EQ(graph("GRAPHBar")->cursorX(1), row.cursor1) << row.name;
        const auto drawn = bars();
        ASSERT_EQ(drawn.size(), row.bars.size()) << row.name;
        for (size_t i = 0; i < drawn.size(); ++i) {
            EXPECT_DOUBLE_EQ(std::min(drawn[i][0], drawn[i][2]),
                             std::min(row.bars[i][0], row.bars[i][1]))
                << row.name << " bar " << i;
            EXPECT_DOUBLE_EQ(std::max(drawn[i][0], drawn[i][2]),
                             std::max(row.bars[i][0], row.bars[i][1]))
                << row.name << " bar " << i;
            EXPECT_EQ(static_cast<int>(drawn[i][4]), static_cast<int>(row.bars[i][2]))
                << row.name << " bar " << i;
        }
    }
}

// Rectangles are reused from one measurement to the next; whatever their number, each must be
// drawn over the ones plotted before it, as the tolerance bar over the edge bars.
TEST_F(BarGraphTest, ReusedRectanglesAreDrawnInTheOrderPlotted) {
    pixB = 1;
    pixE = 1024;
    ccdsubpixel = 1024;
    mvstart = 0;
    mvend = 1;
    for (int count : {2, 1, 2, 1, 1, 2}) {
        SCOPED_TRACE(count);
        measure(1, 300, 700, count, 512, 100);
        std::vector<double> drawnColours;
        for (QCPLayerable *item : graph("GRAPHBar")->layer("main")->children())
            if (auto *rect = qobject_cast<QCPItemRect *>(item); rect && rect->visible())
                drawnColours.push_back(rect->brush().color().rgb() & 0xFFFFFF);
        std::vector<double> plottedColours;
        for (const auto &rect : bars())
            plottedColours.push_back(rect[4]);
        EXPECT_EQ(drawnColours, plottedColours);
    }
}

TEST_F(BarGraphTest, CursorStopsAtTheUsableRange) {
    ccdsubpixel = 1024;
    pixB = 100;
    pixE = 900;
    measure(2, 0, 500, 1, 512, 10);
    EXPECT_DOUBLE_EQ(graph("GRAPHBar")->cursorX(1), 100);
    measure(1, 0, 950, 2, 512, 10);
    EXPECT_DOUBLE_EQ(graph("GRAPHBar")->cursorX(1), 900);
}

TEST_F(BarGraphTest, StripChartZoomWindow) {
    auto *zoom = find<QPushButton>("TOGGBTN_Zoom");
    zoom->setChecked(true);
    ccdmaxpixelX8 = 8192;
    tVal = 500;
    tol = 5;
    Mvalue = 530;
    PlotRAWGraphX8();
    EXPECT_DOUBLE_EQ(stripChart()->yAxis->range().lower, 480);
    EXPECT_DOUBLE_EQ(stripChart()->yAxis->range().upper, 540);
    tol = 50;
    Mvalue = 10;
    PlotRAWGraphX8();
    EXPECT_DOUBLE_EQ(stripChart()->yAxis->range().lower, 1);
    EXPECT_DOUBLE_EQ(stripChart()->yAxis->range().upper, 600);
    zoom->setChecked(false);
    PlotRAWGraphX8();
    EXPECT_DOUBLE_EQ(stripChart()->yAxis->range().upper, 8192);
    // Lower limit at 0, not negative; the analogue trace shows the minimum, 1 at the top.
    anaMode = 3;
    anaMin = 8191;
    tVal = 20;
    tol = 50;
    PlotRAWGraphX8();
    EXPECT_DOUBLE_EQ(arrayNORM[496], 0);
    EXPECT_DOUBLE_EQ(arrayNORM[499], 1);
    EXPECT_DOUBLE_EQ(stripChart()->traceSamples(5).back(), 1);
}

} // namespace

// Video mode shows the line's signal reserve over the curve, coloured by its level; dirt that
// takes a share of the lit level away lowers it as docs/signal-reserve.md says.
TEST_F(LiveTest, VideoModeShowsTheReserveColouredByItsLevel) {
    struct Row {
        double step; // per cent of the clean lit level taken away
        const char *text;
        QColor colour;
    };
    // Clean lit level 818 over the threshold word 512: 0.60; 75 % of it: 0.20; 55 %: lost.
    const Row rows[] = {{0.0, "Signal reserve 0.60, contrast 0.78", QColor(0x00, 0x80, 0x00)},
                        {25.0, "Signal reserve 0.20, contrast 0.78", QColor(0xC7, 0x77, 0x00)},
                        {45.0, "Signal reserve lost, contrast -", QColor(0xFF, 0x00, 0x00)}};
    for (const Row &row : rows) {
        kvexsim::SensorSim &sensor = connect("standard");
        kvexsim::Fault dirt{kvexsim::FaultKind::Dim};
        dirt.percent = row.step;
        if (row.step > 0.0)
            sensor.setFault(8, dirt);
        whenever([&] { return withCommand(sensor.requests(), 8).size() >= 4; },
                 [&] {
                     if (row.step == 25.0)
                         saveScreenshot(mainPanel(), "video-mode-reserve");
                     click("BTNStop");
                 });
        auto *label = find<QLabel>("TEXTReserve");
        ASSERT_NE(label, nullptr);
        EXPECT_FALSE(label->isVisibleTo(mainPanel()));
        click("BTNVideo");
        EXPECT_TRUE(label->isVisibleTo(mainPanel()));
        EXPECT_EQ(label->text().toStdString(), row.text) << row.step;
        EXPECT_EQ(label->palette().color(QPalette::WindowText), row.colour) << row.step;
        stopProgram();
        sensors.clear();
    }
}

// Propose in video mode over the simulator's line (lit 818, shadow 102): the threshold halfway
// and the window drawn dashed; Apply writes RAM and measures before the EEPROM is offered; Discard
// and a failing check (the light fading 15 % a second while it measures) leave the sensor's RAM
// as it was; a line without an object gets its reason and no Apply.
TEST_F(LiveTest, ProposeAppliesOnlyWhatItCheckedAndDiscardLeavesTheSensorAsItWas) {
    enum Step { DiscardShown, Apply, ApplyFading };
    const struct {
        const char *name;
        uint16_t objectLeft, objectRight;
        Step step;
        const char *afterwards; // in the bar once the step is over
        bool checked;           // passed: the EEPROM is offered
        bool store;             // and taken; otherwise discarded
        bool changedElsewhere;  // before Discard, RAM got another set
    } cases[] = {
        {"discarded unapplied", 400, 560, DiscardShown, "", false, false, false},
        {"applied and stored", 400, 560, Apply, "Checked: both edges in all 80 cycles", true, true,
         false},
        {"applied, discarded", 400, 560, Apply, "Checked: both edges in all 80 cycles", true, false,
         false},
        {"applied, changed elsewhere, discarded", 400, 560, Apply, "Checked: ", true, false, true},
        {"check fails", 400, 560, ApplyFading, "Check failed: ", false, false, false},
        {"no object", 2000, 2100, DiscardShown, "", false, false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        kvexsim::SensorSim &sensor = startSensor("standard");
        sensor.setObject(c.objectLeft, c.objectRight);
        ASSERT_TRUE(startProgram());
        const auto ram = sensor.ram(), eeprom = sensor.eeprom();
        EXPECT_TRUE(dimmed("BTNPropose")) << "offered before any line";
        auto *bar = find<QWidget>("FRAMEProposal");
        auto *text = find<QLabel>("TEXTProposal");
        ASSERT_TRUE(bar && text);
        QString proposedText;
        std::size_t dashed = 0;
        bool applyOffered = false;
        whenever([&] { return withCommand(sensor.requests(), 8).size() >= 3; },
                 [&] {
                     click("BTNPropose");
                     proposedText = text->text();
                     dashed = graph("GRAPHVideo")->dashedCurves().size();
                     applyOffered = find<QWidget>("BTNProposeApply")->isVisibleTo(mainPanel());
                     if (c.step == DiscardShown) {
                         if (c.objectLeft == 400)
                             saveScreenshot(mainPanel(), "video-mode-proposal");
                         click("BTNProposeDiscard");
                         click("BTNStop");
                         return;
                     }
                     if (c.step == ApplyFading)
                         sensor.setDimming(54000);
                     // Stops video mode; the proposal goes to the sensor once the wire is free.
                     click("BTNProposeApply");
                     EXPECT_EQ(stop_flag, 1);
                     click("BTNStop");
                 });
        click("BTNVideo");
        const bool object = c.objectLeft == 400;
        EXPECT_EQ(applyOffered, object);
        EXPECT_EQ(dashed, object ? 3u : 0u) << "threshold and both window limits";
        if (object)
            EXPECT_TRUE(
                proposedText.startsWith("Proposed (dashed): threshold 460 (now 512), window "))
                << proposedText.toStdString();
        else
            EXPECT_EQ(proposedText,
                      "No proposal: no edge in the line: put the object in the beam.");
        EXPECT_TRUE(text->text().startsWith(c.afterwards)) << text->text().toStdString();
        EXPECT_EQ(bar->isVisibleTo(mainPanel()), c.step != DiscardShown);
        if (c.step == DiscardShown) {
            for (int code : commands())
                EXPECT_TRUE(code != 1 && code != 3) << "a set was written: " << code;
        }
        if (!c.checked) {
            EXPECT_EQ(sensor.ram(), ram) << "RAM not as it was";
            EXPECT_EQ(sensor.eeprom(), eeprom);
            EXPECT_FALSE(find<QWidget>("BTNProposeEeprom")->isVisibleTo(mainPanel()));
            stopProgram();
            sensors.clear();
            continue;
        }
        const auto applied = sensor.ram();
        EXPECT_EQ(applied[2], 460);
        EXPECT_LT(applied[6], 400);
        EXPECT_GT(applied[7], 560);
        EXPECT_EQ(sensor.eeprom(), eeprom) << "stored before it was asked for";
        EXPECT_TRUE(find<QWidget>("BTNProposeEeprom")->isVisibleTo(mainPanel()));
        EXPECT_TRUE(dimmed("BTNPropose")) << "a second proposal over one in RAM";
        if (!c.store) {
            // A set that is no longer the proposal is not the old words' to overwrite.
            auto expected = ram;
            if (c.changedElsewhere) {
                expected = applied;
                expected[9] = 77;
                sensor.setRam(expected);
            }
            click("BTNProposeDiscard");
            EXPECT_EQ(sensor.ram(), expected) << "RAM not as expected after Discard";
            EXPECT_EQ(sensor.eeprom(), eeprom);
            EXPECT_EQ(bar->isVisibleTo(mainPanel()), c.changedElsewhere);
            stopProgram();
            sensors.clear();
            continue;
        }
        // The EEPROM question is the SEND button's, with the words that change.
        std::string question;
        kvexplatform::setConfirmHook([&](const std::string &, const std::string &message) {
            question = message;
            return 1;
        });
        click("BTNProposeEeprom");
        EXPECT_NE(question.find("(word 2): 512 -> 460"), std::string::npos) << question;
        EXPECT_EQ(sensor.eeprom(), applied);
        EXPECT_TRUE(text->text().startsWith("Stored in the EEPROM")) << text->text().toStdString();
        kvexplatform::setConfirmHook(nullptr);
        stopProgram();
        sensors.clear();
    }
}
