// The sensor writes every face of the gateway offers (the web API, Sparkplug DCMD): the words
// checked against the panel's limits table, then the exchange with the sensor and what the audit
// says of it. One path, so a write means the same whichever face asked for it.
#pragma once

#include "app/parameterwords.h"
#include "gateway/core/state.h"
#include "gateway/core/wordvalue.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct CheckedWrite {
    bool eeprom = false;
    std::vector<std::pair<int, uint16_t>> words;
    // "parameter words to RAM: t_val=100, t_tol=5", for the audit.
    std::string what;
    // Why checkWordWrite refused it, as plain text; empty when it did not.
    std::string refusal;
    // The word outside its range (-1: a name no word has), its value and its range.
    int badWord = -1;
    std::string badName;
    long long badValue = 0;
    ParameterLimit badLimit{};
};

// The words' names and values against the limits table for `positions` (-1: not known yet).
// False, with the refusal in `write`, when any value would change nothing or something else
// than asked.
bool checkWordWrite(const std::vector<WordValue> &values, bool eeprom, int positions,
                    CheckedWrite *write);

// What the sensor made of a write, a teach or a reset.
struct WriteOutcome {
    enum class Kind { Words, Teach, Reset } kind = Kind::Words;
    bool eeprom = false;
    bool answered = false; // false: the sensor did not answer (`failure` says where)
    bool verified = false; // words: the read-back equals what was sent
    std::string failure;   // "the sensor did not answer the read-back", for a client
    std::string result;    // the audit's result text
    bool ramChanged = false;
    ParameterSet words{}; // words: the read-back; teach: the RAM words after it
};

// On the polling thread, between two run cycles.
WriteOutcome runWordWrite(const CheckedWrite &write);
WriteOutcome runTeach();
WriteOutcome runResetMaxMin();

// The name of a parameter word as the JSON keys give it, or -1.
int wordIndexOf(const std::string &name);
