// kvex-rtn-cli doctor: the port check of the port given, or of every port the machine lists.
#include "app/porttools/portdoctor.h"
#include "cli/cli.h"
#include "com232/rs232link.h"
#include "platform/language.h"
#include "platform/rs232.h"
#include "platform/tr.h"

#include <cstdio>

namespace {

int exitCode(const PortReport &report) {
    switch (report.outcome) {
    case LINK_OK:
        return EXIT_OK;
    case LINK_BAD_ANSWER:
        return EXIT_BAD_ANSWER;
    default:
        return EXIT_NO_ANSWER;
    }
}

// The report is output, which reads the same in every language (a script or a bug report quotes
// it); the panel's Check port… window shows the same findings in the operator's language.
void speakEnglish() {
    kvexplatform::useLanguage("en", false);
}

} // namespace

int runDoctor(const CliOptions &options) {
    std::vector<PortReport> reports;
    if (!options.port.empty()) {
        if (const int chosen = choosePort(options))
            return chosen;
        speakEnglish();
        reports.push_back(examinePort(com));
        reports.back().name = options.port;
    } else {
        const std::vector<SerialPortEntry> ports = listSerialPorts();
        if (ports.empty())
            return fail(EXIT_NO_ANSWER,
                        kvex::trNow("no serial ports found (see kvex-rtn-cli ports)"));
        startHeadless(options.verbose);
        speakEnglish();
        // The program talks over port 1; each device stands behind it in turn.
        com = 1;
        for (const SerialPortEntry &port : ports) {
            bindPortDevice(com, port.device, port.description);
            reports.push_back(examinePort(com));
            reports.back().name = std::to_string(port.number);
            CloseCom(com);
        }
    }
    // One port: its own verdict. Every port: a sensor found anywhere is what was looked for.
    int code = exitCode(reports.front());
    for (const PortReport &report : reports)
        code = exitCode(report) == EXIT_OK || code == EXIT_OK ? EXIT_OK
               : exitCode(report) == EXIT_BAD_ANSWER          ? EXIT_BAD_ANSWER
                                                              : code;
    if (options.json) {
        const bool many = options.port.empty();
        std::printf("%s", many ? "[" : "");
        for (size_t i = 0; i < reports.size(); ++i)
            std::printf("%s%s", i ? "," : "", portReportJson(reports[i]).c_str());
        std::printf("%s\n", many ? "]" : "");
    } else {
        for (size_t i = 0; i < reports.size(); ++i)
            std::printf("%s%s", i ? "\n" : "", portReportText(reports[i]).c_str());
    }
    CloseCom(com);
    return code;
}
