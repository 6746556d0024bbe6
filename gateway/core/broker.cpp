// The broker connection's life: attempts with doubling, jittered delays, logged once per outage.
#include "gateway/core/broker.h"
#include "gateway/core/logging.h"
#include "gateway/options.h"
#include "platform/tr.h"
#include "platform/utility.h"

#include <unistd.h>

BrokerLink::BrokerLink(const GatewayOptions &options, const std::string &clientId)
    : host_(options.mqttHost), port_(options.mqttPort), clientId_(clientId),
      queueCapacity_(options.queue),
      backoff_(1.0, 30.0, static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(Timer())) {
    MqttSettings settings;
    settings.host = options.mqttHost;
    settings.port = options.mqttPort;
    settings.clientId = clientId;
    settings.username = options.username;
    settings.password = options.password;
    settings.cafile = options.cafile;
    settings.certfile = options.cert;
    settings.keyfile = options.key;
    client_ = std::make_unique<MqttClient>(settings);
}

int BrokerLink::publish(const std::string &topic, const std::string &payload, int qos,
                        bool retain) {
    return client_->publish(topic, payload, qos, retain);
}

bool BrokerLink::subscribe(const std::string &filter, int qos) {
    return client_->subscribe(filter, qos);
}

std::vector<MqttEvent> BrokerLink::takeEvents() {
    std::vector<MqttEvent> events = client_->takeEvents();
    for (const MqttEvent &event : events) {
        if (event.kind == MqttEvent::Connected) {
            up_ = true;
            attemptPending_ = false;
            failureLogged_ = false;
            backoff_.reset();
            logEvent(kvex::tr("broker connected: %s:%d as %s"), host_.c_str(), port_,
                     clientId_.c_str());
        } else if (event.kind == MqttEvent::Lost) {
            const double delay = backoff_.next();
            if (up_)
                logEvent(kvex::tr("broker lost: %s; samples wait in the queue (at most %zu)"),
                         event.text.c_str(), queueCapacity_);
            else if (!failureLogged_)
                logEvent(kvex::tr("broker not reachable: %s; retrying with back-off"),
                         event.text.c_str());
            failureLogged_ = !up_ || failureLogged_;
            up_ = false;
            attemptPending_ = false;
            nextAttempt_ = Timer() + delay;
        }
    }
    return events;
}

bool BrokerLink::attemptDue() const {
    return !up_ && !attemptPending_ && Timer() >= nextAttempt_;
}

void BrokerLink::attempt(const MqttWill &will) {
    attemptPending_ = true;
    client_->setWill(will.topic, will.payload, will.qos, will.retain);
    client_->connect();
}

void BrokerLink::disconnectAfter(int id, double seconds) {
    if (up_) {
        const double end = Timer() + seconds;
        bool delivered = id < 0;
        while (!delivered && Timer() < end) {
            for (const MqttEvent &event : client_->takeEvents())
                delivered = delivered ||
                            (event.kind == MqttEvent::Delivered && event.messageId == id) ||
                            event.kind == MqttEvent::Lost;
            Delay(0.005);
        }
        client_->disconnect();
    }
    client_.reset();
}
