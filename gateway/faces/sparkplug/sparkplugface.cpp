// The edge node driven by the poller's news: births when the broker and the host allow them,
// DDATA beside the JSON topics' meas from the same batches, NDATA once a second when the health
// changed, and DCMD writes through the same checks, jobs and audit as the web's.
#include "gateway/faces/sparkplug/sparkplugface.h"
#include "gateway/core/logging.h"
#include "gateway/faces/sparkplug/node.h"
#include "gateway/options.h"
#include "platform/tr.h"

#include <string>
#include <vector>

namespace {

class SparkplugFace : public GatewayFace {
  public:
    SparkplugFace(FaceServices &services, SparkplugSettings settings)
        : s_(services), node_(std::move(settings)) {}

    bool start(std::string *) override {
        const SparkplugSettings &settings = node_.settings();
        logEvent(kvex::tr("Sparkplug B: spBv1.0/%s/+/%s/%s, commands %s%s%s, bdSeq in %s"),
                 settings.group.c_str(), settings.node.c_str(), settings.device.c_str(),
                 s_.options.sparkplugCommands ? kvex::trNow("on") : kvex::trNow("off"),
                 settings.primaryHost.empty() ? "" : kvex::trNow(", primary host "),
                 settings.primaryHost.c_str(), settings.bdSeqFile.c_str());
        return true;
    }

    // Every connection gets the will of a new bdSeq, which is kept on disk before it is used.
    void chooseWill(MqttWill *will) override {
        std::string error;
        const SparkplugMessage death = node_.nextWill(&error);
        if (!error.empty())
            logEvent(kvex::tr("Sparkplug: bdSeq %llu not kept (%s); a restart may repeat it"),
                     static_cast<unsigned long long>(node_.bdSeq()), error.c_str());
        *will = {death.topic, death.payload, 1, false};
    }

    void brokerUp(const GatewayState &state) override {
        node_.connectionUp();
        // Commands and the host's STATE are subscribed before the births, so none is missed.
        for (const std::string &filter : node_.subscriptions())
            s_.broker->subscribe(filter, 1);
        if (node_.birthDue())
            births(state);
        else
            logEvent(kvex::tr("Sparkplug: waiting for primary host %s to be online"),
                     node_.settings().primaryHost.c_str());
    }

    void brokerDown() override { node_.connectionLost(); }

    void sensorChanged(const GatewayState &state) override {
        if (!node_.live())
            return;
        if (state.sensorAnswering && !node_.deviceLive())
            publish(node_.deviceBirth(state));
        else if (!state.sensorAnswering && node_.deviceLive())
            publish(node_.deviceDeath());
    }

    void driftChecked(const GatewayState &state) override {
        if (node_.deviceLive() && state.drift.enabled)
            publish(node_.driftData(state.drift));
    }

    // NDATA once a second at most, when a figure changed.
    void tick(const GatewayState &state) override {
        if (!node_.live() || now() - lastHealth_ < 1.0)
            return;
        lastHealth_ = now();
        SparkplugMessage message;
        if (node_.nodeData(state, &message))
            publish(message);
    }

    void brokerMessage(const std::string &topic, const std::string &payload,
                       bool retained) override;

    // With the JSON topics off, samples wait (for is_historical later) while no DDATA may go.
    bool takesSamples() const override { return node_.deviceLive(); }
    int publishSamples(const std::vector<GatewaySample> &samples) override {
        return publish(node_.deviceData(samples, s_.snapshot()->params));
    }

    int lastWords(const GatewayState &) override {
        if (!node_.live())
            return -1;
        if (node_.deviceLive())
            publish(node_.deviceDeath());
        return publish(node_.nodeDeath(), 1);
    }

  private:
    static double now() { return steadySeconds(); }

    int publish(const SparkplugMessage &message, int qos = 0) {
        return s_.broker->publish(message.topic, message.payload, qos, false);
    }

    void births(const GatewayState &state) {
        for (const SparkplugMessage &m : node_.births(state))
            publish(m);
        lastHealth_ = now();
        logEvent(kvex::tr("Sparkplug: births sent with bdSeq %llu"),
                 static_cast<unsigned long long>(node_.bdSeq()));
    }

