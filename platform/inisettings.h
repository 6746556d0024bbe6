// Key/value settings from an INI file.
#pragma once

#include <map>
#include <string>

// The file's keys (a key in a section reads as "section/key"); false with a reason when the file
// cannot be read or is not an INI file.
bool readIniFile(const std::string &path, std::map<std::string, std::string> *values,
                 std::string *error);
