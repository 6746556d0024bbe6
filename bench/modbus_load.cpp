// Load on the gateway: many clients reading the Modbus register block, live pages on its web
// stream, web clients asking for the sensor's line (port check, EEPROM, video), and the bare
// request/answer loop on the sensor's line the gateway's polling compares to.
#include "bench/bareloop.h"
#include "sim/sensorsim.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kBlockRegisters = 32;
constexpr int kSeqRegister = 4;
// MBAP header (7 bytes), function code, byte count and the block.
constexpr std::size_t kAnswerBytes = 9 + 2 * kBlockRegisters;
// A read not answered within this counts as an error, and its client stops.
constexpr double kAnswerLimitSeconds = 2.0;

int usage() {
    std::fprintf(
        stderr, "usage: kvex-modbus-load load PORT [CLIENTS [SECONDS [PERIOD_MS [UNIT]]]]\n"
                "       kvex-modbus-load pages PORT [PAGES [SECONDS]]\n"
                "       kvex-modbus-load bare DEVICE [SECONDS]\n"
                "load: CLIENTS (64) connections to 127.0.0.1:PORT each read the 32-register block\n"
                "      every PERIOD_MS (10) for SECONDS (10); prints answer times, reads per\n"
                "      second, errors and the gateway's polling rate (from its seq registers).\n"
                "pages: PAGES (32) WebSockets to 127.0.0.1:PORT/ws for SECONDS (10); prints the\n"
                "      time from each answer (its ts) to its arrival, samples missed, errors.\n"
                "       kvex-modbus-load hold PORT IDLE PAGES [SECONDS]\n"
                "hold: IDLE connections that send nothing and PAGES WebSockets held for SECONDS\n"
                "      (10), from 127.0.1.x and 127.0.2.x (900 per address), while another\n"
                "      thread times /api/sample, /metrics and a page opened meanwhile.\n"
                "       kvex-modbus-load jobs PORT SECONDS CLIENTS TOKEN\n"
                "jobs: CLIENTS threads on 127.0.0.1:PORT each loop GET /api/doctor,\n"
                "      /api/params?from=eeprom and /api/video for SECONDS (thread i starts at\n"
                "      endpoint i %% 3), with Authorization: Bearer TOKEN (- for none), never\n"
                "      waiting for Retry-After; prints per endpoint the answers by status and\n"
                "      the answer times.\n"
                "bare: writes the run-mode request and blocks until the 36-byte answer is in, for\n"
                "      SECONDS (10); prints the cycles per second.\n");
    return 2;
}

// From 127.0.0.1, or from another loopback address: the gateway caps connections per address.
int connectLoopback(int port, uint32_t from = INADDR_LOOPBACK) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0 && from != INADDR_LOOPBACK) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(from);
        ::bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void buildRequest(uint8_t (&request)[12], uint16_t id, int unit) {
    // Transaction id, protocol 0, six bytes to follow: unit, function 04, register 0, count.
    const uint8_t bytes[12] = {0, 0, 0, 0, 0, 6, 0, 4, 0, 0, 0, kBlockRegisters};
    std::memcpy(request, bytes, sizeof request);
    request[0] = static_cast<uint8_t>(id >> 8);
    request[1] = static_cast<uint8_t>(id);
    request[6] = static_cast<uint8_t>(unit);
}

bool answerIsTheBlock(const uint8_t *answer, const uint8_t (&request)[12]) {
    return answer[0] == request[0] && answer[1] == request[1] && answer[7] == 4 &&
           answer[8] == 2 * kBlockRegisters;
}

