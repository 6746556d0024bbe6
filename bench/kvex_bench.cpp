// Throughput and CPU cost of run mode and video mode against the simulator paced at 19 200 baud.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/commissioning/statisticspanel.h"
#include "app/panelcontrols.h"
#include "app/porttools/trafficmonitor.h"
#include "app/recording/writer.h"
#include "bench/bareloop.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "gui/graphs.h"
#include "platform/qtaccess.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "sim/sensorsim.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

constexpr double kByteSeconds = 10.0 / 19200.0;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// The whole process: the simulator's thread and Qt's helpers as well as the loop's own.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Each time the calling thread slept and was woken, in the kernel as well: a thread polling or
// reading a serial device is woken for each byte that comes in, even when the driver does not
// report it readable yet.
long threadWakeUps() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

size_t countCommand(const kvexsim::SensorSim &sensor, int command) {
    size_t n = 0;
    for (const auto &request : sensor.requests())
        n += request.command() == command;
    return n;
}

// What this machine and the simulator allow at most: a loop that writes the run-mode request and
// blocks until the 36-byte answer is in, with nothing else to do. The program's run mode is
// reported as a share of this, which says what the program itself costs whatever the machine's
// noise. Its rate and CPU share go into `bare` for the lines that follow.
struct LoopFigures {
    double rate = 0;
    double cpuShare = 0;
    double processShare = 0;
};
LoopFigures bare;

void measureBareLoop(const kvexsim::SensorSim &sensor, const char *name, int cycles) {
    const double cpuStart = threadCpuSeconds();
    const double processStart = processCpuSeconds();
    const long wakeUpsStart = threadWakeUps();
    const BareLoopRun run = runBareLoop(sensor.devicePath(), cycles, 0);
    if (!run.opened)
        return;
    const double wall = run.wallSeconds;
    const double cpu = threadCpuSeconds() - cpuStart;
    const double processCpu = processCpuSeconds() - processStart;
    const long wakeUps = threadWakeUps() - wakeUpsStart;
    const long done = run.cycles;
    bare.rate = done > 0 ? done / wall : 0;
    bare.cpuShare = wall > 0 ? cpu / wall : 0;
    bare.processShare = wall > 0 ? processCpu / wall : 0;
    std::printf("%-24s %6.2f cycles/s  %5.1f %% of the wire limit (%.2f/s)  loop thread CPU "
                "%5.1f %%, %.1f wake-ups a cycle; process %.1f %%\n",
                name, bare.rate, 100.0 * bare.rate * 72 * kByteSeconds, 1.0 / (72 * kByteSeconds),
                100.0 * bare.cpuShare, done > 0 ? static_cast<double>(wakeUps) / done : 0.0,
                100.0 * bare.processShare);
    std::fflush(stdout);
}

// Runs one live loop until `cycles` measurement requests went out; prints its figures and
// returns its rate.
double measure(kvexsim::SensorSim &sensor, const char *name, CtrlCallbackPtr start, int cycles,
               double wireSecondsPerCycle) {
    sensor.clearRequests();
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (countCommand(sensor, 8) >= static_cast<size_t>(cycles))
            CC_BTNStop(pHandle, 0, EVENT_LEFT_CLICK, nullptr, 0, 0);
    });
    stopper.start(50);
    const double cpuStart = threadCpuSeconds();
    const double processStart = processCpuSeconds();
    const long wakeUpsStart = threadWakeUps();
    const double wallStart = kvexsim::steadySeconds();
    start(pHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
    const double wall = kvexsim::steadySeconds() - wallStart;
    const double cpu = threadCpuSeconds() - cpuStart;
    const double processCpu = processCpuSeconds() - processStart;
    const long wakeUps = threadWakeUps() - wakeUpsStart;
    stopper.stop();

    // The rate between the first and the last measurement request, which the loop paces.
    std::vector<double> times;
    for (const auto &request : sensor.requests())
        if (request.command() == 8)
            times.push_back(request.time);
    const double rate = times.size() > 1 ? (times.size() - 1) / (times.back() - times.front()) : 0;
    const double limit = 1.0 / wireSecondsPerCycle;
    std::printf("%-24s %6.2f cycles/s  %5.1f %% of the wire limit (%.2f/s)  program thread CPU "
                "%5.1f %%, %.1f wake-ups a cycle",
                name, rate, 100.0 * rate / limit, limit, 100.0 * cpu / wall,
                times.empty() ? 0.0 : static_cast<double>(wakeUps) / times.size());
    // Only run-mode lines compare with the bare loop: it exchanges run-mode frames.
    if (start == CC_BTNRun && bare.rate > 0 && bare.cpuShare > 0) {
        std::printf("  = %5.1f %% of the bare loop's rate at %.2f x its CPU (process %.2f x)",
                    100.0 * rate / bare.rate, (cpu / wall) / bare.cpuShare,
                    bare.processShare > 0 ? (processCpu / wall) / bare.processShare : 0.0);
    }
    std::printf("\n");
    std::fflush(stdout);
    return rate;
}

