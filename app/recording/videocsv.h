// The CSV form of a video line, shared by the command line's video --csv and the recorder's
// video file: the 16-bit samples as decimal integers, the threshold last.
#pragma once

#include <string>

// The threshold came last, after files without it were out: reading a column by its position
// works in both.
std::string videoCsvHeader();
// The line in adcbuf with the measurement variables and the threshold drawn with it, stamped
// with the current time; with its line end.
std::string videoCsvLine();
// "# signal_reserve=0.600 reserve_state=ok contrast=0.778 saturated=false ..." for the line in
// adcbuf, with its line end: the comment above a video file's header, and the same figures as
// JSON keys for video --json (`json` true: ,"signal_reserve":0.600,... without braces).
std::string videoReserveComment();
std::string videoReserveJsonKeys();
