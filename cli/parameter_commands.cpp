// get and send: the sensor's 16 parameter words between RAM or EEPROM and a parameter file.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "cli/cli.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "gui/parafile.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <cstdio>
#include <string>

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

// GET from RAM or EEPROM into pp, as the panel's GET button does it; false on a time-out.
bool readParameters(int memory) {
    const ExchangeScope exchange;
    target = memory;
    PushGET(memory);
    return rx_flag == 1;
}

std::string wordsJson(const char *memory, const unsigned int *words) {
    std::string out = std::string("{\"memory\":\"") + memory + "\",\"words\":[";
    for (int i = 0; i < PNUM; ++i)
        out += (i ? "," : "") + std::to_string(words[i]);
    return out + "]}\n";
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

} // namespace

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
    unsigned int words[PNUM];
    for (int i = 0; i < PNUM; ++i)
        words[i] = pp[i];
    if (options.json) {
        const std::string text = wordsJson(from.c_str(), words);
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

    // The file is checked before the port is touched, with the panel's own checks.
    startHeadless(options.verbose);
    unsigned int fileWords[PNUM];
    const int loaded =
        FileToArray(path.c_str(), fileWords, VAL_UNSIGNED_INTEGER, PNUM, 1, 0, 0, VAL_ASCII);
    if (loaded < 0) {
        reportParameterFileError(loaded, path.c_str());
        return fail(EXIT_FILE_ERROR, lastStatus());
    }
    for (unsigned int &w : fileWords)
        w &= 0xFFFF;

    const int connected = connectSensor(options);
    if (connected != EXIT_OK)
        return connected;
    // Into the panel's values, then the SEND button's own path to the sensor.
    for (int i = 0; i < PNUM; ++i)
        pp[i] = static_cast<unsigned short>(fileWords[i]);
    CopyPPtoVars();
    SetPanelValues();
    target = memory;
    CC_BTNSend(pHandle, BTNSend, EVENT_LEFT_CLICK, nullptr, 0, 0);
    if (nBytesW != FRAME_BYTES)
        return fail(EXIT_NO_ANSWER, kvex::trArgs("cannot write to %1", {connectedDevice()}));

    const double until = Timer() + kStoreSeconds;
    while (Timer() < until)
        ProcessSystemEvents();
    if (!readParameters(memory))
        return fail(EXIT_NO_ANSWER, kvex::trArgs("no read-back from %1: %2", {to, lastStatus()}));
    std::string differences;
    for (int i = 0; i < PNUM; ++i) {
        if (pp[i] == fileWords[i])
            continue;
        differences +=
            (differences.empty() ? "" : ", ") +
            kvex::trArgs("word %1 (sent %2, read %3)",
                         {std::to_string(i), std::to_string(fileWords[i]), std::to_string(pp[i])});
    }
    if (!differences.empty())
        return fail(EXIT_BAD_ANSWER,
                    kvex::trArgs("read-back from %1 differs from %2: %3", {to, path, differences}));
    if (options.json)
        std::printf("{\"memory\":\"%s\",\"verified\":true}\n", to.c_str());
    else
        std::printf("sent %s to %s, read back and verified\n", path.c_str(), to.c_str());
    return EXIT_OK;
}
