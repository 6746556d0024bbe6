// The gateway's one connection to the MQTT broker: connects and reconnects with back-off, takes
// the will the faces give it for each attempt, and hands on what the broker did. The faces that
// speak MQTT (the JSON topics, Sparkplug) publish over it; none opens a connection of its own.
#pragma once

#include "gateway/core/backoff.h"
#include "platform/mqttclient.h"

#include <memory>
#include <string>
#include <vector>

struct GatewayOptions;

// A connection's last will: the broker publishes it when the connection ends without a clean
// disconnect. An empty topic: none.
struct MqttWill {
    std::string topic, payload;
    int qos = 1;
    bool retain = true;
};

class BrokerLink {
  public:
    BrokerLink(const GatewayOptions &options, const std::string &clientId);

    // The message id, or -1 when no connection takes it.
    int publish(const std::string &topic, const std::string &payload, int qos, bool retain);
    // Subscribes on the connection that is up; what comes arrives as Message events.
    bool subscribe(const std::string &filter, int qos);
    bool up() const { return up_; }
    const char *word() const { return up_ ? "connected" : "disconnected"; }

    // The poller's thread: what happened since the last call. Connected and Lost are logged here
    // and change up(); Delivered and Message are for the poller to hand on.
    std::vector<MqttEvent> takeEvents();
    // Whether an attempt is due now (not up, none under way, the back-off over); `will` is the
    // one the faces chose for it.
    bool attemptDue() const;
    void attempt(const MqttWill &will);
    // Waits up to `seconds` for message `id` to be delivered (or the connection to end), then
    // disconnects cleanly.
    void disconnectAfter(int id, double seconds);

  private:
    std::string host_;
    int port_;
    std::string clientId_;
    std::size_t queueCapacity_;
    std::unique_ptr<MqttClient> client_;
    Backoff backoff_;
    bool up_ = false;
    bool attemptPending_ = false;
    bool failureLogged_ = false;
    double nextAttempt_ = 0.0;
};
