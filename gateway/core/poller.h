// The gateway's core: the one owner of the sensor link. It identifies the sensor, polls it in run
// mode, runs the faces' jobs between two cycles within their budget, takes the reserve lines,
// keeps the backlog for the broker, and tells every face what happened.
#pragma once

#include "gateway/core/audit.h"
#include "gateway/core/backlog.h"
#include "gateway/core/broker.h"
#include "gateway/core/face.h"
#include "gateway/core/jobs.h"
#include "gateway/core/state.h"
#include "gateway/core/weblistener.h"
#include "gateway/options.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct Measurement;

// From the stop signals' handler: the poller ends its loops at the next look.
void requestGatewayStop(int signal);

class GatewayCore {
  public:
    // `port` is a port number bound to `device`.
    GatewayCore(const GatewayOptions &options, int port, std::string device, std::string host,
                std::string topicPrefix, std::string clientId);
    ~GatewayCore();
    GatewayCore(const GatewayCore &) = delete;
    GatewayCore &operator=(const GatewayCore &) = delete;

    // Makes the faces the list names, in its order (the order they hear things in).
    void makeFaces(const std::vector<FaceMaker> &makers);
    // The web listener, the faces and the store; false (logged) when one cannot start.
    bool start();
    // Identifies and polls until a stop signal.
    void run();
    // Flushes what it can, says goodbye on every face; the process exit code.
    int finish();
    // Reads the approved parameter set (--golden); false with the file's problems, one line
    // each. Before start(), and again at SIGHUP.
    bool loadApprovedSet(std::vector<std::string> *problems);
    // SIGHUP: reads again what can change while the gateway runs (the web's TLS pair, the
    // approved set), or says there is nothing to read.
    void reload();

  private:
    enum class PollEnd { Quit, Lost };

    bool identifySensor();
    PollEnd poll();
    void takeSample(const Measurement &m, int64_t timeMs, bool serialError);
    JobResult runJob(const SensorJob &job);
    // The poller's own work at an interval: when it is next due, and whether its job waits.
    struct Periodic {
        double next = 0.0;
        bool scheduled = false, pending = false;
    };
    // Submits `kind` once `p` is due: `first` seconds after it was last unscheduled, then as
    // its result handler sets `next`. Never with `every` at 0.
    void submitWhenDue(Periodic *p, double every, double first, SensorJob::Kind kind,
                       void (GatewayCore::*done)(const JobResult &));
    void reserveLineDone(const JobResult &result);
    void driftCheckDone(const JobResult &result);
    void adoptParams(const ParameterSet &words);
    void sensorChanged(bool answering);
    void pumpUntil(double until);
    void tick();
    void handleBrokerEvents();
    int publishSamples(const std::vector<GatewaySample> &samples);
    bool samplesMayGo() const;
    void refreshHealth();
    void publishSnapshot();
    std::shared_ptr<const GatewayState> snapshot() const;

    GatewayOptions o_;
    int port_;
    std::string device_, host_, topicPrefix_, clientId_;

    GatewayState state_;
    uint32_t seq_ = 0;
    mutable std::mutex snapshotMutex_;
    std::shared_ptr<const GatewayState> snapshot_;
    std::shared_ptr<const std::deque<ReserveReading>> trend_;
    double lastSnapshot_ = -1e9;

    JobScheduler jobs_;
    AuditLog audit_;
    ConnectionRefusals modbusRefusals_;
    std::unique_ptr<BrokerLink> broker_;
    std::unique_ptr<Backlog> backlog_;
    std::unique_ptr<WebListener> web_;
    std::unique_ptr<FaceServices> services_;
    std::vector<std::unique_ptr<GatewayFace>> faces_;

    Periodic reserveLine_, driftCheck_;
    // The approved parameter set (--golden).
    bool haveApproved_ = false;
    ParameterSet approved_{};
};
