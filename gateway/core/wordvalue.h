// One word of a write as a client named it, before any check: what every face's parser gives.
#pragma once

#include <string>

struct WordValue {
    std::string name;
    long long value;
};
