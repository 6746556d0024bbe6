// kvex-recording-bench [ROWS [FILE]]: writes a recording of ROWS rows (a day at the wire's rate,
// 2.3 million, by default) and measures opening it: reading, the window up to its first picture,
// a pan and a zoom, and the process's peak memory. Not a test: it prints figures, never a verdict.
#include "app/measurement.h"
#include "app/recording/windowmodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>
#include <qcustomplot.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

long peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// A day's rows: 37.5 ms apart (the wire's pace), the value wandering around the set-point.
void writeRecording(const std::string &path, long rows) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fputs(measurementCsvHeader().c_str(), file);
    const long long start = 1796688000000LL; // 2026-12-08T00:00:00.000Z
    for (long i = 0; i < rows; ++i) {
        const long long ms = start + i * 75 / 2;
        const long long s = ms / 1000;
        const unsigned short value =
            static_cast<unsigned short>(500 + 40 * std::sin(i / 5000.0) + (i * 7919 % 21) - 10);
        std::fprintf(file,
                     "2026-12-08T%02lld:%02lld:%02lld.%03lldZ,%u,%u,%u,%.2f,100,%s,900,100,512\n",
                     s / 3600 % 24, s / 60 % 60, s % 60, ms % 1000, value - 100u, value + 100u,
                     value, value * 63.5, std::abs(value - 512) <= 100 ? "in" : "out");
    }
    std::fclose(file);
}

QWidget *recordingWindow() {
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->objectName() == "RecordingWindow")
            return window;
    return nullptr;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const long rows = argc > 1 ? std::atol(argv[1]) : 2300000;
    QTemporaryDir dir;
    const std::string path = argc > 2 ? argv[2] : dir.filePath("day.csv").toStdString();
    QElapsedTimer clock;
    clock.start();
    writeRecording(path, rows);
    std::printf("wrote %ld rows (%.0f MB) in %.2f s\n", rows,
                QFileInfo(QString::fromStdString(path)).size() / 1e6, clock.elapsed() / 1000.0);
    const long beforeMb = peakMegabytes();

    clock.restart();
    Recording recording;
    readRecording(path, recording, nullptr);
    const double readSeconds = clock.elapsed() / 1000.0;
    std::printf("read alone: %zu rows in %.2f s\n", recording.size(), readSeconds);
    recording = Recording();

    // What the operator waits for: the file read, the window built and its chart drawn once.
    clock.restart();
    openRecording(path);
    QWidget *window = recordingWindow();
    if (!window) {
        std::fprintf(stderr, "kvex-recording-bench: no window\n");
        return 1;
    }
    QApplication::processEvents();
    QCustomPlot *chart = nullptr;
    for (QCustomPlot *plot : window->findChildren<QCustomPlot *>())
        if (plot->objectName().startsWith("recordingChart"))
            chart = plot;
    chart->replot();
    window->grab();
    const double firstPicture = clock.elapsed() / 1000.0;

    // A pan and a zoom as the operator's wheel and drag cause them: each a new envelope and a
    // redraw of the chart.
    clock.restart();
    const QCPRange all = chart->xAxis->range();
    for (int step = 0; step < 10; ++step) {
        chart->xAxis->setRange(all.lower + all.size() * step / 20.0,
                               all.lower + all.size() * (step / 20.0 + 0.5));
        QApplication::processEvents();
        chart->replot();
    }
    const double panSeconds = clock.elapsed() / 10000.0;
    clock.restart();
    for (int step = 1; step <= 10; ++step) {
        const double half = all.size() / std::pow(2.0, step) / 2;
        chart->xAxis->setRange(all.center() - half, all.center() + half);
        QApplication::processEvents();
        chart->replot();
    }
    const double zoomSeconds = clock.elapsed() / 10000.0;

    std::printf("first picture: %.2f s; one pan step %.0f ms, one zoom step %.0f ms\n",
                firstPicture, panSeconds * 1000, zoomSeconds * 1000);
    std::printf("peak memory: %ld MB (%ld MB before opening)\n", peakMegabytes(), beforeMb);
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    double load[1] = {0};
    if (getloadavg(load, 1) == 1)
        std::printf("machine: %ld cores, load %.2f\n", cores, load[0]);
    return 0;
}
