// Start-up, shutdown, the panel callbacks and the port choice.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/commissioning/compare.h"
#include "app/commissioning/report.h"
#include "app/commissioning/statisticspanel.h"
#include "app/panelcontrols.h"
#include "app/porttools/lowlatency.h"
#include "app/porttools/portdoctor.h"
#include "app/porttools/reconnect.h"
#include "app/porttools/trafficmonitor.h"
#include "app/proposal/proposalpanel.h"
#include "app/recording/windowmodel.h"
#include "app/recording/writer.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "gui/graphexport.h"
#include "gui/graphs.h"
#include "logo/logo.h"
#include "platform/language.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"

#include <cmath>
#include <cstdio>
#include <cstring>

using com232::sync;

int pHandle = -1;
int pPopup = -1;
char proj_dir[PATH_SIZE];
char file_name[PATH_SIZE];
int stop_flag = 1;
int target = RAM;
char szSoftName[72];
char szSoftVersion[72];

namespace {

const CallbackEntry callbackTable[] = {
    {"CC_PANEL", nullptr, CC_PANEL},
    {"CC_POPUP", nullptr, CC_POPUP},
    {"CC_DropDCom", CC_DropDCom, nullptr},
    {"CC_BTNGet", CC_BTNGet, nullptr},
    {"CC_BTNSend", CC_BTNSend, nullptr},
    {"CC_RBTRam", CC_RBTRam, nullptr},
    {"CC_RBTEeprom", CC_RBTEeprom, nullptr},
    {"CC_RBTFile", CC_RBTFile, nullptr},
    {"CC_ButtonTeach", CC_ButtonTeach, nullptr},
    {"CC_ButtonReset", CC_ButtonReset, nullptr},
    {"CC_NEDITTolerance", CC_NEDITTolerance, nullptr},
    {"CC_TOGGBTN_ParaII", CC_TOGGBTN_ParaII, nullptr},
    {"CC_BTNRun", CC_BTNRun, nullptr},
    {"CC_BTNStop", CC_BTNStop, nullptr},
    {"CC_BTNVideo", CC_BTNVideo, nullptr},
    {"CC_NUMVideoThreshold", CC_NUMVideoThreshold, nullptr},
    {"CC_NEDITEdgeLeft", CC_NEDITEdgeLeft, nullptr},
    {"CC_NEDITEdgeRight", CC_NEDITEdgeRight, nullptr},
    {"CC_BTNTraffic", CC_BTNTraffic, nullptr},
    {"CC_BTNReconnect", CC_BTNReconnect, nullptr},
    {"CC_BTNCheckPort", CC_BTNCheckPort, nullptr},
    {"CC_CHKLowLatency", CC_CHKLowLatency, nullptr},
    {"CC_BTNRecord", CC_BTNRecord, nullptr},
    {"CC_BTNExportLine", CC_BTNExportLine, nullptr},
    {"CC_BTNExportChart", CC_BTNExportChart, nullptr},
    {"CC_TOGGBTN_Zoom", CC_TOGGBTN_Zoom, nullptr},
    {"CC_BTNCompare", CC_BTNCompare, nullptr},
    {"CC_BTNOpenRecording", CC_BTNOpenRecording, nullptr},
    {"CC_RINGLanguage", CC_RINGLanguage, nullptr},
    {"CC_BTNPropose", CC_BTNPropose, nullptr},
    {"CC_BTNProposeApply", CC_BTNProposeApply, nullptr},
    {"CC_BTNProposeEeprom", CC_BTNProposeEeprom, nullptr},
    {"CC_BTNProposeDiscard", CC_BTNProposeDiscard, nullptr},
};

// The language choice's items, in the order the panel file lists them.
const char *const languageChoices[] = {"", "de", "en"};

// The port list shows each port's device and description; its value is the port number.
void fillPortList() {
    ClearListCtrl(pHandle, DropDCom);
    bool hasPortOne = false;
    for (const SerialPortEntry &port : listSerialPorts()) {
        char label[200];
        std::snprintf(label, sizeof label, "%d: %s%s%s", port.number, port.device.c_str(),
                      port.description.empty() ? "" : " - ", port.description.c_str());
        InsertListItem(pHandle, DropDCom, -1, label, port.number);
        hasPortOne = hasPortOne || port.number == 1;
    }
    if (!hasPortOne)
        InsertListItem(pHandle, DropDCom, 0, kvex::tr("1: (no device)"), 1);
    SetCtrlVal(pHandle, DropDCom, 1);
}

// Every variable back to its start value, so a second start in the same process begins afresh.
void resetModuleState() {
    ccdtype = ccdresolution = ccdsubpixel = ccdpixB = ccdpixE = softversion = 0;
    YAXISMAX = 1024;
    opMode = para12 = para13 = average = para15 = 0;
    Ledge = Redge = Mvalue = tol = pix1 = edcnt = mvstart = mvend = freevar = 0;
    anaMax = anaMin = leftMax = rightMax = in0 = 0;
    graphrefresh = 0;
    nBytesW = nBytesR = 0;
    exchangeDepth = 0;
    std::memset(pp, 0, sizeof pp);
    std::memset(adcbuf, 0, sizeof adcbuf);
    std::memset(arrayNORM, 0, sizeof arrayNORM);
    std::memset(xArray8, 0, sizeof xArray8);
    umValue = std::nan("");
    szVersion[0] = '\0';
    file_name[0] = '\0';
}

} // namespace

