// The command-line tool's connection: the port from --port, the program's start-up over the
// headless panels, the connection sequence, waiting for a device, and the messages.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "cli/cli.h"
#include "com232/adapterlatency.h"
#include "com232/rs232link.h"
#include "platform/headless.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Often enough that a device plugged back in is found at once, seldom enough to cost nothing.
constexpr double kDevicePollSeconds = 0.5;

std::string statusText;
std::string device;
bool started = false;

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

void waitForDevice() {
    while (!comDevicePresent(com)) {
        const double until = Timer() + kDevicePollSeconds;
        while (Timer() < until)
            ProcessSystemEvents();
    }
}

int linkExit(int outcome) {
    switch (outcome) {
    case LINK_OK:
        return EXIT_OK;
    case LINK_NO_PORT:
        return fail(EXIT_NO_ANSWER, kvex::trArgs("cannot use port %1: %2", {device, lastStatus()}));
    case LINK_NO_ANSWER:
        return fail(EXIT_NO_ANSWER,
                    kvex::trArgs("no answer from the sensor on %1: %2", {device, lastStatus()}));
    default:
        return fail(EXIT_BAD_ANSWER,
                    kvex::trArgs("bad answer from the sensor on %1: %2", {device, lastStatus()}));
    }
}

} // namespace

// The panels exist only as stores of values; the program's code runs unchanged on them.
void startHeadless(bool verbose) {
    if (started)
        return;
    started = true;
    kvexplatform::setHeadlessTextSink([verbose](int panel, int control, const char *text) {
        if (panel != pHandle || control != TEXTStatus)
            return;
        statusText = trimmed(text);
        if (verbose)
            std::fprintf(stderr, "kvex-rtn-cli: status: %s\n", statusText.c_str());
    });
    pHandle = LoadPanel(0, PANEL_FILE, MAIN_PANEL);
    pPopup = LoadPanel(0, PANEL_FILE, POPUP_PANEL);
    GetProjectDir(proj_dir);
    InitVars();
}

int fail(int code, const std::string &text) {
    std::fprintf(stderr, "kvex-rtn-cli: %s\n", text.c_str());
    return code;
}

std::string lastStatus() {
    return statusText;
}

std::string connectedDevice() {
    return device;
}

int choosePort(const CliOptions &options) {
    if (options.port.empty())
        return fail(EXIT_USAGE, kvex::trNow("--port PORT is needed for this command"));
    char *end = nullptr;
    const long number = std::strtol(options.port.c_str(), &end, 10);
    if (end && *end == '\0' && !options.port.empty()) {
        device = portDevicePath(static_cast<int>(number));
        if (number < 1 || device.empty())
            return fail(EXIT_USAGE, kvex::trArgs("there is no port %1 (see kvex-rtn-cli ports)",
                                                 {options.port}));
    } else {
        device = options.port;
    }
    startHeadless(options.verbose);
    // The program always talks over port 1; the chosen device stands behind it.
    com = 1;
    bindPortDevice(com, device, "--port");
    return EXIT_OK;
}

int connectSensor(const CliOptions &options) {
    if (const int chosen = choosePort(options))
        return chosen;
    if (options.wait)
        waitForDevice();
    const int outcome = InitRS232(com);
    const std::string latency = adapterLatencyAdvice(com);
    if (options.verbose && !latency.empty())
        std::fprintf(stderr, "kvex-rtn-cli: %s\n", latency.c_str());
    return linkExit(outcome);
}

bool reconnectAfterLoss(const CliOptions &options) {
    // A pulled adapter takes its device node with it at once; the port notices a little later.
    if (!options.wait || (!comDeviceGone(com) && comDevicePresent(com)))
        return false;
    std::fprintf(stderr, kvex::trNow("kvex-rtn-cli: %s is gone, waiting for it to come back\n"),
                 device.c_str());
    for (;;) {
        waitForDevice();
        if (InitRS232(com) == LINK_OK)
            return true;
        // Present again but not answering yet (still powering up): keep waiting.
        Delay(kDevicePollSeconds);
    }
}

bool optionValue(const std::vector<std::string> &args, const std::string &name,
                 std::string &value) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name && i + 1 < args.size()) {
            value = args[i + 1];
            return true;
        }
        if (args[i].rfind(name + "=", 0) == 0) {
            value = args[i].substr(name.size() + 1);
            return true;
        }
    }
    return false;
}

bool hasFlag(const std::vector<std::string> &args, const std::string &name) {
    for (const std::string &a : args)
        if (a == name)
            return true;
    return false;
}

std::vector<std::string> positional(const std::vector<std::string> &args,
                                    const std::vector<std::string> &withValue) {
    std::vector<std::string> out;
    for (size_t i = 0; i < args.size(); ++i) {
        bool option = false;
        for (const std::string &name : withValue) {
            if (args[i] == name) {
                ++i;
                option = true;
            } else if (args[i].rfind(name + "=", 0) == 0) {
                option = true;
            }
        }
        if (!option)
            out.push_back(args[i]);
    }
    return out;
}

long parseCount(const std::string &text) {
    char *end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    return (!text.empty() && end && *end == '\0' && n > 0) ? n : -1;
}
