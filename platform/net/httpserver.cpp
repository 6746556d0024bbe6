// HTTP and WebSocket server over civetweb. civetweb parses requests, enforces the size and time
// limits and runs one worker thread per connection; a WebSocket gets a sender thread of its own,
// so a client that reads slowly holds up nobody but itself and the caller never waits.
#include "platform/httpserver.h"

#include <civetweb.h>
#include <dlfcn.h>
#include <limits.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace {

thread_local std::string startFailure;

// civetweb loads OpenSSL itself, by names Debian 12 gives only to the development package and
// with a function OpenSSL 3 dropped; the libraries in lib/kvex-rtn/tls/ beside the program carry
// those names (see platform/net/tls/). Loaded here first, they are what civetweb then finds.
bool loadTlsLibraries(std::string *error) {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        *error = "cannot find the program's own folder";
        return false;
    }
    std::string folder(self, static_cast<std::size_t>(n));
    folder = folder.substr(0, folder.rfind('/')) + "/../lib/kvex-rtn/tls/";
    for (const char *name : {"libkvex-tls-crypto.so", "libkvex-tls-ssl.so"})
        if (!::dlopen((folder + name).c_str(), RTLD_NOW | RTLD_GLOBAL)) {
            const char *why = ::dlerror();
            *error = std::string("TLS: ") + (why ? why : name);
            return false;
        }
    return true;
}

HttpRequest requestOf(const mg_connection *conn) {
    const mg_request_info *info = mg_get_request_info(conn);
    HttpRequest request;
    request.method = info->request_method ? info->request_method : "";
    request.path = info->local_uri_raw ? info->local_uri_raw : "";
    request.query = info->query_string ? info->query_string : "";
    request.remoteAddress = info->remote_addr;
    for (int i = 0; i < info->num_headers; ++i) {
        std::string name = info->http_headers[i].name ? info->http_headers[i].name : "";
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        request.headers[name] = info->http_headers[i].value ? info->http_headers[i].value : "";
    }
    return request;
}

// One open WebSocket: its waiting messages and the thread that writes them.
struct Socket {
    mg_connection *conn = nullptr;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> queue;
    bool closing = false;
    std::thread sender;
};

} // namespace

struct HttpServer::Impl {
    HttpSettings settings;
    Handler handler;
    UpgradeCheck upgradeCheck;
    mg_context *context = nullptr;

    mutable std::mutex socketsMutex;
    std::set<Socket *> sockets;
    std::vector<std::pair<std::string, std::string>> retained;
    std::atomic<uint64_t> dropped{0};

    void send(mg_connection *conn, const HttpResponse &response, bool close) {
        mg_response_header_start(conn, response.status);
        mg_response_header_add(conn, "Content-Type", response.contentType.c_str(), -1);
        mg_response_header_add(conn, "Content-Length", std::to_string(response.body.size()).c_str(),
                               -1);
        for (const auto &header : response.headers)
            mg_response_header_add(conn, header.first.c_str(), header.second.c_str(), -1);
        if (close)
            mg_response_header_add(conn, "Connection", "close", -1);
        mg_response_header_send(conn);
        // A HEAD answer has the length of the GET answer, without its body.
        if (std::string(mg_get_request_info(conn)->request_method) != "HEAD")
            mg_write(conn, response.body.data(), response.body.size());
    }

