// One log line, translated, written and flushed at once so the journal keeps the order.
#include "gateway/core/logging.h"
#include "platform/tr.h"

#include <cstdarg>
#include <cstdio>

void logEvent(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, kvex::trNow(format), args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
