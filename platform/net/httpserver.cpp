// HTTP and WebSocket server over Boost.Beast and Boost.Asio, TLS through Asio's binding to the
// system's OpenSSL. One network thread holds every connection: a waiting client costs its socket
// and a few kilobytes, never a thread, so idle, dripping or slow clients hold up nobody else.
// Beast parses requests and WebSocket frames; this file only sets the limits and the time-outs
// and counts what it refuses.
#include "platform/httpserver.h"
#include "platform/net/descriptors.h"
#include "platform/tr.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace net = boost::asio;
namespace ssl = boost::asio::ssl;
namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;
using error_code = boost::system::error_code;

namespace {

using PlainStream = tcp::socket;
using TlsStream = beast::ssl_stream<tcp::socket>;
using Message = std::shared_ptr<const std::string>;
using Parser = http::request_parser<http::string_body>;

// Descriptors kept for everything but web clients: the serial port, the broker, the store, Modbus
// clients, the journal.
constexpr long kReservedDescriptors = 128;
// Frames a page may send us: it sends none we need, so a big one is an abuse.
constexpr std::size_t kPageFrameMax = 4096;
// How long a refused request's rest is read and thrown away so that the client sees the answer
// rather than a reset.
constexpr int kDrainMs = 2000;
constexpr int kRefusalLogSeconds = 60;
// Pages a broadcast goes to before the thread turns to its other work: about a millisecond of
// sends on the loopback.
constexpr std::size_t kPagesPerSlice = 64;

std::string lowerCase(beast::string_view text) {
    std::string out(text.data(), text.size());
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX decoded; false for a broken escape.
bool decodePath(const std::string &raw, std::string *path) {
    path->clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            *path += raw[i];
            continue;
        }
        if (i + 2 >= raw.size() || hexDigit(raw[i + 1]) < 0 || hexDigit(raw[i + 2]) < 0)
            return false;
        *path += static_cast<char>(hexDigit(raw[i + 1]) * 16 + hexDigit(raw[i + 2]));
        i += 2;
    }
    return true;
}

std::string opensslReason() {
    std::string out;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        out += (out.empty() ? "" : "; ") + std::string(text);
    }
    return out.empty() ? "unknown OpenSSL error" : out;
}

std::string errorBody(const std::string &text) {
    return "{\"error\":\"" + text + "\"}";
}

// An open live page as the server's state sees it.
class Page {
  public:
    virtual ~Page() = default;
    virtual void send(const Message &message) = 0;
    virtual void close() = 0;
    // How many broadcasts had begun when the page joined: it has the retained ones among them
    // already and is owed only those that begin later.
    uint64_t joinedAfter = 0;
};

// A broadcast waiting for its turn, or going out to the pages a slice at a time.
struct Outgoing {
    Message message;
    std::string retainAs;
    uint64_t number = 0; // 0 until it begins
};

class Connection {
  public:
    virtual ~Connection() = default;
    virtual void close() = 0;
};

struct Core {
    HttpSettings settings;
    HttpServer::Handler handler;
    HttpServer::UpgradeCheck upgradeCheck;
    std::string websocketPath;
    int capacity = 0;
    std::atomic<int> listeningPort{0};

    // The network thread's own.
    std::map<net::ip::address, int> perAddress;
    int total = 0;
    std::vector<std::pair<std::string, Message>> retained;
    std::set<Page *> pages;
    std::set<Connection *> connections;
    std::deque<Outgoing> outbox;
    Page *sentUpTo = nullptr; // the last page the front of the outbox went to
    uint64_t begun = 0;
    bool deliveryQueued = false;
    std::shared_ptr<ssl::context> tls;
    std::map<std::string, uint64_t> refusedUnlogged;
    bool refusalLogArmed = false;

    // Read by other threads for the metrics.
    std::atomic<std::size_t> pagesOpen{0}, requestsOpen{0};
    std::atomic<uint64_t> dropped{0};
    mutable std::mutex countsMutex;
    std::map<std::string, uint64_t> refused;
    std::map<int, uint64_t> answers;

