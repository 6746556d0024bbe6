// Saving the video line and the strip chart: the numbers as CSV, the picture as PNG and PDF
// beside it under the same name.
#include "gui/graphexport.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "gui/graphs.h"
#include "platform/graphtools.h"
#include "platform/tr.h"
#include "platform/userint.h"

#include <cstdio>
#include <vector>

namespace {

constexpr int STRIP_TRACES = 5;
constexpr int STRIP_MAX_POINTS = 1000;

std::string baseName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path with its extension replaced (or added).
std::string withExtension(const std::string &path, const char *extension) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + extension;
}

bool closeChecked(std::FILE *file) {
    const bool written = std::fflush(file) == 0 && !std::ferror(file);
    return std::fclose(file) == 0 && written;
}

// Asks for the CSV file, writes it with writeCsv, then the graph's pictures beside it.
void exportGraph(const char *defaultFile, const char *title, int graph,
                 bool (*writeCsv)(const std::string &)) {
    char path[PATH_SIZE] = "";
    const int chosen =
        FileSelectPopup(proj_dir, defaultFile, "*.csv", title, VAL_OK_BUTTON, 0, 1, 1, 1, path);
    if (chosen <= 0) {
        if (chosen < 0)
            showStatusText(kvex::tr("Path of the export file is too long!"));
        return;
    }
    const std::string csv = path;
    std::string text;
    if (!writeCsv(csv)) {
        text = kvex::trArgs("Cannot write %1!", {baseName(csv)});
    } else {
        const std::string png = withExtension(csv, ".png"), pdf = withExtension(csv, ".pdf");
        if (SaveGraphImage(pHandle, graph, png.c_str()) < 0)
            text = kvex::trArgs("Saved %1, but cannot write %2!", {baseName(csv), baseName(png)});
        else if (SaveGraphImage(pHandle, graph, pdf.c_str()) < 0)
            text = kvex::trArgs("Saved %1 and %2, but cannot write %3!",
                                {baseName(csv), baseName(png), baseName(pdf)});
        else
            text =
                kvex::trArgs("Saved %1, %2 and %3", {baseName(csv), baseName(png), baseName(pdf)});
    }
    showStatusText(text.c_str());
    // In video mode the next block's text replaces the status line at once; the data label
    // beside the buttons keeps the outcome in sight.
    SetCtrlVal(pHandle, TEXTRecording, text.c_str());
}

} // namespace

bool writeVideoLineCsv(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    std::fputs("position (units),level,threshold\n", file);
    for (int i = 0; i < 256; ++i)
        std::fprintf(file, "%g,%u,%u\n", xArray8[i], adcbuf[i], thdArray[i]);
    return closeChecked(file);
}

bool writeStripChartCsv(const std::string &path) {
    std::vector<std::vector<double>> traces(STRIP_TRACES);
    int points = STRIP_MAX_POINTS;
    for (int t = 0; t < STRIP_TRACES; ++t) {
        traces[t].resize(STRIP_MAX_POINTS);
        const int count =
            GetStripChartTrace(pHandle, GRAPHStrip, t + 1, traces[t].data(), STRIP_MAX_POINTS);
        points = std::min(points, count < 0 ? 0 : count);
    }
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    // The traces in the order PlotRAWGraphX8 feeds them; sample 1 is the oldest on screen.
    std::fputs("sample,upper limit (units),lower limit (units),set-point (units),"
               "measured value (units),analogue output value (units)\n",
               file);
    for (int k = 0; k < points; ++k) {
        std::fprintf(file, "%d", k + 1);
        for (int t = 0; t < STRIP_TRACES; ++t)
            std::fprintf(file, ",%g", traces[t][k]);
        std::fputc('\n', file);
    }
    return closeChecked(file);
}

int CC_BTNExportLine(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        exportGraph("line.csv", kvex::tr("Export the video line"), GRAPHVideo, writeVideoLineCsv);
    return 0;
}

int CC_BTNExportChart(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        exportGraph("chart.csv", kvex::tr("Export the strip chart"), GRAPHStrip,
                    writeStripChartCsv);
    return 0;
}

int CC_TOGGBTN_Zoom(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        FitGraph(pHandle, GRAPHStrip);
        FitGraph(pHandle, GRAPHVideo);
    }
    return 0;
}
