// The HTTP server's late replies against clients that leave, pipeline or stay, plain and over TLS.
#include "platform/httpserver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Everything the test waits for comes in milliseconds; this is for a loaded machine under a
// sanitizer.
constexpr int kPatienceSeconds = 10;

bool waitUntil(const std::function<bool()> &condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kPatienceSeconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

enum class Transport { Plain, Tls };

const char *name(Transport transport) {
    return transport == Transport::Plain ? "Plain" : "Tls";
}

// Rows show in test lists by name rather than as bytes.
void PrintTo(Transport transport, std::ostream *out) {
    *out << name(transport);
}

struct Answer {
    int status = 0;
    std::string body;
};

// Cuts the first whole answer off `in`; false while it has not all come.
bool takeAnswer(std::string *in, Answer *answer) {
    const std::size_t end = in->find("\r\n\r\n");
    if (end == std::string::npos)
        return false;
    std::string head = in->substr(0, end);
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string field = "\r\ncontent-length:";
    const std::size_t at = head.find(field);
    const std::size_t length =
        at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + field.size(), nullptr, 10);
    if (in->size() < end + 4 + length)
        return false;
    answer->status = std::atoi(head.c_str() + std::string("http/1.1 ").size());
    answer->body = in->substr(end + 4, length);
    in->erase(0, end + 4 + length);
    return true;
}

std::string get(const std::string &path, const std::string &headers = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

// How a client leaves: a plain close (over TLS without close_notify), a reset, or TLS's
// close_notify before the close.
enum class Leave { Close, Reset, CloseNotify };

// A client on a blocking socket whose reads give up after the patience, so that a server that
// went quiet fails the test instead of hanging it.
class Client {
  public:
    Client(int port, SSL_CTX *tls) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval limit{kPatienceSeconds, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        if (connected_ && tls) {
            ssl_ = SSL_new(tls);
            SSL_set_fd(ssl_, fd_);
            connected_ = SSL_connect(ssl_) == 1;
        }
    }
    ~Client() { drop(); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool connected() const { return connected_; }

    void send(const std::string &bytes) {
        if (ssl_) {
            SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
            return;
        }
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    }

    // The next `count` answers, fewer when the server closes or goes quiet first.
    std::vector<Answer> answers(std::size_t count) {
        std::vector<Answer> out;
        Answer answer;
        while (out.size() < count) {
            if (takeAnswer(&in_, &answer)) {
                out.push_back(answer);
                continue;
            }
            if (readSome() <= 0)
                break;
        }
        return out;
    }

    // Whether the server ends the connection; what it sends first is thrown away.
    bool closedByServer() {
        for (;;) {
            const int n = readSome();
            if (n <= 0)
                return n == 0;
        }
    }

    void leave(Leave how) {
        if (how == Leave::Reset) {
            const linger abort{1, 0};
            ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        if (how == Leave::CloseNotify && ssl_)
            SSL_shutdown(ssl_);
        // The server's session tickets may lie unread here, and closing over unread bytes
        // resets the connection: the end of sending goes first, so the server sees what the
        // case says.
        if (how != Leave::Reset)
            ::shutdown(fd_, SHUT_WR);
        drop();
    }

  private:
    // Bytes read into `in_`; 0 when the server closed, -1 when nothing came in the patience.
    int readSome() {
        char buffer[4096];
        if (!ssl_) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0)
                in_.append(buffer, static_cast<std::size_t>(n));
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : static_cast<int>(n);
        }
        const int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n > 0) {
            in_.append(buffer, static_cast<std::size_t>(n));
            return n;
        }
        return SSL_get_error(ssl_, n) == SSL_ERROR_WANT_READ ? -1 : 0;
    }

    void drop() {
        if (ssl_)
            SSL_free(ssl_);
        ssl_ = nullptr;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    SSL *ssl_ = nullptr;
    bool connected_ = false;
    std::string in_;
};

// A request the handler kept for the test to answer.
struct Held {
    std::string path;
    HttpServer::Reply reply;
};

HttpResponse text(const std::string &body, int status = 200, int delayMs = 0) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain";
    response.body = body;
    response.delayMs = delayMs;
    return response;
}

