// Serial transport of the simulated sensor: a thread that reads requests and paces the answers.
#include "sim/sensorsim.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <unistd.h>

namespace kvexsim {

namespace {

// Upper bound of one wait, so stop() never waits long for the thread.
constexpr int kMaxPollMs = 5;

void makeRaw19200(termios &tio) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

bool configureRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    makeRaw19200(tio);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool addFdFlags(int fd, int statusFlags) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | statusFlags) < 0)
        return false;
    return fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC) == 0;
}

} // namespace

const char *adapterName(Adapter adapter) {
    return adapter == Adapter::Ftdi ? "ftdi" : "plain";
}

bool parseAdapter(const std::string &text, Adapter &adapter) {
    for (Adapter a : {Adapter::Plain, Adapter::Ftdi})
        if (text == adapterName(a)) {
            adapter = a;
            return true;
        }
    return false;
}

SensorSim::SensorSim(const SensorProfile &profile) : core_(profile) {}

SensorSim::~SensorSim() {
    stop();
    closeFds();
    if (lowLatencyFifo_ >= 0)
        close(lowLatencyFifo_);
}

bool SensorSim::watchLowLatencyFifo(const std::string &path) {
    // Open for writing as well, so the FIFO never reports a hang-up between two writers.
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const int old = lowLatencyFifo_.exchange(fd);
    if (old >= 0)
        close(old);
    return true;
}

void SensorSim::readLowLatencyFifo() {
    char buffer[64];
    ssize_t n = 0;
    while ((n = read(lowLatencyFifo_, buffer, sizeof buffer)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            if (buffer[i] == '0' || buffer[i] == '1')
                lowLatency_ = buffer[i] == '1';
}

void SensorSim::closeFds() {
    if (masterFd_ >= 0)
        close(masterFd_);
    if (slaveFd_ >= 0)
        close(slaveFd_);
    masterFd_ = -1;
    slaveFd_ = -1;
}

bool SensorSim::openPty() {
    const bool wasRunning = running_;
    stop();
    closeFds();

    // The slave is created raw, so not a single byte is ever cooked or echoed.
    termios tio{};
    makeRaw19200(tio);
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, &tio, nullptr) != 0)
        return false;
    char path[PATH_MAX] = {};
    const bool ok = configureRaw(master) && ttyname_r(slave, path, sizeof path) == 0 &&
                    addFdFlags(master, O_NONBLOCK) && addFdFlags(slave, 0);
    if (!ok) {
        close(master);
        close(slave);
        return false;
    }
    masterFd_ = master;
    // Holding the slave open keeps the device alive between the program's opens; without it the
    // master would see a hang-up each time the program closes the port.
    slaveFd_ = slave;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devicePath_ = path;
    }
    if (wasRunning)
        start();
    return true;
}

bool SensorSim::openDevice(const std::string &path) {
    const bool wasRunning = running_;
    stop();
    closeFds();

    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (!configureRaw(fd)) {
        close(fd);
        return false;
    }
    tcflush(fd, TCIOFLUSH);
    masterFd_ = fd;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        devicePath_ = path;
    }
    if (wasRunning)
        start();
    return true;
}

std::string SensorSim::devicePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return devicePath_;
}

void SensorSim::start() {
    if (running_ || masterFd_ < 0)
        return;
    assembler_.clear();
    pendingRequests_.clear();
    pendingAnswers_.clear();
    lastRequestDue_ = 0.0;
    lastAnswerEnd_ = 0.0;
    outputBlocked_ = false;
    held_.clear();
    toProgram_.clear();
    answerEnds_.clear();
    bytesOffWire_ = 0;
    bytesWritten_ = 0;
    tickPeriod_ = 0.0;
    running_ = true;
    thread_ = std::thread(&SensorSim::serve, this);
}

void SensorSim::stop() {
    running_ = false;
    if (thread_.joinable())
        thread_.join();
}

void SensorSim::hangUp() {
    stop();
    closeFds();
}

void SensorSim::setProfile(const SensorProfile &profile) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.setProfile(profile);
}

SensorProfile SensorSim::profile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.profile();
}

void SensorSim::setFault(int command, const Fault &fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.setFault(command, fault);
}

void SensorSim::clearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

void SensorSim::setRandomFaults(double rate, uint32_t seed) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.setRandom(rate, seed);
}

Words SensorSim::ram() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.ram();
}

