// libFuzzer target: the body of a parameter write from the web, parsed by the gateway's own
// strict parser; what it accepts must read back the same when written out again.
#include "gateway/faces/web/webbody.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

void check(bool condition, const char *what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_web_body: %s\n", what);
        std::abort();
    }
}

std::string quoted(const std::string &text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string body(reinterpret_cast<const char *>(data), size);
    std::vector<WordValue> words;
    std::string error;
    const bool accepted = parseWordObject(body, &words, &error);
    if (!accepted) {
        check(!error.empty(), "refused without a reason");
        return 0;
    }
    check(error.empty(), "accepted with a reason");
    check(!words.empty(), "accepted an object without words");
    std::set<std::string> names;
    std::string again = "{";
    for (const WordValue &w : words) {
        check(names.insert(w.name).second, "a name twice");
        check(w.value >= -(1LL << 53) && w.value <= (1LL << 53), "a number beyond 2^53");
        again += (again.size() > 1 ? "," : "") + quoted(w.name) + ":" + std::to_string(w.value);
    }
    std::vector<WordValue> reread;
    check(parseWordObject(again + "}", &reread, &error), "its own output refused");
    check(reread.size() == words.size(), "a different count read back");
    for (std::size_t i = 0; i < words.size(); ++i)
        check(reread[i].name == words[i].name && reread[i].value == words[i].value,
              "a different word read back");
    return 0;
}