// A server whose handler answers nothing itself: every request waits for the test.
class HttpServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // A write to a client that has gone must fail, not end the test.
        std::signal(SIGPIPE, SIG_IGN);
        char pattern[] = "/tmp/kvex-http-XXXXXX";
        if (!::mkdtemp(pattern))
            return;
        dir_ = pattern;
        const std::string make = "cd " + dir_ +
                                 " && openssl req -x509 -newkey rsa:2048 -nodes -days 1"
                                 " -subj /CN=localhost -keyout web.key -out web.crt"
                                 " > openssl.log 2>&1";
        haveCertificate_ = std::system(make.c_str()) == 0;
        clientTls_ = SSL_CTX_new(TLS_client_method());
    }
    static void TearDownTestSuite() {
        SSL_CTX_free(clientTls_);
        clientTls_ = nullptr;
        if (!dir_.empty())
            std::system(("rm -rf " + dir_).c_str());
    }

    bool start(Transport transport, HttpLimits limits = HttpLimits()) {
        transport_ = transport;
        HttpSettings settings;
        settings.limits = limits;
        if (transport == Transport::Tls) {
            settings.certFile = dir_ + "/web.crt";
            settings.keyFile = dir_ + "/web.key";
        }
        std::string error;
        const bool started = server_.start(
            settings,
            [this](const HttpRequest &request, HttpServer::Reply reply) {
                const std::lock_guard<std::mutex> lock(mutex_);
                held_.push_back({request.path, std::move(reply)});
                arrived_.notify_all();
            },
            "/ws", [](const HttpRequest &) { return true; }, &error);
        EXPECT_TRUE(started) << error;
        return started;
    }

    bool tlsMissing(Transport transport) const {
        return transport == Transport::Tls && !haveCertificate_;
    }

    std::unique_ptr<Client> connect() {
        auto client = std::make_unique<Client>(server_.port(),
                                               transport_ == Transport::Tls ? clientTls_ : nullptr);
        EXPECT_TRUE(client->connected());
        return client;
    }

    // The next request the handler got; an empty path when none came in the patience.
    Held next() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::seconds(kPatienceSeconds),
                               [&] { return !held_.empty(); }))
            return {};
        Held out = std::move(held_.front());
        held_.pop_front();
        return out;
    }

    // Returns once the network thread has left the request it handled last, and with it the
    // choice whether to watch that connection (an answer quicker than that skips the watch).
    // The thread is one, so a request on a new connection reaches the handler only after.
    void settle() {
        Client probe(server_.port(), transport_ == Transport::Tls ? clientTls_ : nullptr);
        probe.send(get("/probe"));
        Held held = next();
        EXPECT_EQ(held.path, "/probe");
        held.reply(text("probe"));
        EXPECT_EQ(probe.answers(1).size(), 1u);
    }

    uint64_t answersWith(int status) const {
        const HttpStats stats = server_.stats();
        const auto found = stats.answers.find(status);
        return found == stats.answers.end() ? 0 : found->second;
    }

    static std::string dir_;
    static bool haveCertificate_;
    static SSL_CTX *clientTls_;
    HttpServer server_;
    Transport transport_ = Transport::Plain;
    // After the server, so that replies the test never took go before it.
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Held> held_;
};

std::string HttpServerTest::dir_;
bool HttpServerTest::haveCertificate_ = false;
SSL_CTX *HttpServerTest::clientTls_ = nullptr;

