// Fuzz-only serial port and clock: an in-memory line fed by the fuzz input, a virtual clock.
#include "fuzz/fake_platform.h"
#include "platform/core/internal.h"
#include "platform/portcheck.h"
#include "platform/rs232.h"
#include "platform/utility.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

namespace {

constexpr int kMaxPortNumber = 1000;
// Each reading of the clock and each pass of the event pump costs at least this much virtual
// time, so every wait loop of the program reaches its time limit after a bounded number of passes.
constexpr double kTimerStep = 0.001;
constexpr double kPumpStep = 0.001;
constexpr double kComRdStep = 0.001;
// Pieces of the answer come at least this far apart, so a wait loop that both pumps events and
// polls the queue sees them one pass at a time.
constexpr double kPieceSpacing = 0.002;
// While nothing is due on the line, the steps grow with the time since it last changed (a piece
// arrived, a request went out), up to kLongestIdleStep: a wait that starts right after a change
// still polls every few milliseconds (the 20 ms wait for surplus bytes eight times), but a 1.5 s
// time-out on a silent line takes some twenty passes instead of 750.
constexpr double kIdleGrowth = 0.25;
constexpr double kLongestIdleStep = 0.1;

struct Line {
    int port = 0; // 0: no port open
    double timeoutSeconds = 10.0;
    int eventMask = 0;
    int notifyCount = 0;
    ComCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    // The input queue is queue[head...], in a vector whose memory closeLine keeps: past the
    // first inputs no exchange allocates here, and libFuzzer's leak check, which runs an input
    // again whenever it allocated more than it freed, stays quiet.
    std::vector<char> queue;
    std::size_t head = 0;

    std::size_t held() const { return queue.size() - head; }
    void clear() {
        queue.clear();
        head = 0;
    }
};

Line line;
const kvexfuzz::Arrival *arrivals = nullptr;
std::size_t arrivalCount = 0;
std::size_t nextArrival = 0;
bool arriveTogether = false;
double quietUntil = 0.0;
double lastArrival = 0.0;
double lastChange = 0.0;
double now = 0.0;
bool watching = false;
double watchStart = 0.0;
double watchLimit = 0.0;
int callbackCount = 0;
bool callbackRunning = false;
bool hookRunning = false;
std::function<void()> pumpHook;
std::map<int, std::pair<std::string, std::string>> boundDevices;
bool lowLatencyWanted = true;

// The step of a clock reading, a pump pass or a wait inside ComRd: the given one while a piece is
// due, longer while the line is idle, never past the next piece's time.
double stepFrom(double least) {
    double step = std::max(least, std::min(kLongestIdleStep, (now - lastChange) * kIdleGrowth));
    if (nextArrival < arrivalCount) {
        const double due = std::max(quietUntil, lastArrival + kPieceSpacing);
        step = std::min(step, std::max(least, due - now));
    }
    return step;
}

void advance(double seconds) {
    now += seconds;
    if (watching && now - watchStart > watchLimit) {
        std::fprintf(stderr, "kvex fuzz: an exchange ran past %.1f virtual seconds\n", watchLimit);
        std::abort();
    }
}

bool isOpen(int port) {
    return line.port != 0 && port == line.port;
}

// A closed line whose queue keeps its memory, so an exchange does not allocate it again.
void closeLine() {
    std::vector<char> queue = std::move(line.queue);
    queue.clear();
    line = Line();
    line.queue = std::move(queue);
}

// The next piece of the answer stream reaches the input queue, unless the line is quiet.
void arrive() {
    if (line.port == 0 || now < quietUntil || now < lastArrival + kPieceSpacing ||
        nextArrival >= arrivalCount)
        return;
    lastArrival = now;
    lastChange = now;
    if (line.held() == 0)
        line.clear();
    do {
        const kvexfuzz::Arrival &piece = arrivals[nextArrival++];
        if (piece.quietSeconds > 0.0 && !arriveTogether) {
            quietUntil = now + piece.quietSeconds;
            return;
        }
        line.queue.insert(line.queue.end(), piece.bytes, piece.bytes + piece.size);
    } while (arriveTogether && nextArrival < arrivalCount);
}

} // namespace

namespace kvexfuzz {

void resetLink() {
    closeLine();
    arrivals = nullptr;
    arrivalCount = 0;
    nextArrival = 0;
    quietUntil = now;
    lastArrival = now - kPieceSpacing;
    lastChange = now;
    callbackCount = 0;
    callbackRunning = false;
    watching = false;
}

void setArrivals(const Arrival *pieces, std::size_t count, bool together) {
    arrivals = pieces;
    arrivalCount = count;
    arriveTogether = together;
    nextArrival = 0;
    quietUntil = now;
    lastArrival = now - kPieceSpacing;
    lastChange = now;
}

double virtualNow() {
    return now;
}

void startWatch(double limitSeconds) {
    watching = true;
    watchStart = now;
    watchLimit = limitSeconds;
}

void stopWatch() {
    watching = false;
}

int callbacksDelivered() {
    return callbackCount;
}

void setPumpHook(std::function<void()> hook) {
    pumpHook = std::move(hook);
}

} // namespace kvexfuzz

namespace kvexplatform {

void dispatchComCallbacks() {
    if (callbackRunning || line.port == 0 || !line.callback || line.notifyCount <= 0 ||
        !(line.eventMask & LWRS_RECEIVE))
        return;
    if (static_cast<int>(line.held()) < line.notifyCount)
        return;
    callbackRunning = true;
    ++callbackCount;
    line.callback(line.port, LWRS_RECEIVE, line.callbackData);
    callbackRunning = false;
}

} // namespace kvexplatform

double Timer() {
    advance(stepFrom(kTimerStep));
    return now;
}