    // Destroyed before the state above, so that sessions still queued in it can let go of it.
    net::io_context io{1};
    tcp::acceptor acceptor{io};
    net::steady_timer acceptPause{io}, refusalLog{io};
    std::thread thread;

    void log(const std::string &line) const {
        if (settings.log)
            settings.log(line);
    }

    // Every page gets the broadcasts in the order they came. A slice of pages at a time, so that
    // with a thousand pages a request waits for one slice of sends, not for a thousand.
    void deliver() {
        deliveryQueued = false;
        std::size_t sent = 0;
        while (!outbox.empty()) {
            Outgoing &front = outbox.front();
            if (front.number == 0) {
                front.number = ++begun;
                sentUpTo = nullptr;
                if (!front.retainAs.empty())
                    retain(front.retainAs, front.message);
            }
            auto next = sentUpTo ? pages.upper_bound(sentUpTo) : pages.begin();
            while (next != pages.end() && sent < kPagesPerSlice) {
                Page *page = *next++;
                if (page->joinedAfter < front.number) {
                    page->send(front.message);
                    ++sent;
                }
                sentUpTo = page;
            }
            if (next == pages.end())
                outbox.pop_front();
            if (sent >= kPagesPerSlice && !outbox.empty()) {
                queueDelivery();
                return;
            }
        }
    }

    void queueDelivery() {
        if (deliveryQueued)
            return;
        deliveryQueued = true;
        net::post(io, [this] { deliver(); });
    }

    void retain(const std::string &key, const Message &message) {
        const auto same = std::find_if(retained.begin(), retained.end(),
                                       [&](const auto &entry) { return entry.first == key; });
        if (same == retained.end())
            retained.emplace_back(key, message);
        else
            same->second = message;
    }

    void countAnswer(int status) {
        const std::lock_guard<std::mutex> lock(countsMutex);
        ++answers[status];
    }

    void decorate(const HttpRequest &request, HttpResponse *response) const {
        if (settings.decorate)
            settings.decorate(request, response);
    }

    // A refusal is logged at once when none was in the last minute; the ones that follow are
    // summed into one line a minute, so a flood cannot fill the journal.
    void refuse(const std::string &cause) {
        {
            const std::lock_guard<std::mutex> lock(countsMutex);
            ++refused[cause];
        }
        ++refusedUnlogged[cause];
        if (refusalLogArmed)
            return;
        logRefusals();
        refusalLogArmed = true;
        armRefusalLog();
    }

    void armRefusalLog() {
        refusalLog.expires_after(std::chrono::seconds(kRefusalLogSeconds));
        refusalLog.async_wait([this](error_code ec) {
            if (ec)
                return;
            if (refusedUnlogged.empty()) {
                refusalLogArmed = false;
                return;
            }
            logRefusals();
            armRefusalLog();
        });
    }

    void logRefusals() {
        uint64_t count = 0;
        std::string causes;
        for (const auto &[cause, n] : refusedUnlogged) {
            count += n;
            const std::string what =
                cause == "total_cap"
                    ? kvex::trArgs("the cap of %1 connections", {std::to_string(capacity)})
                : cause == "address_cap"
                    ? kvex::trArgs("the cap of %1 per address",
                                   {std::to_string(settings.limits.maxPerAddress)})
                    : std::string(kvex::trNow("no descriptor left"));
            causes += (causes.empty() ? "" : ", ") + what + ": " + std::to_string(n);
        }
        refusedUnlogged.clear();
        log(kvex::trArgs("web server: refused %1 new connection(s) (%2); the next such line comes "
                         "a minute later at the earliest",
                         {std::to_string(count), causes}));
    }

    std::shared_ptr<ssl::context> loadTls(std::string *error) const {
        auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
        SSL_CTX *native = context->native_handle();
        const std::string &key = settings.keyFile.empty() ? settings.certFile : settings.keyFile;
        ERR_clear_error();
        // TLS 1.2 and 1.3 only; idle connections give their buffers back.
        if (SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION) != 1 ||
            SSL_CTX_use_certificate_chain_file(native, settings.certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(native, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(native) != 1) {
            *error = settings.certFile + ", " + key + ": " + opensslReason();
            return nullptr;
        }
        SSL_CTX_set_options(native, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                        SSL_OP_CIPHER_SERVER_PREFERENCE);
        SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);
        return context;
    }