TEST(HttpServerReply, AnswersOnceAcrossCopiesAndAnEmptyOneDoesNothing) {
    const HttpServer::Reply none;
    none(text("nobody"));
    EXPECT_FALSE(none.gone());

    std::vector<std::string> sent;
    auto gone = std::make_shared<std::atomic<bool>>(false);
    const HttpServer::Reply reply([&](HttpResponse r) { sent.push_back(r.body); }, gone);
    const HttpServer::Reply copy = reply;
    EXPECT_FALSE(copy.gone());
    *gone = true;
    EXPECT_TRUE(copy.gone());
    copy(text("first"));
    reply(text("second"));
    EXPECT_EQ(sent, std::vector<std::string>{"first"});
}

struct LeaveCase {
    Transport transport;
    Leave how;
    const char *name;
};

void PrintTo(const LeaveCase &row, std::ostream *out) {
    *out << row.name;
}

class ClientLeaves : public HttpServerTest, public ::testing::WithParamInterface<LeaveCase> {};

// The reply learns that its client left; the answer given afterwards is dropped, not counted,
// and the server goes on serving others.
TEST_P(ClientLeaves, BeforeItsAnswerAndTheReplyIsGone) {
    const LeaveCase &row = GetParam();
    if (tlsMissing(row.transport))
        GTEST_SKIP() << "openssl could not make a certificate";
    ASSERT_TRUE(start(row.transport));
    auto leaving = connect();
    leaving->send(get("/work"));
    Held work = next();
    ASSERT_EQ(work.path, "/work");
    EXPECT_FALSE(work.reply.gone());
    leaving->leave(row.how);
    EXPECT_TRUE(waitUntil([&] { return work.reply.gone(); }));
    work.reply(text("too late", 202));

    auto staying = connect();
    staying->send(get("/after"));
    Held after = next();
    ASSERT_EQ(after.path, "/after");
    after.reply(text("served"));
    const auto answers = staying->answers(1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].body, "served");
    EXPECT_EQ(answersWith(202), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    HttpServer, ClientLeaves,
    ::testing::Values(LeaveCase{Transport::Plain, Leave::Close, "PlainClose"},
                      LeaveCase{Transport::Plain, Leave::Reset, "PlainReset"},
                      LeaveCase{Transport::Tls, Leave::Close, "TlsWithoutCloseNotify"},
                      LeaveCase{Transport::Tls, Leave::Reset, "TlsReset"},
                      LeaveCase{Transport::Tls, Leave::CloseNotify, "TlsCloseNotify"}),
    [](const auto &info) { return std::string(info.param.name); });

struct LateCase {
    Transport transport;
    int delayMs;
    bool connectionClose;
    const char *name;
};

void PrintTo(const LateCase &row, std::ostream *out) {
    *out << row.name;
}

class LateAnswer : public HttpServerTest, public ::testing::WithParamInterface<LateCase> {};

// A client that stays gets its late answer and is never gone; a kept-alive connection then
// serves its next request, one asked to close is closed.
TEST_P(LateAnswer, ReachesAClientThatStays) {
    const LateCase &row = GetParam();
    if (tlsMissing(row.transport))
        GTEST_SKIP() << "openssl could not make a certificate";
    ASSERT_TRUE(start(row.transport));
    auto client = connect();
    client->send(get("/one", row.connectionClose ? "Connection: close\r\n" : ""));
    Held one = next();
    ASSERT_EQ(one.path, "/one");
    settle();
    one.reply(text("late one", 200, row.delayMs));
    auto answers = client->answers(1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].status, 200);
    EXPECT_EQ(answers[0].body, "late one");
    EXPECT_FALSE(one.reply.gone());
    if (row.connectionClose) {
        EXPECT_TRUE(client->closedByServer());
        return;
    }

    client->send(get("/two"));
    Held two = next();
    ASSERT_EQ(two.path, "/two");
    two.reply(text("late two"));
    answers = client->answers(1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].body, "late two");
}