    // The certificate and the key from their own files, and nothing older than TLS 1.2.
    static int onTlsSetUp(void *context, void *data) {
        const HttpSettings *settings = &static_cast<Impl *>(data)->settings;
        auto *tls = static_cast<SSL_CTX *>(context);
        const std::string &key = settings->keyFile.empty() ? settings->certFile : settings->keyFile;
        if (SSL_CTX_use_certificate_chain_file(tls, settings->certFile.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(tls, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(tls) != 1 ||
            SSL_CTX_set_min_proto_version(tls, TLS1_2_VERSION) != 1)
            return -1;
        return 1;
    }

    static int onRequest(mg_connection *conn, void *data) {
        auto *self = static_cast<Impl *>(data);
        HttpRequest request = requestOf(conn);
        const long long announced = mg_get_request_info(conn)->content_length;
        const std::size_t limit = self->settings.limits.maxBodyBytes;
        HttpResponse tooLarge;
        tooLarge.status = 413;
        tooLarge.body = "{\"error\":\"request body above " + std::to_string(limit) + " bytes\"}";
        if (announced > static_cast<long long>(limit)) {
            self->send(conn, tooLarge, true);
            return 413;
        }
        // No length given (chunked): read one byte beyond the limit to notice a longer body.
        char buffer[4096];
        for (;;) {
            const int n = mg_read(conn, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.body.append(buffer, static_cast<std::size_t>(n));
            if (request.body.size() > limit) {
                self->send(conn, tooLarge, true);
                return 413;
            }
        }
        const HttpResponse response = self->handler(request);
        self->send(conn, response, false);
        return response.status;
    }

    static int onWebSocketConnect(const mg_connection *conn, void *data) {
        auto *self = static_cast<Impl *>(data);
        return self->upgradeCheck(requestOf(conn)) ? 0 : 1;
    }

    static void onWebSocketReady(mg_connection *conn, void *data) {
        auto *self = static_cast<Impl *>(data);
        auto *socket = new Socket;
        socket->conn = conn;
        mg_set_user_connection_data(conn, socket);
        socket->sender = std::thread([socket] {
            std::unique_lock<std::mutex> lock(socket->mutex);
            for (;;) {
                socket->wake.wait(lock,
                                  [socket] { return socket->closing || !socket->queue.empty(); });
                if (socket->closing)
                    return;
                const std::string text = std::move(socket->queue.front());
                socket->queue.pop_front();
                lock.unlock();
                const int written = mg_websocket_write(socket->conn, MG_WEBSOCKET_OPCODE_TEXT,
                                                       text.data(), text.size());
                lock.lock();
                if (written <= 0) {
                    socket->queue.clear();
                    socket->wake.wait(lock, [socket] { return socket->closing; });
                    return;
                }
            }
        });
        {
            // Under the lock broadcasts take: what was kept before is here, what comes after is
            // queued behind it.
            const std::lock_guard<std::mutex> lock(self->socketsMutex);
            {
                const std::lock_guard<std::mutex> queueLock(socket->mutex);
                for (const auto &kept : self->retained)
                    socket->queue.push_back(kept.second);
            }
            self->sockets.insert(socket);
        }
        socket->wake.notify_one();
    }

    // Pages send nothing the server needs; pings are answered by civetweb.
    static int onWebSocketData(mg_connection *, int flags, char *, size_t, void *) {
        return (flags & 0x0F) == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE ? 0 : 1;
    }

    static void onWebSocketClose(const mg_connection *conn, void *data) {
        auto *self = static_cast<Impl *>(data);
        auto *socket = static_cast<Socket *>(mg_get_user_connection_data(conn));
        if (!socket)
            return;
        {
            const std::lock_guard<std::mutex> lock(self->socketsMutex);
            self->sockets.erase(socket);
        }
        {
            const std::lock_guard<std::mutex> lock(socket->mutex);
            socket->closing = true;
        }
        socket->wake.notify_all();
        socket->sender.join();
        delete socket;
    }
};

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {}

HttpServer::~HttpServer() {
    stop();
}

void HttpServer::stop() {
    if (impl_->context)
        mg_stop(impl_->context);
    impl_->context = nullptr;
}

bool HttpServer::start(const HttpSettings &settings, Handler handler,
                       const std::string &websocketPath, UpgradeCheck upgradeCheck,
                       std::string *error) {
    impl_->settings = settings;
    impl_->handler = std::move(handler);
    impl_->upgradeCheck = std::move(upgradeCheck);
    const bool tls = !settings.certFile.empty();
    const unsigned wanted = MG_FEATURES_WEBSOCKET | (tls ? MG_FEATURES_TLS : 0u);
    if (tls && !loadTlsLibraries(error))
        return false;
    if ((mg_init_library(wanted) & wanted) != wanted) {
        *error = tls ? "the civetweb library cannot load TLS (OpenSSL)"
                     : "the civetweb library has no WebSocket support";
        return false;
    }
    const HttpLimits &l = settings.limits;
    const std::string ports =
        settings.address + ":" + std::to_string(settings.port) + (tls ? "s" : "");
    const std::string threads = std::to_string(l.maxConnections),
                      header = std::to_string(l.maxHeaderBytes),
                      requestTimeout = std::to_string(l.requestTimeoutMs),
                      keepAlive = std::to_string(l.keepAliveMs),
                      websocketTimeout = std::to_string(l.websocketTimeoutMs),
                      backlog = std::to_string(l.listenBacklog);
    std::vector<const char *> options = {"listening_ports",
                                         ports.c_str(),
                                         "num_threads",
                                         threads.c_str(),
                                         "max_request_size",
                                         header.c_str(),
                                         "request_timeout_ms",
                                         requestTimeout.c_str(),
                                         "enable_keep_alive",
                                         "yes",
                                         "keep_alive_timeout_ms",
                                         keepAlive.c_str(),
                                         "websocket_timeout_ms",
                                         websocketTimeout.c_str(),
                                         "enable_websocket_ping_pong",
                                         "yes",
                                         "listen_backlog",
                                         backlog.c_str(),
                                         "enable_directory_listing",
                                         "no"};
    options.push_back(nullptr);
    mg_callbacks callbacks{};
    // civetweb says why it did not start only through its log, on the calling thread.
    callbacks.init_ssl = Impl::onTlsSetUp;
    callbacks.log_message = [](const mg_connection *, const char *message) {
        startFailure = message;
        return 1;
    };
    startFailure.clear();
    impl_->context = mg_start(&callbacks, impl_.get(), options.data());
    if (!impl_->context) {
        *error = startFailure.empty() ? "civetweb did not start" : startFailure;
        return false;
    }
    mg_set_request_handler(impl_->context, "/", Impl::onRequest, impl_.get());
    mg_set_websocket_handler(impl_->context, websocketPath.c_str(), Impl::onWebSocketConnect,
                             Impl::onWebSocketReady, Impl::onWebSocketData, Impl::onWebSocketClose,
                             impl_.get());
    return true;
}

void HttpServer::broadcast(const std::string &text, const std::string &retainAs) {
    const std::lock_guard<std::mutex> lock(impl_->socketsMutex);
    if (!retainAs.empty()) {
        auto &kept = impl_->retained;
        const auto same = std::find_if(kept.begin(), kept.end(),
                                       [&](const auto &entry) { return entry.first == retainAs; });
        if (same == kept.end())
            kept.emplace_back(retainAs, text);
        else
            same->second = text;
    }
    for (Socket *socket : impl_->sockets) {
        {
            const std::lock_guard<std::mutex> queueLock(socket->mutex);
            if (socket->queue.size() >= impl_->settings.limits.websocketQueue) {
                socket->queue.pop_front();
                ++impl_->dropped;
            }
            socket->queue.push_back(text);
        }
        socket->wake.notify_one();
    }
}

std::size_t HttpServer::websockets() const {
    const std::lock_guard<std::mutex> lock(impl_->socketsMutex);
    return impl_->sockets.size();
}

uint64_t HttpServer::droppedMessages() const {
    return impl_->dropped;
}

int HttpServer::port() const {
    if (!impl_->context)
        return 0;
    mg_server_port ports[4];
    const int n = mg_get_server_ports(impl_->context, 4, ports);
    return n > 0 ? ports[0].port : 0;
}
