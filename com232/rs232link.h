// The serial link to the sensor: port set-up, the 36-byte frames, the receive callback and the
// line check.
#pragma once

#include <string>

// Data words per frame.
constexpr int PNUM = 16;
// Bytes of a request or answer frame: sync word, command word and PNUM data words.
constexpr int FRAME_BYTES = 4 + 2 * PNUM;
// Answer time limit in seconds.
constexpr double TIMEOUT = 1.5;
constexpr int BUFFER_SIZE = 1024;
// The sync word every answer frame of the sensor starts with.
constexpr unsigned short ANSWER_SYNC = 0x00AA;
// 72 characters and the terminator: a full raw firmware text fits.
constexpr int STATUS_SIZE = 73;

extern int com;
extern int ret;
// In a namespace of its own: POSIX declares a function sync() in the global namespace. Files
// that include no system header bring it in with `using com232::sync;`.
namespace com232 {
extern int sync;
}
extern int eventMask;
extern int order;
extern char szWriteBuf[BUFFER_SIZE];
extern char szReadBuf[BUFFER_SIZE];
extern int nBytesW;
extern int nBytesR;
extern int rx_flag;
extern int graphrefresh;
extern unsigned short pp[PNUM];
extern double tstart;
extern double tdiff;
extern char szStatus[STATUS_SIZE];
// Bytes the receive callback took as the last answer frame, and whether bytes followed it.
extern int rxFrameBytes;
extern bool rxSurplus;

// Nonzero while an exchange with the sensor waits for its answer (the connection sequence,
// GET, teach, reset, or a run or video loop). Commands that would start another exchange do
// nothing meanwhile, so no request takes another request's answer as its own.
extern int exchangeDepth;
struct ExchangeScope {
    ExchangeScope() { ++exchangeDepth; }
    ~ExchangeScope() { --exchangeDepth; }
    ExchangeScope(const ExchangeScope &) = delete;
    ExchangeScope &operator=(const ExchangeScope &) = delete;
};

// What the connection sequence came to.
enum LinkOutcome { LINK_OK = 0, LINK_NO_PORT = -1, LINK_NO_ANSWER = -2, LINK_BAD_ANSWER = -3 };
// Opens the port at the sensor's settings (19 200 8N1, no handshake) with the receive callback
// armed; 0, or the port services' error code.
int openSensorPort(int port);
// Opens the port, checks the line and identifies the sensor; the status line says how it went.
int InitRS232(int port);
void RX_Receive_Function(int port, int events, void *data);
void FillTxBuf(unsigned short command, const unsigned short *words);
// Sends the request `command` with the data words `words` (pp, mostly) to port com: both queues
// flushed first and rx_flag cleared, so the next frame the receive callback takes is its answer;
// order set and tstart taken just before the write. The bytes the port took, also in nBytesW.
int SendREQUEST(unsigned short command, const unsigned short *words);
// The run-mode request (command 8) with the parameter set packed into pp, so it carries the
// set-point the sensor last reported; run mode and the gateway's poll send it.
int SendRUNRequest();
// Whether the frame the receive callback took answers `command`: the answer sync word, then the
// command code. Its length and what followed it are answerFrameFault's to judge.
bool isAnswerTo(unsigned short command);
void GetRxBuf(int count);
int CheckComLine(int port);
// Waits for an answer frame, looking at the clock before the flag in each pass; true when the
// limit passed (an answer may still have come in that last pass).
bool waitTimeFirst(double limit);
// Why the answer frame the receive callback took cannot be the answer to `command`, as a status
// text, or nullptr when it can. Waits a little for bytes beyond the frame first: they make it
// a longer answer than the request asked for.
const char *answerFrameFault(unsigned short command);

// The status text for an error code of the port services.
const char *comErrorText(int code);
// The status text for a port that did not open: the error code's text, and for a port that
// cannot be opened why and what fixes it.
std::string openFailureText(int code);
// Copies text into szStatus, cut to fit.
void setStatus(const char *text);
// Shows szStatus on the status line.
void showStatus();
// Shows a text on the status line without keeping it in szStatus.
void showStatusText(const char *text);
// Word `index` of the receive buffer, high byte first.
unsigned short readBufWord(int index);
