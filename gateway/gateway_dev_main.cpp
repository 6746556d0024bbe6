// Stand-alone entry to the serve command until the command-line tool carries it:
// kvex-rtn-gateway-dev --port DEVICE [serve options].
#include "gateway/serve.h"
#include "platform/rs232.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    std::string device;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--port" && i + 1 < argc)
            device = argv[++i];
        else if (word != "serve")
            args.push_back(word);
    }
    if (device.empty()) {
        std::fputs("usage: kvex-rtn-gateway-dev --port DEVICE [serve options]\n", stderr);
        return 2;
    }
    bindPortDevice(1, device);
    return runServeCommand(1, args);
}
