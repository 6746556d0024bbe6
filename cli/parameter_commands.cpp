// get and send: the sensor's 16 parameter words between RAM or EEPROM and a parameter file.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "app/parameterwords.h"
#include "cli/cli.h"
#include "com232/identify.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "gui/parafile.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The sensor stores a set (EEPROM takes longest) before it answers the read-back.
constexpr double kStoreSeconds = 0.2;

bool parseMemory(const std::string &text, int &memory) {
    if (text == "ram")
        memory = RAM;
    else if (text == "eeprom")
        memory = EEPROM;
    else
        return false;
    return true;
}

// The words as a list, and by name under the keys of the gateway's params topic.
std::string wordsJson(const char *memory, const unsigned short *words) {
    std::string out = std::string("{\"memory\":\"") + memory + "\",\"words\":[";
    for (int i = 0; i < PNUM; ++i)
        out += (i ? "," : "") + std::to_string(words[i]);
    return out + "],\"params\":" + parametersJson(words) + "}\n";
}

int writeText(const std::string &path, const std::string &text) {
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return fail(EXIT_FILE_ERROR, kvex::trArgs("cannot write %1", {path}));
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written)
        return fail(EXIT_FILE_ERROR, kvex::trArgs("cannot write %1", {path}));
    return EXIT_OK;
}

// With the panel's limits (positions below 0: the sensor's window not known yet): one line per
// word the panel would not show as written, and EXIT_FILE_ERROR; 0 when every word fits.
int refuseUnfitWords(const std::string &path, const ParameterFile &file, int positions) {
    const std::vector<std::string> problems = parameterFileProblems(file, positions);
    if (problems.empty())
        return EXIT_OK;
    for (const std::string &problem : problems)
        std::fprintf(stderr, "kvex-rtn-cli: %s %s\n", path.c_str(), problem.c_str());
    const std::string count = std::to_string(problems.size());
    return fail(
        EXIT_FILE_ERROR,
        problems.size() == 1
            ? kvex::trArgs("%1: %2 word outside the panel's limits - nothing sent", {path, count})
            : kvex::trArgs("%1: %2 words outside the panel's limits - nothing sent",
                           {path, count}));
}

} // namespace

bool readParameters(int memory) {
    const ExchangeScope exchange;
    target = memory;
    PushGET(memory);
    return rx_flag == 1;
}

int runGet(const CliOptions &options) {
    std::string from, out;
    int memory = RAM;
    if (!optionValue(options.args, "--from", from) || !parseMemory(from, memory))
        return fail(EXIT_USAGE, kvex::trNow("get needs --from ram or --from eeprom"));
    const bool toFile = optionValue(options.args, "-o", out);
    const int connected = connectSensor(options);
    if (connected != EXIT_OK)
        return connected;
    if (!readParameters(memory))
        return fail(EXIT_NO_ANSWER,
                    kvex::trArgs("no parameter frame from %1: %2", {from, lastStatus()}));
    unsigned short shortWords[PNUM];
    unsigned int words[PNUM];
    for (int i = 0; i < PNUM; ++i)
        words[i] = shortWords[i] = pp[i];
    if (options.json) {
        const std::string text = wordsJson(from.c_str(), shortWords);
        if (!toFile) {
            std::fputs(text.c_str(), stdout);
            return EXIT_OK;
        }
        return writeText(out, text);
    }
    if (!toFile) {
        for (unsigned int w : words)
            std::printf("%5u\n", w);
        return EXIT_OK;
    }
    // The panel's own file writer: the panel program loads what this writes.
    const int result =
        ArrayToFile(out.c_str(), words, VAL_UNSIGNED_INTEGER, PNUM, 1, 0, 0, 0, 5, VAL_ASCII, 0);
    if (result < 0)
        return fail(EXIT_FILE_ERROR, kvex::trArgs("cannot write parameter file %1", {out}));
    return EXIT_OK;
}

int runSend(const CliOptions &options) {
    std::string to;
    int memory = RAM;
    if (!optionValue(options.args, "--to", to) || !parseMemory(to, memory))
        return fail(EXIT_USAGE, kvex::trNow("send needs --to ram or --to eeprom"));
    const std::vector<std::string> files = positional(options.args, {"--to"});
    if (files.size() != 1)
        return fail(EXIT_USAGE, kvex::trNow("send needs exactly one parameter file"));
    const std::string &path = files[0];

    // The file is checked before the port is touched, with the panel's own reader and limits;
    // the evaluation window's end is the sensor's, checked once it is identified.
    startHeadless(options.verbose);
    ParameterFile file;
    const int loaded = readParameterFile(path.c_str(), file);
    if (loaded < 0 && loaded != PARAMETER_FILE_OUT_OF_RANGE) {
        reportParameterFileError(loaded, path.c_str(), &file);
        return fail(EXIT_FILE_ERROR, lastStatus());
    }
    if (const int refused = refuseUnfitWords(path, file, -1))
        return refused;

    const int connected = connectSensor(options);
    if (connected != EXIT_OK)
        return connected;
    if (const int refused = refuseUnfitWords(path, file, static_cast<int>(ccdsubpixel)))
        return refused;
    // Into the panel's values, then the SEND button's own path to the sensor.
    std::memcpy(pp, file.words, sizeof pp);
    CopyPPtoVars();
    SetPanelValues();
    target = memory;
    SendResult result;
    unsigned short sent[PNUM];
    {
        const ExchangeScope exchange;
        result = sendPanelSet();
        std::memcpy(sent, pp, sizeof sent);
    }
    if (result == SEND_UNCHANGED) {
        // The EEPROM was read and compared before the write: it holds the file's set already.
        if (options.json)
            std::printf("{\"memory\":\"%s\",\"sent\":false,\"verified\":true}\n", to.c_str());
        else
            std::printf("%s already holds %s - nothing sent\n", to.c_str(), path.c_str());
        return EXIT_OK;
    }
    if (result == SEND_CANCELLED)
        return fail(EXIT_USAGE, kvex::trArgs("the write to %1 was cancelled - nothing sent", {to}));
    if (result != SEND_WRITTEN)
        return fail(EXIT_NO_ANSWER,
                    kvex::trArgs("cannot write to %1 - nothing sent", {connectedDevice()}));

    const double until = Timer() + kStoreSeconds;
    while (Timer() < until)
        ProcessSystemEvents();
    if (!readParameters(memory))
        return fail(EXIT_NO_ANSWER,
                    kvex::trArgs("sent %1 to %2, but no read-back: %3", {path, to, lastStatus()}));
    std::string differences;
    for (int i = 0; i < PNUM; ++i) {
        if (pp[i] == sent[i])
            continue;
        differences +=
            (differences.empty() ? "" : ", ") +
            kvex::trArgs("word %1 (sent %2, read %3)",
                         {std::to_string(i), std::to_string(sent[i]), std::to_string(pp[i])});
    }
    if (!differences.empty())
        return fail(EXIT_BAD_ANSWER,
                    kvex::trArgs("read-back from %1 differs from %2: %3", {to, path, differences}));
    if (options.json)
        std::printf("{\"memory\":\"%s\",\"sent\":true,\"verified\":true}\n", to.c_str());
    else
        std::printf("sent %s to %s, read back and verified\n", path.c_str(), to.c_str());
    return EXIT_OK;
}
