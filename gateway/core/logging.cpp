// One log line, translated, written and flushed at once so the journal keeps the order.
#include "gateway/core/logging.h"
#include "platform/tr.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

// A line longer than this is a client's doing, not the gateway's: it is cut.
constexpr std::size_t kLongestLine = 2000;

} // namespace

std::string journalSafe(const std::string &line) {
    std::string out;
    out.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
        if (out.size() >= kLongestLine) {
            out += "...";
            break;
        }
    }
    return out;
}

void logEvent(const char *format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const char *translated = kvex::trNow(format);
    const int length = std::vsnprintf(nullptr, 0, translated, args);
    va_end(args);
    std::vector<char> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size(), translated, again);
    va_end(again);
    // Names and values from the network are in some lines: one line each, whatever they hold.
    std::fputs(journalSafe(text.data()).c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}
