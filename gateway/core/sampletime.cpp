// Sample times as milliseconds and as ISO-8601 text, with no time zone involved either way.
#include "gateway/core/sampletime.h"
#include "app/measurement.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

// Days since 1970-01-01 of a civil date (Howard Hinnant's algorithm): timegm is not on every
// platform, and the local zone must never enter.
long long daysOfCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<long long>(era) * 146097 + doe - 719468;
}

} // namespace

int64_t epochMsNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string isoTimeOfMs(int64_t ms) {
    // Samples are taken after 1970: the division rounds no negative time the wrong way.
    const std::tm utc = utcCalendar(static_cast<std::time_t>(ms / 1000));
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

int64_t msOfIsoTime(const char *iso) {
    int y = 0, ms = 0;
    unsigned mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (std::sscanf(iso, "%4d-%2u-%2uT%2u:%2u:%2u.%3dZ", &y, &mo, &d, &h, &mi, &s, &ms) != 7)
        return 0;
    const long long seconds = daysOfCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
    return seconds < 0 ? 0 : seconds * 1000 + ms;
}