    void command(SparkplugRequest request);
    // A command's entry in the audit and its answer in the next DDATA.
    void answer(const std::string &what, const std::string &result) {
        answer("DCMD", what, result);
    }
    void answer(const char *source, const std::string &what, const std::string &result) {
        s_.audit.record(kvex::tr("Sparkplug write from %s: %s: %s"), source, what, result);
        node_.commandAnswered(result);
    }
    // A retained command would be obeyed again at every reconnection and every start, long
    // after whoever sent it meant it.
    static std::string retainedRefusal() {
        return "refused: the command was retained by the broker; send commands without the "
               "retain flag";
    }

    FaceServices &s_;
    SparkplugNode node_;
    double lastHealth_ = -1e9;
};

void SparkplugFace::brokerMessage(const std::string &topic, const std::string &payload,
                                  bool retained) {
    SparkplugRequest request = node_.handle(topic, payload, retained);
    switch (request.kind) {
    case SparkplugRequest::None:
        break;
    case SparkplugRequest::Rebirth:
        if (request.retained)
            return answer("NCMD", request.what, retainedRefusal());
        if (node_.live()) {
            logEvent(kvex::tr("Sparkplug: rebirth asked for"));
            births(*s_.snapshot());
        }
        break;
    case SparkplugRequest::HostOnline:
        if (node_.birthDue()) {
            logEvent(kvex::tr("Sparkplug: primary host %s online"),
                     node_.settings().primaryHost.c_str());
            births(*s_.snapshot());
        }
        break;
    case SparkplugRequest::HostOffline:
        // The connection stays for the JSON topics; hosts learn of the pause from the NDEATH.
        if (node_.live()) {
            logEvent(kvex::tr("Sparkplug: primary host %s offline; publishing paused"),
                     node_.settings().primaryHost.c_str());
            if (node_.deviceLive())
                publish(node_.deviceDeath());
            publish(node_.nodeDeath(), 1);
            node_.died();
        }
        break;
    case SparkplugRequest::Command:
        command(std::move(request));
        break;
    }
}

void SparkplugFace::command(SparkplugRequest request) {
    if (request.retained)
        return answer(request.what, retainedRefusal());
    if (!s_.options.sparkplugCommands)
        return answer(request.what, "refused: commands are off (start the gateway with "
                                    "--sparkplug-commands)");
    if (!request.refusal.empty())
        return answer(request.what, "refused: " + request.refusal);
    // Every check first: a command with one bad value changes nothing at all.
    SensorJob job;
    job.kind = SensorJob::Kind::Write;
    for (const bool eeprom : {false, true}) {
        const std::vector<WordValue> &values = eeprom ? request.eeprom : request.ram;
        if (values.empty())
            continue;
        CheckedWrite write;
        if (!checkWordWrite(values, eeprom, s_.snapshot()->positions, &write))
            return answer(request.what, "refused: " + write.refusal);
        (eeprom ? job.eeprom : job.ram) = std::move(write);
    }
    job.teach = request.teach;
    job.reset = request.reset;
    const std::string what = request.what;
    const JobScheduler::Ticket ticket = s_.jobs.submit(job, [this, what](const JobResult &r) {
        std::string result;
        if (r.status == JobResult::Status::NoSensor)
            result = "refused: no sensor answering";
        else if (r.status == JobResult::Status::Late)
            result = "failed: the gateway did not get to it in time";
        else if (r.status == JobResult::Status::Stopping)
            result = "refused: the gateway is stopping";
        for (const auto &step : r.steps)
            result += (result.empty() ? "" : "; ") + step.first + ": " + step.second.result;
        answer(what, result);
    });
    switch (ticket.admission) {
    case JobScheduler::Admission::NoSensor:
        return answer(what, "refused: no sensor answering");
    case JobScheduler::Admission::Full:
    case JobScheduler::Admission::TooSoon:
        return answer(what, "refused: too many commands waiting");
    case JobScheduler::Admission::Stopping:
        return answer(what, "refused: the gateway is stopping");
    default:
        break;
    }
}

} // namespace

std::unique_ptr<GatewayFace> makeSparkplugFace(FaceServices &services) {
    const GatewayOptions &o = services.options;
    if (!services.broker || o.sparkplugGroup.empty())
        return nullptr;
    SparkplugSettings settings;
    settings.group = o.sparkplugGroup;
    settings.node = o.sparkplugNode.empty() ? defaultSparkplugNode(services.host, services.device)
                                            : o.sparkplugNode;
    settings.device = o.sparkplugDevice;
    settings.primaryHost = o.sparkplugHost;
    settings.bdSeqFile = sparkplugBdSeqFile(o.store, settings.group, settings.node);
    settings.version = KVEX_VERSION;
    return std::make_unique<SparkplugFace>(services, std::move(settings));
}
