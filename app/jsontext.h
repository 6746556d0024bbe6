// Text as a JSON string, shared by the command line's --json output and the gateway's payloads.
#pragma once

#include <string>

// The text quoted and escaped; bytes above 0x7F (the sensor's firmware texts are single bytes of
// no declared encoding) are taken as Latin-1 and written as UTF-8.
std::string jsonString(const std::string &text);
