// The 16 parameter words' names, the ranges the panel keeps them in and what it shows instead of
// a word outside them: one table for the panel and for the command line's check of a parameter
// file.
#pragma once

#include <string>
#include <vector>

struct ParameterFile;

// The name of parameter word 0 to 15 as the panel labels it.
const char *parameterWordName(int word);

struct ParameterLimit {
    unsigned min;
    unsigned max;
};

// The range of parameter word 0 to 15. The evaluation window's words end at the sensor's position
// count; positions below 0 means not known yet, and their end is then 65535.
ParameterLimit parameterLimit(int word, int positions);
// value as the panel shows it: unchanged inside the range, otherwise the panel's replacement.
unsigned short panelCorrected(int word, unsigned short value, int positions);
// Empty when the panel shows value unchanged; otherwise "Power (word 0) is 1200, allowed 0 to
// 1000".
std::string parameterRangeProblem(int word, unsigned value, int positions);
// The file's words the panel would not show as written, one text each with its line: numbers
// below 0 or above 65535 named as such, and words outside the panel's limits.
std::vector<std::string> parameterFileProblems(const ParameterFile &file, int positions);