Words SensorSim::eeprom() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.eeprom();
}

void SensorSim::setRam(const Words &words) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.setRam(words);
}

void SensorSim::setEeprom(const Words &words) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.setEeprom(words);
}

void SensorSim::setDimming(double percentPerHour) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.setDimming(percentPerHour, steadySeconds());
}

double SensorSim::litShare() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.litShare(steadySeconds());
}

void SensorSim::setObject(uint16_t left, uint16_t right) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.setObject(left, right);
}

void SensorSim::setReplay(std::shared_ptr<const Replay> replay, double speed) {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.setReplay(std::move(replay), speed);
}

void SensorSim::releaseObject() {
    std::lock_guard<std::mutex> lock(mutex_);
    core_.releaseObject();
}

std::vector<Request> SensorSim::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void SensorSim::clearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

bool SensorSim::waitForRequests(std::size_t n, double timeoutSeconds) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return progress_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                              [&] { return requests_.size() >= n; });
}

std::size_t SensorSim::answersSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return answersSent_;
}

std::size_t SensorSim::faultsInjected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.injected();
}

bool SensorSim::waitForAnswers(std::size_t n, double timeoutSeconds) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return progress_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                              [&] { return answersSent_ >= n; });
}

void SensorSim::serve() {
#ifdef __linux__
    // The kernel may otherwise let a timed wait run up to 50 us late, twice a cycle: a wire that
    // is slow for the simulator's sake would be counted against the program it serves.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    while (running_) {
        pollfd fds[2] = {
            {masterFd_, static_cast<short>(POLLIN | (outputBlocked_ ? POLLOUT : 0)), 0},
            {lowLatencyFifo_, POLLIN, 0}};
        pollfd &pfd = fds[0];
        // Nanosecond waits: millisecond rounding would add up to a millisecond to every answer.
        const double wait = pollTimeout(steadySeconds());
        timespec timeout{
            static_cast<time_t>(wait),
            static_cast<long>((wait - static_cast<double>(static_cast<time_t>(wait))) * 1e9)};
        const int ready = ppoll(fds, fds[1].fd >= 0 ? 2 : 1, &timeout, nullptr);
        if (ready > 0 && (fds[1].revents & POLLIN))
            readLowLatencyFifo();
        if (ready > 0 && pfd.revents) {
            if (pfd.revents & POLLOUT)
                outputBlocked_ = false;
            const bool gotData = (pfd.revents & POLLIN) && readInput(steadySeconds());
            // A hung-up line reports itself on every poll; waiting out the interval instead of
            // polling again keeps the thread from spinning until the line comes back.
            if (!gotData && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)))
                poll(nullptr, 0, kMaxPollMs);
        }
        completeRequests(steadySeconds());
        deliverAnswers(steadySeconds());
    }
}

bool SensorSim::readInput(double now) {
    bool gotData = false;
    uint8_t buffer[1024];
    for (;;) {
        const ssize_t n = read(masterFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        gotData = true;
        for (const auto &frame : assembler_.push(buffer, static_cast<std::size_t>(n), now)) {
            PendingRequest request;
            request.bytes = frame.bytes;
            // A request is only complete once its 36 bytes could have crossed the wire, and the
            // wire carries one request after the other.
            request.due =
                paced_ ? std::max({frame.lastByteTime, frame.firstByteTime + kFrameSize * kByteTime,
                                   lastRequestDue_ + kFrameSize * kByteTime})
                       : frame.lastByteTime;
            lastRequestDue_ = request.due;
            pendingRequests_.push_back(request);
        }
    }
    return gotData;
}

void SensorSim::completeRequests(double now) {
    while (!pendingRequests_.empty() && pendingRequests_.front().due <= now) {
        const PendingRequest request = pendingRequests_.front();
        pendingRequests_.pop_front();
        FaultedAnswer answer;
        double notBefore = 0.0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(Request{request.due, request.bytes});
            answer = faults_.apply(wordAt(request.bytes.data(), 1),
                                   core_.handleRequest(request.bytes, request.due));
            notBefore = core_.answerNotBefore();
            if (answer.litStep > 0.0)
                core_.stepLitLevel(answer.litStep);
        }
        progress_.notify_all();
        if (answer.silent || answer.bytes.empty())
            continue;
        PendingAnswer pending;
        pending.start = std::max(request.due + answer.delay, notBefore);
        if (paced_) {
            pending.start = std::max(pending.start, lastAnswerEnd_);
            lastAnswerEnd_ = pending.start + static_cast<double>(answer.bytes.size()) * kByteTime;
        }
        pending.bytes = std::move(answer.bytes);
        pendingAnswers_.push_back(std::move(pending));
    }
}

