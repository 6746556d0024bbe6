// The platform libraries' side of translation: program texts to the operator's language.
#pragma once

#include <QString>

#include <string>

namespace kvexplatform {

// The catalogue context of every text the program marks with kvex::tr.
inline constexpr const char *kTextContext = "kvex";

// A program text as the operator reads it: its translation when the catalogue has one, else the
// text itself (UTF-8, or Latin-1 where it is not valid UTF-8, as the panel file's texts are).
QString shownText(const char *text);
// The same as bytes for a text stream: UTF-8 when translated, else the program's bytes unchanged.
std::string shownBytes(const char *text);
// The program's bytes as text: UTF-8 where valid, else Latin-1.
QString programText(const char *text);

} // namespace kvexplatform
