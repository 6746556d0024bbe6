// propose: a video threshold and an evaluation window from one video line, with the margins they
// leave; with --apply, written to RAM, checked by measuring, and only then (eeprom) stored.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/proposal/setupcheck.h"
#include "cli/cli.h"
#include "com232/videodata.h"
#include "platform/tr.h"

#include <cstring>
#include <string>

namespace {

std::string number(double value, const char *format = "%.4g") {
    return ProposalNUMBER(value, format, "null");
}

std::string proposalJson(const SetupProposal &p) {
    if (!p.proposed)
        return "\"proposed\":false,\"reason\":" + jsonString(p.reason) +
               ",\"advice\":" + jsonString(proposalAdvice(p.reason)) +
               ",\"contrast\":" + number(p.contrast);
    std::string edges;
    for (const double e : p.edges)
        edges += (edges.empty() ? "" : ",") + number(e, "%.1f");
    return "\"proposed\":true,\"v_thd\":" + std::to_string(p.threshold) +
           ",\"e_beg\":" + std::to_string(p.evalBegin) + ",\"e_end\":" + std::to_string(p.evalEnd) +
           ",\"lit\":" + number(p.litLevel) + ",\"shadow\":" + number(p.shadowLevel) +
           ",\"lit_margin\":" + number(p.litMargin) +
           ",\"shadow_margin\":" + number(p.shadowMargin) +
           ",\"signal_reserve\":" + number(p.reserve) + ",\"contrast\":" + number(p.contrast) +
           ",\"edges\":[" + edges + "]";
}

std::string verdictJson(const ProposalCheck &v) {
    return ",\"check\":{\"passed\":" + std::string(v.passed() ? "true" : "false") +
           ",\"cycles\":" + std::to_string(v.cycles) +
           ",\"cycles_with_edges\":" + std::to_string(v.withEdges) +
           ",\"left_spread\":" + std::to_string(v.leftSpread) +
           ",\"right_spread\":" + std::to_string(v.rightSpread) +
           ",\"signal_reserve\":" + number(v.reserve.ratio) +
           ",\"reserve_state\":" + jsonString(reserveStateKey(v.reserve.state)) + "}";
}

} // namespace

int runPropose(const CliOptions &options) {
    std::string apply;
    const bool applying = optionValue(options.args, "--apply", apply);
    if (applying && apply != "ram" && apply != "eeprom")
        return fail(EXIT_USAGE, kvex::trNow("propose: --apply takes ram or eeprom"));
    const int connected = connectSensor(options);
    if (connected != EXIT_OK)
        return connected;
    if (!ReadRAMWords())
        return fail(EXIT_NO_ANSWER, kvex::trArgs("no parameter set from RAM: %1", {lastStatus()}));
    unsigned short before[PNUM];
    std::memcpy(before, pp, sizeof before);
    if (!RunLIVELoop(true, [] { return true; }))
        return fail(EXIT_NO_ANSWER, kvex::trArgs("no video line: %1", {lastStatus()}));
    const SetupProposal p = ProposeFROMVideoLine();
    if (!p.proposed) {
        if (options.json)
            std::printf("{%s}\n", proposalJson(p).c_str());
        else
            std::printf("no proposal: %s\n", proposalAdvice(p.reason));
        return EXIT_NO_ANSWER;
    }
    if (!options.json)
        std::printf("v_thd %u (now %u), window %u to %u (now %u to %u): lit %.0f, shadow %.0f, "
                    "margins %.0f and %.0f counts, signal reserve %.2f, contrast %.2f\n",
                    p.threshold, before[PROPOSAL_THRESHOLD_WORD], p.evalBegin, p.evalEnd,
                    before[PROPOSAL_BEGIN_WORD], before[PROPOSAL_END_WORD], p.litLevel,
                    p.shadowLevel, p.litMargin, p.shadowMargin, p.reserve, p.contrast);
    if (!applying) {
        if (options.json)
            std::printf("{%s}\n", proposalJson(p).c_str());
        return EXIT_OK;
    }

    // Into RAM first: the sensor measures with the proposal before anything is stored.
    unsigned short proposed[PNUM];
    ProposalWORDS(before, p, proposed);
    if (WriteSETUPWords(proposed, RAM) != SETUP_WRITTEN)
        return fail(EXIT_NO_ANSWER,
                    kvex::trArgs("cannot write the proposal to RAM: %1", {lastStatus()}));
    const ProposalCheck v = CheckSETUPProposal();
    std::string stored = "ram";
    if (!v.passed()) {
        // A proposal that does not hold leaves the sensor as it was.
        const bool restored = WriteSETUPWords(before, RAM) == SETUP_WRITTEN;
        if (options.json)
            std::printf("{%s%s,\"applied\":false,\"restored\":%s}\n", proposalJson(p).c_str(),
                        verdictJson(v).c_str(), restored ? "true" : "false");
        return fail(EXIT_BAD_ANSWER,
                    kvex::trArgs("the check failed (%1 of %2 cycles with both edges, signal "
                                 "reserve %3): %4",
                                 {std::to_string(v.withEdges), std::to_string(v.cycles),
                                  number(v.reserve.ratio, "%.2f"),
                                  restored ? kvex::trNow("RAM written back as it was")
                                           : kvex::trNow("RAM could NOT be written back")}));
    }
    if (apply == "eeprom") {
        if (WriteSETUPWords(proposed, EEPROM) != SETUP_WRITTEN)
            return fail(
                EXIT_NO_ANSWER,
                kvex::trArgs("checked in RAM, but the EEPROM did not take it: %1", {lastStatus()}));
        stored = "eeprom";
    }
    if (options.json)
        std::printf("{%s%s,\"applied\":%s}\n", proposalJson(p).c_str(), verdictJson(v).c_str(),
                    jsonString(stored).c_str());
    else
        std::printf("checked: both edges in all %ld cycles, spread %d and %d, signal reserve "
                    "%.2f; written to %s\n",
                    v.cycles, v.leftSpread, v.rightSpread, v.reserve.ratio, stored.c_str());
    return EXIT_OK;
}
