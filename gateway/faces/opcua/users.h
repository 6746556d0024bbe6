// The OPC UA face's users: a file of NAME:ROLE:HASH lines (ROLE read or write, HASH a SHA-512
// crypt hash as `openssl passwd -6` makes it), and the check of a password against its hash.
#pragma once

#include <string>
#include <vector>

struct OpcuaUser {
    std::string name;
    bool write = false;
    std::string hash;
};

// Blank lines and lines starting with # are left out; false with the first problem, naming its
// line (never the hash).
bool parseOpcuaUsers(const std::string &text, std::vector<OpcuaUser> *users, std::string *error);
// crypt(3) of the password with the hash's own salt and rounds, compared in constant time.
bool opcuaPasswordMatches(const std::string &password, const std::string &hash);
