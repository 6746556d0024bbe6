// The serve command: the gateway to the plant network, on the port --port names.
#include "app/K-VEX-RTN-RedozU15.h"
#include "cli/cli.h"
#include "com232/rs232link.h"
#include "gateway/serve.h"

int runServe(const CliOptions &options) {
    if (hasFlag(options.args, "--help"))
        return runServeCommand(com, options.args);
    if (const int chosen = choosePort(options))
        return chosen;
    // The gateway's own option, so the command line still wins over its config file.
    std::vector<std::string> args = options.args;
    if (!options.lowLatency.empty())
        args.push_back("--low-latency=" + options.lowLatency);
    return runServeCommand(com, args);
}