void SensorSim::takeWireBytes(double until) {
    while (!pendingAnswers_.empty()) {
        PendingAnswer &answer = pendingAnswers_.front();
        if (until < answer.start)
            return;
        std::size_t due = answer.bytes.size();
        if (paced_) {
            // Byte k is off the wire k + 1 byte times after the answer starts.
            const auto elapsedBytes = static_cast<std::size_t>((until - answer.start) / kByteTime);
            due = std::min(due, elapsedBytes);
        }
        if (due > answer.sent) {
            held_.insert(held_.end(),
                         answer.bytes.begin() + static_cast<std::ptrdiff_t>(answer.sent),
                         answer.bytes.begin() + static_cast<std::ptrdiff_t>(due));
            bytesOffWire_ += due - answer.sent;
            answer.sent = due;
        }
        if (answer.sent < answer.bytes.size())
            return;
        answerEnds_.push_back(bytesOffWire_);
        pendingAnswers_.pop_front();
    }
}

void SensorSim::releaseHeldBytes(std::size_t count) {
    toProgram_.insert(toProgram_.end(), held_.begin(),
                      held_.begin() + static_cast<std::ptrdiff_t>(count));
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(count));
}

void SensorSim::deliverAnswers(double now) {
    if (adapter_ == Adapter::Ftdi) {
        const double period = lowLatency_ ? kFtdiLowLatencyTimer : kFtdiLatencyTimer;
        // The timer runs on its own, whatever the line does: its ticks fall on a fixed grid.
        if (period != tickPeriod_ || nextTick_ < now - 1.0) {
            tickPeriod_ = period;
            nextTick_ = (std::floor(now / period) + 1.0) * period;
        }
        while (nextTick_ <= now) {
            takeWireBytes(nextTick_);
            releaseHeldBytes(held_.size());
            nextTick_ += tickPeriod_;
        }
        takeWireBytes(now);
        while (held_.size() >= kFtdiPacketBytes)
            releaseHeldBytes(kFtdiPacketBytes);
    } else {
        takeWireBytes(now);
        releaseHeldBytes(held_.size());
    }
    writeToProgram();
}

void SensorSim::writeToProgram() {
    std::size_t delivered = bytesWritten_;
    while (!toProgram_.empty() && !outputBlocked_) {
        const ssize_t n = write(masterFd_, toProgram_.data(), toProgram_.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                outputBlocked_ = true;
            } else if (errno != EINTR) {
                // The line is gone; what the adapter released is lost with it.
                bytesWritten_ += toProgram_.size();
                toProgram_.clear();
            }
            break;
        }
        toProgram_.erase(toProgram_.begin(), toProgram_.begin() + n);
        bytesWritten_ += static_cast<std::size_t>(n);
        delivered = bytesWritten_;
        if (!toProgram_.empty())
            outputBlocked_ = true;
    }
    std::size_t sent = 0;
    while (!answerEnds_.empty() && answerEnds_.front() <= bytesWritten_) {
        sent += answerEnds_.front() <= delivered ? 1 : 0;
        answerEnds_.pop_front();
    }
    if (sent == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        answersSent_ += sent;
    }
    progress_.notify_all();
}

double SensorSim::pollTimeout(double now) const {
    double next = now + kMaxPollMs / 1000.0;
    if (!pendingRequests_.empty())
        next = std::min(next, pendingRequests_.front().due);
    if (!pendingAnswers_.empty()) {
        const PendingAnswer &answer = pendingAnswers_.front();
        next =
            std::min(next, paced_ ? answer.start + static_cast<double>(answer.sent + 1) * kByteTime
                                  : answer.start);
    }
    if (adapter_ == Adapter::Ftdi && tickPeriod_ > 0.0 &&
        (!held_.empty() || !pendingAnswers_.empty()))
        next = std::min(next, nextTick_);
    if (!toProgram_.empty() && !outputBlocked_)
        next = now;
    return std::clamp(next - now, 0.0, kMaxPollMs / 1000.0);
}

} // namespace kvexsim
