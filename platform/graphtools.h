// The operator's tools on the panel's graphs: pictures to files, the strip chart's points, and
// fitting a graph the mouse has zoomed.
#pragma once

// Saves what the graph shows; the format follows the file's extension (.png or .pdf).
// 0, or UIE_FILE_WRITE_ERROR / UIE_INVALID_CONTROL.
int SaveGraphImage(int panel, int control, const char *fileName);
// Copies the samples of one strip-chart trace (1-based) now on screen, oldest first, into
// values; returns how many (at most maxValues), or a negative error code.
int GetStripChartTrace(int panel, int control, int trace, double *values, int maxValues);
// Returns the graph to the program's ranges after the operator zoomed or panned it.
int FitGraph(int panel, int control);
