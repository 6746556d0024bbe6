// The operator's language, German or English: from --lang, the panel program's stored choice or
// the system locale; and numbers in files that stay the same in every locale.
#pragma once

#include <string>

namespace kvexplatform {

// The value of --lang VALUE or --lang=VALUE in argv ("de" or "en"), or "" when not given. False
// when the value is neither; value then holds what was given.
bool languageOption(int argc, char **argv, std::string &value);

// Installs the program's catalogue and Qt's own for language: "de", "en", or "" for the stored
// choice (when useStoredChoice) and then the system locale (LC_ALL, LC_MESSAGES, LANG). Anything
// but German is English, and so is German whose catalogue is missing. Returns "de" or "en".
// Needs the application object.
std::string useLanguage(const std::string &language, bool useStoredChoice);
// The language in use, "de" or "en".
std::string currentLanguage();

// The decimal separator of the numbers the operator reads on the panel and in the report: ','
// in German, '.' in English; never a thousands separator. Files always take '.'.
char shownDecimalSeparator();

// The panel program's choice for its next start: "" follows the system, "de" or "en".
std::string storedLanguage();
void storeLanguage(const std::string &language);

// Keeps the C library's numbers (printf, strtod) in the C locale whatever the system's locale
// is: the application object switches them to the system's, and files and output must read the
// same everywhere.
void keepNumbersPortable();

} // namespace kvexplatform
