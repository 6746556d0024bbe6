// Soak: many run-mode cycles and video lines against an unpaced simulator that spoils about 2 %
// of its answers; checks that nothing crashes or hangs, memory stays flat and the panel's
// parameter set survives.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "sim/sensorsim.h"

#include <QApplication>
#include <QTimer>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

constexpr int kParameterControls[] = {
    NUMPower,      SWITCHPMode,   NUMVideoThreshold, RINGAnaMode,   SWITCHPolarity,
    RINGEMode,     NEDITEdgeLeft, NEDITEdgeRight,    NUMTeachValue, NEDITTolerance,
    RINGEHardware, NUMAverage,    SWITCHOpMode};

std::array<int, 13> panelParameters() {
    std::array<int, 13> values{};
    for (size_t i = 0; i < values.size(); ++i)
        GetCtrlVal(pHandle, kParameterControls[i], &values[i]);
    return values;
}

long residentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

size_t countCommand(const kvexsim::SensorSim &sensor, int command) {
    size_t n = 0;
    for (const auto &request : sensor.requests())
        n += request.command() == command;
    return n;
}

// Runs a live loop again and again (a spoiled answer may end it by its time-out) until the
// simulator has seen `target` measurement requests in all.
int soak(kvexsim::SensorSim &sensor, CtrlCallbackPtr start, size_t target, size_t &seen,
         long &warmKilobytes, size_t warmUpAt) {
    int restarts = 0;
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        const size_t now = seen + countCommand(sensor, 8);
        if (warmKilobytes == 0 && now >= warmUpAt)
            warmKilobytes = residentKilobytes();
        if (now >= target)
            CC_BTNStop(pHandle, 0, EVENT_LEFT_CLICK, nullptr, 0, 0);
    });
    stopper.start(20);
    while (seen + countCommand(sensor, 8) < target) {
        start(pHandle, 0, EVENT_COMMIT, nullptr, 0, 0);
        ++restarts;
        // The request log grows with every cycle; keep it to one loop's worth.
        seen += countCommand(sensor, 8);
        sensor.clearRequests();
    }
    return restarts;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const size_t runCycles = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20000;
    const size_t videoLines = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 200;

    kvexsim::SensorSim sensor(*kvexsim::findProfile("standard"));
    if (!sensor.openPty())
        return 1;
    // Unpaced, so many cycles fit in a short run; the port must not wait for the wire either.
    sensor.setPaced(false);
    setComWireWait(false);
    sensor.start();
    bindPortDevice(1, sensor.devicePath());
    if (startUpProgram() != 0)
        return 1;
    const auto before = panelParameters();
    sensor.setRandomFaults(0.02, 20261207);
    const double startTime = Timer();

    size_t seen = 0;
    long warm = 0;
    const int runStarts = soak(sensor, CC_BTNRun, runCycles, seen, warm, runCycles / 10);
    const long afterRun = residentKilobytes();
    size_t videoSeen = 0;
    long unused = 1;
    const int videoStarts = soak(sensor, CC_BTNVideo, videoLines, videoSeen, unused, 0);
    const long afterVideo = residentKilobytes();
    const auto after = panelParameters();
    const size_t faults = sensor.faultsInjected();
    shutDownProgram();
    sensor.stop();

    const bool unchanged = before == after;
    std::printf("soak: %zu run cycles (%d starts), %zu video lines (%d starts), %zu answers "
                "spoiled, %.0f s\n",
                seen, runStarts, videoSeen, videoStarts, faults, Timer() - startTime);
    std::printf("soak: memory after warm-up %ld kB, after run mode %ld kB (%+ld kB), after video "
                "mode %ld kB (%+ld kB)\n",
                warm, afterRun, afterRun - warm, afterVideo, afterVideo - warm);
    std::printf("soak: parameter set on the panel %s\n", unchanged ? "unchanged" : "CHANGED");
    return unchanged && afterVideo - warm < 1024 ? 0 : 1;
}