    // A plant's PKI renews the pair in place; connections open now keep the context they
    // started with, new ones get the new pair. On the network thread, which alone reads `tls`.
    void reloadTls() {
        std::string error;
        if (auto context = loadTls(&error)) {
            tls = std::move(context);
            log(kvex::trArgs("web server: certificate %1 read again", {settings.certFile}));
        } else {
            log(kvex::trArgs("web server: kept the certificate in use, the new one is not "
                             "usable: %1",
                             {error}));
        }
    }

    void accept();
    void admit(tcp::socket socket);
};

// A connection's place under the caps; given back when the connection goes.
class Admission {
  public:
    Admission() = default;
    Admission(Core *core, net::ip::address address) : core_(core), address_(address) {
        ++core_->total;
        ++core_->perAddress[address_];
        ++core_->requestsOpen;
    }
    Admission(Admission &&other) noexcept { *this = std::move(other); }
    Admission &operator=(Admission &&other) noexcept {
        std::swap(core_, other.core_);
        std::swap(address_, other.address_);
        std::swap(page_, other.page_);
        return *this;
    }
    ~Admission() {
        if (!core_)
            return;
        --core_->total;
        const auto found = core_->perAddress.find(address_);
        if (found != core_->perAddress.end() && --found->second <= 0)
            core_->perAddress.erase(found);
        --(page_ ? core_->pagesOpen : core_->requestsOpen);
    }
    void becomePage() {
        if (page_ || !core_)
            return;
        page_ = true;
        --core_->requestsOpen;
        ++core_->pagesOpen;
    }
    std::string address() const { return address_.to_string(); }

  private:
    Core *core_ = nullptr;
    net::ip::address address_;
    bool page_ = false;
};

template <class Stream> constexpr bool isTls() {
    return std::is_same<Stream, TlsStream>::value;
}

// A live page: every broadcast goes into its queue, written one message at a time; a page that
// reads too slowly loses its oldest waiting messages, never anyone else's.
template <class Stream>
class PageSession : public Page, public std::enable_shared_from_this<PageSession<Stream>> {
  public:
    PageSession(Core &core, Stream stream, Admission admission, std::shared_ptr<ssl::context> tls)
        : core_(core), ws_(std::move(stream)), admission_(std::move(admission)),
          tls_(std::move(tls)) {
        admission_.becomePage();
    }
    ~PageSession() override { core_.pages.erase(this); }

    void open(http::request<http::string_body> request, const HttpRequest &seen) {
        const HttpLimits &l = core_.settings.limits;
        websocket::stream_base::timeout timeout;
        timeout.handshake_timeout = std::chrono::milliseconds(l.requestTimeoutMs);
        timeout.idle_timeout = std::chrono::milliseconds(l.websocketTimeoutMs);
        timeout.keep_alive_pings = true;
        ws_.set_option(timeout);
        ws_.read_message_max(kPageFrameMax);
        Core *core = &core_;
        ws_.set_option(
            websocket::stream_base::decorator([core, seen](websocket::response_type &response) {
                HttpResponse answer;
                answer.status = static_cast<int>(response.result_int());
                core->decorate(seen, &answer);
                for (const auto &header : answer.headers)
                    response.set(header.first, header.second);
                core->countAnswer(answer.status);
            }));
        ws_.async_accept(request, [self = this->shared_from_this()](error_code ec) {
            if (ec)
                return;
            self->joinedAfter = self->core_.begun;
            self->core_.pages.insert(self.get());
            for (const auto &kept : self->core_.retained)
                self->send(kept.second);
            self->read();
        });
    }