void InitVars() {
    resetModuleState();
    power = 500;
    pMode = 0;
    vThd = 512;
    anaMode = 0;
    polarity = 1;
    eMode = 1;
    eBeg = 1;
    eEnd = 1024;
    tVal = 512;
    tTol = 100;
    eHardware = 1;
    pixB = 1;
    pixE = 1024;
    com = 1;
    sync = 0x55;
    order = 1;
    target = RAM;
    rx_flag = 0;
    stop_flag = 1;
    ccdmaxpixel = 1024;
    ccdmaxpixelX8 = 8192;
    pcbtype = 0;

    setStatus(kvex::tr("InitVars"));
    showStatus();
    std::snprintf(szSoftVersion, sizeof szSoftVersion, "%s", "V.1.5");
    std::snprintf(szSoftName, sizeof szSoftName, "%s", "K-VEX-RTN-Rodaz");
    ShowLogo(2);
    GetPanelValues();

    DeleteGraphPlot(pHandle, GRAPHBar, -1, 0);
    SetGraphCursor(pHandle, GRAPHBar, 1, tVal, 1.0);
    SetGraphCursor(pHandle, GRAPHBar, 2, eBeg, 1.0);
    SetGraphCursor(pHandle, GRAPHBar, 3, eEnd, 1.0);
    PlotRectangle(pHandle, GRAPHBar, static_cast<int>(tVal) - static_cast<int>(tTol), 0.0,
                  static_cast<int>(tVal) + static_cast<int>(tTol), 0.25, VAL_GREEN, VAL_GREEN);

    for (int i = 0; i < 256; ++i) {
        xArray[i] = 4.0 * i;
        thdArray[i] = vThd;
    }
}

int startUpProgram() {
    if (InitCVIRTE(nullptr, nullptr, nullptr) == 0)
        return -1;
    RegisterCallbacks(callbackTable,
                      static_cast<int>(sizeof callbackTable / sizeof *callbackTable));
    installStatistics();
    installReport();
    pHandle = LoadPanel(0, PANEL_FILE, MAIN_PANEL);
    if (pHandle < 0)
        return -1;
    pPopup = LoadPanel(0, PANEL_FILE, POPUP_PANEL);
    if (pPopup < 0) {
        DiscardPanel(pHandle);
        pHandle = -1;
        return -1;
    }
    SetPanelLimits();
    GetProjectDir(proj_dir);
    installRecorder();
    installCompare();
    installProposal();
    fillPortList();
    const std::string language = kvexplatform::storedLanguage();
    for (int i = 0; i < 3; ++i)
        if (language == languageChoices[i])
            SetCtrlVal(pHandle, RINGLanguage, i);
    InitVars();
    InitRS232(com);
    offerReconnects();
    DisplayPanel(pHandle);
    openRecordingAskedAtStart();
    return 0;
}

void shutDownProgram() {
    stopOfferingReconnects();
    stopRecording();
    CloseCom(com);
    DiscardPanel(pPopup);
    DiscardPanel(pHandle);
    pPopup = pHandle = -1;
}

int WinMain() {
    if (startUpProgram() < 0)
        return -1;
    RunUserInterface();
    shutDownProgram();
    return 0;
}

int CC_PANEL(int, int event, void *, int, int) {
    if (event == EVENT_CLOSE) {
        stop_flag = 1;
        CloseCom(com);
        QuitUserInterface(0);
    }
    return 0;
}

int CC_POPUP(int, int event, void *, int, int) {
    if (event == EVENT_CLOSE) {
        HidePanel(pPopup);
        SetCtrlVal(pHandle, TOGGBTN_ParaII, 0);
    }
    return 0;
}

int CC_DropDCom(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT && event != EVENT_VAL_CHANGED)
        return 0;
    stop_flag = 1;
    CloseCom(com);
    GetCtrlVal(pHandle, DropDCom, &com);
    showStatusText(kvex::tr("Init COM-Port ..."));
    InitRS232(com);
    return 0;
}

int CC_RINGLanguage(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT)
        return 0;
    int choice = 0;
    GetCtrlVal(pHandle, RINGLanguage, &choice);
    if (choice < 0 || choice > 2)
        return 0;
    kvexplatform::storeLanguage(languageChoices[choice]);
    showStatusText(kvex::tr("The language changes at the next start of the program."));
    return 0;
}
