// diff: the sensor's RAM against its EEPROM, and both against an approved parameter file, once;
// exit codes as diff(1) has them, for the plant's scripts.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/drift/paramdrift.h"
#include "app/parameterwords.h"
#include "cli/cli.h"
#include "com232/identify.h"
#include "com232/rs232link.h"
#include "platform/tr.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum DiffExit { DIFF_SAME = 0, DIFF_DIFFERS = 1, DIFF_TROUBLE = 2 };

bool readWords(int memory, unsigned short words[PNUM]) {
    if (!readParameters(memory))
        return false;
    std::memcpy(words, pp, PNUM * sizeof *words);
    return true;
}

// The approved file's problems, one line each, as send reports them; false when there is none.
bool reportProblems(const std::vector<std::string> &problems) {
    for (const std::string &problem : problems)
        std::fprintf(stderr, "kvex-rtn-cli: %s\n", problem.c_str());
    return !problems.empty();
}

} // namespace

int runDiff(const CliOptions &options) {
    std::string golden;
    const bool haveGolden = optionValue(options.args, "--golden", golden);
    if (!positional(options.args, {"--golden"}).empty())
        return fail(DIFF_TROUBLE, kvex::trNow("diff takes no file but the one after --golden"));
    startHeadless(options.verbose);
    // The approved set is checked as send checks a file, before the port is touched, and again
    // against the sensor's window.
    unsigned short approved[PNUM];
    if (haveGolden && reportProblems(ReadAPPROVEDSet(golden, -1, approved)))
        return fail(DIFF_TROUBLE, kvex::trArgs("%1 is no approved parameter set", {golden}));
    if (connectSensor(options) != EXIT_OK)
        return DIFF_TROUBLE;
    if (haveGolden &&
        reportProblems(ReadAPPROVEDSet(golden, static_cast<int>(ccdsubpixel), approved)))
        return fail(DIFF_TROUBLE, kvex::trArgs("%1 does not fit this sensor", {golden}));
    unsigned short ram[PNUM], eeprom[PNUM];
    if (!readWords(RAM, ram) || !readWords(EEPROM, eeprom))
        return fail(DIFF_TROUBLE, kvex::trArgs("no parameter frame: %1", {lastStatus()}));
    const ParameterDrift drift = CompareDRIFT(ram, eeprom, haveGolden ? approved : nullptr);
    if (options.json) {
        std::printf("%s\n", driftJson(drift).c_str());
    } else {
        for (const std::string &line : driftLines(drift))
            std::printf("%s\n", line.c_str());
        if (!drift.any())
            std::printf("%s\n", haveGolden ? kvex::trNow("RAM, EEPROM and the approved set agree")
                                           : kvex::trNow("RAM and EEPROM agree"));
    }
    return drift.any() ? DIFF_DIFFERS : DIFF_SAME;
}