    void send(const Message &message) override {
        const std::size_t inFlight = writing_ ? 1 : 0;
        if (queue_.size() >=
                std::max<std::size_t>(core_.settings.limits.websocketQueue, 1) + inFlight &&
            queue_.size() > inFlight) {
            queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(inFlight));
            ++core_.dropped;
        }
        queue_.push_back(message);
        if (!writing_)
            writeNext();
    }

    void close() override {
        core_.pages.erase(this);
        error_code ignored;
        beast::get_lowest_layer(ws_).close(ignored);
    }

  private:
    void read() {
        ws_.async_read(in_, [self = this->shared_from_this()](error_code ec, std::size_t) {
            if (ec) {
                self->core_.pages.erase(self.get());
                return;
            }
            self->in_.consume(self->in_.size());
            self->read();
        });
    }

    void writeNext() {
        writing_ = true;
        ws_.text(true);
        ws_.async_write(net::buffer(*queue_.front()),
                        [self = this->shared_from_this()](error_code ec, std::size_t) {
                            self->writing_ = false;
                            self->queue_.pop_front();
                            if (ec) {
                                self->queue_.clear();
                                self->core_.pages.erase(self.get());
                                return;
                            }
                            if (!self->queue_.empty())
                                self->writeNext();
                        });
    }

    Core &core_;
    websocket::stream<Stream> ws_;
    Admission admission_;
    std::shared_ptr<ssl::context> tls_;
    beast::flat_buffer in_;
    std::deque<Message> queue_;
    bool writing_ = false;
};

// One HTTP connection: waits for a request, reads it within its time-out, hands it to the
// handler, writes the answer, and waits again while the client keeps it alive.
template <class Stream>
class HttpSession : public Connection, public std::enable_shared_from_this<HttpSession<Stream>> {
  public:
    HttpSession(Core &core, Stream stream, Admission admission, std::shared_ptr<ssl::context> tls)
        : core_(core), stream_(std::move(stream)), timer_(core.io),
          admission_(std::move(admission)), tls_(std::move(tls)) {
        remote_ = admission_.address();
    }
    ~HttpSession() override { core_.connections.erase(this); }

    void start() {
        core_.connections.insert(this);
        if constexpr (isTls<Stream>()) {
            arm(core_.settings.limits.requestTimeoutMs);
            stream_.async_handshake(ssl::stream_base::server,
                                    [self = this->shared_from_this()](error_code ec) {
                                        if (ec)
                                            return self->close();
                                        self->waitForRequest();
                                    });
        } else {
            waitForRequest();
        }
    }

    void close() override {
        // A reply that comes after this must find nothing to write to and nothing to count.
        phase_ = Phase::Closed;
        ++timerGeneration_;
        timer_.cancel();
        error_code ignored;
        beast::get_lowest_layer(stream_).close(ignored);
        core_.connections.erase(this);
    }

  private:
    enum class Phase { Idle, Reading, Handling, Writing, Draining, Closed };

    // The idle time-out runs until the first byte of a request; from there the request time-out.
    void waitForRequest() {
        phase_ = Phase::Idle;
        parser_.reset();
        request_ = HttpRequest();
        if (buffer_.size() > 0)
            return readHeader();
        // The watch's read, still waiting, waits for the next request too: a second read on
        // the stream is not allowed, and the watch goes on here when it ends.
        if (watching_)
            return arm(core_.settings.limits.keepAliveMs);
        buffer_.shrink_to_fit();
        arm(core_.settings.limits.keepAliveMs);
        auto next = [self = this->shared_from_this()](error_code ec, std::size_t n = 0) {
            if (ec)
                return self->close();
            self->buffer_.commit(n);
            self->readHeader();
        };
        if constexpr (isTls<Stream>()) {
            // The TLS layer may already hold the request's bytes, so waiting for the socket to
            // become readable could wait for nothing.
            stream_.async_read_some(buffer_.prepare(1024), next);
        } else {
            stream_.async_wait(tcp::socket::wait_read, [next](error_code ec) { next(ec); });
        }
    }

