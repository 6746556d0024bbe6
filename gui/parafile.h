// The parameter file: the 16 parameter words as decimal text, one per line.
#pragma once

#include "com232/rs232link.h"

#include <string>
#include <string_view>
#include <vector>

// A number of a parameter file that no parameter word can hold.
struct ParameterFileProblem {
    int word;         // 0 to 15
    bool negative;    // otherwise above 65535
    std::string text; // as written
};

// A parameter file as read: the first 16 numbers, and the line each stands on.
struct ParameterFile {
    unsigned short words[PNUM] = {};
    int lines[PNUM] = {};
    // The line of the text that is not a number.
    int badLine = 0;
    std::vector<ParameterFileProblem> problems;
};

// readParameterFile's result when a number lies below 0 or above 65535 (file.problems).
constexpr int PARAMETER_FILE_OUT_OF_RANGE = -1000;

// Reads a parameter file: blank-separated decimal numbers, one per line as SendParaToFile writes
// them. 0 when its first 16 numbers fit in parameter words; otherwise UIE_FILE_OPEN_ERROR,
// UIE_FILE_FORMAT_ERROR, UIE_FILE_TOO_SHORT or PARAMETER_FILE_OUT_OF_RANGE.
int readParameterFile(const char *path, ParameterFile &file);
// The same reading of a parameter file's whole content, already in memory.
int readParameterText(std::string_view text, ParameterFile &file);

// Saves the panel's parameter set to file_name; the status line names the file on failure.
void SendParaToFile();
// Asks for a file and loads it into pp and the parameter variables. 1 when loaded, 0 when the
// dialog was cancelled, below 0 when the file could not be used (the parameter set is then
// unchanged and the status line says why).
int ReadParaFromFile();
// ReadParaFromFile after the file is read, with readParameterFile's result: loads the file into pp
// and the parameter variables (1), or leaves them unchanged and says why on the status line (-1).
int takeParameterFile(int readResult, const ParameterFile &file, const char *path);
// Shows the status text for a failed file operation on the named file; with the file as read, it
// names the line that is wrong.
void reportParameterFileError(int code, const char *path, const ParameterFile *file = nullptr);
