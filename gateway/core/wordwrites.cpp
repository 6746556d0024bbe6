// The checks and exchanges of a sensor write, shared by the web API and Sparkplug DCMD.
#include "gateway/core/wordwrites.h"
#include "app/jsontext.h"
#include "com232/rs232link.h"
#include "gateway/core/sensorjobs.h"

#include <algorithm>

int wordIndexOf(const std::string &name) {
    for (int word = 0; word < PNUM; ++word)
        if (name == parameterJsonKey(word))
            return word;
    return -1;
}

bool checkWordWrite(const std::vector<WordValue> &values, bool eeprom, int positions,
                    CheckedWrite *write) {
    write->eeprom = eeprom;
    write->words.clear();
    write->what = std::string("parameter words to ") + (eeprom ? "EEPROM" : "RAM");
    for (const WordValue &v : values) {
        const int word = wordIndexOf(v.name);
        if (word < 0) {
            write->badWord = -1;
            write->badName = v.name;
            write->refusal = "no parameter word is called \"" + v.name + "\"";
            return false;
        }
        const ParameterLimit limit = parameterLimit(word, positions);
        if (v.value < 0 || v.value > 0xFFFF ||
            panelCorrected(word, static_cast<unsigned short>(v.value), positions) != v.value) {
            write->badWord = word;
            write->badName = v.name;
            write->badValue = v.value;
            write->badLimit = limit;
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
    out.eeprom = write.eeprom;
    const WordMemory memory = write.eeprom ? WordMemory::Eeprom : WordMemory::Ram;
    uint16_t set[16], readBack[16];
    if (!readSensorWords(memory, set)) {
        out.failure = "the sensor did not answer";
        out.result = "failed: no parameter frame before the write";
        return out;
    }
    for (const auto &word : write.words)
        set[word.first] = word.second;
    if (!writeSensorWords(memory, set, readBack)) {
        out.failure = "the sensor did not answer the read-back";
        out.result = "failed: no read-back";
        return out;
    }
    out.answered = true;
    out.verified = std::equal(set, set + 16, readBack);
    out.result = out.verified ? "written and verified" : "read-back differs";
    // EEPROM holds the words for the next power-on; what the sensor runs with stays in RAM.
    out.ramChanged = !write.eeprom;
    std::copy(readBack, readBack + 16, out.words.begin());
    return out;
}

WriteOutcome runTeach() {
    WriteOutcome out;
    out.kind = WriteOutcome::Kind::Teach;
    if (!teachSensor(out.words.data())) {
        out.failure = "the sensor did not answer the teach";
        out.result = "failed: no answer";
        return out;
    }
    out.answered = true;
    out.result = "set-point " + std::to_string(out.words[8]);
    out.ramChanged = true;
    return out;
}

WriteOutcome runResetMaxMin() {
    WriteOutcome out;
    out.kind = WriteOutcome::Kind::Reset;
    out.answered = resetSensorMaxMin();
    out.failure = out.answered ? "" : "the sensor did not answer the reset";
    out.result = out.answered ? "done" : "failed: no answer";
    return out;
}
