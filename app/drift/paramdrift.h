// Drift of the sensor's parameter set: its RAM against its EEPROM (changes not saved), and both
// against an approved set kept in a parameter file. One comparison for `kvex-rtn-cli diff` and
// the gateway's check.
#pragma once

#include "com232/rs232link.h"

#include <string>
#include <vector>

enum DriftCompare { DRIFT_RAM_EEPROM, DRIFT_EEPROM_GOLDEN, DRIFT_RAM_GOLDEN, DRIFT_COMPARES };

// A word that differs in at least one comparison, with its three values.
struct DriftWord {
    int word = 0;
    unsigned short approved = 0, eeprom = 0, ram = 0;
};

struct ParameterDrift {
    bool haveGolden = false;
    int differing[DRIFT_COMPARES] = {}; // words that differ, per comparison
    std::vector<DriftWord> words;       // in word order
    bool any() const;
};

// "ram_eeprom", "eeprom_golden", "ram_golden": the comparison's key in metrics and JSON.
const char *driftCompareKey(DriftCompare compare);
// golden may be null: only RAM against EEPROM is compared then.
ParameterDrift CompareDRIFT(const unsigned short ram[PNUM], const unsigned short eeprom[PNUM],
                            const unsigned short *golden);
// {"golden":true,"ram_eeprom":1,"eeprom_golden":0,"ram_golden":1,"words":[{"word":9,
// "key":"tolerance","name":"Tolerance","approved":100,"eeprom":100,"ram":150}]}; without an
// approved set its counts and "approved" are null.
std::string driftJson(const ParameterDrift &drift);
// One line per word that differs: "Tolerance (word 9): approved 100, EEPROM 100, RAM 150".
std::vector<std::string> driftLines(const ParameterDrift &drift);
// What the drift amounts to, in the words every face uses: "unsaved changes" (RAM against
// EEPROM), "differs from the approved set" (either against it); empty when all agree.
std::vector<std::string> driftSays(const ParameterDrift &drift);

// The approved set from a parameter file, read and checked as a file about to be sent is
// (`positions` below 0: the sensor's window not known yet). Empty when it is fit; otherwise what
// is wrong with it, one line each, naming the file.
std::vector<std::string> ReadAPPROVEDSet(const std::string &path, int positions,
                                         unsigned short words[PNUM]);
