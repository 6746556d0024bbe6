// The body of a parameter write: one flat JSON object of whole numbers, parsed strictly.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct WordValue {
    std::string name;
    long long value;
};

// {"name": number, ...}: every value a whole number (in -2^53..2^53), no key twice, at least
// one key. False with the reason for the client otherwise.
bool parseWordObject(const std::string &body, std::vector<WordValue> *words, std::string *error);
