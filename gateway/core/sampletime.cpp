// Sample times as milliseconds and as ISO-8601 text, with no time zone involved either way.
#include "gateway/core/sampletime.h"

#include <chrono>
#include <cstdio>

namespace {

// Days since 1970-01-01 of a civil date, and back (Howard Hinnant's algorithms): gmtime and
// timegm are not on every platform, and the local zone must never enter.
long long daysOfCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<long long>(era) * 146097 + doe - 719468;
}

void civilOfDays(long long z, int *y, unsigned *m, unsigned *d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int>(yoe + era * 400) + (*m <= 2 ? 1 : 0);
}

} // namespace

int64_t epochMsNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string isoTimeOfMs(int64_t ms) {
    const long long days = (ms >= 0 ? ms : ms - 86399999) / 86400000;
    const long long inDay = ms - days * 86400000;
    int y = 0;
    unsigned m = 0, d = 0;
    civilOfDays(days, &y, &m, &d);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", y, m, d,
                  inDay / 3600000, inDay / 60000 % 60, inDay / 1000 % 60, inDay % 1000);
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
