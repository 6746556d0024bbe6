#include "app/drift/paramdrift.h"
#include "app/jsontext.h"
#include "app/parameterwords.h"
#include "gui/parafile.h"
#include "platform/tr.h"

#include <algorithm>

bool ParameterDrift::any() const {
    for (int c = 0; c < DRIFT_COMPARES; ++c)
        if (differing[c] > 0)
            return true;
    return false;
}

const char *driftCompareKey(DriftCompare compare) {
    switch (compare) {
    case DRIFT_RAM_EEPROM:
        return "ram_eeprom";
    case DRIFT_EEPROM_GOLDEN:
        return "eeprom_golden";
    case DRIFT_RAM_GOLDEN:
        return "ram_golden";
    default:
        return "";
    }
}

ParameterDrift CompareDRIFT(const unsigned short ram[PNUM], const unsigned short eeprom[PNUM],
                            const unsigned short *golden) {
    ParameterDrift drift;
    drift.haveGolden = golden != nullptr;
    for (int w = 0; w < PNUM; ++w) {
        const bool unsaved = ram[w] != eeprom[w];
        const bool eepromOff = golden && eeprom[w] != golden[w];
        const bool ramOff = golden && ram[w] != golden[w];
        drift.differing[DRIFT_RAM_EEPROM] += unsaved;
        drift.differing[DRIFT_EEPROM_GOLDEN] += eepromOff;
        drift.differing[DRIFT_RAM_GOLDEN] += ramOff;
        if (unsaved || eepromOff || ramOff)
            drift.words.push_back(
                {w, static_cast<unsigned short>(golden ? golden[w] : 0), eeprom[w], ram[w]});
    }
    return drift;
}

std::string driftJson(const ParameterDrift &drift) {
    std::string json = std::string("{\"golden\":") + (drift.haveGolden ? "true" : "false");
    for (int c = 0; c < DRIFT_COMPARES; ++c) {
        const bool known = c == DRIFT_RAM_EEPROM || drift.haveGolden;
        json += ",\"" + std::string(driftCompareKey(static_cast<DriftCompare>(c))) +
                "\":" + (known ? std::to_string(drift.differing[c]) : "null");
    }
    json += ",\"words\":[";
    for (std::size_t i = 0; i < drift.words.size(); ++i) {
        const DriftWord &d = drift.words[i];
        json += (i ? ",{" : "{") + std::string("\"word\":") + std::to_string(d.word) +
                ",\"key\":" + jsonString(parameterJsonKey(d.word)) +
                ",\"name\":" + jsonString(parameterWordName(d.word)) +
                ",\"approved\":" + (drift.haveGolden ? std::to_string(d.approved) : "null") +
                ",\"eeprom\":" + std::to_string(d.eeprom) + ",\"ram\":" + std::to_string(d.ram) +
                "}";
    }
    return json + "]}";
}

std::vector<std::string> driftLines(const ParameterDrift &drift) {
    std::vector<std::string> lines;
    for (const DriftWord &d : drift.words) {
        const std::string word = std::to_string(d.word), eeprom = std::to_string(d.eeprom),
                          ram = std::to_string(d.ram);
        const char *name = kvex::trNow(parameterWordName(d.word));
        lines.push_back(
            drift.haveGolden
                ? kvex::trArgs("%1 (word %2): approved %3, EEPROM %4, RAM %5",
                               {name, word, std::to_string(d.approved), eeprom, ram})
                : kvex::trArgs("%1 (word %2): EEPROM %3, RAM %4", {name, word, eeprom, ram}));
    }
    return lines;
}

std::vector<std::string> driftSays(const ParameterDrift &drift) {
    std::vector<std::string> says;
    if (drift.differing[DRIFT_RAM_EEPROM] > 0)
        says.push_back("unsaved changes");
    if (drift.differing[DRIFT_EEPROM_GOLDEN] > 0 || drift.differing[DRIFT_RAM_GOLDEN] > 0)
        says.push_back("differs from the approved set");
    return says;
}

std::vector<std::string> ReadAPPROVEDSet(const std::string &path, int positions,
                                         unsigned short words[PNUM]) {
    ParameterFile file;
    const int loaded = readParameterFile(path.c_str(), file);
    // A number out of any word's range is one of the problems listed below, line by line.
    if (loaded < 0 && loaded != PARAMETER_FILE_OUT_OF_RANGE) {
        reportParameterFileError(loaded, path.c_str(), &file);
        return {szStatus};
    }
    std::vector<std::string> problems = parameterFileProblems(file, positions);
    if (problems.empty())
        std::copy(file.words, file.words + PNUM, words);
    for (std::string &problem : problems)
        problem = path + " " + problem;
    return problems;
}
