#include "gateway/faces/opcua/users.h"

#include <crypt.h>

#include <memory>
#include <set>
#include <sstream>

bool parseOpcuaUsers(const std::string &text, std::vector<OpcuaUser> *users, std::string *error) {
    users->clear();
    std::istringstream in(text);
    std::string line;
    std::set<std::string> names;
    for (int number = 1; std::getline(in, line); ++number) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        const auto first = line.find(':');
        const auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) {
            *error = where + "expected NAME:ROLE:HASH";
            return false;
        }
        OpcuaUser user;
        user.name = line.substr(0, first);
        const std::string role = line.substr(first + 1, second - first - 1);
        user.hash = line.substr(second + 1);
        if (user.name.empty()) {
            *error = where + "no user name";
            return false;
        }
        if (role != "read" && role != "write") {
            *error = where + "the role must be read or write, not \"" + role + "\"";
            return false;
        }
        user.write = role == "write";
        // SHA-512 crypt only: the older schemes are quick to guess.
        if (user.hash.rfind("$6$", 0) != 0 || user.hash.size() < 20) {
            *error = where + "expected a SHA-512 crypt hash ($6$…) as openssl passwd -6 makes it";
            return false;
        }
        if (!names.insert(user.name).second) {
            *error = where + "user " + user.name + " given twice";
            return false;
        }
        users->push_back(std::move(user));
    }
    return true;
}

bool opcuaPasswordMatches(const std::string &password, const std::string &hash) {
    // crypt_data is large; the server's thread has a small stack to spare.
    auto data = std::make_unique<crypt_data>();
    const char *result = crypt_r(password.c_str(), hash.c_str(), data.get());
    if (!result || result[0] == '*')
        return false;
    const std::string computed = result;
    if (computed.size() != hash.size())
        return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < hash.size(); ++i)
        differ |= static_cast<unsigned char>(computed[i] ^ hash[i]);
    return differ == 0;
}
