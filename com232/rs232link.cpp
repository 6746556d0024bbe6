// Serial link: opening the port, the connection sequence, frame packing and the line check.
#include "com232/rs232link.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/adapterlatency.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/videodata.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <cstdio>
#include <string>

using com232::sync;

int com = 1;
int ret = 0;
namespace com232 {
int sync = 0x55;
}
int eventMask = 0x8006;
int order = 1;
char szWriteBuf[BUFFER_SIZE];
char szReadBuf[BUFFER_SIZE];
int nBytesW = 0;
int nBytesR = 0;
int rx_flag = 0;
int graphrefresh = 0;
unsigned short pp[PNUM];
double tstart = 0.0;
double tdiff = 0.0;
char szStatus[STATUS_SIZE];
int exchangeDepth = 0;
int rxFrameBytes = 0;
bool rxSurplus = false;

namespace {
// Twenty byte times at 19 200 baud: bytes that belong to the same answer come well within it.
constexpr double SURPLUS_WAIT = 0.02;
// The sensor's pause between two steps of the connection sequence.
constexpr double STEP_PAUSE = 0.1;
} // namespace

const char *comErrorText(int code) {
    switch (code) {
    case -1:
        return kvex::tr("Unknown system error");
    case -2:
        return kvex::tr("Invalid port number");
    case -3:
        return kvex::tr("Port is not open");
    case -4:
        return kvex::tr("Unknown I/0 error");
    case -6:
        return kvex::tr("No serial port found");
    case -7:
        return kvex::tr("Cannot open port");
    case -13:
        return kvex::tr("Invalid parameter");
    case -99:
        return kvex::tr("Timeout");
    default:
        return kvex::tr("RS-232 error!");
    }
}

std::string openFailureText(int code) {
    if (code == kComCannotOpenPort && !lastOpenFailure().empty())
        return kvex::trNow(comErrorText(code)) + std::string(": ") + lastOpenFailure();
    return comErrorText(code);
}

void setStatus(const char *text) {
    std::snprintf(szStatus, sizeof szStatus, "%s", text);
}

void showStatus() {
    SetCtrlVal(pHandle, TEXTStatus, szStatus);
}

void showStatusText(const char *text) {
    SetCtrlVal(pHandle, TEXTStatus, text);
}

unsigned short readBufWord(int index) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(szReadBuf);
    return static_cast<unsigned short>(bytes[2 * index] * 256 + bytes[2 * index + 1]);
}

void FillTxBuf(unsigned short command, const unsigned short *words) {
    szWriteBuf[0] = static_cast<char>((sync >> 8) & 0xFF);
    szWriteBuf[1] = static_cast<char>(sync & 0xFF);
    szWriteBuf[2] = static_cast<char>(command >> 8);
    szWriteBuf[3] = static_cast<char>(command & 0xFF);
    for (int i = 0; i < PNUM; ++i) {
        szWriteBuf[4 + 2 * i] = static_cast<char>(words[i] >> 8);
        szWriteBuf[5 + 2 * i] = static_cast<char>(words[i] & 0xFF);
    }
}

int SendREQUEST(unsigned short command, const unsigned short *words) {
    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;
    order = command;
    FillTxBuf(command, words);
    tstart = Timer();
    nBytesW = ComWrt(com, szWriteBuf, FRAME_BYTES);
    return nBytesW;
}

int SendRUNRequest() {
    CopyVarsToPP();
    return SendREQUEST(8, pp);
}

bool isAnswerTo(unsigned short command) {
    return readBufWord(0) == ANSWER_SYNC && readBufWord(1) == command;
}

void GetRxBuf(int count) {
    if (count > PNUM)
        count = PNUM;
    for (int i = 0; i < count; ++i)
        pp[i] = readBufWord(2 + i);
}

void RX_Receive_Function(int, int events, void *) {
    if (!(events & LWRS_RECEIVE))
        return;
    rxFrameBytes = ComRd(com, szReadBuf, FRAME_BYTES);
    rxSurplus = GetInQLen(com) > 0;
    GetRxBuf(PNUM);
    rx_flag = 1;
    graphrefresh = 1;
    // Whatever came beyond the frame is not an answer anyone waits for.
    FlushInQ(com);
}

bool waitTimeFirst(double limit) {
    tstart = Timer();
    for (;;) {
        ProcessSystemEvents();
        tdiff = Timer() - tstart;
        if (tdiff > limit)
            return true;
        if (rx_flag != 0)
            return false;
    }
}