    void readHeader() {
        phase_ = Phase::Reading;
        const HttpLimits &l = core_.settings.limits;
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(l.maxHeaderBytes));
        parser_->body_limit(l.maxBodyBytes);
        arm(l.requestTimeoutMs);
        http::async_read_header(
            stream_, buffer_, *parser_,
            [self = this->shared_from_this()](error_code ec, std::size_t) { self->onHeader(ec); });
    }

    void takeRequest() {
        const auto &message = parser_->get();
        HttpRequest &r = request_;
        r.method = std::string(message.method_string());
        const std::string target(message.target());
        const auto question = target.find('?');
        r.query = question == std::string::npos ? "" : target.substr(question + 1);
        pathOk_ = decodePath(target.substr(0, question), &r.path);
        r.remoteAddress = remote_;
        for (const auto &field : message)
            r.headers[lowerCase(field.name_string())] = std::string(field.value());
        keepAlive_ = message.keep_alive();
    }

    void onHeader(error_code ec) {
        if (ec)
            return fail(ec);
        takeRequest();
        if (!pathOk_)
            return answerOwn(400, "the path has a broken %-escape");
        const auto &message = parser_->get();
        if (websocket::is_upgrade(message) && request_.path == core_.websocketPath) {
            if (!core_.upgradeCheck(request_))
                return answerOwn(403, "cross-site WebSocket refused");
            ++timerGeneration_;
            timer_.cancel();
            core_.connections.erase(this);
            auto page = std::make_shared<PageSession<Stream>>(core_, std::move(stream_),
                                                              std::move(admission_), tls_);
            page->open(parser_->release(), request_);
            return;
        }
        const auto announced = parser_->content_length();
        if (announced && *announced > core_.settings.limits.maxBodyBytes)
            return answerOwn(413, "request body above " +
                                      std::to_string(core_.settings.limits.maxBodyBytes) +
                                      " bytes");
        if (parser_->is_done())
            return onRequest();
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](error_code ec, std::size_t) {
                             if (ec)
                                 return self->fail(ec);
                             self->onRequest();
                         });
    }

    void fail(error_code ec) {
        if (parser_ && parser_->is_header_done() && request_.method.empty())
            takeRequest();
        // Only a request that has begun is answered; an idle connection is just closed.
        if (timedOut_ && phase_ == Phase::Reading)
            return answerOwn(408, "the request did not come whole in time");
        if (ec == http::error::header_limit)
            return answerOwn(431, "request line and headers above " +
                                      std::to_string(core_.settings.limits.maxHeaderBytes) +
                                      " bytes");
        if (ec == http::error::body_limit)
            return answerOwn(413, "request body above " +
                                      std::to_string(core_.settings.limits.maxBodyBytes) +
                                      " bytes");
        if (ec.category() == http::make_error_code(http::error::bad_method).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message)
            return answerOwn(400, "not a valid HTTP request");
        close();
    }

    void onRequest() {
        phase_ = Phase::Handling;
        ++timerGeneration_;
        timer_.cancel();
        request_.body = std::move(parser_->get().body());
        // The reply holds the connection while the answer is being worked out; whoever holds
        // the reply lets go of it once the answer is given.
        // The connection is only ever let go of on the network thread, wherever the reply ends.
        struct Hold {
            std::shared_ptr<HttpSession> session;
            net::io_context *io;
            std::atomic<bool> answered{false};
            ~Hold() {
                net::post(*io, [session = std::move(session)] {});
            }
        };
        auto hold = std::make_shared<Hold>();
        hold->session = this->shared_from_this();
        hold->io = &core_.io;
        const unsigned generation = ++requestGeneration_;
        auto gone = std::make_shared<std::atomic<bool>>(false);
        HttpServer::Reply reply(
            [hold, generation](HttpResponse response) {
                hold->answered = true;
                net::post(*hold->io, [self = hold->session, generation,
                                      response = std::move(response)]() mutable {
                    if (self->requestGeneration_ == generation && self->phase_ == Phase::Handling)
                        self->answer(std::move(response), false);
                });
            },
            gone);
        try {
            core_.handler(request_, std::move(reply));
        } catch (const std::exception &e) {
            answer(ownError(500, "the server failed on this request"), true);
        }
        // An answer given at once is already on its way; one still being worked out is worth
        // watching the connection for.
        if (phase_ == Phase::Handling && !hold->answered)
            watch(std::move(gone));
    }

    // While the answer is being worked out, one read tells whether the client is still there:
    // an error is its leaving, bytes are its next request, kept for after the answer. Whatever
    // would read next waits for this read to end and goes on from its end.
    void watch(std::shared_ptr<std::atomic<bool>> gone) {
        // Bytes already here are a pipelined request: the client is plainly alive.
        if (buffer_.size() > 0)
            return;
        buffer_.shrink_to_fit();
        watching_ = true;
        stream_.async_read_some(buffer_.prepare(1024),
                                [self = this->shared_from_this(), gone = std::move(gone)](
                                    error_code ec, std::size_t n) { self->watched(ec, n, *gone); });
    }

    void watched(error_code ec, std::size_t n, std::atomic<bool> &gone) {
        watching_ = false;
        if (ec) {
            // Only a client that leaves before its answer is gone; after it, this is the end of
            // a kept-alive connection, or of one this side closed.
            if (phase_ == Phase::Handling)
                gone = true;
            return close();
        }
        buffer_.commit(n);
        // While Handling or Writing, the answer's end goes on to these bytes.
        if (phase_ == Phase::Idle)
            waitForRequest();
        else if (phase_ == Phase::Draining)
            drainSome();
    }

    HttpResponse ownError(int status, const std::string &text) const {
        HttpResponse response;
        response.status = status;
        response.body = errorBody(text);
        return response;
    }

    // The server's own refusals end the connection: what the client sends next cannot be trusted
    // to be a request.
    void answerOwn(int status, const std::string &text) {
        phase_ = Phase::Handling;
        answer(ownError(status, text), true);
    }

    void answer(HttpResponse response, bool close) {
        phase_ = Phase::Writing;
        if (response.delayMs > 0) {
            const int delay = response.delayMs;
            response.delayMs = 0;
            ++timerGeneration_;
            timer_.expires_after(std::chrono::milliseconds(delay));
            timer_.async_wait([self = this->shared_from_this(), response = std::move(response),
                               close](error_code ec) mutable {
                if (!ec && self->phase_ == Phase::Writing)
                    self->answer(std::move(response), close);
            });
            return;
        }
        core_.decorate(request_, &response);
        core_.countAnswer(response.status);
        auto message = std::make_shared<http::response<http::string_body>>();
        message->version(11);
        message->result(static_cast<unsigned>(response.status));
        message->set(http::field::content_type, response.contentType);
        for (const auto &header : response.headers)
            message->insert(header.first, header.second);
        const bool last = close || !keepAlive_;
        message->keep_alive(!last);
        if (request_.method == "HEAD") {
            // A HEAD answer has the length of the GET answer, without its body.
            message->content_length(response.body.size());
        } else {
            message->body() = std::move(response.body);
            message->prepare_payload();
        }
        // A client that does not take its answer is not waited for longer than for a request.
        arm(core_.settings.limits.requestTimeoutMs);
        http::async_write(stream_, *message,
                          [self = this->shared_from_this(), message, last,
                           refused = close](error_code ec, std::size_t) {
                              if (ec)
                                  return self->close();
                              if (refused)
                                  return self->drain();
                              if (last)
                                  return self->finish();
                              self->waitForRequest();
                          });
    }

    // After a refusal the rest of what the client sends is read and dropped for a while, so its
    // kernel does not reset the connection before it has read the answer.
    void drain() {
        if constexpr (isTls<Stream>()) {
            finish();
        } else {
            phase_ = Phase::Draining;
            error_code ignored;
            stream_.shutdown(tcp::socket::shutdown_send, ignored);
            arm(kDrainMs);
            scratch_ = std::make_unique<char[]>(4096);
            if (!watching_)
                drainSome();
        }
    }

    void drainSome() {
        stream_.async_read_some(net::buffer(scratch_.get(), 4096),
                                [self = this->shared_from_this()](error_code ec, std::size_t) {
                                    if (ec)
                                        return self->close();
                                    self->drainSome();
                                });
    }

    void finish() {
        if constexpr (isTls<Stream>()) {
            close();
        } else {
            error_code ignored;
            stream_.shutdown(tcp::socket::shutdown_send, ignored);
            close();
        }
    }

    // One deadline at a time; when it passes, whatever the connection waits for is cancelled.
    void arm(int ms) {
        const unsigned generation = ++timerGeneration_;
        timedOut_ = false;
        timer_.expires_after(std::chrono::milliseconds(ms));
        timer_.async_wait([weak = std::weak_ptr<HttpSession>(this->shared_from_this()),
                           generation](error_code ec) {
            auto self = weak.lock();
            if (ec || !self || self->timerGeneration_ != generation)
                return;
            self->timedOut_ = true;
            error_code ignored;
            beast::get_lowest_layer(self->stream_).cancel(ignored);
        });
    }

    Core &core_;
    Stream stream_;
    net::steady_timer timer_;
    Admission admission_;
    std::shared_ptr<ssl::context> tls_;
    std::string remote_;
    beast::flat_buffer buffer_;
    std::optional<Parser> parser_;
    HttpRequest request_;
    std::unique_ptr<char[]> scratch_;
    Phase phase_ = Phase::Idle;
    unsigned timerGeneration_ = 0, requestGeneration_ = 0;
    bool timedOut_ = false, keepAlive_ = true, pathOk_ = true;
    // A read of watch() is waiting.
    bool watching_ = false;
};

