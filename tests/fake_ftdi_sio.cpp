// Plays an FTDI adapter's driver for pseudo-terminals: TIOCGSERIAL, TIOCSSERIAL and sysfs
// latency_timer as ftdi_sio answers them, preloaded into a program or linked into a test or bench.
//
// Active only while KVEX_FAKE_FTDI_DIR names a directory; everything else passes through to the
// C library. In that directory:
//   refuse        (written by the caller) EINVAL: the driver refuses TIOCSSERIAL; ENOTTY: it knows
//                 neither call, as a pseudo-terminal or an older driver
//   calls         one line per call: GET or SET, the errno it gave (0 when accepted) and the
//                 serial_struct in hex as the driver reported it (GET) or was given it (SET)
//   latency_timer.N  what /sys/class/tty/N/device/latency_timer reads for /dev/pts/N
//   notify.N      (a FIFO, created by the caller) gets '1' when ASYNC_LOW_LATENCY is set on
//                 /dev/pts/N and '0' when it is cleared, for a simulated adapter to follow
#undef _FORTIFY_SOURCE

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

// Unix 98 pseudo-terminal slaves.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;
// ftdi_sio's default latency timer.
constexpr int kDefaultLatencyMs = 16;
constexpr char kLatencyPrefix[] = "/sys/class/tty/";
constexpr char kLatencySuffix[] = "/device/latency_timer";

using IoctlFunction = int (*)(int, unsigned long, ...);
using OpenFunction = int (*)(const char *, int, ...);
using OpenatFunction = int (*)(int, const char *, int, ...);

template <class F> F nextFunction(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int realOpen(const char *path, int flags, mode_t mode) {
    static const auto next = nextFunction<OpenFunction>("open");
    return next(path, flags, mode);
}

std::mutex &stateMutex() {
    static std::mutex mutex;
    return mutex;
}

// The driver's state per directory and pseudo-terminal number, as it keeps it while the adapter
// is plugged in; a new directory is a new set of adapters.
std::map<std::string, serial_struct> &devices() {
    static std::map<std::string, serial_struct> map;
    return map;
}

const char *fakeDirectory() {
    const char *dir = std::getenv("KVEX_FAKE_FTDI_DIR");
    return dir && *dir ? dir : nullptr;
}

std::string inDirectory(const std::string &name) {
    return std::string(fakeDirectory()) + "/" + name;
}

int ptyNumber(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) < kPtySlaveMajorFirst ||
        major(st.st_rdev) > kPtySlaveMajorLast)
        return -1;
    return static_cast<int>((major(st.st_rdev) - kPtySlaveMajorFirst) * 256 + minor(st.st_rdev));
}

// A user flag set besides the driver's own, so a write that drops flags it was not asked to
// change shows.
serial_struct initialState(int number) {
    serial_struct s{};
    s.line = number;
    s.flags = ASYNC_SKIP_TEST | ASYNC_CALLOUT_NOHUP;
    s.baud_base = 24000000;
    s.close_delay = 50;
    s.closing_wait = 3000;
    s.xmit_fifo_size = 256;
    return s;
}

int latencyOf(const serial_struct &s) {
    return (s.flags & ASYNC_LOW_LATENCY) ? 1 : kDefaultLatencyMs;
}

void writeLatencyFile(int number, const serial_struct &s) {
    const std::string path = inDirectory("latency_timer." + std::to_string(number));
    if (FILE *file = std::fopen(path.c_str(), "w")) {
        std::fprintf(file, "%d\n", latencyOf(s));
        std::fclose(file);
    }
}

serial_struct &deviceState(int number) {
    const std::string key = inDirectory(std::to_string(number));
    auto it = devices().find(key);
    if (it == devices().end()) {
        it = devices().emplace(key, initialState(number)).first;
        writeLatencyFile(number, it->second);
    }
    return it->second;
}

