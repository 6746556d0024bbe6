// The checks and exchanges of a sensor write, shared by the web API and Sparkplug DCMD.
#include "gateway/core/wordwrites.h"
#include "app/jsontext.h"
#include "app/parameterwords.h"
#include "com232/rs232link.h"
#include "gateway/payloads.h"
#include "gateway/core/sensorjobs.h"

#include <algorithm>

int wordIndexOf(const std::string &name) {
    for (int word = 0; word < PNUM; ++word)
        if (name == parameterJsonKey(word))
            return word;
    return -1;
}

bool checkWordWrite(const std::vector<WordValue> &values, bool eeprom, int positions,
                    CheckedWrite *write, int *status, std::string *body) {
    write->eeprom = eeprom;
    write->words.clear();
    write->what = std::string("parameter words to ") + (eeprom ? "EEPROM" : "RAM");
    for (const WordValue &v : values) {
        const int word = wordIndexOf(v.name);
        if (word < 0) {
            *status = 400;
            write->refusal = "no parameter word is called \"" + v.name + "\"";
            *body = errorJson(write->refusal);
            return false;
        }
        const ParameterLimit limit = parameterLimit(word, positions);
        if (v.value < 0 || v.value > 0xFFFF ||
            panelCorrected(word, static_cast<unsigned short>(v.value), positions) != v.value) {
            *status = 422;
            *body = rangeErrorJson(v.name, word, v.value, limit);
            write->refusal = v.name + " (word " + std::to_string(word) + ") is " +
                             std::to_string(v.value) + ", allowed " + std::to_string(limit.min) +
                             " to " + std::to_string(limit.max);
            return false;
        }
        write->words.push_back({word, static_cast<uint16_t>(v.value)});
        write->what +=
            (write->words.size() == 1 ? ": " : ", ") + v.name + "=" + std::to_string(v.value);
    }
    return true;
}

WriteOutcome runWordWrite(const CheckedWrite &write) {
    WriteOutcome out;
    const WordMemory memory = write.eeprom ? WordMemory::Eeprom : WordMemory::Ram;
    uint16_t set[16], readBack[16];
    if (!readSensorWords(memory, set)) {
        out.status = 504;
        out.body = errorJson("the sensor did not answer");
        out.result = "failed: no parameter frame before the write";
        return out;
    }
    for (const auto &word : write.words)
        set[word.first] = word.second;
    if (!writeSensorWords(memory, set, readBack)) {
        out.status = 504;
        out.body = errorJson("the sensor did not answer the read-back");
        out.result = "failed: no read-back";
        return out;
    }
    const bool verified = std::equal(set, set + 16, readBack);
    out.status = verified ? 200 : 502;
    out.body = writeResultJson(write.eeprom, verified, readBack);
    out.result = verified ? "written and verified" : "read-back differs";
    // EEPROM holds the words for the next power-on; what the sensor runs with stays in RAM.
    out.ramChanged = !write.eeprom;
    std::copy(readBack, readBack + 16, out.words);
    return out;
}

WriteOutcome runTeach() {
    WriteOutcome out;
    if (!teachSensor(out.words)) {
        out.status = 504;
        out.body = errorJson("the sensor did not answer the teach");
        out.result = "failed: no answer";
        return out;
    }
    out.status = 200;
    out.body = teachResultJson(out.words);
    out.result = "set-point " + std::to_string(out.words[8]);
    out.ramChanged = true;
    return out;
}

WriteOutcome runResetMaxMin() {
    WriteOutcome out;
    const bool done = resetSensorMaxMin();
    out.status = done ? 200 : 504;
    out.body = done ? resetResultJson() : errorJson("the sensor did not answer the reset");
    out.result = done ? "done" : "failed: no answer";
    return out;
}
