// HTTP and WebSocket server with fixed limits: request threads call one handler, and text
// messages go to every live WebSocket through a bounded queue per connection.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct HttpLimits {
    // Request line and headers together; longer requests get 431 (civetweb: 413).
    int maxHeaderBytes = 16384;
    // Bodies above this get 413 without being read.
    std::size_t maxBodyBytes = 65536;
    // Time a client has to send its request, and the idle time of a kept-alive connection.
    int requestTimeoutMs = 10000;
    int keepAliveMs = 5000;
    // A WebSocket that sends nothing for this long is pinged (browsers answer by themselves).
    int websocketTimeoutMs = 60000;
    // Connections served at once (one thread each); further ones wait in the listen queue.
    int maxConnections = 64;
    // Connections the kernel holds until a thread is free (capped by net.core.somaxconn).
    int listenBacklog = 1024;
    // Messages a WebSocket may have waiting; beyond that the oldest are dropped.
    std::size_t websocketQueue = 256;
};

struct HttpSettings {
    std::string address = "127.0.0.1";
    int port = 0;
    // TLS when both are given.
    std::string certFile, keyFile;
    HttpLimits limits;
};

struct HttpRequest {
    std::string method;
    std::string path;  // URL-decoded, as the client sent it
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
};

class HttpServer {
  public:
    // Runs on the server's threads, any number at once.
    using Handler = std::function<HttpResponse(const HttpRequest &)>;
    // Whether an upgrade to a WebSocket is accepted (the request has no body).
    using UpgradeCheck = std::function<bool(const HttpRequest &)>;

    HttpServer();
    // Closes every connection and stops the threads.
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Serves every path with `handler`, and WebSockets at `websocketPath`; false with a reason.
    bool start(const HttpSettings &settings, Handler handler, const std::string &websocketPath,
               UpgradeCheck upgradeCheck, std::string *error);
    // Closes every connection and waits for the server's threads; start() may not be called again.
    void stop();
    // Queues the text for every WebSocket open now; never waits for a client. Given a `retainAs`
    // name, the text is also kept in place of the last one of that name, and a WebSocket that
    // opens later gets every kept text first (in the order their names were first used), so a
    // client learns at once what it would otherwise have missed, and nothing twice.
    void broadcast(const std::string &text, const std::string &retainAs = std::string());
    // WebSockets open now, and messages dropped because a client read too slowly.
    std::size_t websockets() const;
    uint64_t droppedMessages() const;
    // The port listened on (useful when started on port 0).
    int port() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
