// Control of the fuzz-only serial and timing fakes: what the sensor sends, the virtual clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kvexfuzz {

// A piece of the sensor's answer stream: bytes that arrive together, or a quiet spell of the
// line before the next piece. The bytes are the caller's, not copied.
struct Arrival {
    const std::uint8_t *bytes = nullptr;
    std::size_t size = 0;
    double quietSeconds = 0.0;
};

// Port closed, queue empty, no callback, no arrivals, clock unchanged.
void resetLink();
// The pieces the line delivers from now on, one per event pump (or queue poll, or wait inside
// ComRd), the earliest first; together: all their bytes as one piece, without the quiet spells.
// They and their bytes must stay until resetLink or the next call.
void setArrivals(const Arrival *arrivals, std::size_t count, bool together);
// Virtual seconds; Timer() reads this clock and moves it on a little.
double virtualNow();
// Starts the watch on one exchange: any clock reading more than limitSeconds after this aborts
// the process, so a wait loop that never ends is reported at once rather than as a slow input.
void startWatch(double limitSeconds);
void stopWatch();
// Receive callbacks run so far since resetLink().
int callbacksDelivered();
// Called at the end of every ProcessSystemEvents, as the operator's clicks would be.
void setPumpHook(std::function<void()> hook);

} // namespace kvexfuzz
