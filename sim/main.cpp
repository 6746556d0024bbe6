// kvex-sensor-sim: serves one simulated sensor on a pseudo-terminal or a serial port.
#include "sim/sensorsim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <pthread.h>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr double kDefaultLateSeconds = 1.0;
constexpr double kDefaultStepPercent = 30.0;

struct FaultOption {
    int command = 0;
    kvexsim::Fault fault;
};

struct Options {
    std::string profile = "standard";
    std::string device;
    bool paced = true;
    kvexsim::Adapter adapter = kvexsim::Adapter::Plain;
    std::string driverFifo;
    std::vector<FaultOption> faults;
    std::optional<std::pair<double, uint32_t>> randomFaults;
    std::string replay;
    double speed = 1.0;
    double dim = 0.0; // per cent of the clean lit level per hour
    bool listProfiles = false;
    bool help = false;
    bool version = false;
};

const char *const kUsage =
    "usage: kvex-sensor-sim [--profile NAME] [--device PATH] [--unpaced]\n"
    "                       [--adapter plain|ftdi] [--driver-fifo PATH]\n"
    "                       [--fault CMD:KIND[:N]]... [--random-faults RATE:SEED]\n"
    "                       [--replay FILE [--speed X]] [--dim PERCENT_PER_HOUR]\n"
    "                       [--list-profiles] [--help] [--version]\n"
    "\n"
    "Simulates a K-VEX-RTN line sensor. Without --device it opens a pseudo-terminal and prints\n"
    "its path; with --device it serves that serial port (19200 8N1). It runs until SIGINT or\n"
    "SIGTERM.\n"
    "\n"
    "  --profile NAME          sensor to simulate (default \"standard\"; see --list-profiles)\n"
    "  --device PATH           serve a real serial port instead of a pseudo-terminal\n"
    "  --unpaced               answer at once instead of at the line's byte rate\n"
    "  --adapter plain|ftdi    the USB adapter in front of the program: plain passes each byte\n"
    "                          on at once (default); ftdi holds them until 62 are in or its\n"
    "                          latency timer ticks (16 ms, 1 ms once low latency is asked for)\n"
    "  --driver-fifo PATH      FIFO on which a stand-in for the adapter's driver writes 1 when\n"
    "                          the program asks for low latency, 0 when it stops asking\n"
    "  --fault CMD:KIND[:N]    spoil every answer to command CMD; KIND is one of silence,\n"
    "                          short, extra, wrong-sync, wrong-command, late, garbage.\n"
    "                          N is the byte count for short and extra (default 1) and the\n"
    "                          delay in seconds for late (default 1.0). May be repeated.\n"
    "                          KIND dim steps the lit level down by N per cent of its clean\n"
    "                          value (default 30) on the first answer to CMD.\n"
    "  --dim PERCENT_PER_HOUR  dirt and ageing: the lit level of the video line falls by this\n"
    "                          share of its clean value per hour; the edges jitter as it nears\n"
    "                          the video threshold and are lost below it\n"
    "  --random-faults RATE:SEED  spoil answers at random with probability RATE (0 to 1),\n"
    "                          drawn from a generator seeded with SEED\n"
    "  --replay FILE           answer run-mode requests with the rows of a recording\n"
    "                          (FILE.csv as the program writes it) at their recorded pace,\n"
    "                          from the start again after the last; video requests get the\n"
    "                          lines of FILE-video.csv beside it, if there is one\n"
    "  --speed X               play the recording X times as fast (0.01 to 1000, default 1)\n"
    "  --list-profiles         list the sensor profiles and exit\n"
    "  --help                  show this text and exit\n"
    "  --version               print the version and exit\n";

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::vector<std::string> splitFields(const std::string &text) {
    std::vector<std::string> fields;
    std::stringstream stream(text);
    std::string field;
    while (std::getline(stream, field, ':'))
        fields.push_back(field);
    if (!text.empty() && text.back() == ':')
        fields.emplace_back();
    return fields;
}

