// Moving the parameter set between the panel's controls and the variables.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "app/parameterwords.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "gui/graphs.h"
#include "platform/userint.h"

void GetPanelValues() {
    GetCtrlVal(pHandle, NUMPower, &power);
    GetCtrlVal(pHandle, SWITCHPMode, &pMode);
    GetCtrlVal(pHandle, NUMVideoThreshold, &vThd);
    GetCtrlVal(pHandle, RINGAnaMode, &anaMode);
    GetCtrlVal(pHandle, SWITCHPolarity, &polarity);
    GetCtrlVal(pHandle, RINGEMode, &eMode);
    GetCtrlVal(pHandle, NEDITEdgeLeft, &eBeg);
    GetCtrlVal(pHandle, NEDITEdgeRight, &eEnd);
    GetCtrlVal(pHandle, NUMTeachValue, &tVal);
    GetCtrlVal(pHandle, NEDITTolerance, &tTol);
    GetCtrlVal(pHandle, RINGEHardware, &eHardware);
    GetCtrlVal(pHandle, NUMAverage, &average);
    GetCtrlVal(pHandle, SWITCHOpMode, &opMode);
}

void SetPanelLimits() {
    // The spin boxes of the words with fixed limits take them from the same table, so typing
    // cannot leave a value the next SetPanelValues or a parameter file check would change.
    const struct {
        int control, word;
    } spins[] = {{NUMPower, 0},
                 {NUMVideoThreshold, 2},
                 {NUMTeachValue, 8},
                 {NEDITTolerance, 9},
                 {NUMAverage, 14}};
    for (const auto &spin : spins) {
        const ParameterLimit limit = parameterLimit(spin.word, -1);
        SetCtrlAttribute(pHandle, spin.control, ATTR_MIN_VALUE, static_cast<int>(limit.min));
        SetCtrlAttribute(pHandle, spin.control, ATTR_MAX_VALUE, static_cast<int>(limit.max));
    }
}

void SetPanelValues() {
    // The same limits the command line checks a parameter file against before a SEND.
    for (int word = 0; word < PNUM; ++word) {
        unsigned short *variable = parameterVariable(word);
        *variable = panelCorrected(word, *variable, static_cast<int>(ccdsubpixel));
    }

    SetCtrlVal(pHandle, NUMPower, power);
    SetCtrlVal(pHandle, SWITCHPMode, pMode);
    SetCtrlVal(pHandle, NUMVideoThreshold, vThd);
    SetCtrlVal(pHandle, RINGAnaMode, anaMode);
    SetCtrlVal(pHandle, SWITCHPolarity, polarity);
    SetCtrlVal(pHandle, RINGEMode, eMode);
    SetCtrlVal(pHandle, NEDITEdgeLeft, eBeg);
    SetCtrlVal(pHandle, NEDITEdgeRight, eEnd);
    SetCtrlVal(pHandle, NUMTolerance, tTol);
    SetCtrlVal(pHandle, NUMTeachValue, tVal);
    SetCtrlVal(pHandle, NEDITTolerance, tTol);
    SetCtrlVal(pHandle, RINGEHardware, eHardware);
    SetCtrlVal(pHandle, NUMAverage, average);
    SetCtrlVal(pHandle, SWITCHOpMode, opMode);

    for (unsigned short &level : thdArray)
        level = vThd;
    SetAxisScalingMode(pHandle, GRAPHBar, VAL_XAXIS, VAL_MANUAL, 1.0, ccdpixE);
    PlotVIDEOCurve(adcbuf, xArray8);
    SetGraphCursor(pHandle, GRAPHBar, 2, eBeg, 0.75);
    SetGraphCursor(pHandle, GRAPHBar, 3, eEnd, 0.75);
    PlotRectangle(pHandle, GRAPHBar, 0.0, 0.0, ccdmaxpixelX8, 1.0, 0xA0A0A0, 0xA0A0A0);
    PlotRectangle(pHandle, GRAPHBar, static_cast<int>(tVal) - static_cast<int>(tTol), 0.0,
                  static_cast<int>(tVal) + static_cast<int>(tTol), 0.25, VAL_GREEN, VAL_GREEN);
}