// A client's socket moves above select()'s range when there is room (descriptors.h).
tcp::socket aboveSelectRange(tcp::socket socket, tcp::endpoint::protocol_type protocol) {
    const int high = duplicateAboveSelectRange(socket.native_handle());
    if (high < 0)
        return socket;
    error_code ec;
    tcp::socket moved(socket.get_executor());
    moved.assign(protocol, high, ec);
    if (ec) {
        ::close(high);
        return socket;
    }
    socket.close(ec);
    return moved;
}

void Core::accept() {
    acceptor.async_accept([this](error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors: the waiting connection stays in the listen queue; try again
            // shortly rather than spin.
            if (ec == net::error::no_descriptors || ec == net::error::no_buffer_space ||
                ec == net::error::no_memory)
                refuse("descriptors");
            acceptPause.expires_after(std::chrono::milliseconds(100));
            acceptPause.async_wait([this](error_code wait) {
                if (!wait)
                    accept();
            });
            return;
        }
        admit(std::move(socket));
        accept();
    });
}

void Core::admit(tcp::socket socket) {
    error_code ec;
    const tcp::endpoint remote = socket.remote_endpoint(ec);
    if (ec)
        return;
    if (total >= capacity)
        return refuse("total_cap");
    const auto same = perAddress.find(remote.address());
    if (same != perAddress.end() && same->second >= settings.limits.maxPerAddress)
        return refuse("address_cap");
    socket.set_option(tcp::no_delay(true), ec);
    socket = aboveSelectRange(std::move(socket), remote.protocol());
    Admission admission(this, remote.address());
    if (tls) {
        auto session = std::make_shared<HttpSession<TlsStream>>(
            *this, TlsStream(std::move(socket), *tls), std::move(admission), tls);
        session->start();
    } else {
        auto session = std::make_shared<HttpSession<PlainStream>>(*this, std::move(socket),
                                                                  std::move(admission), nullptr);
        session->start();
    }
}

} // namespace