const char *answerFrameFault(unsigned short command) {
    rx_flag = 0;
    const double quietUntil = Timer() + SURPLUS_WAIT;
    while (!rxSurplus && Timer() < quietUntil) {
        ProcessSystemEvents();
        // A second whole frame counts as surplus as well; the first is gone by then anyway.
        rxSurplus = rx_flag != 0 || GetInQLen(com) > 0;
    }
    rx_flag = 1;
    if (readBufWord(0) != ANSWER_SYNC)
        return kvex::tr("Bad parameter-frame: wrong sync word!");
    if (!isAnswerTo(command))
        return kvex::tr("Bad parameter-frame: wrong answer code!");
    if (rxFrameBytes != FRAME_BYTES || rxSurplus)
        return kvex::tr("Bad parameter-frame: wrong length!");
    return nullptr;
}

int CheckComLine(int port) {
    int result = 0;
    CopyVarsToPP();
    order = 5;
    FillTxBuf(5, pp);
    FlushOutQ(port);
    FlushInQ(port);
    rx_flag = 0;
    nBytesW = ComWrt(port, szWriteBuf, FRAME_BYTES);
    if (waitTimeFirst(TIMEOUT))
        setStatus(kvex::tr("Timeout-RS-232..."));
    // An echo that came in the pass that timed out still decides the outcome.
    if (rx_flag == 1) {
        const unsigned short w = readBufWord(0);
        pp[0] = w;
        if (w == ANSWER_SYNC) {
            setStatus(kvex::tr("Echo Check - Line Ok!"));
            result = 1;
        } else {
            setStatus(kvex::tr("read error - not sync byte 0xAA!"));
        }
    }
    showStatus();
    return result;
}

int openSensorPort(int port) {
    const int opened = OpenComConfig(port, "", 19200, 0, 8, 1, 4096, 4096);
    if (opened < 0)
        return opened;
    SetComTime(port, 2.0);
    FlushInQ(port);
    FlushOutQ(port);
    SetCTSMode(port, 0);
    InstallComCallback(port, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
    return 0;
}

// The program's events go on during the sensor's pause, so the gateway's clients are answered
// and the panel redraws.
static void pauseBetweenSteps() {
    const double until = Timer() + STEP_PAUSE;
    while (Timer() < until)
        ProcessSystemEvents();
}

int InitRS232(int port) {
    const ExchangeScope exchange;
    ret = openSensorPort(port);
    showAdapterLatency(port);
    if (ret < 0) {
        setStatus(comErrorText(ret));
        showStatus();
        // The reason and its fix do not fit szStatus; the status line shows them after it.
        showStatusText(openFailureText(ret).c_str());
        return LINK_NO_PORT;
    }
    shortVideoBlocks = 0;
    videoLineHeld = false;
    // The first step that fails decides the outcome; a step with no answer at all is a time-out.
    int outcome = LINK_OK;
    auto fail = [&outcome](bool answered) {
        if (outcome == LINK_OK)
            outcome = answered ? LINK_BAD_ANSWER : LINK_NO_ANSWER;
    };
    ret = CheckComLine(port);
    if (ret == 1) {
        // The first error of the sequence stays on the status line: the texts of the steps after
        // it, the firmware text above all, would hide that the sensor is not answering as it
        // should.
        char firstError[STATUS_SIZE] = "";
        auto keepFirstError = [&firstError](bool failed) {
            if (failed && firstError[0] == '\0')
                std::snprintf(firstError, sizeof firstError, "%s", szStatus);
        };
        pauseBetweenSteps();
        ret = GetHARDWAREInfo();
        if (ret == 0) {
            setStatus(kvex::tr("Error reading HARDWARE-info!"));
            fail(rx_flag == 1);
        }
        keepFirstError(ret == 0);
        pauseBetweenSteps();
        target = RAM;
        if (!PushGET(RAM)) {
            fail(rx_flag == 1);
            keepFirstError(true);
        }
        pauseBetweenSteps();
        ret = GetVERSIONInfo();
        if (ret < 72) {
            setStatus(kvex::tr("Error reading firmware-info!"));
            fail(ret > 0);
        }
        keepFirstError(ret < 72);
        if (firstError[0] != '\0')
            setStatus(firstError);
    } else {
        fail(rx_flag == 1);
    }
    showStatus();
    return outcome;
}