long parseInteger(const std::string &text, long low, long high, const std::string &what) {
    char *end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        throw UsageError(what + " must be a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

double parseNumber(const std::string &text, double low, double high, const std::string &what) {
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !(value >= low && value <= high))
        throw UsageError(what + " must be a number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

FaultOption parseFault(const std::string &text) {
    const std::vector<std::string> fields = splitFields(text);
    if (fields.size() < 2 || fields.size() > 3)
        throw UsageError("--fault wants CMD:KIND[:N], not \"" + text + "\"");
    FaultOption option;
    option.command = static_cast<int>(parseInteger(fields[0], 0, 65535, "the fault's command"));
    if (!kvexsim::parseFaultKind(fields[1], option.fault.kind))
        throw UsageError("unknown fault kind \"" + fields[1] + "\"");
    option.fault.times = -1;
    const kvexsim::FaultKind kind = option.fault.kind;
    // One step, not a step on every answer.
    if (kind == kvexsim::FaultKind::Dim) {
        option.fault.times = 1;
        option.fault.percent = kDefaultStepPercent;
    }
    if (kind == kvexsim::FaultKind::Late)
        option.fault.delay = kDefaultLateSeconds;
    if (fields.size() == 3) {
        if (kind == kvexsim::FaultKind::Short || kind == kvexsim::FaultKind::Extra)
            option.fault.bytes =
                static_cast<int>(parseInteger(fields[2], 0, 4096, "the fault's byte count"));
        else if (kind == kvexsim::FaultKind::Late)
            option.fault.delay = parseNumber(fields[2], 0.0, 3600.0, "the fault's delay");
        else if (kind == kvexsim::FaultKind::Dim)
            option.fault.percent = parseNumber(fields[2], 0.0, 100.0, "the step in per cent");
        else
            throw UsageError(std::string("fault kind \"") + kvexsim::faultKindName(kind) +
                             "\" takes no N");
    }
    return option;
}

std::pair<double, uint32_t> parseRandomFaults(const std::string &text) {
    const std::vector<std::string> fields = splitFields(text);
    if (fields.size() != 2)
        throw UsageError("--random-faults wants RATE:SEED, not \"" + text + "\"");
    const double rate = parseNumber(fields[0], 0.0, 1.0, "the fault rate");
    const auto seed = static_cast<uint32_t>(parseInteger(fields[1], 0, 4294967295L, "the seed"));
    return {rate, seed};
}

Options parseOptions(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.erase(eq);
        }
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= argc)
                throw UsageError(arg + " needs a value");
            return argv[++i];
        };
        auto noValue = [&] {
            if (inlineValue)
                throw UsageError(arg + " takes no value");
        };
        if (arg == "--profile") {
            options.profile = value();
            if (!kvexsim::findProfile(options.profile))
                throw UsageError("unknown profile \"" + options.profile +
                                 "\" (--list-profiles shows them)");
        } else if (arg == "--device") {
            options.device = value();
            if (options.device.empty())
                throw UsageError("--device needs a path");
        } else if (arg == "--unpaced") {
            noValue();
            options.paced = false;
        } else if (arg == "--adapter") {
            const std::string name = value();
            if (!kvexsim::parseAdapter(name, options.adapter))
                throw UsageError("--adapter wants plain or ftdi, not \"" + name + "\"");
        } else if (arg == "--driver-fifo") {
            options.driverFifo = value();
        } else if (arg == "--fault") {
            options.faults.push_back(parseFault(value()));
        } else if (arg == "--random-faults") {
            options.randomFaults = parseRandomFaults(value());
        } else if (arg == "--replay") {
            options.replay = value();
            if (options.replay.empty())
                throw UsageError("--replay needs a file");
        } else if (arg == "--dim") {
            options.dim = parseNumber(value(), 0.0, 1e7, "--dim");
        } else if (arg == "--speed") {
            options.speed = parseNumber(value(), 0.01, 1000.0, "the speed");
        } else if (arg == "--list-profiles") {
            noValue();
            options.listProfiles = true;
        } else if (arg == "--help" || arg == "-h") {
            noValue();
            options.help = true;
        } else if (arg == "--version") {
            noValue();
            options.version = true;
        } else {
            throw UsageError("unknown argument \"" + arg + "\"");
        }
    }
    return options;
}

void listProfiles() {
    std::printf("%-16s %7s %8s %5s %4s %8s %8s %7s %5s  %s\n", "name", "ccdtype", "maxpixel", "res",
                "pcb", "subpixel", "pixE", "version", "scale", "firmware text");
    for (const auto &p : kvexsim::sensorProfiles())
        std::printf("%-16s %7u %8u %5u %4u %8u %8u %7u %5u  %s\n", p.name.c_str(), p.ccdtype,
                    p.ccdmaxpixel, p.ccdresolution, p.pcbtype, p.ccdsubpixel, p.ccdpixE,
                    p.softversion, p.videoFullScale, p.firmwareText.c_str());
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError &e) {
        std::cerr << "kvex-sensor-sim: " << e.what() << "\n" << kUsage;
        return kExitUsage;
    }
    if (options.help) {
        std::cout << kUsage;
        return EXIT_SUCCESS;
    }
    if (options.version) {
        std::cout << "kvex-sensor-sim " KVEX_VERSION "\n";
        return EXIT_SUCCESS;
    }
    if (options.listProfiles) {
        listProfiles();
        return EXIT_SUCCESS;
    }

    // Blocked before the transport thread exists, so only sigwait below ever takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto replay = std::make_shared<kvexsim::Replay>();
    if (!options.replay.empty()) {
        std::string error;
        if (!kvexsim::loadReplay(options.replay, *replay, error)) {
            std::cerr << "kvex-sensor-sim: " << error << "\n";
            return kExitFailure;
        }
    }

    const kvexsim::SensorProfile &profile = *kvexsim::findProfile(options.profile);
    kvexsim::SensorSim sim(profile);
    sim.setPaced(options.paced);
    sim.setAdapter(options.adapter);
    if (!options.driverFifo.empty() && !sim.watchLowLatencyFifo(options.driverFifo)) {
        std::cerr << "kvex-sensor-sim: cannot open " << options.driverFifo << ": "
                  << std::strerror(errno) << "\n";
        return kExitFailure;
    }
    if (!options.replay.empty())
        sim.setReplay(replay, options.speed);
    for (const auto &f : options.faults)
        sim.setFault(f.command, f.fault);
    if (options.dim > 0.0)
        sim.setDimming(options.dim);
    if (options.randomFaults)
        sim.setRandomFaults(options.randomFaults->first, options.randomFaults->second);

    const bool opened = options.device.empty() ? sim.openPty() : sim.openDevice(options.device);
    if (!opened) {
        std::cerr << "kvex-sensor-sim: cannot open "
                  << (options.device.empty() ? std::string("a pseudo-terminal") : options.device)
                  << ": " << std::strerror(errno) << "\n";
        return kExitFailure;
    }
    sim.start();
    std::printf("kvex-sensor-sim: sensor \"%s\" on %s\n", profile.name.c_str(),
                sim.devicePath().c_str());
    if (!options.replay.empty())
        std::printf("kvex-sensor-sim: replaying %zu rows and %zu video lines of %s (%zu lines "
                    "skipped) at %g times their pace\n",
                    replay->rows.size(), replay->videoLines.size(), options.replay.c_str(),
                    replay->skipped, options.speed);
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    sim.stop();
    return EXIT_SUCCESS;
}
