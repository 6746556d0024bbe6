// A strict parser for the one JSON shape the API accepts: a flat object of whole numbers. It
// reads only what it accepts, so deep nesting or huge numbers cannot make it recurse or overflow.
#include "gateway/faces/web/webbody.h"

#include <cstdint>

namespace {

class Reader {
  public:
    explicit Reader(const std::string &text) : s_(text) {}

    void skipSpace() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            ++i_;
    }
    bool take(char c) {
        skipSpace();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool atEnd() {
        skipSpace();
        return i_ == s_.size();
    }
    // A JSON string; escapes are taken apart, \u only for ASCII (names are ASCII).
    bool string(std::string *out) {
        if (!take('"'))
            return false;
        out->clear();
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (i_ >= s_.size())
                return false;
            const char e = s_[i_++];
            const std::string simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
            const auto at = simple.find(e);
            if (at != std::string::npos) {
                *out += meant[at];
            } else if (e == 'u' && i_ + 4 <= s_.size()) {
                unsigned code = 0;
                for (int k = 0; k < 4; ++k) {
                    const char h = s_[i_++];
                    code = code * 16 + static_cast<unsigned>(h >= '0' && h <= '9'   ? h - '0'
                                                             : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                                             : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                                                    : 99);
                    if (code > 0xFFFF)
                        return false;
                }
                *out += code < 0x80 ? static_cast<char>(code) : '?';
            } else {
                return false;
            }
        }
        return false;
    }
    // 1 for a whole number, 0 for any other JSON value (skipped), -1 for bad JSON.
    int number(long long *value) {
        skipSpace();
        const std::size_t start = i_;
        bool negative = false;
        if (i_ < s_.size() && s_[i_] == '-') {
            negative = true;
            ++i_;
        }
        if (i_ >= s_.size() || s_[i_] < '0' || s_[i_] > '9')
            return i_ == start ? 0 : -1;
        if (s_[i_] == '0' && i_ + 1 < s_.size() && s_[i_ + 1] >= '0' && s_[i_ + 1] <= '9')
            return -1;
        constexpr long long kLargest = 1LL << 53;
        long long v = 0;
        bool tooLarge = false;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
            if (v <= kLargest)
                v = v * 10 + (s_[i_] - '0');
            tooLarge = tooLarge || v > kLargest;
            ++i_;
        }
        bool whole = true;
        if (i_ < s_.size() && s_[i_] == '.') {
            whole = false;
            ++i_;
            if (i_ >= s_.size() || s_[i_] < '0' || s_[i_] > '9')
                return -1;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9')
                ++i_;
        }
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            whole = false;
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-'))
                ++i_;
            if (i_ >= s_.size() || s_[i_] < '0' || s_[i_] > '9')
                return -1;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9')
                ++i_;
        }
        if (!whole || tooLarge)
            return 0;
        *value = negative ? -v : v;
        return 1;
    }
    std::size_t position() const { return i_; }

  private:
    const std::string &s_;
    std::size_t i_ = 0;
};

} // namespace

bool parseWordObject(const std::string &body, std::vector<WordValue> *words, std::string *error) {
    words->clear();
    Reader in(body);
    if (!in.take('{')) {
        *error = "expected a JSON object {\"name\": value, ...}";
        return false;
    }
    if (in.take('}')) {
        *error = "the object names no parameter word";
        return false;
    }
    do {
        WordValue word{};
        if (!in.string(&word.name) || !in.take(':')) {
            *error = "invalid JSON at byte " + std::to_string(in.position());
            return false;
        }
        for (const WordValue &seen : *words)
            if (seen.name == word.name) {
                *error = "\"" + word.name + "\" is given twice";
                return false;
            }
        const int kind = in.number(&word.value);
        if (kind < 0) {
            *error = "invalid JSON at byte " + std::to_string(in.position());
            return false;
        }
        if (kind == 0) {
            *error = "\"" + word.name + "\" must be a whole number";
            return false;
        }
        words->push_back(word);
    } while (in.take(','));
    if (!in.take('}') || !in.atEnd()) {
        *error = "invalid JSON at byte " + std::to_string(in.position());
        return false;
    }
    return true;
}
