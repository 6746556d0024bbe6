// The gateway's log: one line on stderr (the journal under systemd), in the operator's language.
#pragma once

// `format` is a printf format marked with kvex::tr where it is written; it is translated here.
void logEvent(const char *format, ...);
