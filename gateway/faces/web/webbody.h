// The body of a parameter write: one flat JSON object of whole numbers, parsed strictly.
#pragma once

#include "gateway/core/wordvalue.h"

#include <string>
#include <vector>

// {"name": number, ...}: every value a whole number (in -2^53..2^53), no key twice, at least
// one key. False with the reason for the client otherwise.
bool parseWordObject(const std::string &body, std::vector<WordValue> *words, std::string *error);