// The gateway's sample counter, read on a connection of its own; -1 when it does not answer.
long readSeq(int port, int unit) {
    const int fd = connectLoopback(port);
    if (fd < 0)
        return -1;
    const timeval limit{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    uint8_t request[12];
    buildRequest(request, 1, unit);
    uint8_t answer[kAnswerBytes];
    std::size_t got = 0;
    if (::write(fd, request, sizeof request) == static_cast<ssize_t>(sizeof request))
        while (got < sizeof answer) {
            const ssize_t n = ::read(fd, answer + got, sizeof answer - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
    ::close(fd);
    if (got < sizeof answer || !answerIsTheBlock(answer, request))
        return -1;
    const auto word = [&answer](int r) { return answer[9 + 2 * r] * 256L + answer[10 + 2 * r]; };
    return word(kSeqRegister) * 65536L + word(kSeqRegister + 1);
}

struct Client {
    int fd = -1;
    double nextSend = 0;
    double sentAt = -1; // -1: no read on its way
    uint16_t id = 0;
    uint8_t request[12] = {};
    uint8_t answer[kAnswerBytes] = {};
    std::size_t got = 0;
};

int runLoad(int port, int clients, double seconds, double period, int unit) {
    const long seqStart = readSeq(port, unit);
    const double start = kvexsim::steadySeconds();
    std::vector<Client> all(static_cast<std::size_t>(clients));
    long errors = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i].fd = connectLoopback(port);
        if (all[i].fd < 0) {
            ++errors;
            continue;
        }
        ::fcntl(all[i].fd, F_SETFL, O_NONBLOCK);
        // Spread over the period, as clients that do not know of each other would be.
        all[i].nextSend = start + period * static_cast<double>(i) / static_cast<double>(clients);
    }
    const double end = start + seconds;
    std::vector<double> latencies;
    std::vector<pollfd> fds;
    std::vector<Client *> owners;
    for (;;) {
        const double now = kvexsim::steadySeconds();
        double wake = now + 0.05;
        bool busy = false;
        fds.clear();
        owners.clear();
        for (Client &c : all) {
            if (c.fd < 0)
                continue;
            if (c.sentAt < 0 && now >= c.nextSend && now < end) {
                buildRequest(c.request, ++c.id, unit);
                c.got = 0;
                c.sentAt = now;
                if (::write(c.fd, c.request, sizeof c.request) !=
                    static_cast<ssize_t>(sizeof c.request)) {
                    ++errors;
                    ::close(c.fd);
                    c.fd = -1;
                    continue;
                }
            }
            if (c.sentAt >= 0) {
                if (now - c.sentAt > kAnswerLimitSeconds) {
                    ++errors;
                    ::close(c.fd);
                    c.fd = -1;
                    continue;
                }
                busy = true;
                fds.push_back({c.fd, POLLIN, 0});
                owners.push_back(&c);
                wake = std::min(wake, c.sentAt + kAnswerLimitSeconds);
            } else if (now < end) {
                wake = std::min(wake, c.nextSend);
            }
        }
        if (!busy && now >= end)
            break;
        const int timeoutMs =
            std::max(0, static_cast<int>((wake - kvexsim::steadySeconds()) * 1000.0 + 0.5));
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR)
            break;
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Client &c = *owners[k];
            const ssize_t n = ::read(c.fd, c.answer + c.got, sizeof c.answer - c.got);
            if (n <= 0) {
                ++errors;
                ::close(c.fd);
                c.fd = -1;
                continue;
            }
            c.got += static_cast<std::size_t>(n);
            if (c.got < sizeof c.answer)
                continue;
            const double answered = kvexsim::steadySeconds();
            if (answerIsTheBlock(c.answer, c.request))
                latencies.push_back(answered - c.sentAt);
            else
                ++errors;
            c.nextSend = std::max(c.sentAt + period, answered);
            c.sentAt = -1;
        }
    }
    const double wall = kvexsim::steadySeconds() - start;
    const long seqEnd = readSeq(port, unit);
    for (Client &c : all)
        if (c.fd >= 0)
            ::close(c.fd);

    std::sort(latencies.begin(), latencies.end());
    const auto percentile = [&latencies](double p) {
        if (latencies.empty())
            return 0.0;
        const auto i = static_cast<std::size_t>(p * static_cast<double>(latencies.size() - 1));
        return 1000.0 * latencies[i];
    };
    std::printf("modbus clients          %d, each reading the block every %.0f ms for %.0f s\n",
                clients, 1000.0 * period, seconds);
    std::printf("reads                   %zu answered, %.1f per second, %ld errors\n",
                latencies.size(), static_cast<double>(latencies.size()) / wall, errors);
    std::printf("answer time             median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
                percentile(0.5), percentile(0.99), percentile(1.0));
    if (seqStart >= 0 && seqEnd >= seqStart)
        std::printf("gateway polling         %.2f samples/s\n",
                    static_cast<double>(seqEnd - seqStart) / wall);
    else
        std::printf("gateway polling         unknown (the seq registers did not answer)\n");
    return errors == 0 ? 0 : 1;
}

// Milliseconds since the epoch of an ISO-8601 UTC time with milliseconds; -1 when it is not one.
double epochMs(const std::string &ts) {
    std::tm t{};
    int ms = 0;
    if (std::sscanf(ts.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec, &ms) != 7)
        return -1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<double>(timegm(&t)) * 1000.0 + ms;
}

double nowEpochMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Page {
    int fd = -1;
    bool upgraded = false;
    std::string buffer;
    long lastSeq = 0;
    long received = 0;
};

// Takes the complete frames off the page's buffer; the meas messages' delays go to `delays`.
void takeFrames(Page &page, std::vector<double> &delays, long &missed) {
    for (;;) {
        if (page.buffer.size() < 2)
            return;
        std::size_t length = static_cast<unsigned char>(page.buffer[1]) & 0x7F, at = 2;
        if (length == 126) {
            if (page.buffer.size() < 4)
                return;
            length = static_cast<unsigned char>(page.buffer[2]) * 256u +
                     static_cast<unsigned char>(page.buffer[3]);
            at = 4;
        }
        if (page.buffer.size() < at + length)
            return;
        const std::string text = page.buffer.substr(at, length);
        page.buffer.erase(0, at + length);
        if (text.rfind("{\"type\":\"meas\"", 0) != 0)
            continue;
        const double arrived = nowEpochMs();
        const auto ts = text.find("\"ts\":\"");
        const auto seq = text.find("\"seq\":");
        if (ts == std::string::npos || seq == std::string::npos)
            continue;
        const double sent = epochMs(text.substr(ts + 6, 24));
        const long number = std::atol(text.c_str() + seq + 6);
        if (page.lastSeq > 0 && number > page.lastSeq + 1)
            missed += number - page.lastSeq - 1;
        page.lastSeq = number;
        ++page.received;
        if (sent >= 0)
            delays.push_back(arrived - sent);
    }
}

double percentileOf(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// One GET on a connection of its own from `from`; the time to the whole answer in ms, -1 when
// it is not a 200.
double timedGet(int port, const std::string &path, uint32_t from) {
    const double start = kvexsim::steadySeconds();
    const int fd = connectLoopback(port, from);
    if (fd < 0)
        return -1;
    const std::string request = "GET " + path +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                "Connection: close\r\n\r\n";
    std::string in;
    if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char chunk[65536];
        for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
            in.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return in.rfind("HTTP/1.1 200", 0) == 0 ? 1000.0 * (kvexsim::steadySeconds() - start) : -1;
}

// The time from opening a page to its first sample, in ms; -1 without one in 10 s.
double firstSample(int port, uint32_t from) {
    const double start = kvexsim::steadySeconds();
    const int fd = connectLoopback(port, from);
    const std::string request = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                                "Connection: Upgrade\r\nSec-WebSocket-Key: "
                                "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    double result = -1;
    if (fd >= 0 &&
        ::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        std::string in;
        char chunk[65536];
        while (kvexsim::steadySeconds() < start + 10.0) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            in.append(chunk, static_cast<std::size_t>(n));
            if (in.find("{\"type\":\"meas\"") != std::string::npos) {
                result = 1000.0 * (kvexsim::steadySeconds() - start);
                break;
            }
        }
    }
    if (fd >= 0)
        ::close(fd);
    return result;
}

