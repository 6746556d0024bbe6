// Hardware and firmware queries; the panel adapts its scales, texts and controls to the sensor.
#include "com232/identify.h"
#include "app/panelcontrols.h"
#include "com232/rs232link.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <cstdio>
#include <cstring>

using com232::sync;

unsigned short ccdtype, ccdmaxpixel = 1024, ccdresolution, pcbtype, ccdmaxpixelX8 = 8192,
                        ccdsubpixel, ccdpixB, ccdpixE, softversion;
double xArray[256];
double xArray8[256];
unsigned short YAXISMAX = 1024;
unsigned short pixB = 1, pixE = 1024;
char szVersion[73];

namespace {

constexpr int FIRMWARE_BYTES = 72;
constexpr double FIRMWARE_TIMEOUT = 2.0;

int pixelStep(unsigned short pixels) {
    switch (pixels) {
    case 512:
        return 2;
    case 768:
        return 3;
    case 1024:
        return 4;
    case 1280:
        return 5;
    case 1536:
        return 6;
    case 2048:
        return 8;
    default:
        return 0;
    }
}

int subpixelStep(unsigned short subpixels) {
    switch (subpixels) {
    case 512:
        return 2;
    case 768:
        return 3;
    case 1024:
        return 4;
    case 1180:
    case 1280:
        return 5;
    case 1536:
        return 6;
    case 2048:
        return 8;
    case 2360:
    case 2560:
        return 10;
    case 8192:
        return 32;
    default:
        return 1;
    }
}

void setGainTexts() {
    SetCtrlAttribute(pHandle, SWITCHOpMode, ATTR_ON_TEXT, "HI-GAIN");
    SetCtrlAttribute(pHandle, SWITCHOpMode, ATTR_OFF_TEXT, "LO-GAIN");
}

void setModeTexts() {
    SetCtrlAttribute(pHandle, SWITCHOpMode, ATTR_ON_TEXT, "ADC-CNV");
    SetCtrlAttribute(pHandle, SWITCHOpMode, ATTR_OFF_TEXT, "DIG-CMP");
}

void setEdgeLimits(unsigned short first, unsigned short last) {
    pixB = first;
    pixE = last;
}

void applySensorType() {
    switch (ccdtype) {
    case 1: {
        const int fw1001 = softversion == 1001;
        SetCtrlAttribute(pHandle, NUMMeasMicrons, ATTR_VISIBLE, !fw1001);
        SetCtrlAttribute(pHandle, SWITCHPMode, ATTR_DIMMED, fw1001);
        SetCtrlAttribute(pHandle, NUMCtrl17, ATTR_DIMMED, fw1001);
        setGainTexts();
        setEdgeLimits(1, 1024);
        break;
    }
    case 2:
        if (ccdresolution == 750) {
            setGainTexts();
            YAXISMAX = 1024;
        } else if (ccdresolution == 350 || ccdresolution == 250) {
            setGainTexts();
            setEdgeLimits(1, 1024);
            if (softversion == 220)
                YAXISMAX = 256;
        }
        break;
    case 3:
    case 4:
        SetAxisScalingMode(pHandle, GRAPHStrip, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, ccdmaxpixel);
        if (ccdtype == 3)
            setGainTexts();
        setEdgeLimits(1, 512);
        break;
    case 101:
        setModeTexts();
        setEdgeLimits(1, 256);
        break;
    case 102:
        if (softversion == 220)
            setModeTexts();
        if (softversion == 230) {
            SetCtrlAttribute(pHandle, SWITCHOpMode, ATTR_DIMMED, 1);
            SetCtrlAttribute(pHandle, NUMCtrl17, ATTR_LABEL_TEXT, kvex::tr("OFFSET-VALUE"));
            SetCtrlAttribute(pHandle, NUMCtrl17, ATTR_MAX_VALUE, 1000);
            SetCtrlAttribute(pHandle, NUMCtrl17, ATTR_MIN_VALUE, 950);
        }
        setEdgeLimits(1, 768);
        if (softversion > 220)
            YAXISMAX = 256;
        break;
    case 103:
        ReplaceTextBoxLine(pPopup, TEXTBOXHardware, 0,
                           "CCD-SENSOR:1180 pixel; 63.5\xB5m pixel-pitch;");
        ReplaceTextBoxLine(pPopup, TEXTBOXHardware, 1,
                           "Working-Range: 74,9mm,   Resolution: 31.75\xB5m (subpixel x2)");
        setModeTexts();
        setEdgeLimits(1, ccdpixE);
        if (softversion == 220)
            YAXISMAX = 256;
        break;
    case 104:
        ReplaceTextBoxLine(pPopup, TEXTBOXHardware, 0,
                           "CCD-SENSOR:1536 pixel; 63.5\xB5m pixel-pitch;");
        ReplaceTextBoxLine(pPopup, TEXTBOXHardware, 1,
                           "Working-Range: 97,5mm,   Resolution: 63.5\xB5m");
        setModeTexts();
        setEdgeLimits(1, 1536);
        if (softversion == 220)
            YAXISMAX = 256;
        break;
    default:
        ReplaceTextBoxLine(pPopup, TEXTBOXHardware, 0,
                           kvex::tr("CCD-SENSOR: no information avialable!"));
        ReplaceTextBoxLine(pPopup, TEXTBOXHardware, 1, "                                     ");
        setModeTexts();
        setEdgeLimits(1, 1024);
        break;
    }
}

void applyBoardType() {
    if (pcbtype == 100) {
        for (int control : {RINGAnaMode, CTRLAna14, NUMAnaMax, NUMAnaMin})
            SetCtrlAttribute(pHandle, control, ATTR_DIMMED, 0);
        pixE = static_cast<unsigned short>(pixE * 8);
    } else if (pcbtype == 400) {
        for (int control : {RINGAnaMode, CTRLAna14, SWITCHPMode, NUMAnaMax, NUMAnaMin})
            SetCtrlAttribute(pHandle, control, ATTR_DIMMED, 1);
    }
}

void armReceiveCallback() {
    InstallComCallback(com, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
}

} // namespace

int GetHARDWAREInfo() {
    int result = 0;
    YAXISMAX = 1024;
    SendREQUEST(10, pp);
    if (waitTimeFirst(TIMEOUT)) {
        setStatus(kvex::tr("Timeout-RS-232..."));
        return 0;
    }
    if (rx_flag != 1)
        return 0;
    // A spoilt answer would give the panel the scales of a sensor that is not there.
    if (const char *fault = answerFrameFault(10)) {
        setStatus(fault);
        return 0;
    }

    unsigned short *const fields[] = {&ccdtype, &ccdmaxpixel,   &ccdresolution,
                                      &pcbtype, &ccdmaxpixelX8, &ccdsubpixel,
                                      &ccdpixB, &ccdpixE,       &softversion};
    for (int i = 0; i < 9; ++i)
        *fields[i] = readBufWord(2 + i);

    result = 1;
    SetAxisScalingMode(pHandle, GRAPHVideo, VAL_XAXIS, VAL_MANUAL, 1.0, ccdsubpixel);
    int step = pixelStep(ccdmaxpixel);
    if (step == 0) {
        step = 1;
        ccdmaxpixel = 256;
    }
    for (int i = 0; i < 256; ++i)
        xArray[i] = static_cast<double>(i * step);
    const int step8 = subpixelStep(ccdsubpixel);
    for (int i = 0; i < 256; ++i)
        xArray8[i] = static_cast<double>(i * step8);
    applySensorType();
    applyBoardType();
    return result;
}

int GetVERSIONInfo() {
    InstallComCallback(com, 0, FRAME_BYTES, sync, nullptr, nullptr);
    FlushInQ(com);
    FlushOutQ(com);
    order = 7;
    FillTxBuf(7, pp);
    nBytesW = ComWrt(com, szWriteBuf, FRAME_BYTES);
    showStatusText(kvex::tr("Waiting for firmware info ..."));

    int count = 0;
    tstart = Timer();
    for (;;) {
        ProcessSystemEvents();
        count = GetInQLen(com);
        tdiff = Timer() - tstart;
        if (tdiff > FIRMWARE_TIMEOUT) {
            setStatus(kvex::tr("Timeout - reading firmware info!"));
            showStatus();
            break;
        }
        if (count >= FIRMWARE_BYTES)
            break;
    }

    int ints[36] = {};
    szVersion[0] = '\0';
    // The queue may hold more than the receive buffer; the rest is flushed below.
    int toRead = count < 0 ? 0 : count;
    if (toRead > BUFFER_SIZE)
        toRead = BUFFER_SIZE;
    nBytesR = toRead > 0 ? ComRd(com, szReadBuf, toRead) : 0;
    if (nBytesR == FIRMWARE_BYTES) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(szReadBuf);
        if (pcbtype == 0) {
            for (int i = 0; i < 36; ++i)
                ints[i] = bytes[2 * i] * 256 + bytes[2 * i + 1];
            for (int i = 0; i < 36; ++i)
                szVersion[i] = static_cast<char>(ints[i] & 0xFF);
            szVersion[36] = '\0';
            setStatus(szVersion);
        } else {
            char text[FIRMWARE_BYTES + 1];
            std::memcpy(text, bytes, FIRMWARE_BYTES);
            text[FIRMWARE_BYTES] = '\0';
            std::snprintf(szVersion, sizeof szVersion, "%s", text);
            setStatus(text);
        }
    }
    armReceiveCallback();
    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;
    showStatus();
    return count;
}
