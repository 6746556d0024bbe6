// Drawing of the three graphs from the measurement and video variables.
#include "gui/graphs.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/sensorunits.h"
#include "com232/videodata.h"
#include "platform/tr.h"
#include "platform/userint.h"

#include <cmath>
#include <cstdio>
#include <limits>

unsigned short thdArray[256];
double arrayNORM[500];
double umValue = std::numeric_limits<double>::quiet_NaN();

namespace {

struct ProposalLines {
    bool shown = false;
    unsigned threshold = 0, evalBegin = 0, evalEnd = 0;
} proposalLines;

void plotLine(double x1, double y1, double x2, double y2, int lineStyle, int colour) {
    const double x[2] = {x1, x2}, y[2] = {y1, y2};
    PlotXY(pHandle, GRAPHVideo, x, y, 2, VAL_DOUBLE, VAL_DOUBLE, VAL_THIN_LINE, VAL_NO_POINT,
           lineStyle, VAL_ALL_POINTS, colour);
}

} // namespace

void PlotVIDEOCurve(const unsigned short *y, const double *x) {
    SetAxisScalingMode(pHandle, GRAPHVideo, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, YAXISMAX);
    DeleteGraphPlot(pHandle, GRAPHVideo, -1, 1);
    PlotXY(pHandle, GRAPHVideo, x, y, 256, VAL_DOUBLE, VAL_UNSIGNED_SHORT_INTEGER, VAL_FAT_LINE,
           VAL_NO_POINT, VAL_SOLID, VAL_ALL_POINTS, VAL_RED);
    PlotXY(pHandle, GRAPHVideo, x, thdArray, 256, VAL_DOUBLE, VAL_UNSIGNED_SHORT_INTEGER,
           VAL_FAT_LINE, VAL_NO_POINT, VAL_SOLID, VAL_ALL_POINTS, VAL_DK_GREEN);
    if (!proposalLines.shown)
        return;
    const ProposalLines &p = proposalLines;
    plotLine(eBeg, 0.0, eBeg, YAXISMAX, VAL_SOLID, VAL_GRAY);
    plotLine(eEnd, 0.0, eEnd, YAXISMAX, VAL_SOLID, VAL_GRAY);
    plotLine(x[0], p.threshold, x[255], p.threshold, VAL_DASH, VAL_BLUE);
    plotLine(p.evalBegin, 0.0, p.evalBegin, YAXISMAX, VAL_DASH, VAL_BLUE);
    plotLine(p.evalEnd, 0.0, p.evalEnd, YAXISMAX, VAL_DASH, VAL_BLUE);
}

void ShowPROPOSALLines(unsigned threshold, unsigned evalBegin, unsigned evalEnd) {
    proposalLines = {true, threshold, evalBegin, evalEnd};
}

void HidePROPOSALLines() {
    proposalLines.shown = false;
}

void PlotRAWGraphX8() {
    const int top = static_cast<int>(ccdmaxpixelX8) - 1;
    unsigned short o = Mvalue;
    switch (anaMode) {
    case 2:
    case 5:
        o = anaMax;
        break;
    case 3:
    case 6:
        o = anaMin == top ? 1 : anaMin;
        break;
    default:
        break;
    }

    Shift(arrayNORM, 500, -5, arrayNORM);

    int hi = static_cast<int>(tVal) + static_cast<int>(tol);
    int lo = static_cast<int>(tVal) - static_cast<int>(tol);
    if (hi > top)
        hi = top;
    if (lo < 1)
        lo = 0;

    int ymin, ymax;
    if (tol < 10) {
        ymin = static_cast<int>(tVal) - 20;
        ymax = static_cast<int>(tVal) + 20;
    } else {
        ymin = static_cast<int>(tVal) - 2 * static_cast<int>(tol);
        ymax = static_cast<int>(tVal) + 2 * static_cast<int>(tol);
    }
    if (Mvalue > ymax)
        ymax = Mvalue + 10;
    if (Mvalue < ymin)
        ymin = Mvalue - 10;
    if (ymax > top)
        ymax = top;
    if (ymin < 1)
        ymin = 1;

    arrayNORM[495] = hi;
    arrayNORM[496] = lo;
    arrayNORM[497] = tVal;
    arrayNORM[498] = Mvalue;
    arrayNORM[499] = o;

    SetCtrlAttribute(pHandle, GRAPHStrip, ATTR_POINTS_PER_SCREEN, 101);
    SetCtrlAttribute(pHandle, GRAPHStrip, ATTR_STRIP_CHART_PAUSED, 1);
    int zoom = 0;
    GetCtrlVal(pHandle, TOGGBTN_Zoom, &zoom);
    if (zoom == 0)
        SetAxisScalingMode(pHandle, GRAPHStrip, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, ccdmaxpixelX8);
    else
        SetAxisScalingMode(pHandle, GRAPHStrip, VAL_LEFT_YAXIS, VAL_MANUAL, ymin, ymax);

    const int colours[5] = {VAL_DK_GREEN, VAL_DK_GREEN, VAL_BLACK, VAL_RED, VAL_RED};
    for (int trace = 1; trace <= 5; ++trace)
        SetTraceAttribute(pHandle, GRAPHStrip, trace, ATTR_TRACE_COLOR, colours[trace - 1]);
    SetCtrlAttribute(pHandle, GRAPHStrip, ATTR_NUM_TRACES, 5);
    PlotStripChart(pHandle, GRAPHStrip, arrayNORM, 500, 0, 0, VAL_DOUBLE);
}

