// Moving the parameter set between the panel's controls and the variables.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
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

void SetPanelValues() {
    if (power > 1000)
        power = 500;
    if (pMode > 1)
        pMode = 0;
    if (vThd > 950)
        vThd = 950;
    if (vThd < 50)
        vThd = 50;
    if (anaMode > 7)
        anaMode = 0;
    if (polarity > 1)
        polarity = 1;
    if (eMode > 4)
        eMode = 4;
    if (tTol < 1)
        tTol = 1;
    if (eBeg > ccdsubpixel)
        eBeg = 1;
    if (eEnd > ccdsubpixel)
        eEnd = ccdsubpixel;
    if (eEnd == 0)
        eEnd = 1;
    if (eHardware > 3)
        eHardware = 3;
    if (average > 1024)
        average = 1024;

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
