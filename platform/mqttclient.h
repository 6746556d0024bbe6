// MQTT client over libmosquitto: one connection attempt at a time on its own network thread;
// the caller publishes and collects what happened, without blocking on the network.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct MqttSettings {
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string clientId;
    std::string username;
    std::string password;
    std::string cafile;
    std::string certfile;
    std::string keyfile;
    int keepaliveSeconds = 30;
    // Published by the broker when the connection ends without a clean disconnect.
    std::string willTopic;
    std::string willPayload;
    int willQos = 1;
    bool willRetain = true;
};

struct MqttEvent {
    enum Kind { Connected, Lost, Delivered, Message };
    Kind kind;
    // Delivered: the id publish() returned; written to the socket (QoS 0) or acknowledged.
    int messageId = 0;
    // Lost: why, for the log. Message: the payload, which may be binary.
    std::string text;
    // Message: the topic it came on, and whether the broker kept it (sent before this
    // subscription, maybe long ago).
    std::string topic;
    bool retained = false;
};

class MqttClient {
  public:
    explicit MqttClient(const MqttSettings &settings);
    // Ends any connection without a clean disconnect and stops the network thread.
    ~MqttClient();
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;

    // Starts one connection attempt; ignored while one is under way or up. Every attempt ends in
    // a Connected or a Lost event, every connection in a Lost event.
    void connect();
    // The message id, or -1 when no connection takes it.
    int publish(const std::string &topic, const std::string &payload, int qos, bool retain);
    // The will of the next connection attempt on (one that is under way keeps its own): a will
    // that changes with every connection, like a sequence number in it.
    void setWill(const std::string &topic, const std::string &payload, int qos, bool retain);
    // Subscribes on the connection that is up (a new connection starts with none); false when
    // none is up. What comes arrives as Message events.
    bool subscribe(const std::string &filter, int qos);
    // Sends what is queued, then a clean disconnect (the broker keeps the will to itself).
    void disconnect();
    // Events in the order they happened, since the last call.
    std::vector<MqttEvent> takeEvents();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
