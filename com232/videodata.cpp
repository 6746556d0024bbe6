// Video blocks read straight from the input queue, and two array helpers over doubles.
#include "com232/videodata.h"
#include "app/panelcontrols.h"
#include "com232/rs232link.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "platform/utility.h"

unsigned short adcbuf[256];

namespace {

struct BlockRead {
    unsigned short command;
    int words;
    const char *waiting;
    const char *timeout;
    const char *received;
};

const BlockRead block64 = {9, 64, "Waiting for Data[64] ...",
                           "Timeout-RS-232 while reading 64 data-words!",
                           "Data[64] block received!"};
const BlockRead block256 = {11, 256, "Waiting for Data[256] ...",
                            "Timeout-RS-232 while reading 256 data-words!",
                            "Data[256] block received!"};

void readBlock(const BlockRead &block, int start, const unsigned short *requestWords) {
    const int bytesAwaited = 2 * block.words;
    order = block.command;
    FlushOutQ(com);
    FlushInQ(com);
    FillTxBuf(block.command, requestWords);
    nBytesW = ComWrt(com, szWriteBuf, FRAME_BYTES);
    showStatusText(block.waiting);

    int count = 0;
    tstart = Timer();
    for (;;) {
        ProcessSystemEvents();
        count = GetInQLen(com);
        tdiff = Timer() - tstart;
        if (tdiff > TIMEOUT) {
            setStatus(block.timeout);
            break;
        }
        if (count >= bytesAwaited)
            break;
    }

    // Never more than the receive buffer holds; whatever else waits is stale.
    int toRead = count < 0 ? 0 : count;
    if (toRead > BUFFER_SIZE)
        toRead = BUFFER_SIZE;
    nBytesR = toRead > 0 ? ComRd(com, szReadBuf, toRead) : 0;
    if (count > toRead)
        FlushInQ(com);
    if (nBytesR == bytesAwaited)
        setStatus(block.received);
    for (int k = 0; k < block.words && start + k < 256; ++k)
        adcbuf[start + k] = readBufWord(k);
    showStatus();
}

} // namespace

int ReadData64(int start, int last) {
    if (start < 0 || start > 256 - 64)
        start = start < 0 ? 0 : 256 - 64;
    unsigned short words[PNUM] = {static_cast<unsigned short>(start),
                                  static_cast<unsigned short>(last)};
    readBlock(block64, start, words);
    return 1;
}

int ReadData256() {
    const unsigned short words[PNUM] = {};
    readBlock(block256, 0, words);
    return 1;
}

int Copy1D(const double *in, int n, double *out) {
    if (n < 1)
        return -20003;
    for (int i = 0; i < n; ++i)
        out[i] = in[i];
    return 0;
}

int Shift(const double *in, int n, int shifts, double *out) {
    if (n < 1)
        return -20003;
    if (shifts >= n || -shifts >= n)
        return -20102;
    if (shifts == 0)
        return Copy1D(in, n, out);
    if (shifts > 0) {
        for (int i = n - 1; i >= shifts; --i)
            out[i] = in[i - shifts];
        for (int i = 0; i < shifts; ++i)
            out[i] = 0.0;
    } else {
        const int s = -shifts;
        for (int i = 0; i <= n - s - 1; ++i)
            out[i] = in[i + s];
        for (int i = n - s; i < n; ++i)
            out[i] = 0.0;
    }
    return 0;
}
