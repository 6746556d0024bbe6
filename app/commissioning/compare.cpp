// Parameter sets side by side: reading a set from the panel, the sensor or a file without
// touching the others, the compare view, and the question before a permanent EEPROM write.
#include "app/commissioning/compare.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/liveobservers.h"
#include "app/panelcontrols.h"
#include "app/parameterwords.h"
#include "com232/paraframe.h"
#include "com232/rs232link.h"
#include "gui/parafile.h"
#include "platform/compareview.h"
#include "platform/confirm.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <cstdio>
#include <cstring>

using com232::sync;

namespace {

const char *const sourceNames[SOURCE_COUNT] = {kvex::tr("Panel"), kvex::tr("Sensor RAM"),
                                               kvex::tr("Sensor EEPROM"), kvex::tr("File")};

void panelWords(unsigned short *words) {
    GetPanelValues();
    CopyVarsToPP();
    std::memcpy(words, pp, sizeof pp);
}

// GET from RAM (2) or EEPROM (4) into words; pp, the variables and the panel stay as they were.
bool sensorWords(int command, unsigned short *words) {
    const ExchangeScope exchange;
    unsigned short kept[PNUM];
    std::memcpy(kept, pp, sizeof pp);
    CopyVarsToPP();
    SendREQUEST(static_cast<unsigned short>(command), pp);
    bool answered = false;
    while (nBytesW == FRAME_BYTES) {
        ProcessSystemEvents();
        if (rx_flag == 1) {
            // A spoilt answer (wrong sync word, answer code or length) is no parameter set.
            if (!answerFrameFault(static_cast<unsigned short>(command))) {
                GetRxBuf(PNUM);
                std::memcpy(words, pp, sizeof pp);
                answered = true;
            }
            break;
        }
        if (Timer() - tstart > TIMEOUT)
            break;
    }
    std::memcpy(pp, kept, sizeof pp);
    return answered;
}

int fileWords(unsigned short *words, std::string *reason) {
    char path[PATH_SIZE] = "";
    const int chosen =
        FileSelectPopup(proj_dir, "KVEXpara.dat", "*.dat", kvex::tr("Parameter file to compare"),
                        VAL_LOAD_BUTTON, 0, 1, 1, 1, path);
    if (chosen <= 0) {
        *reason = chosen == 0 ? kvex::tr("no file chosen") : kvex::tr("path too long");
        return -1;
    }
    ParameterFile file;
    const int result = readParameterFile(path, file);
    if (result < 0) {
        *reason = result == UIE_FILE_TOO_SHORT ? kvex::tr("the file holds fewer than 16 numbers")
                  : result == UIE_FILE_FORMAT_ERROR
                      ? kvex::tr("the file holds text that is not a number")
                  : result == PARAMETER_FILE_OUT_OF_RANGE
                      ? kvex::trArgs("line %1 holds a number no parameter word can hold",
                                     {std::to_string(file.lines[file.problems.front().word])})
                      : kvex::tr("cannot open the file");
        return -1;
    }
    std::memcpy(words, file.words, sizeof file.words);
    return 0;
}

int readForView(int source, unsigned short *words, char *reason, int reasonSize) {
    std::string why;
    const int result = readParameterSet(source, words, &why);
    std::snprintf(reason, static_cast<size_t>(reasonSize), "%s", why.c_str());
    return result;
}

void dimCompare(int dimmed) {
    SetCtrlAttribute(pHandle, BTNCompare, ATTR_DIMMED, dimmed);
}

} // namespace

int readParameterSet(int source, unsigned short *words, std::string *reason) {
    switch (source) {
    case SOURCE_PANEL:
        panelWords(words);
        return 0;
    case SOURCE_RAM:
    case SOURCE_EEPROM:
        if (sensorWords(source == SOURCE_RAM ? 2 : 4, words))
            return 0;
        *reason = kvex::tr("Timeout-RS-232...");
        return -1;
    case SOURCE_FILE:
        return fileWords(words, reason);
    default:
        *reason = kvex::tr("unknown source");
        return -1;
    }
}

EepromSendAnswer confirmEepromSend() {
    unsigned short panel[PNUM], eeprom[PNUM];
    panelWords(panel);
    std::string reason;
    if (readParameterSet(SOURCE_EEPROM, eeprom, &reason) < 0) {
        if (ConfirmPopup(kvex::tr("Write to EEPROM"),
                         kvex::tr("The sensor's EEPROM could not be read, so the words that would "
                                  "change are not known.\n\nWrite the panel's parameter set "
                                  "permanently anyway?"),
                         kvex::tr("Write to EEPROM")))
            return EEPROM_WRITE;
        showStatusText(kvex::tr("EEPROM write cancelled."));
        return EEPROM_CANCELLED;
    }
    std::string changes;
    for (int w = 0; w < PNUM; ++w) {
        if (panel[w] == eeprom[w])
            continue;
        char line[96];
        std::snprintf(line, sizeof line, kvex::trNow("\n    %s (word %d): %u -> %u"),
                      kvex::trNow(parameterWordName(w)), w, eeprom[w], panel[w]);
        changes += line;
    }
    if (changes.empty()) {
        showStatusText(kvex::tr("EEPROM already holds this parameter set - nothing sent."));
        return EEPROM_UNCHANGED;
    }
    const std::string message = kvex::trArgs(
        "These words of the sensor's EEPROM will change permanently:\n%1\n\nWrite them to the "
        "EEPROM?",
        {changes});
    if (ConfirmPopup(kvex::tr("Write to EEPROM"), message.c_str(), kvex::tr("Write to EEPROM")))
        return EEPROM_WRITE;
    showStatusText(kvex::tr("EEPROM write cancelled."));
    return EEPROM_CANCELLED;
}

void installCompare() {
    static int observer = 0;
    if (observer)
        return;
    LiveObserver hooks;
    hooks.runStarted = [] { dimCompare(1); };
    hooks.runEnded = [](LiveEnd) { dimCompare(0); };
    hooks.videoStarted = [] { dimCompare(1); };
    hooks.videoEnded = [](LiveEnd) { dimCompare(0); };
    observer = addLiveObserver(hooks);
}

int CC_BTNCompare(int, int, int event, void *, int, int) {
    if (event != EVENT_COMMIT || exchangeDepth > 0)
        return 0;
    const int second = target == EEPROM    ? SOURCE_EEPROM
                       : target == DATFILE ? SOURCE_FILE
                                           : SOURCE_RAM;
    const char *wordNames[PNUM];
    for (int w = 0; w < PNUM; ++w)
        wordNames[w] = parameterWordName(w);
    CompareParameterSetsPopup(sourceNames, SOURCE_COUNT, wordNames, PNUM, SOURCE_PANEL, second,
                              readForView);
    return 0;
}