INSTANTIATE_TEST_SUITE_P(
    HttpServer, LateAnswer,
    ::testing::Values(LateCase{Transport::Plain, 0, false, "PlainKeptAlive"},
                      LateCase{Transport::Plain, 150, false, "PlainDelayedKeptAlive"},
                      LateCase{Transport::Plain, 0, true, "PlainClose"},
                      LateCase{Transport::Tls, 0, false, "TlsKeptAlive"},
                      LateCase{Transport::Tls, 150, false, "TlsDelayedKeptAlive"},
                      LateCase{Transport::Tls, 0, true, "TlsClose"}),
    [](const auto &info) { return std::string(info.param.name); });

struct PipelineCase {
    Transport transport;
    // Both requests in one write, or the second only once the first is with the handler.
    bool together;
    const char *name;
};

void PrintTo(const PipelineCase &row, std::ostream *out) {
    *out << row.name;
}

class Pipelined : public HttpServerTest, public ::testing::WithParamInterface<PipelineCase> {};

// The request that comes while the first is being worked out is kept, and answered after it.
TEST_P(Pipelined, RequestsAreAnsweredInOrder) {
    const PipelineCase &row = GetParam();
    if (tlsMissing(row.transport))
        GTEST_SKIP() << "openssl could not make a certificate";
    ASSERT_TRUE(start(row.transport));
    auto client = connect();
    client->send(get("/first") + (row.together ? get("/second") : ""));
    Held first = next();
    ASSERT_EQ(first.path, "/first");
    if (!row.together) {
        settle();
        client->send(get("/second"));
    }
    first.reply(text("answer one"));
    Held second = next();
    ASSERT_EQ(second.path, "/second");
    second.reply(text("answer two"));
    const auto answers = client->answers(2);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].body, "answer one");
    EXPECT_EQ(answers[1].body, "answer two");
    EXPECT_FALSE(first.reply.gone());
}

INSTANTIATE_TEST_SUITE_P(HttpServer, Pipelined,
                         ::testing::Values(PipelineCase{Transport::Plain, true, "PlainTogether"},
                                           PipelineCase{Transport::Plain, false,
                                                        "PlainWhileHandled"},
                                           PipelineCase{Transport::Tls, true, "TlsTogether"},
                                           PipelineCase{Transport::Tls, false, "TlsWhileHandled"}),
                         [](const auto &info) { return std::string(info.param.name); });

class IdleAfterLateAnswer : public HttpServerTest,
                            public ::testing::WithParamInterface<Transport> {};

// After a late answer the connection still ends when it idles past the keep-alive time.
TEST_P(IdleAfterLateAnswer, EndsAtTheKeepAliveTime) {
    if (tlsMissing(GetParam()))
        GTEST_SKIP() << "openssl could not make a certificate";
    HttpLimits limits;
    limits.keepAliveMs = 200;
    // Only the keep-alive time may end the connection within the patience.
    limits.requestTimeoutMs = 600000;
    ASSERT_TRUE(start(GetParam(), limits));
    auto client = connect();
    client->send(get("/one"));
    Held one = next();
    ASSERT_EQ(one.path, "/one");
    settle();
    one.reply(text("late"));
    ASSERT_EQ(client->answers(1).size(), 1u);
    EXPECT_TRUE(client->closedByServer());
}

INSTANTIATE_TEST_SUITE_P(HttpServer, IdleAfterLateAnswer,
                         ::testing::Values(Transport::Plain, Transport::Tls),
                         [](const auto &info) { return std::string(name(info.param)); });

// Stopping the server while a request is being worked out ends its connection; the reply given
// afterwards does nothing.
TEST_F(HttpServerTest, StopWithARequestBeingHandled) {
    ASSERT_TRUE(start(Transport::Plain));
    auto client = connect();
    client->send(get("/work"));
    Held work = next();
    ASSERT_EQ(work.path, "/work");
    server_.stop();
    EXPECT_TRUE(client->closedByServer());
    work.reply(text("after the stop"));
}

} // namespace