struct HttpServer::Impl : Core {};

struct HttpServer::Reply::Once {
    std::function<void(HttpResponse)> send;
    std::atomic<bool> answered{false};
};

HttpServer::Reply::Reply(std::function<void(HttpResponse)> send,
                         std::shared_ptr<std::atomic<bool>> gone)
    : once_(std::make_shared<Once>()), gone_(std::move(gone)) {
    once_->send = std::move(send);
}

void HttpServer::Reply::operator()(HttpResponse response) const {
    if (once_ && once_->send && !once_->answered.exchange(true))
        once_->send(std::move(response));
}

bool HttpServer::Reply::gone() const {
    return gone_ && *gone_;
}

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {}

HttpServer::~HttpServer() {
    stop();
}

bool HttpServer::reloadTls() {
    Core &core = *impl_;
    if (!core.tls || !core.thread.joinable())
        return false;
    net::post(core.io, [&core] { core.reloadTls(); });
    return true;
}

void HttpServer::stop() {
    Core &core = *impl_;
    if (!core.thread.joinable())
        return;
    net::post(core.io, [&core] {
        error_code ignored;
        core.acceptor.close(ignored);
        core.acceptPause.cancel();
        core.refusalLog.cancel();
        for (Page *page : std::vector<Page *>(core.pages.begin(), core.pages.end()))
            page->close();
        for (Connection *c :
             std::vector<Connection *>(core.connections.begin(), core.connections.end()))
            c->close();
    });
    // What the closes leave queued finishes on its own; the thread need not wait for clients.
    net::post(core.io, [&core] { core.io.stop(); });
    core.thread.join();
}

