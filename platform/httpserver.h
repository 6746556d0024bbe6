// HTTP and WebSocket server with fixed limits: one network thread holds every connection, calls one
// handler that answers when it can, and sends text messages to every live WebSocket through a
// bounded queue per connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct HttpLimits {
    // Request line and headers together; longer requests get 431.
    int maxHeaderBytes = 16384;
    // Bodies above this get 413 without being read.
    std::size_t maxBodyBytes = 65536;
    // Time a request has from its first byte to its last, however slowly it comes (408).
    int requestTimeoutMs = 10000;
    // Idle time of a kept-alive connection between two requests.
    int keepAliveMs = 5000;
    // A live page that sends nothing for half this time is pinged, and closed when this much
    // passes without a word from it (browsers answer pings by themselves).
    int websocketTimeoutMs = 60000;
    // Connections held at once, and from one client address; beyond them a new connection is
    // closed at once. Lowered at start when the descriptors allowed are fewer.
    int maxConnections = 10000;
    int maxPerAddress = 1000;
    // Connections the kernel holds until the server takes them (capped by net.core.somaxconn).
    int listenBacklog = 1024;
    // Messages a WebSocket may have waiting; beyond that the oldest are dropped.
    std::size_t websocketQueue = 256;
};

struct HttpRequest {
    std::string method;
    std::string path;  // URL-decoded
    std::string query; // after '?', not decoded
    std::string remoteAddress;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string header(const std::string &lowerName) const {
        const auto found = headers.find(lowerName);
        return found == headers.end() ? std::string() : found->second;
    }
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // The answer leaves this much later, holding up nobody else (a refused token's wait).
    int delayMs = 0;
};

struct HttpSettings {
    std::string address = "127.0.0.1";
    int port = 0;
    // TLS when both are given; reloadTls() reads both again.
    std::string certFile, keyFile;
    HttpLimits limits;
    // Adds headers to every answer, the server's own errors (400, 408, 413, 431, 503) included;
    // `request` is empty where none could be read. Runs on the network thread.
    std::function<void(const HttpRequest &request, HttpResponse *response)> decorate;
    // One line for the log, already in the operator's language. Runs on the network thread.
    std::function<void(const std::string &line)> log;
};

// What the server counts, for the metrics.
struct HttpStats {
    std::size_t pages = 0;    // open WebSockets
    std::size_t requests = 0; // open HTTP connections, idle ones included
    uint64_t droppedMessages = 0;
    std::map<std::string, uint64_t> refused; // by cause: total_cap, address_cap, descriptors
    std::map<int, uint64_t> answers;         // by status code
    int capacity = 0;                        // connections the server holds at most
};

class HttpServer {
  public:
    // Answers a request once, from any thread; an answer for a connection gone is dropped.
    // Copies share the answer: whichever answers first is the one that counts.
    class Reply {
      public:
        // Answers nothing and is never gone.
        Reply() = default;
        // `send` is called at most once, with the first answer; `gone` is what gone() reads.
        Reply(std::function<void(HttpResponse)> send, std::shared_ptr<std::atomic<bool>> gone);
        void operator()(HttpResponse response) const;
        // True once the client closed its connection before its answer was given: work queued
        // for it can be dropped, since the answer would reach nobody.
        bool gone() const;

      private:
        struct Once;
        std::shared_ptr<Once> once_;
        std::shared_ptr<std::atomic<bool>> gone_;
    };
    // Runs on the network thread and must not wait: work that waits answers through `reply`
    // later.
    using Handler = std::function<void(const HttpRequest &request, Reply reply)>;
    // Whether an upgrade to a WebSocket is accepted (the request has no body).
    using UpgradeCheck = std::function<bool(const HttpRequest &)>;

    HttpServer();
    // Closes every connection and stops the network thread.
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Serves every path with `handler`, and WebSockets at `websocketPath`; false with a reason.
    bool start(const HttpSettings &settings, Handler handler, const std::string &websocketPath,
               UpgradeCheck upgradeCheck, std::string *error);
    // Closes every connection and waits for the network thread; start() may not be called again.
    void stop();
    // Reads the certificate and key again for the connections that open from now on (the old
    // pair stays when the new one is unusable; the log says which). False without TLS.
    bool reloadTls();
    // Queues the text for every WebSocket open now; never waits for a client. Given a `retainAs`
    // name, the text is also kept in place of the last one of that name, and a WebSocket that
    // opens later gets every kept text first (in the order their names were first used), so a
    // client learns at once what it would otherwise have missed, and nothing twice.
    void broadcast(const std::string &text, const std::string &retainAs = std::string());
    // WebSockets open now, and messages dropped because a client read too slowly.
    std::size_t websockets() const;
    uint64_t droppedMessages() const;
    HttpStats stats() const;
    // The port listened on (useful when started on port 0).
    int port() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
