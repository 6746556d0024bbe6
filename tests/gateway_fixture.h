// The gateway's test bench: a real mosquitto broker on a free port, a subscriber, the gateway as
// a child process on the simulated sensor's pseudo-terminal, and an independent Modbus client.
#pragma once

#include "sim/sensorsim.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <mosquitto.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace gatewaytest {

inline double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline bool waitFor(const std::function<bool()> &condition, double seconds) {
    const double end = now() + seconds;
    while (!condition()) {
        if (now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

inline bool portAccepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// A connection to the gateway from 127.0.0.1, or from another loopback address (`from`), which
// a server counts apart; `receiveBuffer`: the socket's, for a client that means to fall behind.
// Not inherited by a client process a test starts, which would keep it open after the test
// closes it. -1 when it cannot connect.
inline int connectTo(int port, const char *from = nullptr, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (from) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &source.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A server whose listen queue is full, or that stops reading, must not hold the test up.
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// False when the peer stopped taking bytes (closed, reset, or the send time-out above).
inline bool sendAll(int fd, const std::string &bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// A child process with its stderr in a file.
class Child {
  public:
    ~Child() { kill(SIGKILL); }
    bool start(const std::vector<std::string> &args, const std::string &errorFile) {
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        return rc == 0;
    }
    void kill(int signal) {
        if (pid_ > 0) {
            ::kill(pid_, signal);
            if (signal == SIGKILL)
                wait(5.0);
        }
    }
    // The exit code, -1 when it did not end in time, 128+N after signal N.
    int wait(double seconds) {
        const double end = now() + seconds;
        while (pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (now() > end)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
};

inline std::string makeTempDir() {
    char pattern[] = "/tmp/kvex-gateway-test-XXXXXX";
    return ::mkdtemp(pattern);
}

inline std::string readFile(const std::string &path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A mosquitto broker on a free localhost port, keeping sessions across its own restarts, so a
// subscriber misses nothing while the broker is away.
class Broker {
  public:
    // `extra`: more configuration, which may use port() + 1 for a second listener.
    explicit Broker(const std::string &dir, const std::string &extra = "allow_anonymous true\n")
        : dir_(dir), port_(freePort()) {
        std::ofstream conf(dir_ + "/mosquitto.conf");
        conf << "listener " << port_ << " 127.0.0.1\n"
             << extra << "\npersistence true\npersistence_location " << dir_ << "/\n"
             << "queue_qos0_messages true\nmax_queued_messages 1000000\n";
        // Run as root, mosquitto would switch to its own user, which cannot write here.
        if (const passwd *user = ::getpwuid(::getuid()))
            conf << "user " << user->pw_name << "\n";
    }
    bool start() {
        process_ = std::make_unique<Child>();
        return process_->start({"/usr/sbin/mosquitto", "-c", dir_ + "/mosquitto.conf"},
                               dir_ + "/mosquitto.log") &&
               waitFor([this] { return portAccepts(port_); }, 10.0);
    }
    void stop() {
        process_->kill(SIGTERM);
        process_->wait(10.0);
    }
    int port() const { return port_; }

  private:
    std::string dir_;
    int port_;
    std::unique_ptr<Child> process_;
};

struct Message {
    std::string topic;
    std::string payload;
    bool retained;
};

// A subscriber with a persistent session that reconnects by itself.
class Subscriber {
  public:
    // Two subscribers on one broker need ids of their own.
    Subscriber(int port, const std::string &filter, const char *user = nullptr,
               const char *password = nullptr, const char *id = "kvex-gateway-test-subscriber")
        : filter_(filter) {
        mosquitto_lib_init();
        client_ = mosquitto_new(id, false, this);
        if (user)
            mosquitto_username_pw_set(client_, user, password);
        mosquitto_connect_callback_set(client_, [](mosquitto *m, void *self, int rc) {
            if (rc == 0) {
                auto *s = static_cast<Subscriber *>(self);
                mosquitto_subscribe(m, nullptr, s->filter_.c_str(), 1);
            }
        });
        mosquitto_message_callback_set(
            client_, [](mosquitto *, void *self, const mosquitto_message *m) {
                auto *s = static_cast<Subscriber *>(self);
                const std::lock_guard<std::mutex> lock(s->mutex_);
                s->messages_.push_back({m->topic,
                                        std::string(static_cast<const char *>(m->payload),
                                                    static_cast<std::size_t>(m->payloadlen)),
                                        m->retain});
            });
        mosquitto_subscribe_callback_set(client_,
                                         [](mosquitto *, void *self, int, int, const int *) {
                                             static_cast<Subscriber *>(self)->subscribed_ = true;
                                         });
        mosquitto_threaded_set(client_, true);
        mosquitto_connect(client_, "127.0.0.1", port, 10);
        // A loop of its own rather than mosquitto_loop_start, whose thread only a cancel stops
        // for sure: cancelled inside a callback, it leaves a lock of libmosquitto's held, which
        // mosquitto_destroy then destroys. This one reconnects once a second and, once stopped,
        // ends when the DISCONNECT is out, or after a second.
        loop_ = std::thread([this] {
            for (int passesStopped = 0;;) {
                const int rc = mosquitto_loop(client_, 100, 1);
                if (stopping_) {
                    if (rc != MOSQ_ERR_SUCCESS || ++passesStopped >= 10)
                        return;
                } else if (rc != MOSQ_ERR_SUCCESS) {
                    for (int i = 0; i < 10 && !stopping_; ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                    if (!stopping_)
                        mosquitto_reconnect(client_);
                }
            }
        });
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        stopping_ = true;
        loop_.join();
        mosquitto_destroy(client_);
    }
    bool waitSubscribed() {
        return waitFor([this] { return subscribed_.load(); }, 10.0);
    }
    std::vector<Message> messages(const std::string &topicEnd) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Message> found;
        for (const Message &m : messages_)
            if (m.topic.size() >= topicEnd.size() &&
                m.topic.compare(m.topic.size() - topicEnd.size(), topicEnd.size(), topicEnd) == 0)
                found.push_back(m);
        return found;
    }
    std::string last(const std::string &topicEnd) const {
        const auto found = messages(topicEnd);
        return found.empty() ? std::string() : found.back().payload;
    }

  private:
    std::string filter_;
    mosquitto *client_ = nullptr;
    std::atomic<bool> subscribed_{false};
    std::atomic<bool> stopping_{false};
    std::thread loop_;
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

inline QJsonObject jsonObject(const std::string &text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

// Every sample of the meas messages, arrays of a batch taken apart.
inline std::vector<QJsonObject> samplesOf(const std::vector<Message> &messages) {
    std::vector<QJsonObject> samples;
    for (const Message &m : messages) {
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(m.payload));
        if (doc.isArray())
            for (const QJsonValue &v : doc.array())
                samples.push_back(v.toObject());
        else
            samples.push_back(doc.object());
    }
    return samples;
}

inline const char *const kPrefix = "test/gw";

// Whether a live process holds Qt's lock file on a device (a dead owner's lock Qt breaks).
inline bool lockedByLiveProcess(const std::string &device) {
    std::string name = device.substr(5);
    std::replace(name.begin(), name.end(), '/', '_');
    std::ifstream lock("/run/lock/LCK.." + name);
    long pid = 0;
    return lock >> pid && pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

class GatewayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = makeTempDir();
        openSensor();
    }
    void TearDown() override {
        gateway.kill(SIGKILL);
        // A gateway killed on purpose leaves its lock file behind.
        if (!lockedByLiveProcess(sensor->devicePath())) {
            std::string name = sensor->devicePath().substr(5);
            std::replace(name.begin(), name.end(), '/', '_');
            std::remove(("/run/lock/LCK.." + name).c_str());
        }
        sensor->stop();
        if (HasFailure())
            std::fprintf(stderr, "gateway log:\n%s\n", log().c_str());
        else
            std::filesystem::remove_all(dir);
    }

    // Qt locks a serial device by its name, machine-wide: a pseudo-terminal whose number another
    // live process still holds a lock on cannot be opened, so take another one (the old one
    // stays open, so its number is not handed out again).
    void openSensor() {
        if (sensor)
            spares.push_back(std::move(sensor));
        for (int attempt = 0; attempt < 8; ++attempt) {
            sensor = std::make_unique<kvexsim::SensorSim>();
            ASSERT_TRUE(sensor->openPty());
            if (!lockedByLiveProcess(sensor->devicePath()))
                break;
            spares.push_back(std::move(sensor));
        }
        if (!sensor) {
            sensor = std::move(spares.back());
            spares.pop_back();
        }
        if (held.first)
            sensor->setObject(held.first, held.second);
        silence(silent);
        sensor->start();
    }
    void holdObject(uint16_t left, uint16_t right) {
        held = {left, right};
        sensor->setObject(left, right);
    }
    // The sensor answers nothing at all, or everything again.
    void silence(bool on) {
        silent = on;
        if (!on) {
            sensor->clearFaults();
            return;
        }
        kvexsim::Fault fault;
        fault.kind = kvexsim::FaultKind::Silence;
        fault.times = -1;
        for (int command = 0; command < 16; ++command)
            sensor->setFault(command, fault);
    }

    // Starts the gateway and waits until its log says `ready` (it has found the sensor).
    bool startGateway(const std::vector<std::string> &options,
                      const std::string &ready = "sensor found") {
        for (int attempt = 0; attempt < 4; ++attempt) {
            const std::size_t logged = log().size();
            // Its messages compared in English, whatever the machine's language.
            std::vector<std::string> args = {KVEX_CLI_PATH,        "--lang", "en", "--port",
                                             sensor->devicePath(), "serve"};
            args.insert(args.end(), options.begin(), options.end());
            if (!gateway.start(args, dir + "/gateway.log"))
                return false;
            bool lockedOut = false;
            const bool settled = waitFor(
                [&] {
                    const std::string text = log();
                    lockedOut = text.find("Cannot open port", logged) != std::string::npos;
                    return lockedOut || text.find(ready, logged) != std::string::npos;
                },
                15.0);
            if (settled && !lockedOut)
                return true;
            gateway.kill(SIGKILL);
            if (!lockedOut)
                return false;
            openSensor();
        }
        return false;
    }
    std::string log() const { return readFile(dir + "/gateway.log"); }
    std::string writeConfig(const std::string &text) {
        const std::string path = dir + "/gateway.conf";
        std::ofstream(path) << text;
        return path;
    }

    // The answer words the simulator gives for an object held still between two positions.
    kvexsim::Words expectedWords(uint16_t left, uint16_t right) {
        kvexsim::SensorCore core(sensor->profile());
        core.setRam(sensor->ram());
        core.setObject(left, right);
        return core.measurement(kvexsim::steadySeconds());
    }

    std::string dir;
    std::unique_ptr<kvexsim::SensorSim> sensor;
    std::vector<std::unique_ptr<kvexsim::SensorSim>> spares;
    std::pair<uint16_t, uint16_t> held{0, 0};
    bool silent = false;
    Child gateway;
};

// Requests that change something on the sensor: RAM, EEPROM, teach, reset.
inline std::size_t writeRequests(const kvexsim::SensorSim &sensor) {
    std::size_t count = 0;
    for (const kvexsim::Request &r : sensor.requests())
        count += r.command() == 1 || r.command() == 3 || r.command() == 6 || r.command() == 11;
    return count;
}

// What an independent Modbus client (mbpoll) prints for one request.
inline std::string mbpoll(int port, const std::string &args) {
    const std::string command =
        "timeout 10 mbpoll -m tcp -p " + std::to_string(port) + " -0 -1 -o 1 -q " + args + " 2>&1";
    std::string out;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        ::pclose(pipe);
    }
    return out;
}

// Register values from mbpoll's "[n]: \tvalue" lines.
inline std::map<int, long> registersOf(const std::string &out) {
    std::map<int, long> values;
    std::size_t at = 0;
    while ((at = out.find('[', at)) != std::string::npos) {
        int index = 0;
        long value = 0;
        if (std::sscanf(out.c_str() + at, "[%d]: %ld", &index, &value) == 2)
            values[index] = value;
        ++at;
    }
    return values;
}

} // namespace gatewaytest
