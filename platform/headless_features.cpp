// The headless back end of the commissioning services: with no panel there is no histogram to
// draw, no tooltip to set and no dialog to ask for a report.
#include "platform/histogram.h"
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
