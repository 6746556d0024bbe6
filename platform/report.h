// The commissioning report: asking for its file and note, and writing it as a PDF.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ReportRequest {
    std::string path;
    std::string note;
    bool letter = false; // US Letter instead of A4
};

// Asks for the report's file name, page size and an optional note, starting from `request`;
// false when the operator cancelled.
bool ReportSetupPopup(ReportRequest &request);

namespace kvexplatform {
// Answers ReportSetupPopup without a dialog; an empty function restores the real dialog.
using ReportSetupHook = std::function<bool(ReportRequest &)>;
void setReportSetupHook(ReportSetupHook hook);
} // namespace kvexplatform

using ReportRows = std::vector<std::pair<std::string, std::string>>;

struct ReportParameter {
    std::string name;
    std::string value;
    std::string mark; // shown in its own column, e.g. how the EEPROM differs
};

// A graph of a panel, painted into the report as a vector picture.
struct ReportGraph {
    int panel;
    int control;
    std::string caption;
    // When set, the graph of another window (the recording window), found by its object name.
    std::string widgetName;
};

struct ReportDocument {
    std::string title;
    ReportRows header; // date, port, sensor identity
    std::vector<ReportParameter> parameters;
    std::string parameterNote;
    ReportRows statistics;
    std::string statisticsHeading;   // "Statistics of the last run" when empty
    std::vector<ReportGraph> graphs; // the first spans the page, the others share a row
    std::string note;
};

// Writes the report to a temporary file beside `path` and renames it into place, so a report
// that cannot be written leaves no partial file. 0, or -1 with the reason in `error`.
int WriteReportPdf(const ReportDocument &document, const ReportRequest &request,
                   std::string &error);
