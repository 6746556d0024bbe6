// A sample's time: milliseconds since 1970 when it is taken, text where a face or a file needs it.
#pragma once

#include <cstdint>
#include <string>

// Now, in milliseconds since 1970 (UTC).
int64_t epochMsNow();
// 2026-12-08T04:35:12.345Z, the form every JSON body and the store's file use (isoTimeNow's of
// app/measurement.h, for a time already taken).
std::string isoTimeOfMs(int64_t ms);
// The same text back to milliseconds; 0 when it is not in that form.
int64_t msOfIsoTime(const char *iso);
