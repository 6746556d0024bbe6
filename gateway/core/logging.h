// The gateway's log: one line on stderr (the journal under systemd), in the operator's language.
#pragma once

#include <string>

// `format` is a printf format marked with kvex::tr where it is written; it is translated here.
// Control characters in the line are written as \xNN, and an overlong line is cut.
void logEvent(const char *format, ...);
// A line as logEvent writes it: control characters as \xNN, at most about 2 000 bytes.
std::string journalSafe(const std::string &line);
