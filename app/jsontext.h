// JSON shared by the command line's --json output and the gateway's payloads: one vocabulary,
// snake_case keys, the same key for the same fact.
#pragma once

#include <string>

// The text quoted and escaped; bytes above 0x7F (the sensor's firmware texts are single bytes of
// no declared encoding) are taken as Latin-1 and written as UTF-8.
std::string jsonString(const std::string &text);
// The key of parameter word 0 to 15 in every JSON the program writes.
const char *parameterJsonKey(int word);
// The 16 parameter words as an object under their keys: {"power":500,"p_mode":0,...}.
std::string parametersJson(const unsigned short words[16]);
