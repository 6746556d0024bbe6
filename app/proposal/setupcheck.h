// Putting a set-up proposal to the test, one way for the panel and `kvex-rtn-cli propose`: into
// RAM, measured for a few seconds, and only after that offered for the EEPROM.
#pragma once

#include "com232/rs232link.h"
#include "com232/videodata.h"

#include <functional>
#include <string>

// The words a proposal sets.
constexpr int PROPOSAL_THRESHOLD_WORD = 2, PROPOSAL_BEGIN_WORD = 6, PROPOSAL_END_WORD = 7;
// Run-mode cycles the check measures: about three seconds at the wire's rate.
constexpr long PROPOSAL_CHECK_CYCLES = 80;

// What measuring under the proposed words showed.
struct ProposalCheck {
    long cycles = 0, withEdges = 0;
    int leftSpread = 0, rightSpread = 0; // in the sensor's positions
    SignalReserve reserve;
    // Both edges in every cycle and a reserve at or above the warning level.
    bool passed() const;
};

enum SetupWrite { SETUP_WRITTEN, SETUP_CANCELLED, SETUP_FAILED };

// The proposal for the video line in adcbuf and the current window, within the panel's limits
// for the threshold.
SetupProposal ProposeFROMVideoLine();
// `current` with the proposal's threshold and window in their words.
void ProposalWORDS(const unsigned short current[PNUM], const SetupProposal &p,
                   unsigned short out[PNUM]);
// The sensor's RAM set, read into pp and the variables; false without an answer.
bool ReadRAMWords();
// Writes `words` to `memory` through the SEND button's path (the EEPROM after its confirmation)
// and reads them back: SETUP_FAILED when the sensor does not hold them afterwards.
SetupWrite WriteSETUPWords(const unsigned short words[PNUM], int memory);
// One live loop through its panel button until `enough` says so; false when the loop ended
// first (Stop, or the sensor stopped answering).
bool RunLIVELoop(bool video, const std::function<bool()> &enough);
// Measures PROPOSAL_CHECK_CYCLES run-mode cycles under the sensor's present words, then reads one
// video line for the reserve.
ProposalCheck CheckSETUPProposal();
// A proposal's figure as text in `format`, or `missing` where it is not a number (no edge, no
// contrast).
std::string ProposalNUMBER(double value, const char *format, const char *missing);