void Delay(double seconds) {
    if (seconds > 0)
        advance(seconds);
}

int ProcessSystemEvents() {
    advance(stepFrom(kPumpStep));
    arrive();
    kvexplatform::dispatchComCallbacks();
    if (pumpHook && !hookRunning && !callbackRunning) {
        hookRunning = true;
        pumpHook();
        hookRunning = false;
    }
    return 0;
}

std::vector<SerialPortEntry> listSerialPorts() {
    std::vector<SerialPortEntry> list{{1, "fuzz-line", "in-memory sensor line"}};
    for (const auto &binding : boundDevices) {
        if (binding.first == 1)
            list[0] = {1, binding.second.first, binding.second.second};
        else
            list.push_back({binding.first, binding.second.first, binding.second.second});
    }
    std::sort(list.begin(), list.end(), [](const SerialPortEntry &a, const SerialPortEntry &b) {
        return a.number < b.number;
    });
    return list;
}

void bindPortDevice(int port, const std::string &devicePath, const std::string &description) {
    if (devicePath.empty())
        boundDevices.erase(port);
    else
        boundDevices[port] = {devicePath, description};
}

std::string portDevicePath(int port) {
    auto bound = boundDevices.find(port);
    if (bound != boundDevices.end())
        return bound->second.first;
    return port == 1 ? "fuzz-line" : "";
}

// The in-memory line always opens.
std::string lastOpenFailure() {
    return "";
}

// The in-memory line is no device of the machine: nothing to find out about it.
std::vector<PortCheck> checkDeviceOnMachine(const std::string &) {
    return {};
}

PortCheck checkLatencyTimer(const std::string &) {
    return {"latency_timer", CheckResult::Skip, "no latency timer", ""};
}

// Nor does it ever vanish.
bool comDeviceGone(int) {
    return false;
}

bool comDevicePresent(int port) {
    return !portDevicePath(port).empty();
}

// The traffic monitor is never opened here, so nothing taps the line.
void setComTap(ComTapPtr) {}

// No adapter sits in front of the in-memory line: nothing to ask, no latency timer.
void setLowLatencyRequested(bool on) {
    lowLatencyWanted = on;
}

bool lowLatencyRequested() {
    return lowLatencyWanted;
}

int comLatencyTimer(int) {
    return -1;
}

// The fake line delivers at once what is due; there is no wire to wait through.
void setComWireWait(bool) {}

int OpenComConfig(int port, const char *, long baudRate, int parity, int dataBits, int stopBits,
                  int inputQueueSize, int outputQueueSize) {
    if (port < 1 || port > kMaxPortNumber)
        return kComInvalidPortNumber;
    if (baudRate <= 0 || parity < 0 || parity > 4 || dataBits < 5 || dataBits > 8 || stopBits < 1 ||
        stopBits > 2 || inputQueueSize < 0 || outputQueueSize < 0)
        return kComInvalidParameter;
    CloseCom(port);
    // One line only: opening another port takes it over, as the port list allows one connection.
    closeLine();
    line.port = port;
    return 0;
}

int CloseCom(int port) {
    if (isOpen(port))
        closeLine();
    return 0;
}

int SetComTime(int port, double timeoutSeconds) {
    if (!isOpen(port))
        return kComPortNotOpen;
    if (timeoutSeconds < 0)
        return kComInvalidParameter;
    line.timeoutSeconds = timeoutSeconds;
    return 0;
}

int SetCTSMode(int port, int) {
    return isOpen(port) ? 0 : kComPortNotOpen;
}

int InstallComCallback(int port, int eventMask, int notifyCount, int, ComCallbackPtr callback,
                       void *callbackData) {
    if (!isOpen(port))
        return kComPortNotOpen;
    if (notifyCount < 0)
        return kComInvalidParameter;
    line.eventMask = callback ? eventMask : 0;
    line.notifyCount = notifyCount;
    line.callback = callback;
    line.callbackData = callbackData;
    return 0;
}

int ComWrt(int port, const char *buffer, int count) {
    if (!isOpen(port))
        return kComPortNotOpen;
    if (!buffer || count < 0)
        return kComInvalidParameter;
    // The sensor answers from now on: the waits that follow start with short steps.
    lastChange = now;
    return count;
}

// Like the real port, waits up to the port's time limit for bytes still on their way, without
// running any callback meanwhile.
int ComRd(int port, char *buffer, int count) {
    if (!isOpen(port))
        return kComPortNotOpen;
    if (!buffer || count < 0)
        return kComInvalidParameter;
    const double deadline = now + line.timeoutSeconds;
    int got = 0;
    for (;;) {
        const int taken = std::min(count - got, static_cast<int>(line.held()));
        std::copy_n(line.queue.begin() + static_cast<std::ptrdiff_t>(line.head), taken,
                    buffer + got);
        line.head += static_cast<std::size_t>(taken);
        got += taken;
        if (got >= count || now >= deadline)
            break;
        advance(stepFrom(kComRdStep));
        arrive();
    }
    return got;
}

// The real port moves what the system holds into the queue here too, so a loop that only polls
// the queue still sees the answer come in.
int GetInQLen(int port) {
    if (!isOpen(port))
        return kComPortNotOpen;
    arrive();
    return static_cast<int>(line.held());
}

int SetComWakeCount(int port, int count) {
    if (!isOpen(port))
        return kComPortNotOpen;
    return count < 0 ? kComInvalidParameter : 0;
}

int FlushInQ(int port) {
    if (!isOpen(port))
        return kComPortNotOpen;
    line.clear();
    return 0;
}

int FlushOutQ(int port) {
    return isOpen(port) ? 0 : kComPortNotOpen;
}
