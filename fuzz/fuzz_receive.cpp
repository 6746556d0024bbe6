// libFuzzer target: whatever the line delivers while the program waits for each kind of answer.

// Input: one byte picks the exchange (low 3 bits) and its set-up (board type in bits 3-4; video
// block start in bits 5-7, or for the live modes video mode over run mode in bit 5); the rest is a
// sequence of pieces, each a length byte L then L bytes that arrive together (L up to 192), or for
// L above 192 a quiet line for (L - 192) x 50 ms. Every input runs with its bytes delivered whole
// in one piece, then, where that differs, in its pieces.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "com232/videodata.h"
#include "fuzz/fake_platform.h"
#include "platform/rs232.h"
#include "platform/userint.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

enum Exchange {
    kLineCheck,
    kHardwareQuery,
    kFirmwareQuery,
    kParameterRead,
    kVideo64,
    kVideo256,
    kLiveMode,
    kConnect,
};

// Every exchange ends well within this: the longest, the connection sequence, waits at most
// 1.5 + 1.5 + 1.5 + 2.0 s plus three 0.1 s pauses.
constexpr double kExchangeLimitSeconds = 10.0;
// The live modes get a Stop click after this many answers. A run pass waits at most 1.5 s, a video
// pass 1.5 s for its answer and 1.5 s for each of up to four blocks.
constexpr int kRunPasses = 4;
constexpr int kVideoPasses = 1;
constexpr std::uint8_t kLongestPiece = 192;
constexpr double kQuietStepSeconds = 0.05;

const unsigned short boardTypes[4] = {0, 100, 400, 0};
// The starts the video loop uses, and some it never uses, which ReadData64 must clamp.
const int videoStarts[8] = {0, 64, 128, 192, -1, 193, 255, 100000};

// 0: no Stop click.
int stopAfterAnswers = 0;
// One click stops a live mode; more would only cost time at every pass that follows.
bool stopClicked = false;

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "kvex fuzz: invariant violated: %s\n", what);
    std::abort();
}

void checkTexts() {
    if (!std::memchr(szStatus, '\0', sizeof szStatus))
        fail("szStatus is not terminated within its size");
    if (!std::memchr(szVersion, '\0', sizeof szVersion))
        fail("szVersion is not terminated within its size");
}

// Runs at every pass of the event pump, where the operator's clicks would arrive.
void onPump() {
    checkTexts();
    if (stopAfterAnswers > 0 && !stopClicked &&
        kvexfuzz::callbacksDelivered() >= stopAfterAnswers) {
        stopClicked = true;
        CC_BTNStop(pHandle, 0, EVENT_LEFT_CLICK, nullptr, 0, 0);
    }
}

// The input's pieces, pointing into it: kept from input to input, so only an input with more
// pieces than any before allocates.
std::vector<kvexfuzz::Arrival> pieces;

void splitPieces(const std::uint8_t *data, std::size_t size) {
    pieces.clear();
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t length = data[i++];
        kvexfuzz::Arrival piece;
        if (length > kLongestPiece) {
            piece.quietSeconds = (length - kLongestPiece) * kQuietStepSeconds;
        } else {
            piece.bytes = data + i;
            piece.size = std::min<std::size_t>(length, size - i);
            i += piece.size;
        }
        pieces.push_back(piece);
    }
}

// Whether the pieces bring the bytes otherwise than the whole pass: in two pieces or more, or
// after a quiet spell or an empty piece. Else the piecewise pass would repeat the whole one.
bool piecewiseDiffers() {
    std::size_t withBytes = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i)
        if (pieces[i].size > 0 && withBytes++ == 0)
            first = i;
    return withBytes > 1 || (withBytes == 1 && first > 0);
}

// The program as start-up leaves it, and for all but the connection sequence the port as a
// successful InitRS232 leaves it; the video blocks are read with the receive callback disarmed,
// as the video loop does.
void prepare(int exchange, std::uint8_t setup) {
    kvexfuzz::resetLink();
    stopAfterAnswers = 0;
    stopClicked = false;
    InitVars();
    std::memset(szReadBuf, 0, sizeof szReadBuf);
    std::memset(szWriteBuf, 0, sizeof szWriteBuf);
    pcbtype = boardTypes[(setup >> 3) & 3];
    if (exchange == kConnect)
        return;
    if (OpenComConfig(com, "", 19200, 0, 8, 1, 4096, 4096) != 0)
        fail("the fake port does not open");
    SetComTime(com, 2.0);
    if (exchange == kVideo64 || exchange == kVideo256)
        InstallComCallback(com, 0, FRAME_BYTES, com232::sync, nullptr, nullptr);
    else
        InstallComCallback(com, eventMask, FRAME_BYTES, com232::sync, RX_Receive_Function, nullptr);
}

// whole: the input's bytes arrive in one piece, else in its pieces.
void runExchange(std::uint8_t setup, bool whole) {
    const int exchange = setup & 7;
    prepare(exchange, setup);
    kvexfuzz::setArrivals(pieces.data(), pieces.size(), whole);
    const double start = kvexfuzz::virtualNow();
    kvexfuzz::startWatch(kExchangeLimitSeconds);
    switch (exchange) {
    case kLineCheck: {
        const int result = CheckComLine(com);
        if (result != 0 && result != 1)
            fail("CheckComLine gave neither 0 nor 1");
        if (result == 1 && readBufWord(0) != ANSWER_SYNC)
            fail("the line check passed without the answer sync word");
        break;
    }
    case kHardwareQuery: {
        const int result = GetHARDWAREInfo();
        if (result != 0 && result != 1)
            fail("GetHARDWAREInfo gave neither 0 nor 1");
        if (result == 1 && readBufWord(1) != 10)
            fail("a hardware answer was taken from a frame of another command");
        break;
    }
    case kFirmwareQuery:
        if (GetVERSIONInfo() < 0)
            fail("GetVERSIONInfo gave a negative count on an open port");
        break;
    case kParameterRead:
        PushGET(RAM);
        break;
    case kVideo64:
        ReadData64(videoStarts[setup >> 5], setup & 1);
        break;
    case kVideo256:
        ReadData256();
        break;
    case kLiveMode:
        if (setup & 0x20) {
            stopAfterAnswers = kVideoPasses;
            CC_BTNVideo(pHandle, BTNLock23, EVENT_COMMIT, nullptr, 0, 0);
        } else {
            stopAfterAnswers = kRunPasses;
            CC_BTNRun(pHandle, BTNLock21, EVENT_COMMIT, nullptr, 0, 0);
        }
        if (stop_flag != 1)
            fail("a live mode ended without setting stop_flag");
        break;
    case kConnect:
        InitRS232(com);
        break;
    default:
        break;
    }
    kvexfuzz::stopWatch();
    if (kvexfuzz::virtualNow() - start > kExchangeLimitSeconds)
        fail("an exchange ran past its virtual time bound");
    if (exchangeDepth != 0)
        fail("exchangeDepth not back to 0 after the exchange");
    if (rx_flag != 0 && rx_flag != 1)
        fail("rx_flag is neither 0 nor 1");
    checkTexts();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    kvexfuzz::setPumpHook(onPump);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::uint8_t setup = data[0];
    splitPieces(data + 1, size - 1);
    runExchange(setup, true);
    if (piecewiseDiffers())
        runExchange(setup, false);
    // The line must not point into the input once it is gone.
    kvexfuzz::resetLink();
    return 0;
}
