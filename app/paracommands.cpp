// The operator's commands on the parameter set: GET, SEND, target choice, teach and reset.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/commissioning/compare.h"
#include "app/commissioning/report.h"
#include "app/panelcontrols.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "gui/parafile.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

using com232::sync;

namespace {

// The teach answer has a fixed limit of its own, apart from TIMEOUT.
constexpr double TEACH_TIMEOUT = 1.5;

void chooseTarget(int newTarget) {
    target = newTarget;
    SetCtrlVal(pHandle, RBTRam, newTarget == RAM ? 1 : 0);
    SetCtrlVal(pHandle, RBTEeprom, newTarget == EEPROM ? 1 : 0);
    SetCtrlVal(pHandle, RBTFile, newTarget == DATFILE ? 1 : 0);
}

// A radio button switched on takes the target; switched off, the target falls back to RAM.
void onTargetButton(int control, int buttonTarget) {
    int on = 0;
    GetCtrlVal(pHandle, control, &on);
    if (on) {
        chooseTarget(buttonTarget);
    } else {
        target = RAM;
        SetCtrlVal(pHandle, RBTRam, 1);
    }
}

// Waits for an answer frame, looking at the flag before the clock in each pass, until the limit
// is reached; true when the flag was seen in time.
bool waitFlagFirst(double limit) {
    tstart = Timer();
    for (;;) {
        if (rx_flag == 1)
            return true;
        ProcessSystemEvents();
        tdiff = Timer() - tstart;
        if (tdiff >= limit)
            return false;
    }
}

} // namespace

bool PushGET(int source) {
    bool taken = source == DATFILE;
    if (source != DATFILE) {
        CopyVarsToPP();
        if (SendREQUEST(source == EEPROM ? 4 : 2, pp) == FRAME_BYTES)
            showStatusText(kvex::tr("Waiting for parameter-frame ..."));
        tstart = Timer();
        for (;;) {
            ProcessSystemEvents();
            if (rx_flag == 1) {
                if (const char *fault = answerFrameFault(static_cast<unsigned short>(order))) {
                    setStatus(fault);
                } else {
                    GetRxBuf(PNUM);
                    CopyPPtoVars();
                    noteParameterGet(source);
                    setStatus(kvex::tr("Parameter-frame received! - Line Ok!"));
                    taken = true;
                }
                break;
            }
            tdiff = Timer() - tstart;
            if (tdiff > TIMEOUT) {
                setStatus(kvex::tr("Timeout-RS-232..."));
                break;
            }
        }
    }
    SetPanelValues();
    showStatus();
    return taken;
}

int CC_BTNGet(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT || exchangeDepth > 0)
        return 0;
    const ExchangeScope exchange;
    if (target == DATFILE) {
        // A file that cannot be used leaves the set and the panel as they were.
        if (ReadParaFromFile() >= 0)
            PushGET(DATFILE);
    } else {
        PushGET(target);
    }
    return 0;
}

int CC_BTNSend(int, int, int event, void *, int, int) {
    if (event != EVENT_LEFT_CLICK || exchangeDepth > 0)
        return 0;
    const ExchangeScope exchange;
    showStatusText(kvex::tr("Transmit..."));
    if (target == DATFILE) {
        const int chosen = FileSelectPopup(proj_dir, "KVEXpara.dat", "*.dat",
                                           kvex::tr("K-VEX-RTN-Series Parameter File"),
                                           VAL_OK_BUTTON, 0, 1, 1, 1, file_name);
        if (chosen > 0)
            SendParaToFile();
        else if (chosen < 0)
            reportParameterFileError(chosen, "");
        return 0;
    }
    sendPanelSet();
    return 0;
}

SendResult sendPanelSet() {
    // A permanent write shows what it changes and asks first; RAM sends stay one click.
    if (target == EEPROM) {
        const EepromSendAnswer answer = confirmEepromSend();
        if (answer != EEPROM_WRITE)
            return answer == EEPROM_UNCHANGED ? SEND_UNCHANGED : SEND_CANCELLED;
    }
    sync = 0x55;
    order = target == EEPROM ? 3 : 1;
    GetPanelValues();
    CopyVarsToPP();
    FillTxBuf(static_cast<unsigned short>(order), pp);
    nBytesW = ComWrt(com, szWriteBuf, FRAME_BYTES);
    if (nBytesW != FRAME_BYTES)
        return SEND_WRITE_FAILED;
    showStatusText(kvex::tr("Line Ok!"));
    return SEND_WRITTEN;
}

int CC_RBTRam(int, int, int event, void *, int, int) {
    if (event == EVENT_VAL_CHANGED)
        onTargetButton(RBTRam, RAM);
    return 0;
}

int CC_RBTEeprom(int, int, int event, void *, int, int) {
    if (event == EVENT_VAL_CHANGED)
        onTargetButton(RBTEeprom, EEPROM);
    return 0;
}

int CC_RBTFile(int, int, int event, void *, int, int) {
    if (event == EVENT_VAL_CHANGED)
        onTargetButton(RBTFile, DATFILE);
    return 0;
}

int CC_ButtonTeach(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT || exchangeDepth > 0)
        return 0;
    const ExchangeScope exchange;
    SendREQUEST(6, pp);
    showStatusText(kvex::tr("New setpoint value teached!"));
    // Only an answer that is the teach answer means the sensor took a new set-point; until then
    // the set-point display keeps the old one.
    if (!waitFlagFirst(TEACH_TIMEOUT)) {
        setStatus(kvex::tr("Timeout RS232-Line!"));
    } else if (const char *fault = answerFrameFault(6)) {
        setStatus(fault);
    } else {
        PushGET(RAM);
        return 0;
    }
    showStatus();
    return 0;
}

int CC_ButtonReset(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT || exchangeDepth > 0)
        return 0;
    const ExchangeScope exchange;
    SendREQUEST(11, pp);
    showStatusText(kvex::tr("Reset Max/Min values..."));
    waitFlagFirst(TIMEOUT);
    // Whether the sensor answered decides, not the last reading of the clock.
    if (rx_flag != 1) {
        setStatus(kvex::tr("Timeout-RS-232..."));
    } else if (const char *fault = answerFrameFault(11)) {
        setStatus(fault);
    } else {
        setStatus(kvex::tr("Reset of analog-output Max/Min OK!"));
    }
    showStatus();
    return 0;
}

int CC_NEDITTolerance(int, int, int event, void *, int, int) {
    if (event == EVENT_VAL_CHANGED) {
        unsigned short value = 0;
        GetCtrlVal(pHandle, NEDITTolerance, &value);
        SetCtrlVal(pHandle, NUMTolerance, value);
    }
    return 0;
}

int CC_TOGGBTN_ParaII(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        int shown = 0;
        GetCtrlVal(pHandle, TOGGBTN_ParaII, &shown);
        if (shown)
            DisplayPanel(pPopup);
        else
            HidePanel(pPopup);
    }
    return 0;
}
