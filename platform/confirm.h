// A yes/no question to the operator before something that cannot be undone.
#pragma once

#include <functional>
#include <string>

// 1 when the operator answers yes, 0 for no or when the window is closed. Texts are Latin-1, like
// every text of the program.
int ConfirmPopup(const char *title, const char *message, const char *yesLabel);

namespace kvexplatform {
// Answers ConfirmPopup without a window (tests, the benchmark); an empty function restores it.
using ConfirmHook = std::function<int(const std::string &title, const std::string &message)>;
void setConfirmHook(ConfirmHook hook);
} // namespace kvexplatform
