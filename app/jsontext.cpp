// JSON string quoting and the parameter words' keys.
#include "app/jsontext.h"

#include <cstdio>

namespace {

const char *const kParameterKeys[16] = {
    "power", "p_mode", "v_thd",   "ana_mode",   "polarity", "e_mode", "e_beg",   "e_end",
    "t_val", "t_tol",  "op_mode", "e_hardware", "para12",   "para13", "average", "para15"};

} // namespace

const char *parameterJsonKey(int word) {
    return word >= 0 && word < 16 ? kParameterKeys[word] : "";
}

std::string parametersJson(const unsigned short words[16]) {
    std::string out = "{";
    for (int i = 0; i < 16; ++i)
        out +=
            (i ? ",\"" : "\"") + std::string(kParameterKeys[i]) + "\":" + std::to_string(words[i]);
    return out + "}";
}

std::string jsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c >= 0x80) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
