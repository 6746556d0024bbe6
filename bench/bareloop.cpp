// The bare request/answer loop on the sensor's line.
#include "bench/bareloop.h"

#include "sim/sensorsim.h"

#include <cstdint>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

BareLoopRun runBareLoop(const std::string &device, long maxCycles, double maxSeconds) {
    BareLoopRun run;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return run;
    run.opened = true;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B19200);
    tio.c_cc[VMIN] = kvexsim::kFrameSize;
    tio.c_cc[VTIME] = 10;
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
    const kvexsim::Frame request = kvexsim::buildFrame(kvexsim::kRequestSync, 8, {});
    const double start = kvexsim::steadySeconds();
    while ((maxCycles <= 0 || run.cycles < maxCycles) &&
           (maxSeconds <= 0 || kvexsim::steadySeconds() - start < maxSeconds)) {
        if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            break;
        std::size_t got = 0;
        uint8_t answer[kvexsim::kFrameSize];
        while (got < sizeof answer) {
            const ssize_t n = ::read(fd, answer + got, sizeof answer - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got < sizeof answer)
            break;
        ++run.cycles;
    }
    run.wallSeconds = kvexsim::steadySeconds() - start;
    ::close(fd);
    return run;
}
