// A histogram drawn as bars in one of the panel's graphs, with marker lines, and tooltips set
// from the program.
#pragma once

// Draws `bins` bars of `binWidth` from `lower` (counts per bin) and a vertical line at each
// marker: markers[0] and markers[2] as limits, markers[1] as the set-point; a NaN marker is
// left out. The graph repaints once, queued. Returns 0 or a negative user-interface error.
int PlotHistogram(int panel, int control, const long *counts, int bins, double lower,
                  double binWidth, const double markers[3]);
// text in UTF-8.
int SetCtrlToolTip(int panel, int control, const char *text);