bool HttpServer::start(const HttpSettings &settings, Handler handler,
                       const std::string &websocketPath, UpgradeCheck upgradeCheck,
                       std::string *error) {
    Core &core = *impl_;
    core.settings = settings;
    core.handler = std::move(handler);
    core.upgradeCheck = std::move(upgradeCheck);
    core.websocketPath = websocketPath;
    if (!settings.certFile.empty()) {
        core.tls = core.loadTls(error);
        if (!core.tls)
            return false;
    }

    // Every held connection needs a descriptor: the unit's hard limit, not systemd's 1 024.
    const long descriptors = raiseDescriptorLimit();
    const long held = std::max(descriptors - kReservedDescriptors, 1L);
    core.capacity = static_cast<int>(std::min<long>(settings.limits.maxConnections, held));
    if (core.capacity < settings.limits.maxConnections)
        core.log(kvex::trArgs("web server: %1 descriptors allowed (LimitNOFILE): the cap of %2 "
                              "connections is lowered to %3",
                              {std::to_string(descriptors),
                               std::to_string(settings.limits.maxConnections),
                               std::to_string(core.capacity)}));
    core.log(kvex::trArgs(
        "web server: holds up to %1 connections, %2 from one address (%3 descriptors allowed)",
        {std::to_string(core.capacity),
         std::to_string(std::min(settings.limits.maxPerAddress, core.capacity)),
         std::to_string(descriptors)}));

    error_code ec;
    const net::ip::address address = net::ip::make_address(settings.address, ec);
    if (ec) {
        *error = "not an address: " + settings.address;
        return false;
    }
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(settings.port));
    core.acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        core.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        core.acceptor.bind(endpoint, ec);
    if (!ec)
        core.acceptor.listen(settings.limits.listenBacklog, ec);
    if (ec) {
        *error = ec.message();
        return false;
    }
    core.listeningPort = core.acceptor.local_endpoint(ec).port();
    core.accept();
    core.thread = std::thread([&core] {
        // Named, so that its CPU can be told from the polling thread's (top -H, /proc).
        ::pthread_setname_np(::pthread_self(), "kvex-web");
        // A handler that throws is the program's fault; one client's request must not end the
        // network thread for everybody.
        for (;;) {
            try {
                core.io.run();
                return;
            } catch (const std::exception &) {
            }
        }
    });
    return true;
}

void HttpServer::broadcast(const std::string &text, const std::string &retainAs) {
    Core &core = *impl_;
    auto message = std::make_shared<const std::string>(text);
    net::post(core.io, [&core, message, retainAs] {
        core.outbox.push_back({message, retainAs});
        core.queueDelivery();
    });
}

std::size_t HttpServer::websockets() const {
    return impl_->pagesOpen;
}

uint64_t HttpServer::droppedMessages() const {
    return impl_->dropped;
}

HttpStats HttpServer::stats() const {
    const Core &core = *impl_;
    HttpStats out;
    out.pages = core.pagesOpen;
    out.requests = core.requestsOpen;
    out.droppedMessages = core.dropped;
    out.capacity = core.capacity;
    const std::lock_guard<std::mutex> lock(core.countsMutex);
    out.refused = core.refused;
    out.answers = core.answers;
    return out;
}

int HttpServer::port() const {
    return impl_->listeningPort;
}