void PlotVIDEOBarGraph() {
    const int left = Ledge, right = Redge, setPoint = tVal, tolerance = tol;
    const int subpixels = ccdsubpixel;
    int p;
    if (eMode == 0)
        p = left;
    else if (eMode == 1)
        p = right;
    else
        p = (left == 0 || right == 0) ? 1 : (left + right) / 2;

    SetCtrlVal(pHandle, NUMLeftEdge, Ledge);
    SetCtrlVal(pHandle, NUMRightEdge, Redge);
    SetCtrlVal(pHandle, NUMMeasValueB, Mvalue);
    SetCtrlVal(pHandle, NUMMeasValueA, Mvalue);
    umValue = positionMicrons(Mvalue);
    const bool micronsKnown = !std::isnan(umValue);
    // The display's minimum shows as a dash: no false 0 for a sensor without a known pitch.
    SetCtrlVal(pHandle, NUMMeasMicrons, micronsKnown ? umValue : -1.0);
    int dimmed = 0;
    GetCtrlAttribute(pHandle, NUMMeasMicrons, ATTR_DIMMED, &dimmed);
    // Dimming looks up the display's label; only a change of sensor is worth that.
    if (dimmed != (micronsKnown ? 0 : 1))
        SetCtrlAttribute(pHandle, NUMMeasMicrons, ATTR_DIMMED, micronsKnown ? 0 : 1);
    SetCtrlVal(pHandle, NUMTolerance, tol);
    SetCtrlVal(pHandle, NUMAnaMax, anaMax);
    SetCtrlVal(pHandle, NUMAnaMin, anaMin);
    SetCtrlVal(pHandle, NUMLeftMax, leftMax);
    SetCtrlVal(pHandle, NUMRightMax, rightMax);

    SetAxisScalingMode(pHandle, GRAPHBar, VAL_XAXIS, VAL_MANUAL, 1.0, subpixels);
    SetGraphCursor(pHandle, GRAPHBar, 2, eBeg, 0.75);
    SetGraphCursor(pHandle, GRAPHBar, 3, eEnd, 0.75);
    DeleteGraphPlot(pHandle, GRAPHBar, -1, 0);

    if (p < pixB)
        p = pixB;
    if (p > pixE)
        p = pixE;
    if (p < 1)
        p = 1;
    if (p > subpixels)
        p = subpixels;
    SetGraphCursor(pHandle, GRAPHBar, 1, p, 0.75);

    auto redBar = [](int x1, int x2) {
        PlotRectangle(pHandle, GRAPHBar, x1, 0.25, x2, 1.0, VAL_RED, VAL_RED);
    };
    auto greenBar = [](int x1, int x2) {
        PlotRectangle(pHandle, GRAPHBar, x1, 0.0, x2, 0.35, VAL_GREEN, VAL_GREEN);
    };
    if (edcnt == 1) {
        if (mvstart < mvend)
            redBar(left, pixE);
        else
            redBar(1, left);
    } else {
        redBar(1, left);
        redBar(right, pixE);
    }

    if (eMode == 2) {
        if (edcnt != 0) {
            int l1 = p - setPoint / 2 - tolerance / 2;
            int r1 = p - setPoint / 2 + tolerance / 2;
            if (l1 < 0)
                l1 = 1;
            if (r1 > subpixels - 1)
                r1 = subpixels;
            greenBar(l1, r1);
            greenBar(p + setPoint / 2 - tolerance / 2, p + setPoint / 2 + tolerance / 2);
        }
    } else {
        int l = setPoint - tolerance;
        int r = setPoint + tolerance;
        if (l < 0)
            l = 1;
        if (r > subpixels - 1)
            r = subpixels;
        greenBar(l, r);
    }
}

std::string SignalReserveText() {
    if (!videoLineTaken)
        return kvex::trNow("No video line yet");
    const SignalReserve r = GetVIDEOLineReserve();
    char contrast[32] = "-";
    if (std::isfinite(r.contrast))
        std::snprintf(contrast, sizeof contrast, "%.2f", r.contrast);
    char text[160];
    std::snprintf(text, sizeof text, kvex::trNow("Signal reserve %s, contrast %s%s"),
                  reserveText(r).c_str(), contrast, r.saturated ? kvex::trNow(", saturated") : "");
    return text;
}

void ShowSIGNALReserve() {
    const SignalReserve r = GetVIDEOLineReserve();
    // Orange as the page and the report draw the warning level.
    constexpr int kWarnColour = 0xC77700;
    const int colour = !videoLineTaken || r.state == ReserveState::NoWindow ? VAL_BLACK
                       : r.state == ReserveState::Lost || r.ratio <= 0.0    ? VAL_RED
                       : r.ratio < RESERVE_WARN                             ? kWarnColour
                                                                            : VAL_DK_GREEN;
    SetCtrlVal(pHandle, TEXTReserve, SignalReserveText().c_str());
    SetCtrlAttribute(pHandle, TEXTReserve, ATTR_TEXT_COLOR, colour);
}
