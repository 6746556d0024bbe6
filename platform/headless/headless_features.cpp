// The headless back end of the feature services: with no panel there is no histogram to draw,
// no tooltip to set, no graph to save or fit, no window to show and no dialog to ask anything in.
#include "platform/compareview.h"
#include "platform/confirm.h"
#include "platform/graphtools.h"
#include "platform/histogram.h"
#include "platform/portcheckwindow.h"
#include "platform/recordingchoice.h"
#include "platform/recordingwindow.h"
#include "platform/report.h"
#include "platform/userint.h"

int PlotHistogram(int, int, const long *, int, double, double, const double[3]) {
    return 0;
}

int SetCtrlToolTip(int, int, const char *) {
    return 0;
}

bool ReportSetupPopup(ReportRequest &) {
    return false;
}

int WriteReportPdf(const ReportDocument &, const ReportRequest &, std::string &error) {
    error = "a report needs the panel program";
    return -1;
}

// Without a screen nobody is there to ask: the command that leads here was the operator's
// explicit request (kvex-rtn-cli send --to eeprom), so it counts as the answer yes.
int ConfirmPopup(const char *, const char *, const char *) {
    return 1;
}

int CompareParameterSetsPopup(const char *const *, int, const char *const *, int, int, int,
                              ParameterSetReader) {
    return -1;
}

int SaveGraphImage(int, int, const char *) {
    return UIE_INVALID_CONTROL;
}

int GetStripChartTrace(int, int, int, double *, int) {
    return 0;
}

int FitGraph(int, int) {
    return 0;
}

// kvex-rtn-cli doctor prints the same report itself.
int ShowPortCheckWindow(int, const char *, const char *) {
    return UIE_INVALID_PANEL;
}

// The command line takes its recording choice from its options.
int RecordingChoicePopup(RecordingChoice &) {
    return 0;
}

// kvex-rtn-cli has no window to show a recording in.
int ShowRecordingWindow(std::shared_ptr<RecordingSource>) {
    return UIE_INVALID_PANEL;
}