// The same run with every cycle recorded to a CSV file; prints the rows the file got.
void measureRecording(kvexsim::SensorSim &sensor, const char *name, int cycles,
                      double wireSecondsPerCycle) {
    QTemporaryDir dir;
    if (!dir.isValid() || !startRecording(dir.filePath("run.csv").toStdString(), nullptr))
        return;
    measure(sensor, name, CC_BTNRun, cycles, wireSecondsPerCycle);
    std::printf("%-22s %ld rows recorded\n", "", recordedRows());
    std::fflush(stdout);
}

// What showing one run cycle costs the program's thread, without the sensor: `show` runs once
// a cycle and then the event loop has the time a cycle takes on the wire, as in run mode, to get
// it onto the screen. Returns the CPU seconds per cycle, the waiting included.
template <class Show> double measureShowing(const char *name, int cycles, Show show) {
    double cpu = 0;
    for (int i = 0; i < cycles; ++i) {
        const double cpuStart = threadCpuSeconds();
        show(i);
        const double start = Timer();
        while (Timer() - start < 72 * kByteSeconds)
            ProcessSystemEvents();
        cpu += threadCpuSeconds() - cpuStart;
    }
    std::printf("%-24s %6.3f ms of CPU per cycle\n", name, 1000.0 * cpu / cycles);
    std::fflush(stdout);
    return cycles > 0 ? cpu / cycles : 0.0;
}

// One small widget of the panel's window showing one number: the least a repaint costs here.
class NumberFrame : public QWidget {
  public:
    using QWidget::QWidget;
    int value = 0;

  protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter, QString::number(value));
    }
};

struct ShowingCosts {
    double waiting = 0;   // the event loop through a cycle, nothing to show
    double oneNumber = 0; // one number repainted each cycle
    double drawing = 0;   // the displays, the bar graph and the strip chart of a run cycle
};

// Drawing a run cycle beside the least any repaint costs, each less the waiting.
ShowingCosts measureShowingCosts(int cycles) {
    ShowingCosts costs;
    costs.waiting = measureShowing("waiting a cycle", cycles, [](int) {});
    NumberFrame frame(kvexplatform::panelWidget(pHandle));
    frame.setAttribute(Qt::WA_OpaquePaintEvent);
    frame.setGeometry(0, 0, 80, 24);
    frame.show();
    frame.raise();
    costs.oneNumber = measureShowing("repainting one number", cycles, [&frame](int i) {
        frame.value = 100 + i % 7;
        frame.update();
    });
    frame.hide();
    costs.drawing = measureShowing("drawing a run cycle", cycles, [](int i) {
        Ledge = static_cast<unsigned short>(100 + i % 7);
        Redge = static_cast<unsigned short>(300 + i % 5);
        Mvalue = Redge;
        PlotVIDEOBarGraph();
        PlotRAWGraphX8();
    });
    return costs;
}

