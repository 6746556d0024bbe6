// The video curve with its threshold line, the strip chart of the measured value, and the bar
// graph of edges, tolerance window and cursors.
#pragma once

#include <string>

extern unsigned short thdArray[256];
extern double arrayNORM[500];
// The measured value in micrometres shown on NUMMeasMicrons; NaN when the sensor type names no
// pixel pitch, and the display then shows a dash, dimmed.
extern double umValue;

// The line with the threshold, and while a proposal is shown its threshold and window.
void PlotVIDEOCurve(const unsigned short *y, const double *x);
// A set-up proposal over the video curve: its threshold and window dashed, the current window
// beside them; drawn with every line until hidden.
void ShowPROPOSALLines(unsigned threshold, unsigned evalBegin, unsigned evalEnd);
void HidePROPOSALLines();
void PlotRAWGraphX8();
void PlotVIDEOBarGraph();
// "Signal reserve 0.60, contrast 0.78" (and "saturated", "no object", "lost") of the line in
// adcbuf, in the operator's language; "No video line yet" before one came.
std::string SignalReserveText();
// TEXTReserve over the video curve: that text, green at or above RESERVE_WARN, orange below,
// red once lost.
void ShowSIGNALReserve();
