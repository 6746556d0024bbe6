// The small files a face keeps between runs (Sparkplug's bdSeq, the OPC UA server's certificate):
// where they go, and how they are written so that a crash never leaves half of one.
#pragma once

#include <string>
#include <sys/types.h>

// Beside the store (FILE.name), else in systemd's STATE_DIRECTORY, else under XDG_STATE_HOME
// (~/.local/state) in kvex-rtn/.
std::string gatewayStateFile(const std::string &store, const std::string &name);
// Written to a new file, synced and renamed over the old one, with `mode` (the folders are made
// as needed); false with the reason.
bool writeFileAtomically(const std::string &path, const std::string &bytes, mode_t mode,
                         std::string *error);
