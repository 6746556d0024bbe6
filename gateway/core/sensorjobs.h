// The exchanges the poller runs for the faces between two run cycles, over the program's own frame
// code: parameter words from and to RAM or EEPROM, teach, reset of max/min, one video line.
#pragma once

#include "gateway/core/state.h"

#include <cstdint>
#include <string>

enum class WordMemory { Ram, Eeprom };

// The 16 words from RAM or EEPROM; false when no parameter frame came.
bool readSensorWords(WordMemory memory, uint16_t words[16]);
// Sends the words, waits while the sensor stores them and reads them back into `readBack`;
// false when the write failed or no read-back came.
bool writeSensorWords(WordMemory memory, const uint16_t words[16], uint16_t readBack[16]);
// Teach: the sensor takes the current value as its set-point. `ram` gets the words after it.
bool teachSensor(uint16_t ram[16]);
// Resets the analogue output's max/min; false without the sensor's answer.
bool resetSensorMaxMin();
// One whole video line into `line`; false when a block came short (the line is not whole).
bool readSensorVideoLine(uint16_t line[256]);
// The line's signal reserve under the parameter words it was taken with (threshold, polarity,
// window), on the video axis of the sensor identified: /api/video and the reserve lines alike.
ReserveReading lineReserve(const uint16_t line[256], const uint16_t params[16], std::string ts);
// The threshold and window ProposeSETUP finds in a reserve line, within the panel's range for the
// threshold on a sensor of `positions`.
ReserveProposal lineProposal(const VideoLine &line, int positions);