std::string refusal() {
    std::string text;
    if (FILE *file = std::fopen(inDirectory("refuse").c_str(), "r")) {
        char buffer[16] = {};
        if (std::fgets(buffer, sizeof buffer, file))
            text = buffer;
        std::fclose(file);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

void logCall(const char *name, int error, const serial_struct &s) {
    FILE *file = std::fopen(inDirectory("calls").c_str(), "a");
    if (!file)
        return;
    std::fprintf(file, "%s %d ", name, error);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&s);
    for (std::size_t i = 0; i < sizeof s; ++i)
        std::fprintf(file, "%02x", bytes[i]);
    std::fprintf(file, "\n");
    std::fclose(file);
}

void notifyLowLatency(int number, bool on) {
    const std::string fifo = inDirectory("notify." + std::to_string(number));
    const int fd = realOpen(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0)
        return;
    const char byte = on ? '1' : '0';
    if (write(fd, &byte, 1) != 1)
        std::perror("fake ftdi_sio: notify");
    close(fd);
}

int fail(int error) {
    errno = error;
    return -1;
}

// The two calls as ftdi_sio and the usb-serial core answer them for a caller without
// CAP_SYS_ADMIN: it may change only the user flags and the custom divisor, and anything else it
// hands back must be what the driver has, or the call fails with EPERM.
int playDriver(int number, unsigned long request, serial_struct *user) {
    const std::string refuse = refusal();
    std::lock_guard<std::mutex> lock(stateMutex());
    serial_struct &state = deviceState(number);
    if (request == TIOCGSERIAL) {
        if (refuse == "ENOTTY") {
            logCall("GET", ENOTTY, state);
            return fail(ENOTTY);
        }
        *user = state;
        logCall("GET", 0, state);
        return 0;
    }
    int error = 0;
    if (refuse == "ENOTTY" || refuse == "EINVAL")
        error = refuse == "ENOTTY" ? ENOTTY : EINVAL;
    else if (((user->flags ^ state.flags) & ~ASYNC_USR_MASK) != 0 ||
             user->close_delay != state.close_delay || user->closing_wait != state.closing_wait)
        error = EPERM;
    logCall("SET", error, *user);
    if (error)
        return fail(error);
    const bool wasLow = (state.flags & ASYNC_LOW_LATENCY) != 0;
    state.flags = (state.flags & ~ASYNC_USR_MASK) | (user->flags & ASYNC_USR_MASK);
    state.custom_divisor = user->custom_divisor;
    const bool isLow = (state.flags & ASYNC_LOW_LATENCY) != 0;
    writeLatencyFile(number, state);
    if (isLow != wasLow)
        notifyLowLatency(number, isLow);
    return 0;
}

// /sys/class/tty/N/device/latency_timer for a pseudo-terminal N: the driver's file instead.
bool redirectedPath(const char *path, std::string &target) {
    if (!path || !fakeDirectory() || std::strncmp(path, kLatencyPrefix, sizeof kLatencyPrefix - 1))
        return false;
    const char *name = path + sizeof kLatencyPrefix - 1;
    char *end = nullptr;
    const long number = std::strtol(name, &end, 10);
    if (end == name || std::strcmp(end, kLatencySuffix) != 0 || number < 0)
        return false;
    std::lock_guard<std::mutex> lock(stateMutex());
    deviceState(static_cast<int>(number));
    target = inDirectory("latency_timer." + std::to_string(number));
    return true;
}

mode_t modeArgument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

} // namespace

extern "C" {

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    if ((request == TIOCGSERIAL || request == TIOCSSERIAL) && fakeDirectory()) {
        const int number = ptyNumber(fd);
        if (number >= 0) {
            if (!argument)
                return fail(EFAULT);
            return playDriver(number, request, static_cast<serial_struct *>(argument));
        }
    }
    static const auto next = nextFunction<IoctlFunction>("ioctl");
    return next(fd, request, argument);
}

int open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    std::string target;
    return realOpen(redirectedPath(path, target) ? target.c_str() : path, flags, mode);
}

int open64(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    static const auto next = nextFunction<OpenFunction>("open64");
    std::string target;
    return next(redirectedPath(path, target) ? target.c_str() : path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    static const auto next = nextFunction<OpenatFunction>("openat");
    std::string target;
    return next(dirfd, redirectedPath(path, target) ? target.c_str() : path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    static const auto next = nextFunction<OpenatFunction>("openat64");
    std::string target;
    return next(dirfd, redirectedPath(path, target) ? target.c_str() : path, flags, mode);
}

} // extern "C"
