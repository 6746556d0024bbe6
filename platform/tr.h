// Texts the operator reads: marked where the program writes them, translated by platform/.
#pragma once

#include <initializer_list>
#include <string>

namespace kvex {

// Marks an English text for the catalogue and returns it unchanged. lupdate collects every
// kvex::tr("...") under the context "kvex"; platform/ translates the text where it is shown
// (status line, labels, dialogs, report), so the program keeps and compares English texts.
constexpr const char *tr(const char *text) {
    return text;
}

// The text in the operator's language at once (UTF-8), for a text the program formats or builds
// before it is shown: translate the printf format, not its result. Valid for the whole run.
const char *trNow(const char *text);

// trNow with %1, %2, ... %9 replaced by args, so a translation may put them in its own order.
std::string trArgs(const char *text, std::initializer_list<std::string> args);

} // namespace kvex
