// The user-interface back end without a screen: what it offers beyond platform/userint.h.
#pragma once

#include <functional>

namespace kvexplatform {

// Receives every text the program puts into a control (the status line among them), in the
// operator's language (UTF-8); the control keeps the program's own text.
using TextSink = std::function<void(int panel, int control, const char *text)>;
void setHeadlessTextSink(TextSink sink);

} // namespace kvexplatform
