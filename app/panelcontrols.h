// Control numbers of the panel file, and the handles of its two panels.
#pragma once

// Main panel (panel 1 of the panel file).
enum MainPanelControl {
    DropDCom = 2,
    BTNUnlock3 = 3, // the GET button
    RINGAnaMode = 4,
    RBTFile = 12,
    RBTEeprom = 13,
    CTRLAna14 = 14,
    NUMVideoThreshold = 15,
    NUMPower = 16,
    NUMCtrl17 = 17,
    NEDITTolerance = 18,
    NUMTeachValue = 19,
    RBTRam = 20,
    BTNLock21 = 21, // the Run button
    BTNLock23 = 23, // the Video button
    RINGEHardware = 24,
    SWITCHPMode = 25,
    SWITCHPolarity = 26,
    NUMAverage = 27,
    RINGEMode = 28,
    NUMMeasValueA = 30,
    NUMMeasMicrons = 31,
    NUMMeasValueB = 32,
    NUMAnaMin = 33,
    NUMRightMax = 34,
    NUMLeftMax = 35,
    NUMAnaMax = 36,
    NUMTolerance = 37,
    NUMLeftEdge = 38,
    NUMRightEdge = 39,
    DECOHeader = 46,
    NEDITEdgeRight = 47,
    NEDITEdgeLeft = 48,
    TEXTStatus = 49,
    GRAPHVideo = 50,
    GRAPHBar = 51,
    PICTLogo = 52,
    TOGGBTN_Zoom = 53,
    TOGGBTN_ParaII = 55,
    GRAPHStrip = 56,
    SWITCHOpMode = 57,
    // Numbered so the live loops can dim them while they run.
    BTNSend = 58,
    ButtonTeach = 59,
    ButtonReset = 60,
    // The operator's data: recording, exports and the parameter comparison.
    TEXTRecording = 120,
    BTNRecord = 121,
    BTNExportLine = 122,
    BTNExportChart = 123,
    BTNCompare = 124,
    BTNOpenRecording = 125,
    BTNReconnect = 140,
    BTNTraffic = 141,
    BTNCheckPort = 142,
    // Statistics of the run, its histogram, and the commissioning report.
    STATSamples = 151,
    STATMean = 152,
    STATSigma = 153,
    STATMinimum = 154,
    STATMaximum = 155,
    STATInTolerance = 156,
    STATCp = 157,
    STATCpk = 158,
    GRAPHHistogram = 159,
    BTNResetStatistics = 160,
    BTNReport = 161,
    // Beside the port list: the mark of an adapter that still holds bytes for its latency timer,
    // and the switch that asks adapters for low latency.
    TEXTLatency = 170,
    CHKLowLatency = 171,
    // The operator's language for the next start.
    RINGLanguage = 172,
    // Over the video curve in video mode: the last line's signal reserve, contrast, saturation.
    TEXTReserve = 173,
    // The set-up proposal: the button in video mode and the bar under the graphs.
    BTNPropose = 174,
    FRAMEProposal = 175,
    TEXTProposal = 176,
    BTNProposeApply = 177,
    BTNProposeEeprom = 178,
    BTNProposeDiscard = 179,
};

// Popup panel.
enum PopupPanelControl { TEXTBOXHardware = 2 };

// The panel file and the numbers of its panels.
#define PANEL_FILE "K-VEX-RTN-RedozU15.uir"
enum { MAIN_PANEL = 1, POPUP_PANEL = 2 };

extern int pHandle;
extern int pPopup;
