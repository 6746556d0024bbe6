// The JSON topics under the gateway's prefix, published over the one broker connection: the state
// again at every connection, each change as it comes, and `offline` as the will and the goodbye.
#include "gateway/faces/json/jsontopics.h"
#include "gateway/options.h"
#include "gateway/payloads.h"

namespace {

// How often the drops and a failing store republish info at most.
constexpr double kReportInterval = 10.0;

class JsonTopicsFace : public GatewayFace {
  public:
    explicit JsonTopicsFace(FaceServices &services)
        : s_(services), broker_(*services.broker), prefix_(services.topicPrefix) {}

    void chooseWill(MqttWill *will) override {
        *will = {prefix_ + "/status", "offline", s_.options.stateQos, true};
    }

    void brokerUp(const GatewayState &state) override { publishState(state); }

    void sensorChanged(const GatewayState &state) override {
        if (state.sensorAnswering)
            publishState(state);
        else
            publishStatus(state);
    }

    void paramsChanged(const GatewayState &state) override {
        if (broker_.up())
            retain("params", paramsJson(state.params.data()));
    }

    void reserveChecked(const GatewayState &state, const ReserveReading *) override {
        publishHealth(state);
    }

    void driftChecked(const GatewayState &state) override { publishDrift(state); }

    void audited(const std::string &entry) override {
        if (broker_.up())
            retain("audit", entry);
    }

    // info again when the store starts or stops failing, and when samples were dropped (at
    // most every ten seconds).
    void tick(const GatewayState &state) override {
        if (!broker_.up() || !state.sensorAnswering)
            return;
        const double now = steadySeconds();
        if (state.info.storeFault != storeFaultPublished_ ||
            (state.dropped != droppedPublished_ && now - lastDropReport_ >= kReportInterval)) {
            lastDropReport_ = now;
            publishInfo(state);
        }
    }

    bool takesSamples() const override { return true; }
    int publishSamples(const std::vector<GatewaySample> &samples) override {
        return broker_.publish(prefix_ + "/meas", measJson(samples), s_.options.measQos, false);
    }

    int lastWords(const GatewayState &state) override {
        if (state.sensorAnswering)
            publishInfo(state);
        return retain("status", "offline");
    }

  private:
    int retain(const std::string &topic, const std::string &payload) {
        return broker_.publish(prefix_ + "/" + topic, payload, s_.options.stateQos, true);
    }

    void publishStatus(const GatewayState &state) {
        if (broker_.up() && state.sensorChecked)
            retain("status", state.sensorAnswering ? "online" : "no-sensor");
    }

    void publishInfo(const GatewayState &state) {
        storeFaultPublished_ = state.info.storeFault;
        droppedPublished_ = state.info.dropped;
        retain("info", infoJson(state.info));
    }

    void publishHealth(const GatewayState &state) {
        if (broker_.up() && s_.options.reserveEvery > 0.0)
            retain("health", healthJson(state.reserve));
    }

    // Retained, so a dashboard that subscribes later still learns the last finding.
    void publishDrift(const GatewayState &state) {
        if (broker_.up() && state.drift.enabled && state.drift.known)
            retain("drift", driftStateJson(state.drift));
    }

    void publishState(const GatewayState &state) {
        if (!broker_.up() || !state.sensorChecked)
            return;
        publishStatus(state);
        if (!state.sensorAnswering)
            return;
        publishInfo(state);
        retain("params", paramsJson(state.params.data()));
        publishHealth(state);
        publishDrift(state);
    }

    FaceServices &s_;
    BrokerLink &broker_;
    std::string prefix_;
    std::string storeFaultPublished_;
    uint64_t droppedPublished_ = 0;
    double lastDropReport_ = -1e9;
};

} // namespace

std::unique_ptr<GatewayFace> makeJsonTopicsFace(FaceServices &services) {
    if (!services.broker || !services.options.jsonTopics)
        return nullptr;
    return std::make_unique<JsonTopicsFace>(services);
}