// A cost of showing, less the waiting, at run mode's rate beside the bare loop's whole CPU: what
// is left of run mode's CPU for everything else is the rest of its figure.
void printShowingShare(const char *name, double secondsPerCycle, double rate) {
    if (bare.cpuShare <= 0)
        return;
    const double share = std::max(0.0, secondsPerCycle) * rate;
    std::printf("%-24s %5.1f %% of a core at %.2f cycles/s = %.2f x the bare loop's CPU\n", name,
                100.0 * share, rate, share / bare.cpuShare);
    std::fflush(stdout);
}

#ifdef __linux__
// Asks the driver of a device for low latency the way any program can (read the flags, add
// ASYNC_LOW_LATENCY, write them back); returns what was there before, or -1 when the driver knows
// no such flags.
int askForLowLatency(const std::string &device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    serial_struct serial{};
    int before = -1;
    if (fd >= 0 && ::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        before = serial.flags;
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    if (fd >= 0)
        ::close(fd);
    return before;
}

// Puts the flags back as they were, so what the program finds on the adapter is the driver's own.
void restoreFlags(const std::string &device, int flags) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    serial_struct serial{};
    if (fd >= 0 && flags >= 0 && ::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags = flags;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    if (fd >= 0)
        ::close(fd);
}

// Run mode behind each USB adapter the simulator models, each beside a bare loop on the same
// model: FTDI whose driver refuses low latency (its timer stays at 16 ms), FTDI with the low
// latency the program asks for when it opens the port, and the plain line. The driver is the
// stand-in the tests preload (tests/fake_ftdi_sio.cpp), linked into this program: the program's
// own request reaches it, and the simulated adapter follows what the driver did with it. The
// bare loop asks for low latency too, and puts the flags back before the program opens the port.
void measureAdapters(kvexsim::SensorSim &sensor, int cycles) {
    QTemporaryDir dir;
    const QString notify =
        dir.filePath("notify." + QFileInfo(QString::fromStdString(sensor.devicePath())).fileName());
    if (!dir.isValid() || mkfifo(notify.toLocal8Bit().constData(), 0600) != 0 ||
        !sensor.watchLowLatencyFifo(notify.toStdString()))
        return;
    qputenv("KVEX_FAKE_FTDI_DIR", dir.path().toLocal8Bit());
    struct Model {
        const char *bare;
        const char *run;
        kvexsim::Adapter adapter;
        const char *refuse;
    };
    const Model models[] = {
        {"bare loop, FTDI 16 ms", "run, FTDI refused", kvexsim::Adapter::Ftdi, "EINVAL"},
        {"bare loop, FTDI 1 ms", "run, FTDI low latency", kvexsim::Adapter::Ftdi, ""},
        {"bare loop, plain line", "run, plain line", kvexsim::Adapter::Plain, ""},
    };
    CloseCom(com);
    double refusedRate = 0;
    double lowLatencyRate = 0;
    for (const Model &model : models) {
        QFile refuse(dir.filePath("refuse"));
        if (refuse.open(QIODevice::WriteOnly | QIODevice::Truncate))
            refuse.write(model.refuse);
        refuse.close();
        sensor.setAdapter(model.adapter);
        const int flags = askForLowLatency(sensor.devicePath());
        measureBareLoop(sensor, model.bare, cycles);
        restoreFlags(sensor.devicePath(), flags);
        InitRS232(com);
        const double rate = measure(sensor, model.run, CC_BTNRun, cycles, 72 * kByteSeconds);
        if (model.adapter == kvexsim::Adapter::Ftdi)
            (*model.refuse ? refusedRate : lowLatencyRate) = rate;
        std::printf("%-24s adapter timer %s after the program opened the port\n", "",
                    model.adapter == kvexsim::Adapter::Plain ? "none"
                    : sensor.lowLatency()                    ? "1 ms"
                                                             : "16 ms");
        CloseCom(com);
    }
    if (lowLatencyRate > 0)
        std::printf("%-24s FTDI refused runs %.1f %% slower than with the program's low latency\n",
                    "", 100.0 * (1.0 - refusedRate / lowLatencyRate));
    sensor.setAdapter(kvexsim::Adapter::Plain);
    qunsetenv("KVEX_FAKE_FTDI_DIR");
    InitRS232(com);
}
#endif

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int runCycles = argc > 1 ? std::atoi(argv[1]) : 200;
    const int videoLines = argc > 2 ? std::atoi(argv[2]) : 20;
    const int recordedCycles = argc > 3 ? std::atoi(argv[3]) : 20000;

    for (const char *profile : {"standard", "type101"}) {
        kvexsim::SensorSim sensor(*kvexsim::findProfile(profile));
        if (!sensor.openPty())
            return 1;
        sensor.start();
        bindPortDevice(1, sensor.devicePath());
        // The bare loops go first, while the port is not yet the program's (it opens exclusively).
        LoopFigures pacedBare, unpacedBare;
        if (profile == std::string("standard")) {
            measureBareLoop(sensor, "bare loop", runCycles);
            pacedBare = bare;
            sensor.setPaced(false);
            measureBareLoop(sensor, "unpaced bare loop", recordedCycles);
            unpacedBare = bare;
            sensor.setPaced(true);
        }
        if (startUpProgram() != 0)
            return 1;
        // A run cycle is a 36-byte request and a 36-byte answer.
        if (pcbtype == 0) {
            // The baseline runs with statistics off; each feature line adds one thing to it.
            setRunStatisticsEnabled(false);
            const ShowingCosts showing = measureShowingCosts(runCycles);
            bare = pacedBare;
            const double rate =
                measure(sensor, "run mode", CC_BTNRun, runCycles, 72 * kByteSeconds);
            printShowingShare("drawing alone", showing.drawing - showing.waiting, rate);
            printShowingShare("one number alone", showing.oneNumber - showing.waiting, rate);
            // The traffic monitor open records and shows every frame; closed it must cost nothing.
            CC_BTNTraffic(pHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
            measure(sensor, "run mode, traffic open", CC_BTNRun, runCycles, 72 * kByteSeconds);
            if (QWidget *monitor =
                    kvexplatform::panelWidget(pHandle)->findChild<QWidget *>("TrafficWindow"))
                monitor->close();
            measure(sensor, "run mode, traffic shut", CC_BTNRun, runCycles, 72 * kByteSeconds);
            setRunStatisticsEnabled(true);
            measure(sensor, "run mode, statistics on", CC_BTNRun, runCycles, 72 * kByteSeconds);
            measureRecording(sensor, "run mode, recording", runCycles, 72 * kByteSeconds);
            // Without the wire's pace the loop runs as fast as the program can: the cost of
            // recording many cycles shows there, not hidden behind the waits for the sensor.
            // The port must not wait for the wire either.
            sensor.setPaced(false);
            setComWireWait(false);
            bare = unpacedBare;
            measure(sensor, "unpaced run", CC_BTNRun, recordedCycles, 72 * kByteSeconds);
            measureRecording(sensor, "unpaced run, recording", recordedCycles, 72 * kByteSeconds);
            setComWireWait(true);
            sensor.setPaced(true);
#ifdef __linux__
            measureAdapters(sensor, runCycles);
#endif
        }
        // A video line: the measurement exchange, then four 64-word or one 256-word block.
        const bool blocks64 = pcbtype == 0 || pcbtype == 100;
        const double lineBytes = blocks64 ? 72 + 4 * (36 + 128) : 72 + 36 + 512;
        measure(sensor, blocks64 ? "video mode, 64 words" : "video mode, 256 words", CC_BTNVideo,
                videoLines, lineBytes * kByteSeconds);
        shutDownProgram();
        sensor.stop();
    }
    return 0;
}
