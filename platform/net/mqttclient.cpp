// MQTT client over libmosquitto. The connection lives on a thread of its own, so a slow or
// unreachable broker (a blocking TCP or TLS connect, a stalled socket) never holds up polling
// the sensor; the caller's thread only queues messages and reads events. Every connection gets
// a fresh libmosquitto instance, so nothing the library still holds from a lost connection is
// sent again behind the caller's back: the caller decides what to send again.
#include "platform/mqttclient.h"

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// How long the network thread waits in one pass; bounds how late it notices a stop.
constexpr int kLoopMs = 100;

std::string errorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return mosquitto_strerror(rc);
}

} // namespace

struct MqttClient::Impl {
    MqttSettings settings;

    std::mutex mutex;
    std::condition_variable wake;
    bool connectRequested = false;
    bool attemptRunning = false;
    bool quit = false;
    std::vector<MqttEvent> events;

    // The instance of the current connection; guarded so publish never sees a destroyed one.
    std::mutex instanceMutex;
    mosquitto *instance = nullptr;
    std::atomic<bool> active{false};
    std::string refusal;

    std::thread thread;

    void post(MqttEvent event) {
        const std::lock_guard<std::mutex> lock(mutex);
        events.push_back(std::move(event));
    }

    static void onConnect(mosquitto *m, void *data, int rc) {
        auto *self = static_cast<Impl *>(data);
        if (rc == 0) {
            self->active = true;
            self->post({MqttEvent::Connected, 0, {}, {}});
            return;
        }
        self->refusal = std::string("connection refused: ") + mosquitto_connack_string(rc);
        mosquitto_disconnect(m);
    }

    static void onPublish(mosquitto *, void *data, int mid) {
        static_cast<Impl *>(data)->post({MqttEvent::Delivered, mid, {}, {}});
    }

    static void onMessage(mosquitto *, void *data, const mosquitto_message *message) {
        std::string payload(static_cast<const char *>(message->payload),
                            static_cast<std::size_t>(std::max(message->payloadlen, 0)));
        static_cast<Impl *>(data)->post(
            {MqttEvent::Message, message->mid, std::move(payload), message->topic, message->retain});
    }

    mosquitto *createInstance() {
        mosquitto *m = mosquitto_new(settings.clientId.c_str(), true, this);
        if (!m)
            return nullptr;
        mosquitto_threaded_set(m, true);
        mosquitto_connect_callback_set(m, onConnect);
        mosquitto_publish_callback_set(m, onPublish);
        mosquitto_message_callback_set(m, onMessage);
        MqttSettings will;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            will = settings;
        }
        if (!will.willTopic.empty())
            mosquitto_will_set(m, will.willTopic.c_str(), static_cast<int>(will.willPayload.size()),
                               will.willPayload.data(), will.willQos, will.willRetain);
        if (!settings.username.empty())
            mosquitto_username_pw_set(m, settings.username.c_str(),
                                      settings.password.empty() ? nullptr
                                                                : settings.password.c_str());
        return m;
    }

    // TLS when any of its files is given; an error text when the files are unusable.
    std::string setUpTls(mosquitto *m) {
        if (settings.cafile.empty() && settings.certfile.empty() && settings.keyfile.empty())
            return {};
        auto file = [](const std::string &path) { return path.empty() ? nullptr : path.c_str(); };
        const int rc = mosquitto_tls_set(m, file(settings.cafile), nullptr, file(settings.certfile),
                                         file(settings.keyfile), nullptr);
        return rc == MOSQ_ERR_SUCCESS ? std::string() : "TLS set-up failed: " + errorText(rc);
    }

    void runAttempt() {
        refusal.clear();
        mosquitto *m = createInstance();
        if (!m) {
            post({MqttEvent::Lost, 0, "cannot create the MQTT client", {}});
            return;
        }
        std::string why = setUpTls(m);
        if (why.empty()) {
            const int rc = mosquitto_connect(m, settings.host.c_str(), settings.port,
                                             settings.keepaliveSeconds);
            if (rc != MOSQ_ERR_SUCCESS)
                why = errorText(rc);
        }
        if (why.empty()) {
            {
                const std::lock_guard<std::mutex> lock(instanceMutex);
                instance = m;
            }
            int rc = MOSQ_ERR_SUCCESS;
            while (rc == MOSQ_ERR_SUCCESS && !stopRequested())
                rc = mosquitto_loop(m, kLoopMs, 1);
            why = !refusal.empty()                                   ? refusal
                  : rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_SUCCESS ? std::string("disconnected")
                                                                     : errorText(rc);
            const std::lock_guard<std::mutex> lock(instanceMutex);
            instance = nullptr;
            active = false;
        }
        mosquitto_destroy(m);
        post({MqttEvent::Lost, 0, why, {}});
    }

    bool stopRequested() {
        const std::lock_guard<std::mutex> lock(mutex);
        return quit;
    }

    void run() {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [this] { return quit || connectRequested; });
                if (quit)
                    return;
                connectRequested = false;
                attemptRunning = true;
            }
            runAttempt();
            const std::lock_guard<std::mutex> lock(mutex);
            attemptRunning = false;
            wake.notify_all();
        }
    }
};

MqttClient::MqttClient(const MqttSettings &settings) : impl_(std::make_unique<Impl>()) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    impl_->settings = settings;
    impl_->thread = std::thread([this] { impl_->run(); });
}

MqttClient::~MqttClient() {
    {
        const std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->quit = true;
    }
    impl_->wake.notify_all();
    impl_->thread.join();
}

void MqttClient::connect() {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->attemptRunning || impl_->connectRequested)
        return;
    impl_->connectRequested = true;
    impl_->wake.notify_all();
}

int MqttClient::publish(const std::string &topic, const std::string &payload, int qos,
                        bool retain) {
    const std::lock_guard<std::mutex> lock(impl_->instanceMutex);
    if (!impl_->instance || !impl_->active)
        return -1;
    int mid = -1;
    const int rc = mosquitto_publish(impl_->instance, &mid, topic.c_str(),
                                     static_cast<int>(payload.size()), payload.data(), qos, retain);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

void MqttClient::setWill(const std::string &topic, const std::string &payload, int qos,
                         bool retain) {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->settings.willTopic = topic;
    impl_->settings.willPayload = payload;
    impl_->settings.willQos = qos;
    impl_->settings.willRetain = retain;
}

bool MqttClient::subscribe(const std::string &filter, int qos) {
    const std::lock_guard<std::mutex> lock(impl_->instanceMutex);
    if (!impl_->instance || !impl_->active)
        return false;
    return mosquitto_subscribe(impl_->instance, nullptr, filter.c_str(), qos) == MOSQ_ERR_SUCCESS;
}

void MqttClient::disconnect() {
    {
        const std::lock_guard<std::mutex> lock(impl_->instanceMutex);
        if (impl_->instance)
            mosquitto_disconnect(impl_->instance);
    }
    // The network thread writes what is queued, then the DISCONNECT, and closes the socket.
    std::unique_lock<std::mutex> lock(impl_->mutex);
    impl_->wake.wait_for(lock, std::chrono::seconds(2),
                         [this] { return !impl_->attemptRunning && !impl_->connectRequested; });
}

std::vector<MqttEvent> MqttClient::takeEvents() {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<MqttEvent> taken;
    taken.swap(impl_->events);
    return taken;
}
