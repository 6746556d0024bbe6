// Video line transfer in 64- or 256-word blocks, and the array helpers of the strip chart.
#pragma once

#include <string>
#include <vector>

// The last video line that arrived whole; a line with a short block leaves it as it was.
extern unsigned short adcbuf[256];
// Blocks that arrived short since the port was opened, and whether the last line was held.
extern int shortVideoBlocks;
extern bool videoLineHeld;
// Whether adcbuf holds a line taken since the program started.
extern bool videoLineTaken;

// A line is the blocks from start 0 up to the one that reaches word 255; adcbuf takes it when
// its last block came in.
int ReadData64(int start, int last);
int ReadData256();
// One whole line in the blocks the board takes (four of 64 words on boards 0 and 100, else one of
// 256), read straight from the input queue with the frame callback disarmed and armed again after.
void ReadVIDEOLine();
// 0, or -20003 when n < 1.
int Copy1D(const double *in, int n, double *out);
// Moves n values by shifts places (positive: towards higher indices), zero-filling; safe in place.
// 0, or -20003 when n < 1, or -20102 when |shifts| >= n.
int Shift(const double *in, int n, int shifts, double *out);

// The signal reserve of one video line (docs/signal-reserve.md): how far the nearer of its two
// sides stands from the video threshold, as a share of the threshold, under either polarity.
// Polarity 1 (a dark object in a lit line) works on the lit side, above the threshold; polarity 0
// on the shadow side, below it: a line with only the working side has no object in it, and one
// without the working side has lost its edges.
// A side's level is the median of its samples inside the evaluation window, so a few hot or dead
// pixels and the object's place in the window do not move it.
enum class ReserveState {
    Ok,       // both sides in the window: ratio and contrast
    NoObject, // only the working side in the window: ratio, no contrast
    Lost,     // no working side: the ratio is 0 or below, the edges are lost
    NoWindow, // the window holds no sample or the threshold is 0: nothing to say
};
struct SignalReserve {
    ReserveState state = ReserveState::NoWindow;
    double ratio = 0.0;    // 0: the working side has reached the threshold; NaN with NoWindow
    double contrast = 0.0; // (lit - shadow) / (lit + shadow); NaN without both sides
    bool saturated = false;
    double litLevel = 0.0, shadowLevel = 0.0; // NaN where the side is missing
    int samples = 0;                          // samples inside the window
};
// Below this the panel, the page and the gateway's default warn: clean the lens or check the light.
constexpr double RESERVE_WARN = 0.3;
// A side needs this many samples: fewer are taken for hot or dead pixels.
constexpr int RESERVE_MIN_SAMPLES = 3;
// `line` holds 256 samples, sample i at position i * xStep; the window runs from evalBegin to
// evalEnd in positions; a sample at fullScale - 1 or above is at the top of the scale.
SignalReserve GetSIGNALReserve(const unsigned short *line, double xStep, unsigned threshold,
                               unsigned polarity, unsigned evalBegin, unsigned evalEnd,
                               unsigned fullScale);
// The reserve of the line in adcbuf under the current parameter words (vThd, polarity, eBeg,
// eEnd) on the identified sensor's video axis: what the panel, the report and the command line
// show.
SignalReserve GetVIDEOLineReserve();
// A threshold and an evaluation window proposed from one video line, with the margins they
// leave; or, where a proposal would be a guess, the reason there is none.
struct SetupProposal {
    bool proposed = false;
    // "saturated", "low_contrast", "no_edge" or "too_many_edges"; empty when proposed.
    std::string reason;
    unsigned threshold = 0, evalBegin = 0, evalEnd = 0;
    double litLevel = 0.0, shadowLevel = 0.0; // NaN where the side is missing
    double litMargin = 0.0, shadowMargin = 0.0; // counts between each level and the threshold
    double reserve = 0.0, contrast = 0.0;       // as the signal reserve gives them
    std::vector<double> edges;                  // where the line crosses the threshold, positions
};
// Below this contrast the sides are too close for any threshold to hold; below the second the
// line is one level with noise on it, no object.
constexpr double PROPOSAL_MIN_CONTRAST = 0.2;
constexpr double PROPOSAL_FLAT_CONTRAST = 0.05;
// The window's margin beyond each edge, as a share of the line.
constexpr double PROPOSAL_WINDOW_SHARE = 0.1;
// The levels are those of the line inside the current window (the whole line when the window
// holds no object); the threshold lies halfway between them, within thresholdMin..thresholdMax;
// the window holds the edges with windowShare of the line beyond each, never past the line.
SetupProposal ProposeSETUP(const unsigned short *line, double xStep, unsigned evalBegin,
                           unsigned evalEnd, unsigned fullScale, unsigned thresholdMin,
                           unsigned thresholdMax, double windowShare = PROPOSAL_WINDOW_SHARE);
// The operator's words for a reason ProposeSETUP gives, with what to do about it.
const char *proposalAdvice(const std::string &reason);

// "ok", "no_object", "lost", "no_window": the state's key in every JSON body and file.
const char *reserveStateKey(ReserveState state);
// The reserve for the operator: "0.62", "0.18 (no object)", "lost", "-".
std::string reserveText(const SignalReserve &reserve);
