// The measurements' history as the store's file keeps it, for HistoryRead: read on a connection
// of the reader's own, which WAL lets read beside the store's writer, so it survives a restart of
// the gateway.
#pragma once

#include "gateway/core/state.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The samples kept for HistoryRead, in the store's file and in memory: about an hour at the
// wire's rate.
constexpr std::size_t kHistoryKept = 100000;

// Where a read goes on: the time and seq of the next sample to give.
struct HistoryCursor {
    int64_t timeMs = INT64_MIN;
    uint32_t seq = 0;
};
// Whether a sample lies at or after the cursor.
inline bool atOrAfter(const GatewaySample &s, const HistoryCursor &c) {
    return s.timeMs > c.timeMs || (s.timeMs == c.timeMs && s.seq >= c.seq);
}

// Up to `count` samples of the store's file at `path` whose time lies in [fromMs, toMs], oldest
// first from `after` on, or the newest first (`after` unused); false when the file cannot be
// read (not there yet, or failing). The connection lasts one read, so it never holds up the
// store's own change of journal at a stop, nor keeps a file the store has moved aside.
bool readStoredHistory(const std::string &path, int64_t fromMs, int64_t toMs, HistoryCursor after,
                       std::size_t count, bool newestFirst, std::vector<GatewaySample> *out);
