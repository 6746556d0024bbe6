// Exports of what the graphs show: the video line and the strip chart as CSV with their
// pictures beside them, and the Zoom button's fitting of graphs the mouse has zoomed.
#pragma once

#include <string>

// Writes the current video line (position, level, threshold) as CSV; false when it cannot.
bool writeVideoLineCsv(const std::string &path);
// Writes the strip chart's points now on screen as CSV; false when it cannot.
bool writeStripChartCsv(const std::string &path);

int CC_BTNExportLine(int panel, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
int CC_BTNExportChart(int panel, int control, int event, void *callbackData, int eventData1,
                      int eventData2);
int CC_TOGGBTN_Zoom(int panel, int control, int event, void *callbackData, int eventData1,
                    int eventData2);
