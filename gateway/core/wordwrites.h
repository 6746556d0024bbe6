// The sensor writes every face of the gateway offers (the web API, Sparkplug DCMD): the words
// checked against the panel's limits table, then the exchange with the sensor and what the audit
// says of it. One path, so a write means the same whichever face asked for it.
#pragma once

#include "gateway/faces/web/webbody.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct CheckedWrite {
    bool eeprom = false;
    std::vector<std::pair<int, uint16_t>> words;
    // "parameter words to RAM: t_val=100, t_tol=5", for the audit.
    std::string what;
    // Why checkWordWrite refused it, as plain text.
    std::string refusal;
};

// The words' names and values against the limits table for `positions` (-1: not known yet).
// False with the HTTP status (400 an unknown name, 422 a value outside its range) and the error
// body (payloads.h) when any value would change nothing or something else than asked.
bool checkWordWrite(const std::vector<WordValue> &values, bool eeprom, int positions,
                    CheckedWrite *write, int *status, std::string *body);

// What the sensor made of a write, a teach or a reset.
struct WriteOutcome {
    int status = 0;     // as the web API answers it: 200, 502 (read-back differs), 504
    std::string body;   // the web API's answer (payloads.h)
    std::string result; // the audit's result text
    bool ramChanged = false;
    uint16_t words[16] = {}; // the RAM words after it, when ramChanged
};

// On the polling thread, between two run cycles.
WriteOutcome runWordWrite(const CheckedWrite &write);
WriteOutcome runTeach();
WriteOutcome runResetMaxMin();

// The name of a parameter word as the JSON keys give it, or -1.
int wordIndexOf(const std::string &name);
