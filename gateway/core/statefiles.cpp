#include "gateway/core/statefiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool makeDirectories(const std::string &path) {
    for (std::size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

} // namespace

std::string gatewayStateFile(const std::string &store, const std::string &name) {
    if (!store.empty())
        return store + "." + name;
    if (const char *state = std::getenv("STATE_DIRECTORY"); state && *state) {
        // systemd lists several folders with colons when the unit names several.
        std::string first = state;
        return first.substr(0, first.find(':')) + "/" + name;
    }
    if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/kvex-rtn/" + name;
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/state/kvex-rtn/" + name;
}

bool writeFileAtomically(const std::string &path, const std::string &bytes, mode_t mode,
                         std::string *error) {
    const auto slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(path.substr(0, slash))) {
        *error = "cannot create the folder of " + path;
        return false;
    }
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool ok = fd >= 0 && ::fchmod(fd, mode) == 0 &&
              ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ok = ok && ::fsync(fd) == 0;
    if (fd >= 0)
        ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
    }
    return ok;
}
