// The parameter words' names and the panel's limits, as the operator's controls and the sensor
// expect them.
#include "app/parameterwords.h"
#include "com232/rs232link.h"
#include "gui/parafile.h"
#include "platform/tr.h"

#include <cstdio>

namespace {

const char *const wordNames[PNUM] = {kvex::tr("Power"),           kvex::tr("P-mode"),
                                     kvex::tr("Video threshold"), kvex::tr("Analogue output mode"),
                                     kvex::tr("Polarity"),        kvex::tr("Evaluation mode"),
                                     kvex::tr("Evaluation left"), kvex::tr("Evaluation right"),
                                     kvex::tr("Set-point"),       kvex::tr("Tolerance"),
                                     kvex::tr("Operating mode"),  kvex::tr("Hardware setting"),
                                     kvex::tr("Word 12"),         kvex::tr("Word 13"),
                                     kvex::tr("Averaging"),       kvex::tr("Word 15")};

constexpr unsigned kWordMax = 0xFFFF;
// The window's words end at the sensor's position count.
constexpr unsigned kPositions = 0x10000;

// A word outside [min, max] is shown as above (when larger) or below (when smaller); some words go
// back to their default rather than to the nearest end, as the panel always did.
struct WordRule {
    unsigned min, max, below, above;
};

const WordRule kRules[PNUM] = {
    {0, 1000, 0, 500},              // power
    {0, 1, 0, 0},                   // P-mode
    {50, 950, 50, 950},             // video threshold
    {0, 7, 0, 0},                   // analogue output mode
    {0, 1, 0, 1},                   // polarity
    {0, 4, 0, 4},                   // evaluation mode
    {0, kPositions, 0, 1},          // evaluation window, left
    {1, kPositions, 1, kPositions}, // evaluation window, right
    {0, kWordMax, 0, kWordMax},     // set-point
    {1, kWordMax, 1, kWordMax},     // tolerance
    {0, kWordMax, 0, kWordMax},     // operating mode
    {0, 3, 0, 3},                   // hardware setting
    {0, kWordMax, 0, kWordMax},     // word 12
    {0, kWordMax, 0, kWordMax},     // word 13
    {0, 1024, 0, 1024},             // averaging
    {0, kWordMax, 0, kWordMax},     // word 15
};

unsigned resolve(unsigned bound, int positions) {
    if (bound != kPositions)
        return bound;
    return positions < 0 ? kWordMax : static_cast<unsigned>(positions);
}

} // namespace

const char *parameterWordName(int word) {
    return word >= 0 && word < PNUM ? wordNames[word] : "";
}

ParameterLimit parameterLimit(int word, int positions) {
    if (word < 0 || word >= PNUM)
        return {0, kWordMax};
    return {kRules[word].min, resolve(kRules[word].max, positions)};
}

unsigned short panelCorrected(int word, unsigned short value, int positions) {
    if (word < 0 || word >= PNUM)
        return value;
    const WordRule &rule = kRules[word];
    unsigned v = value;
    // Above first: a window end of 0 positions becomes 0 and then the lowest end, 1.
    if (v > resolve(rule.max, positions))
        v = resolve(rule.above, positions);
    if (v < rule.min)
        v = rule.below;
    return static_cast<unsigned short>(v);
}

std::string parameterRangeProblem(int word, unsigned value, int positions) {
    const ParameterLimit limit = parameterLimit(word, positions);
    if (value <= kWordMax && panelCorrected(word, static_cast<unsigned short>(value), positions) ==
                                 static_cast<unsigned short>(value))
        return {};
    char text[160];
    std::snprintf(text, sizeof text, kvex::trNow("%s (word %d) is %u, allowed %u to %u"),
                  kvex::trNow(parameterWordName(word)), word, value, limit.min, limit.max);
    return text;
}

std::vector<std::string> parameterFileProblems(const ParameterFile &file, int positions) {
    std::vector<std::string> out;
    for (int word = 0; word < PNUM; ++word) {
        const std::string line = std::to_string(file.lines[word]);
        const ParameterFileProblem *unfit = nullptr;
        for (const ParameterFileProblem &p : file.problems)
            if (p.word == word)
                unfit = &p;
        if (unfit) {
            const ParameterLimit limit = parameterLimit(word, positions);
            const std::string name = kvex::trNow(parameterWordName(word)),
                              number = std::to_string(word), min = std::to_string(limit.min),
                              max = std::to_string(limit.max);
            out.push_back(unfit->negative
                              ? kvex::trArgs("line %1: %2 (word %3) is %4, a negative number "
                                             "(allowed %5 to %6)",
                                             {line, name, number, unfit->text, min, max})
                              : kvex::trArgs("line %1: %2 (word %3) is %4, above 65535 (allowed "
                                             "%5 to %6)",
                                             {line, name, number, unfit->text, min, max}));
            continue;
        }
        const std::string problem = parameterRangeProblem(word, file.words[word], positions);
        if (!problem.empty())
            out.push_back(kvex::trArgs("line %1: %2", {line, problem}));
    }
    return out;
}