int runPages(int port, int pages, double seconds, int idle = 0) {
    std::vector<Page> all(static_cast<std::size_t>(pages));
    long errors = 0, missed = 0;
    // The idle ones and the pages from addresses of their own, 900 each, under the gateway's
    // cap per address (1 000).
    std::vector<int> idlers;
    for (int i = 0; i < idle; ++i) {
        const int fd = connectLoopback(port, (127u << 24) + (1u << 8) + 1u + i / 900);
        if (fd < 0)
            ++errors;
        else
            idlers.push_back(fd);
    }
    const std::string request = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                "Sec-WebSocket-Version: 13\r\n\r\n";
    int opened = 0;
    for (Page &page : all) {
        page.fd = idle > 0 ? connectLoopback(port, (127u << 24) + (2u << 8) + 1u + opened++ / 900)
                           : connectLoopback(port);
        if (page.fd < 0 || ::write(page.fd, request.data(), request.size()) !=
                               static_cast<ssize_t>(request.size())) {
            ++errors;
            continue;
        }
        ::fcntl(page.fd, F_SETFL, O_NONBLOCK);
    }
    std::vector<double> delays;
    std::vector<pollfd> fds;
    std::vector<Page *> owners;
    const double end = kvexsim::steadySeconds() + seconds;
    // While everything is held: the API, the metrics and a new page, one after another from an
    // address of their own.
    std::vector<double> sampleTimes, metricsTimes, firstSamples;
    long probeErrors = 0;
    std::thread probe;
    if (idle > 0)
        probe = std::thread([&] {
            const uint32_t from = (127u << 24) + (3u << 8) + 1u;
            std::this_thread::sleep_for(std::chrono::seconds(1));
            while (kvexsim::steadySeconds() < end - 0.5) {
                const double a = timedGet(port, "/api/sample", from);
                const double m = timedGet(port, "/metrics", from);
                (a < 0 ? ++probeErrors : (sampleTimes.push_back(a), 0));
                (m < 0 ? ++probeErrors : (metricsTimes.push_back(m), 0));
                if (sampleTimes.size() % 20 == 1) {
                    const double f = firstSample(port, from);
                    (f < 0 ? ++probeErrors : (firstSamples.push_back(f), 0));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    char chunk[65536];
    while (kvexsim::steadySeconds() < end) {
        fds.clear();
        owners.clear();
        for (Page &page : all)
            if (page.fd >= 0) {
                fds.push_back({page.fd, POLLIN, 0});
                owners.push_back(&page);
            }
        if (fds.empty() || (::poll(fds.data(), fds.size(), 50) < 0 && errno != EINTR))
            break;
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Page &page = *owners[k];
            const ssize_t n = ::read(page.fd, chunk, sizeof chunk);
            if (n <= 0) {
                ++errors;
                ::close(page.fd);
                page.fd = -1;
                continue;
            }
            page.buffer.append(chunk, static_cast<std::size_t>(n));
            if (!page.upgraded) {
                const auto split = page.buffer.find("\r\n\r\n");
                if (split == std::string::npos)
                    continue;
                page.upgraded = page.buffer.rfind("HTTP/1.1 101", 0) == 0;
                if (!page.upgraded) {
                    ++errors;
                    ::close(page.fd);
                    page.fd = -1;
                    continue;
                }
                page.buffer.erase(0, split + 4);
            }
            takeFrames(page, delays, missed);
        }
    }
    if (probe.joinable())
        probe.join();
    long received = 0;
    for (Page &page : all) {
        received += page.received;
        if (page.fd >= 0)
            ::close(page.fd);
    }
    for (const int fd : idlers)
        ::close(fd);
    if (idle > 0) {
        std::printf("held                    %zu idle connections and %d pages\n", idlers.size(),
                    pages);
        std::printf("/api/sample             median %.2f ms, 99th percentile %.2f ms (%zu)\n",
                    percentileOf(sampleTimes, 0.5), percentileOf(sampleTimes, 0.99),
                    sampleTimes.size());
        std::printf("/metrics                median %.2f ms, 99th percentile %.2f ms (%zu)\n",
                    percentileOf(metricsTimes, 0.5), percentileOf(metricsTimes, 0.99),
                    metricsTimes.size());
        std::printf("new page's first sample median %.0f ms, max %.0f ms (%zu), %ld errors\n",
                    percentileOf(firstSamples, 0.5), percentileOf(firstSamples, 1.0),
                    firstSamples.size(), probeErrors);
        errors += probeErrors;
    }
    std::sort(delays.begin(), delays.end());
    const auto percentile = [&delays](double p) {
        if (delays.empty())
            return 0.0;
        return delays[static_cast<std::size_t>(p * static_cast<double>(delays.size() - 1))];
    };
    std::printf("live pages              %d, for %.0f s: %ld samples received, %ld missed, "
                "%ld errors\n",
                pages, seconds, received, missed, errors);
    std::printf("answer to page          median %.2f ms, 99th percentile %.2f ms, max %.2f ms "
                "(ts has ms resolution: +0-1 ms)\n",
                percentile(0.5), percentile(0.99), percentile(1.0));
    return errors == 0 && missed == 0 && received > 0 ? 0 : 1;
}

// The endpoints that take the sensor's line from the polling; each client cycles through them.
const char *const kJobPaths[] = {"/api/doctor", "/api/params?from=eeprom", "/api/video"};
constexpr int kJobPathCount = 3;
// A request not answered whole within this is a time-out, and its connection is dropped.
constexpr double kJobLimitSeconds = 20.0;
constexpr int kTimedOut = 0;
constexpr int kConnectionFailed = -1;

struct JobTally {
    std::map<int, long> byStatus; // the HTTP status, kTimedOut or kConnectionFailed
    std::vector<double> times;    // every request answered or timed out (at the limit), in ms
    std::vector<double> okTimes;  // the 200s
};

// A header's value in lower case, "" without it; `head` ends before the blank line.
std::string headerValue(std::string head, const std::string &name) {
    for (char &c : head)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = head.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return "";
    const auto begin = head.find_first_not_of(' ', at + name.size() + 3);
    const auto end = std::min(head.find("\r\n", at + 2), head.size());
    return begin == std::string::npos || begin >= end ? "" : head.substr(begin, end - begin);
}

// The status of an answer that begins with its status line; kConnectionFailed when it does not.
int statusOf(const std::string &answer) {
    int status = 0;
    return std::sscanf(answer.c_str(), "HTTP/%*s %d", &status) == 1 && status > 0
               ? status
               : kConnectionFailed;
}

// One GET on `fd`, kept open between requests and opened again once the server closed it: the
// status, kTimedOut or kConnectionFailed. A kept connection the server closed before a byte of
// the answer is tried once more on a new one, since keep-alive allows that race.
int jobRequest(int port, int &fd, const std::string &request, double deadline) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool reused = fd >= 0;
        if (fd < 0 && (fd = connectLoopback(port)) < 0)
            return kConnectionFailed;
        std::string in;
        std::size_t bodyAt = 0, length = 0;
        bool sized = false, timedOut = false;
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size()))
            for (;;) {
                const int waitMs =
                    static_cast<int>((deadline - kvexsim::steadySeconds()) * 1000.0 + 1.0);
                pollfd p{fd, POLLIN, 0};
                if (waitMs <= 0 || ::poll(&p, 1, waitMs) == 0) {
                    timedOut = true;
                    break;
                }
                char chunk[65536];
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0)
                    break;
                in.append(chunk, static_cast<std::size_t>(n));
                if (bodyAt == 0) {
                    const auto split = in.find("\r\n\r\n");
                    if (split == std::string::npos)
                        continue;
                    bodyAt = split + 4;
                    const std::string announced =
                        headerValue(in.substr(0, split), "content-length");
                    sized = !announced.empty();
                    length = static_cast<std::size_t>(std::atol(announced.c_str()));
                }
                if (sized && in.size() >= bodyAt + length) {
                    if (headerValue(in.substr(0, bodyAt - 4), "connection") == "close") {
                        ::close(fd);
                        fd = -1;
                    }
                    return statusOf(in);
                }
            }
        ::close(fd);
        fd = -1;
        if (timedOut)
            return kTimedOut;
        // Without a length the close ends the answer.
        if (bodyAt > 0 && !sized)
            return statusOf(in);
        if (!reused || !in.empty())
            return kConnectionFailed;
    }
    return kConnectionFailed;
}

