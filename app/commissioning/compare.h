// Comparing parameter sets: the compare view over panel, sensor RAM, sensor EEPROM and a file,
// and the question before a permanent write to the EEPROM.
#pragma once

#include <string>

enum ParameterSource { SOURCE_PANEL, SOURCE_RAM, SOURCE_EEPROM, SOURCE_FILE, SOURCE_COUNT };

// Reads one parameter set into words[16] without changing the panel or the sensor; 0, or below
// 0 with the reason.
int readParameterSet(int source, unsigned short *words, std::string *reason);
enum EepromSendAnswer { EEPROM_WRITE, EEPROM_UNCHANGED, EEPROM_CANCELLED };
// Before SEND to EEPROM: reads the EEPROM, says when nothing would change, and otherwise asks
// with the words that will change.
EepromSendAnswer confirmEepromSend();
// Dims the Compare button while a live loop runs; called once at start-up.
void installCompare();

int CC_BTNCompare(int panel, int control, int event, void *callbackData, int eventData1,
                  int eventData2);
