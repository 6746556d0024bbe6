// Preloaded into the gateway by its store tests: fails writes, syncs or opens for writing of the
// files whose path contains $KVEX_FAULT_PATH while the file $KVEX_FAULT_CONTROL exists and names
// the fault: "enospc" (writes fail, disk full), "eio" (writes fail), "fsync" (syncs fail) or
// "rofs" (opening for writing fails, read-only file system).
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

int faultNamed(const char *name) {
    const char *control = getenv("KVEX_FAULT_CONTROL");
    if (!control)
        return 0;
    const int saved = errno;
    char text[16] = "";
    FILE *f = std::fopen(control, "r");
    if (f) {
        if (!fgets(text, sizeof text, f))
            text[0] = '\0';
        fclose(f);
    }
    errno = saved;
    return f && strncmp(text, name, strlen(name)) == 0;
}

int pathMatches(const char *path) {
    const char *part = getenv("KVEX_FAULT_PATH");
    return part && path && strstr(path, part) != NULL;
}

int fdMatches(int fd) {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const int saved = errno;
    const ssize_t n = readlink(link, path, sizeof path - 1);
    errno = saved;
    if (n <= 0)
        return 0;
    path[n] = '\0';
    return pathMatches(path);
}

/* errno for a failing write of fd, or 0 to let it through. */
int writeFault(int fd) {
    if (!fdMatches(fd))
        return 0;
    if (faultNamed("enospc"))
        return ENOSPC;
    if (faultNamed("eio"))
        return EIO;
    return 0;
}

} // namespace

#define REAL(name) (reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name)))

extern "C" {

ssize_t write(int fd, const void *buffer, size_t count) {
    const int error = writeFault(fd);
    if (error) {
        errno = error;
        return -1;
    }
    return REAL(write)(fd, buffer, count);
}

ssize_t pwrite64(int fd, const void *buffer, size_t count, off64_t offset) {
    const int error = writeFault(fd);
    if (error) {
        errno = error;
        return -1;
    }
    return REAL(pwrite64)(fd, buffer, count, offset);
}

int fdatasync(int fd) {
    if (fdMatches(fd) && faultNamed("fsync")) {
        errno = EIO;
        return -1;
    }
    return REAL(fdatasync)(fd);
}

int fsync(int fd) {
    if (fdMatches(fd) && faultNamed("fsync")) {
        errno = EIO;
        return -1;
    }
    return REAL(fsync)(fd);
}

int open64(const char *path, int flags, ...) {
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    if ((flags & (O_WRONLY | O_RDWR | O_CREAT)) && pathMatches(path) && faultNamed("rofs")) {
        errno = EROFS;
        return -1;
    }
    return REAL(open64)(path, flags, mode);
}

} // extern "C"
