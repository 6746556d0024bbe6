// kvex-rtn-cli: the sensor's set-up and measurement without a screen, over the program's own link.
#include "cli/cli.h"
#include "platform/language.h"
#include "platform/rs232.h"
#include "platform/tr.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// A new command is a function in a file of its own and one line here.
const CliCommand commands[] = {
    {"ports", "ports", runPorts},
    {"identify", "--port PORT identify", runIdentify},
    {"get", "--port PORT get --from ram|eeprom [-o FILE]", runGet},
    {"send", "--port PORT send --to ram|eeprom FILE", runSend},
    {"run",
     "--port PORT run --cycles N --csv FILE [--rotate-hours N | --rotate-mb N] [--keep-mb N] "
     "[--video-every N]",
     runRun},
    {"video", "--port PORT video --lines N --csv FILE", runVideo},
    {"propose", "--port PORT propose [--apply ram|eeprom]", runPropose},
    {"diff", "--port PORT diff [--golden FILE]", runDiff},
    {"doctor", "[--port PORT] doctor", runDoctor},
#ifdef KVEX_WITH_GATEWAY
    {"serve", "--port PORT serve [--mqtt HOST[:PORT]] [--modbus [ADDR:]PORT] [--config FILE]",
     runServe, true},
#endif
};

void printHelp() {
    std::fputs(kvex::trNow("usage: kvex-rtn-cli [--port PORT] [--json] [--wait] [--verbose]\n"
                           "                    [--low-latency on|off] [--lang de|en] COMMAND ...\n"
                           "       kvex-rtn-cli --help | --version\n\n"
                           "Commands:\n"),
               stdout);
    for (const CliCommand &c : commands)
        std::printf("  kvex-rtn-cli %s\n", c.usage);
    std::fputs(
        kvex::trNow(
            "\nPORT is a device path (/dev/ttyUSB0, a pseudo-terminal) or a port number as the\n"
            "panel program lists it. --json prints machine-readable output. --wait waits for the\n"
            "device to appear, and for a lost device to come back, then connects again.\n"
            "--verbose copies the status line's texts to stderr, and says when a USB adapter "
            "still\n"
            "holds answers for its latency timer. --low-latency off stops asking the adapter's\n"
            "driver for low latency when the port opens (on by default). --lang speaks German\n"
            "(de) or English (en) instead of the system's language; files and output stay the\n"
            "same.\n\n"
            "Exit codes: 0 ok, 2 usage, 3 no answer or time-out, 4 bad answer, 5 file error.\n"),
        stdout);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    std::string language;
    if (!kvexplatform::languageOption(argc, argv, language))
        return fail(EXIT_USAGE, "--lang takes de or en, not \"" + language + "\"");
    kvexplatform::useLanguage(language, false);
    CliOptions options;
    const CliCommand *command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (command) {
            options.args.push_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            printHelp();
            return EXIT_OK;
        } else if (arg == "--version") {
            std::printf("kvex-rtn-cli %s\n", KVEX_VERSION);
            return EXIT_OK;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--wait") {
            options.wait = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (arg == "--lang" || arg.rfind("--lang=", 0) == 0) {
            i += arg == "--lang" ? 1 : 0; // chosen above
        } else if (arg == "--low-latency" || arg.rfind("--low-latency=", 0) == 0) {
            if (arg == "--low-latency" && i + 1 >= argc)
                return fail(EXIT_USAGE, kvex::trNow("--low-latency needs on or off"));
            options.lowLatency = arg == "--low-latency" ? argv[++i] : arg.substr(14);
        } else if (arg == "--port" || arg.rfind("--port=", 0) == 0) {
            if (arg == "--port" && i + 1 >= argc)
                return fail(EXIT_USAGE, kvex::trNow("--port needs a device path or a port number"));
            options.port = arg == "--port" ? argv[++i] : arg.substr(7);
        } else if (arg.rfind("-", 0) == 0) {
            return fail(EXIT_USAGE, kvex::trArgs("unknown option %1 (see --help)", {arg}));
        } else {
            for (const CliCommand &c : commands)
                if (arg == c.name)
                    command = &c;
            if (!command)
                return fail(EXIT_USAGE, kvex::trArgs("unknown command %1 (see --help)", {arg}));
        }
    }
    if (!command)
        return fail(EXIT_USAGE, kvex::trNow("no command given (see --help)"));
    // Options given after the command word count as well.
    std::vector<std::string> rest;
    for (size_t i = 0; i < options.args.size(); ++i) {
        const std::string &arg = options.args[i];
        if (arg == "--port" && i + 1 < options.args.size())
            options.port = options.args[++i];
        else if (arg.rfind("--port=", 0) == 0)
            options.port = arg.substr(7);
        else if (arg == "--json")
            options.json = true;
        else if (arg == "--wait")
            options.wait = true;
        else if (arg == "--verbose" || arg == "-v")
            options.verbose = true;
        else if (arg == "--lang" && i + 1 < options.args.size())
            ++i;
        else if (arg == "--low-latency" && i + 1 < options.args.size())
            options.lowLatency = options.args[++i];
        else if (arg.rfind("--low-latency=", 0) == 0)
            options.lowLatency = arg.substr(14);
        else if (arg.rfind("--lang=", 0) != 0)
            rest.push_back(arg);
    }
    options.args = rest;
    if (!options.lowLatency.empty()) {
        if (options.lowLatency != "on" && options.lowLatency != "off")
            return fail(EXIT_USAGE, kvex::trArgs("--low-latency wants on or off, not %1",
                                                 {options.lowLatency}));
        setLowLatencyRequested(options.lowLatency == "on");
    }
    if (!command->ownHelp && (hasFlag(options.args, "--help") || hasFlag(options.args, "-h"))) {
        std::printf(kvex::trNow("usage: kvex-rtn-cli %s\n"), command->usage);
        return EXIT_OK;
    }
    return command->run(options);
}