int runJobs(int port, double seconds, int clients, const std::string &token) {
    std::vector<std::array<JobTally, kJobPathCount>> tallies(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    const double start = kvexsim::steadySeconds();
    const double end = start + seconds;
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&, i] {
            std::string requests[kJobPathCount];
            for (int k = 0; k < kJobPathCount; ++k)
                requests[k] = std::string("GET ") + kJobPaths[k] +
                              " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" +
                              (token == "-" ? "" : "Authorization: Bearer " + token + "\r\n") +
                              "\r\n";
            int fd = -1;
            for (int k = i % kJobPathCount; kvexsim::steadySeconds() < end;
                 k = (k + 1) % kJobPathCount) {
                const double sent = kvexsim::steadySeconds();
                const int status = jobRequest(port, fd, requests[k], sent + kJobLimitSeconds);
                const double ms = 1000.0 * (kvexsim::steadySeconds() - sent);
                JobTally &tally = tallies[static_cast<std::size_t>(i)][k];
                ++tally.byStatus[status];
                if (status == kConnectionFailed) {
                    // A gateway that is gone is not hammered in a tight loop.
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                tally.times.push_back(status == kTimedOut ? 1000.0 * kJobLimitSeconds : ms);
                if (status == 200)
                    tally.okTimes.push_back(ms);
            }
            if (fd >= 0)
                ::close(fd);
        });
    for (std::thread &t : threads)
        t.join();
    const double wall = kvexsim::steadySeconds() - start;
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const auto cpu = [](const rusage &r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
               static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };

    std::printf("web clients             %d for %.0f s, %s; a request has %.0f s, Retry-After "
                "is not waited for\n",
                clients, seconds, token == "-" ? "no token" : "with the token", kJobLimitSeconds);
    bool clean = true;
    long answered = 0;
    for (int k = 0; k < kJobPathCount; ++k) {
        JobTally all;
        for (const auto &client : tallies) {
            for (const auto &entry : client[k].byStatus)
                all.byStatus[entry.first] += entry.second;
            all.times.insert(all.times.end(), client[k].times.begin(), client[k].times.end());
            all.okTimes.insert(all.okTimes.end(), client[k].okTimes.begin(),
                               client[k].okTimes.end());
        }
        long requests = 0;
        std::string statuses;
        for (const auto &entry : all.byStatus) {
            requests += entry.second;
            statuses += (statuses.empty() ? "" : ", ") +
                        (entry.first == kTimedOut           ? std::string("timed out")
                         : entry.first == kConnectionFailed ? std::string("failed")
                                                            : std::to_string(entry.first)) +
                        " x" + std::to_string(entry.second);
            clean = clean && entry.first > 0;
        }
        answered += static_cast<long>(all.times.size());
        std::printf("%-23s %ld requests: %s\n", kJobPaths[k], requests,
                    statuses.empty() ? "none" : statuses.c_str());
        const auto times = [](const std::vector<double> &ms) {
            char text[80];
            std::snprintf(text, sizeof text, "median %.1f ms, 99th percentile %.1f ms",
                          percentileOf(ms, 0.5), percentileOf(ms, 0.99));
            return ms.empty() ? std::string("none") : std::string(text);
        };
        std::printf("%-23s all: %s; 200: %s\n", "", times(all.times).c_str(),
                    times(all.okTimes).c_str());
    }
    std::printf("load tool               %.1f s until the last answer, CPU %.1f %% of one core\n",
                wall, 100.0 * (cpu(after) - cpu(before)) / wall);
    return clean && answered > 0 ? 0 : 1;
}

