// Run mode and video mode: the live loops inside the Run and Video buttons' callbacks, and the
// edits that change the video view while it runs.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "gui/graphs.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

using com232::sync;

namespace {

// How long a stopped run waits for the answer to its last request: a frame's time on the wire
// and the sensor's own answer time, with room to spare, yet short enough that Stop feels
// instant.
constexpr double LAST_ANSWER_WAIT = 0.2;

// Commands that would start an exchange of their own are dimmed while a loop runs.
const int commandButtons[] = {BTNUnlock3, BTNSend, ButtonTeach, ButtonReset};

void enterLiveMode(int shownGraph, int hiddenGraph) {
    SetCtrlAttribute(pHandle, hiddenGraph, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, shownGraph, ATTR_VISIBLE, 1);
    // The reserve belongs to the video curve it lies over.
    SetCtrlAttribute(pHandle, TEXTReserve, ATTR_VISIBLE, shownGraph == GRAPHVideo ? 1 : 0);
    SetCtrlAttribute(pHandle, BTNLock23, ATTR_DIMMED, 1);
    SetCtrlAttribute(pHandle, BTNLock21, ATTR_DIMMED, 1);
    for (int control : commandButtons)
        SetCtrlAttribute(pHandle, control, ATTR_DIMMED, 1);
    SetCtrlVal(pHandle, RBTRam, 1);
    target = RAM;
    SetCtrlVal(pHandle, RBTEeprom, 0);
    SetCtrlVal(pHandle, RBTFile, 0);
}

void leaveLiveMode() {
    SetCtrlAttribute(pHandle, BTNLock23, ATTR_DIMMED, 0);
    SetCtrlAttribute(pHandle, BTNLock21, ATTR_DIMMED, 0);
    for (int control : commandButtons)
        SetCtrlAttribute(pHandle, control, ATTR_DIMMED, 0);
}

void armReceiveCallback() {
    InstallComCallback(com, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
}

} // namespace

void PushRUN() {
    enterLiveMode(GRAPHStrip, GRAPHVideo);
    notifyRunStarted();
    LiveEnd end = LiveEnd::Stopped;

    if (SendRUNRequest() == FRAME_BYTES)
        showStatusText(kvex::tr("Line Ok!"));
    tstart = Timer();
    stop_flag = 0;
    graphrefresh = 0;

    while (stop_flag == 0) {
        // The answer is taken and the next request sent before drawing, so the graphs are drawn
        // while that request and its answer are on the wire.
        const bool answered = graphrefresh == 1;
        if (answered)
            CopyPPtoMeasurement();
        if (rx_flag == 1) {
            // Between two cycles nothing is on the wire: the place for a video read.
            if (answered && runVideoLineWanted()) {
                ReadVIDEOLine();
                notifyRunVideoLine();
            }
            SendRUNRequest();
        }
        if (answered) {
            PlotVIDEOBarGraph();
            PlotRAWGraphX8();
            graphrefresh = 0;
            notifyRunSample();
        }
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            showStatusText(kvex::tr("Timeout RS232-Line!"));
            stop_flag = 1;
            end = LiveEnd::Timeout;
            break;
        }
        ProcessSystemEvents();
    }

    // A stop leaves the last request's answer on its way. Taken in here, it cannot arrive after
    // the flush and pass for the answer to whatever exchange comes next.
    if (end == LiveEnd::Stopped && rx_flag == 0) {
        const double stopped = Timer();
        while (rx_flag == 0 && Timer() - stopped < LAST_ANSWER_WAIT)
            ProcessSystemEvents();
    }
    rx_flag = 0;
    FlushInQ(com);
    FlushOutQ(com);
    graphrefresh = 0;
    leaveLiveMode();
    notifyRunEnded(end);
}

int CC_BTNRun(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT || exchangeDepth > 0)
        return 0;
    {
        const ExchangeScope exchange;
        PushRUN();
    }
    runAfterLiveLoop();
    return 0;
}

int CC_BTNStop(int, int, int event, void *, int, int) {
    if (event == EVENT_LEFT_CLICK) {
        stop_flag = 1;
        SetCtrlAttribute(pHandle, BTNLock21, ATTR_DIMMED, 0);
        SetCtrlAttribute(pHandle, BTNLock23, ATTR_DIMMED, 0);
    }
    return 0;
}

namespace {

void runVideoMode() {
    const ExchangeScope exchange;
    enterLiveMode(GRAPHVideo, GRAPHStrip);
    SetAxisScalingMode(pHandle, GRAPHVideo, VAL_XAXIS, VAL_MANUAL, 1.0, ccdpixE);
    notifyVideoStarted();
    LiveEnd end = LiveEnd::Stopped;
    stop_flag = 0;
    while (stop_flag == 0) {
        // The parameter set is not packed in: after the first pass the request carries the
        // previous answer's words, as the sensor's tool always sent them.
        SendREQUEST(8, pp);
        for (;;) {
            if (rx_flag == 1)
                break;
            ProcessSystemEvents();
            tdiff = Timer() - tstart;
            if (tdiff > TIMEOUT) {
                showStatusText(kvex::tr("Timeout RS232-Line!"));
                stop_flag = 1;
                end = LiveEnd::Timeout;
                break;
            }
        }
        if (rx_flag == 1) {
            CopyPPtoMeasurement();
            ReadVIDEOLine();
            PlotVIDEOBarGraph();
            PlotVIDEOCurve(adcbuf, xArray8);
            ShowSIGNALReserve();
            notifyVideoLine();
        }
        ProcessSystemEvents();
    }
    leaveLiveMode();
    armReceiveCallback();
    FlushOutQ(com);
    FlushInQ(com);
    notifyVideoEnded(end);
}

} // namespace

int CC_BTNVideo(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT || exchangeDepth > 0)
        return 0;
    runVideoMode();
    runAfterLiveLoop();
    return 0;
}

int CC_NUMVideoThreshold(int, int, int event, void *, int, int) {
    if (event == EVENT_VAL_CHANGED) {
        unsigned short threshold = 0;
        GetCtrlVal(pHandle, NUMVideoThreshold, &threshold);
        for (unsigned short &level : thdArray)
            level = threshold;
        // The same positions the video loop draws with, so the curve does not jump.
        PlotVIDEOCurve(adcbuf, xArray8);
    }
    return 0;
}

int CC_NEDITEdgeLeft(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        unsigned short v = 0;
        GetCtrlVal(pHandle, NEDITEdgeLeft, &v);
        if (v < pixB) {
            v = pixB;
            eBeg = v;
        }
        if (v > pixE) {
            v = static_cast<unsigned short>(pixE - 1);
            eBeg = v;
        }
        SetCtrlVal(pHandle, NEDITEdgeLeft, v);
        SetGraphCursor(pHandle, GRAPHBar, 2, v, 1.0);
    }
    return 0;
}

int CC_NEDITEdgeRight(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        unsigned short v = 0;
        GetCtrlVal(pHandle, NEDITEdgeRight, &v);
        if (v > pixE) {
            v = pixE;
            eEnd = v;
        }
        if (v < pixB) {
            v = static_cast<unsigned short>(pixB + 1);
            eEnd = v;
        }
        SetCtrlVal(pHandle, NEDITEdgeRight, v);
        // At the edited value itself, where every other placement puts this cursor.
        SetGraphCursor(pHandle, GRAPHBar, 3, v, 1.0);
    }
    return 0;
}
