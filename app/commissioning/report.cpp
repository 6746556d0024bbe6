// The commissioning report: the sensor, its parameter set beside the EEPROM's as last read, the
// last run's statistics and the graphs, as a PDF.
#include "app/commissioning/report.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/commissioning/statisticspanel.h"
#include "app/measurement.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "gui/graphs.h"
#include "platform/report.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

bool eepromRead = false;
unsigned short eepromWords[PNUM];
std::string eepromTime;

const char *const parameterNames[PNUM] = {
    kvex::tr("Power"),         kvex::tr("P-mode"),         kvex::tr("Video threshold"),
    kvex::tr("Analogue mode"), kvex::tr("Polarity"),       kvex::tr("Evaluation"),
    kvex::tr("Window left"),   kvex::tr("Window right"),   kvex::tr("Set-point"),
    kvex::tr("Tolerance"),     kvex::tr("Operating mode"), kvex::tr("Hardware setting"),
    kvex::tr("Word 12"),       kvex::tr("Word 13"),        kvex::tr("Average"),
    kvex::tr("Aux. value")};

unsigned short parameterWord(int index) {
    const unsigned short words[PNUM] = {power,  pMode,  vThd,    anaMode, polarity, eMode,
                                        eBeg,   eEnd,   tVal,    tTol,    opMode,   eHardware,
                                        para12, para13, average, para15};
    return words[index];
}

const CallbackEntry callbacks[] = {
    {"CC_BTNReport", CC_BTNReport, nullptr},
};

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}

std::string localTimeNow() {
    const std::tm local = localNow();
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string defaultReportPath() {
    const char *home = std::getenv("HOME");
    const std::tm local = localNow();
    char name[64];
    std::strftime(name, sizeof name, "kvex-report-%Y%m%d-%H%M.pdf", &local);
    return std::string(home && *home ? home : proj_dir) + "/" + name;
}

ReportDocument composeReport(const std::string &note) {
    ReportDocument doc;
    doc.title = kvex::tr("K-VEX-RTN commissioning report");
    doc.header = {
        {kvex::tr("Date and time"), localTimeNow() + " (" + isoTimeNow() + ")"},
        {kvex::tr("Port"), std::to_string(com) + ": " + portDevicePath(com)},
        {kvex::tr("Sensor type"), std::to_string(ccdtype)},
        {kvex::tr("Board"), std::to_string(pcbtype)},
        {kvex::tr("Pixels"), std::to_string(ccdmaxpixel)},
        {kvex::tr("Firmware"), szVersion},
        {kvex::tr("Program"), std::string(szSoftName) + " " + szSoftVersion},
    };
    for (int i = 0; i < PNUM; ++i) {
        const unsigned short word = parameterWord(i);
        std::string mark;
        if (eepromRead && eepromWords[i] != word)
            mark = "EEPROM: " + std::to_string(eepromWords[i]);
        doc.parameters.push_back({parameterNames[i], std::to_string(word), mark});
    }
    doc.parameterNote =
        eepromRead ? kvex::trArgs("Compared with the EEPROM as read at %1; words that differ show "
                                  "the EEPROM's value.",
                                  {eepromTime})
                   : kvex::tr("The EEPROM was not read in this session: no comparison.");
    int lower = 0, upper = 0;
    const bool window = toleranceWindow(&lower, &upper);
    doc.statistics = statisticsReportRows(runFigures(true), window, lower, upper);
    doc.graphs = {
        {pHandle, GRAPHVideo,
         kvex::trArgs("Last video line, threshold %1; %2",
                      {std::to_string(thdArray[0]), SignalReserveText()})},
        {pHandle, GRAPHStrip, kvex::tr("Strip chart of the last run")},
        {pHandle, GRAPHHistogram, kvex::tr("Histogram of the last run")},
    };
    doc.note = note;
    return doc;
}

} // namespace

void installReport() {
    RegisterCallbacks(callbacks, static_cast<int>(sizeof callbacks / sizeof *callbacks));
    eepromRead = false;
}

void noteParameterGet(int source) {
    if (source != EEPROM)
        return;
    std::copy(pp, pp + PNUM, eepromWords);
    eepromRead = true;
    eepromTime = localTimeNow();
}

int CC_BTNReport(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT)
        return 0;
    // The dialog would hold up a live loop's exchange until the operator answered it.
    if (exchangeDepth > 0) {
        showStatusText(kvex::tr("Report: stop run or video mode first"));
        return 0;
    }
    ReportRequest request;
    request.path = defaultReportPath();
    if (!ReportSetupPopup(request))
        return 0;
    showRunStatistics();
    std::string error;
    if (WriteReportPdf(composeReport(request.note), request, error) < 0)
        showStatusText(kvex::trArgs("Report not written: %1", {error}).c_str());
    else
        showStatusText(kvex::trArgs("Report written: %1", {request.path}).c_str());
    return 0;
}