int runBare(const char *device, double seconds) {
    const BareLoopRun run = runBareLoop(device, 0, seconds);
    if (!run.opened) {
        std::fprintf(stderr, "kvex-modbus-load: cannot open %s: %s\n", device,
                     std::strerror(errno));
        return 1;
    }
    std::printf("bare loop               %.2f cycles/s (%ld cycles in %.1f s)\n",
                static_cast<double>(run.cycles) / run.wallSeconds, run.cycles, run.wallSeconds);
    return run.cycles > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc < 3)
        return usage();
    const std::string mode = argv[1];
    const auto number = [&](int i, double fallback) {
        return argc > i ? std::atof(argv[i]) : fallback;
    };
    if (mode == "bare")
        return runBare(argv[2], std::clamp(number(3, 10), 1.0, 600.0));
    if (mode == "pages") {
        const int port = std::atoi(argv[2]);
        const int pages = static_cast<int>(number(3, 32));
        const double seconds = number(4, 10);
        if (port < 1 || port > 65535 || pages < 1 || pages > 1000 || seconds <= 0 || seconds > 600)
            return usage();
        return runPages(port, pages, seconds);
    }
    if (mode == "hold") {
        const int port = std::atoi(argv[2]);
        const int idle = static_cast<int>(number(3, 10000));
        const int pages = static_cast<int>(number(4, 1000));
        const double seconds = number(5, 10);
        if (port < 1 || port > 65535 || idle < 1 || idle > 100000 || pages < 1 || pages > 20000 ||
            seconds <= 0 || seconds > 600)
            return usage();
        return runPages(port, pages, seconds, idle);
    }
    if (mode == "jobs") {
        const int port = std::atoi(argv[2]);
        const double seconds = number(3, 0);
        const int clients = static_cast<int>(number(4, 0));
        if (argc != 6 || port < 1 || port > 65535 || seconds <= 0 || seconds > 600 || clients < 1 ||
            clients > 1000)
            return usage();
        return runJobs(port, seconds, clients, argv[5]);
    }
    if (mode != "load")
        return usage();
    const int port = std::atoi(argv[2]);
    const int clients = static_cast<int>(number(3, 64));
    const double seconds = number(4, 10);
    const double periodMs = number(5, 10);
    const int unit = static_cast<int>(number(6, 255));
    if (port < 1 || port > 65535 || clients < 1 || clients > 1000 || seconds <= 0 ||
        seconds > 600 || periodMs < 0 || unit < 0 || unit > 255)
        return usage();
    return runLoad(port, clients, seconds, periodMs / 1000.0, unit);
}
