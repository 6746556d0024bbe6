// Descriptor numbers for the gateway's network servers: the limit raised, client sockets kept out
// of select()'s range.
#include "platform/net/descriptors.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/select.h>

#include <algorithm>

long raiseDescriptorLimit() {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        ::getrlimit(RLIMIT_NOFILE, &files);
    }
    return files.rlim_cur == RLIM_INFINITY
               ? 1L << 30
               : static_cast<long>(std::min<rlim_t>(files.rlim_cur, 1L << 30));
}

int duplicateAboveSelectRange(int fd) {
    if (fd >= FD_SETSIZE)
        return -1;
    return ::fcntl(fd, F_DUPFD_CLOEXEC, FD_SETSIZE);
}
