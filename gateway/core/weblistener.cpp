// The web server's routing, its security headers and the cross-site rule every face applies.
#include "gateway/core/weblistener.h"
#include "gateway/options.h"
#include "gateway/payloads.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdio>
#include <unistd.h>

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The Host header as far as it can name a host: anything else is left out of the policy.
std::string safeHost(const std::string &host) {
    for (const char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' ||
              c == '[' || c == ']'))
            return {};
    return host;
}

// Every answer, the server's own refusals included, carries the page's policy.
void secure(const HttpRequest &request, HttpResponse *out) {
    HttpResponse &response = *out;
    const std::string host = safeHost(request.header("host"));
    const std::string sockets = host.empty() ? "" : " ws://" + host + " wss://" + host;
    response.headers.push_back({"Content-Security-Policy",
                                "default-src 'self'; connect-src 'self'" + sockets +
                                    "; img-src 'self' data:; style-src 'self'; script-src 'self'; "
                                    "frame-ancestors 'none'; base-uri 'none'; form-action 'self'"});
    response.headers.push_back({"X-Content-Type-Options", "nosniff"});
    response.headers.push_back({"Referrer-Policy", "no-referrer"});
    response.headers.push_back({"X-Frame-Options", "DENY"});
    if (std::none_of(response.headers.begin(), response.headers.end(),
                     [](const auto &h) { return h.first == "Cache-Control"; }))
        response.headers.push_back({"Cache-Control", "no-store"});
}

} // namespace

HttpResponse jsonResponse(int status, std::string body) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

HttpResponse answerLater() {
    HttpResponse response;
    response.status = 0;
    return response;
}

HttpResponse methodNotAllowed(const char *allow) {
    HttpResponse response = jsonResponse(405, errorJson("method not allowed"));
    response.headers.push_back({"Allow", allow});
    return response;
}

bool crossSite(const HttpRequest &request) {
    const std::string site = lower(request.header("sec-fetch-site"));
    if (!site.empty() && site != "same-origin" && site != "none")
        return true;
    std::string origin = lower(request.header("origin"));
    if (origin.empty())
        return false;
    for (const char *scheme : {"http://", "https://"})
        if (origin.rfind(scheme, 0) == 0)
            origin = origin.substr(std::string(scheme).size());
    return origin != lower(request.header("host"));
}

// The host a Host header names, without its port, in lower case; empty when it names none.
std::string hostOf(const std::string &header) {
    std::string host = lower(header);
    if (!host.empty() && host[0] == '[') {
        const auto end = host.find(']');
        return end == std::string::npos ? std::string() : host.substr(0, end + 1);
    }
    const auto colon = host.find(':');
    if (colon != std::string::npos) {
        if (host.find(':', colon + 1) != std::string::npos)
            return {};
        host.resize(colon);
    }
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    return host;
}

bool isAddressLiteral(const std::string &host) {
    unsigned char bytes[16];
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return ::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), bytes) == 1;
    return ::inet_pton(AF_INET, host.c_str(), bytes) == 1;
}

WebListener::WebListener(const GatewayOptions &options) {
    allowedHosts_.insert("localhost");
    char name[256] = "";
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0')
        allowedHosts_.insert(lower(name));
    for (const std::string &host : options.httpAllowedHosts)
        allowedHosts_.insert(hostOf(host));
    settings_.address = options.httpAddress;
    settings_.port = options.httpPort;
    settings_.certFile = options.httpCert;
    settings_.keyFile = options.httpKey;
    settings_.limits = options.httpLimits;
}

void WebListener::route(const std::string &path, Route route) {
    routes_[path] = std::move(route);
}

void WebListener::fallback(Route route) {
    fallback_ = std::move(route);
}

// A page of another site that has its name point at the gateway (DNS rebinding) passes the
// same-origin rules, but its requests still carry its own name. An address literal cannot be
// rebound, and a client that is not a browser may leave the header out.
bool WebListener::hostAllowed(const HttpRequest &request) const {
    const std::string header = request.header("host");
    if (header.empty())
        return true;
    const std::string host = hostOf(header);
    return !host.empty() && (isAddressLiteral(host) || allowedHosts_.count(host) > 0);
}

// On the network thread: answers at once, or leaves the answer to whoever holds the reply.
void WebListener::handle(const HttpRequest &request, const HttpServer::Reply &reply) const {
    HttpResponse response;
    const auto found = routes_.find(request.path);
    if (!hostAllowed(request))
        response = jsonResponse(421, errorJson("this gateway does not answer to that host name; "
                                               "add it with --http-allowed-hosts"));
    else if (found != routes_.end())
        response = found->second(request, reply);
    else if (request.path.rfind("/api/", 0) == 0 || !fallback_)
        response = jsonResponse(404, errorJson("no such endpoint"));
    else
        response = fallback_(request, reply);
    if (response.status != 0)
        reply(std::move(response));
}

bool WebListener::start(std::string *error) {
    settings_.decorate = &secure;
    settings_.log = [](const std::string &line) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    };
    return server_.start(
        settings_,
        [this](const HttpRequest &request, HttpServer::Reply reply) { handle(request, reply); },
        "/ws",
        [this](const HttpRequest &request) { return !crossSite(request) && hostAllowed(request); },
        error);
}

void WebListener::stop() {
    server_.stop();
}

void WebListener::broadcast(const std::string &text, const std::string &retainAs) {
    server_.broadcast(text, retainAs);
}
