// What a face of the gateway is to the poller: one interface through which it hears what happened
// (the sensor found or lost, its words, each sample, the health, the broker up or down), and the
// services it may use (submit sensor work, the audit, the broker, the web listener). Calls run one
// way: the poller calls a face, a face never calls the poller's internals nor another face.
#pragma once

#include "gateway/core/audit.h"
#include "gateway/core/broker.h"
#include "gateway/core/jobs.h"
#include "gateway/core/state.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct GatewayOptions;
class WebListener;

class GatewayFace {
  public:
    virtual ~GatewayFace() = default;

    // Before polling starts: listens, logs where; false with a reason stops the gateway.
    virtual bool start(std::string *error) { return true; }

    // The poller's news, on its thread. `state` is the poller's own, valid for the call.
    // An identification came out one way or the other (state.sensorAnswering says which).
    virtual void sensorChanged(const GatewayState &state) {}
    // The RAM words changed (identification, a write, teach).
    virtual void paramsChanged(const GatewayState &state) {}
    // A new sample: state.sample.
    virtual void sampleTaken(const GatewayState &state) {}
    // A reserve line came (`reading`) or did not (nullptr: only state.reserve.failures grew).
    virtual void reserveChecked(const GatewayState &state, const ReserveReading *reading) {}
    // A drift check came whole (state.drift.last) or did not (only state.drift.failures grew).
    virtual void driftChecked(const GatewayState &state) {}
    // An audit entry (auditEntryJson), on the poller's thread whichever thread recorded it.
    virtual void audited(const std::string &entry) {}
    // Every pass of the poller's waits (about 20 a second): what a face does on its own time.
    virtual void tick(const GatewayState &state) {}

    // The broker. Before each attempt a face may give the connection's will; the first face
    // that gives one has it.
    virtual void chooseWill(MqttWill *will) {}
    virtual void brokerUp(const GatewayState &state) {}
    virtual void brokerDown() {}
    virtual void brokerMessage(const std::string &topic, const std::string &payload,
                               bool retained) {}
    // Whether the face sends samples to the broker now, and a batch of them (live or replayed,
    // in seq order): the message id, or -1 when the broker did not take it.
    virtual bool takesSamples() const { return false; }
    virtual int publishSamples(const std::vector<GatewaySample> &samples) { return -1; }

    // The stop, the broker still up: what the face says last; the id of its last message, or -1.
    virtual int lastWords(const GatewayState &state) { return -1; }
    // The stop: listeners close, waiting clients are answered.
    virtual void stop() {}
};

// What the gateway gives every face when it is made.
struct FaceServices {
    const GatewayOptions &options;
    // The port's device path, the machine's name and the JSON topics' prefix.
    std::string device, host, topicPrefix;
    JobScheduler &jobs;
    AuditLog &audit;
    // Null without --mqtt, without --http.
    BrokerLink *broker;
    WebListener *web;
    // The poller's newest state, and the reserve's trend (oldest first), from any thread.
    std::function<std::shared_ptr<const GatewayState>()> snapshot;
    std::function<std::shared_ptr<const std::deque<ReserveReading>>()> reserveTrend;
    // What the Modbus face's server refused; zero without it.
    ConnectionRefusals &modbusRefusals;
};

// Makes a face from the options, or nullptr when they leave it off.
using FaceMaker = std::unique_ptr<GatewayFace> (*)(FaceServices &services);
