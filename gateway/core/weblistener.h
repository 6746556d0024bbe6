// The gateway's one web server (--http), shared by the faces that answer over HTTP (the page and
// its API, the metrics) as the broker link is shared by those that speak MQTT: each face adds its
// routes before the start; every answer carries the page's security headers.
#pragma once

#include "platform/httpserver.h"

#include <functional>
#include <map>
#include <set>
#include <string>

struct GatewayOptions;

class WebListener {
  public:
    // Answers at once, or returns status 0 (answerLater()) and answers through the reply.
    using Route = std::function<HttpResponse(const HttpRequest &, const HttpServer::Reply &)>;

    explicit WebListener(const GatewayOptions &options);

    // Before start(): the route of one path (every method; the route checks it), and the route
    // of every path outside /api/ that has none.
    void route(const std::string &path, Route route);
    void fallback(Route route);
    // Listens, with the live stream's WebSockets at /ws; false with a reason.
    bool start(std::string *error);
    void stop();
    // The TLS pair read again for new connections; false without TLS.
    bool reloadTls() { return server_.reloadTls(); }
    int port() const { return server_.port(); }
    bool tls() const { return !settings_.certFile.empty(); }

    // The live stream: sends `text` to every page; `retainAs` keeps it for pages that open later.
    void broadcast(const std::string &text, const std::string &retainAs = std::string());
    HttpStats stats() const { return server_.stats(); }

  private:
    void handle(const HttpRequest &request, const HttpServer::Reply &reply) const;
    bool hostAllowed(const HttpRequest &request) const;

    // Names the Host header may give besides address literals.
    std::set<std::string> allowedHosts_;
    HttpSettings settings_;
    std::map<std::string, Route> routes_;
    Route fallback_;
    HttpServer server_;
};

// A JSON answer.
HttpResponse jsonResponse(int status, std::string body);
// What a route returns when the answer comes later through the reply.
HttpResponse answerLater();
// 405 with the methods the path allows ("GET", "GET, PUT").
HttpResponse methodNotAllowed(const char *allow);
// Whether a browser sent the request from another site's page (Origin, Sec-Fetch-Site); clients
// that are not browsers send neither header.
bool crossSite(const HttpRequest &request);
