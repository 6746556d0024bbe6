// The video curve with its threshold line, the strip chart of the measured value, and the bar
// graph of edges, tolerance window and cursors.
#pragma once

extern unsigned short thdArray[256];
extern double arrayNORM[500];
// Shown on NUMMeasMicrons; nothing computes a value in micrometres yet.
extern int umValue;

void PlotVIDEOCurve(const unsigned short *y, const double *x);
void PlotRAWGraphX8();
void PlotVIDEOBarGraph();
