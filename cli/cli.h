// What the command-line tool's commands share: options, exit codes, the connection and messages.
#pragma once

#include "app/jsontext.h"

#include <string>
#include <vector>

// Exit codes of kvex-rtn-cli.
enum CliExit {
    EXIT_OK = 0,
    EXIT_USAGE = 2,
    EXIT_NO_ANSWER = 3,
    EXIT_BAD_ANSWER = 4,
    EXIT_FILE_ERROR = 5,
};

struct CliOptions {
    std::string port; // a device path or a port number; empty when not given
    bool json = false;
    bool wait = false;
    bool verbose = false;
    std::string lowLatency;        // "on", "off", or empty when not given
    std::vector<std::string> args; // the command's own words and options
};

// A command: its name, one usage line, and the function that runs it.
struct CliCommand {
    const char *name;
    const char *usage;
    int (*run)(const CliOptions &options);
    // The command explains its own options on --help.
    bool ownHelp = false;
};

// Prints "kvex-rtn-cli: <text>" as one line on stderr and returns code.
int fail(int code, const std::string &text);
// The status line's latest text, as the sensor link left it.
std::string lastStatus();
// The program's start-up over the headless panels (they only store values); status texts are
// kept for lastStatus and, with verbose, copied to stderr. Runs once.
void startHeadless(bool verbose);
// Puts the device named by --port behind the program's port (com, always 1) after the headless
// start-up. EXIT_OK, or the exit code after its message was printed.
int choosePort(const CliOptions &options);
// Opens the port named by --port, checks the line and identifies the sensor (waiting for the
// device first with --wait). EXIT_OK, or the exit code after its message was printed.
int connectSensor(const CliOptions &options);
// With --wait, after a loop lost its device: waits for the same device, connects and identifies
// again. False when there is nothing to wait for (no --wait, or the device was not lost).
bool reconnectAfterLoss(const CliOptions &options);
// The device path the last connectSensor used.
std::string connectedDevice();
// GET from RAM or EEPROM into pp, as the panel's GET button does it; false on a time-out.
bool readParameters(int memory);
// Gets "NAME VALUE" or "NAME=VALUE" from args; false when absent.
bool optionValue(const std::vector<std::string> &args, const std::string &name, std::string &value);
bool hasFlag(const std::vector<std::string> &args, const std::string &name);
// args without the options (and their values) given in withValue.
std::vector<std::string> positional(const std::vector<std::string> &args,
                                    const std::vector<std::string> &withValue);
// A positive count, or -1 when text is not one.
long parseCount(const std::string &text);

int runPorts(const CliOptions &options);
int runIdentify(const CliOptions &options);
int runGet(const CliOptions &options);
int runSend(const CliOptions &options);
int runRun(const CliOptions &options);
int runVideo(const CliOptions &options);
int runPropose(const CliOptions &options);
int runDiff(const CliOptions &options);
int runServe(const CliOptions &options);
int runDoctor(const CliOptions &options);
