// The poller's news into the OPC UA server: identity, words, every sample with its own time,
// the reserve, the device's health and the gateway's figures once a second.
#include "gateway/faces/opcua/opcuaface.h"
#include "gateway/core/logging.h"
#include "gateway/core/statefiles.h"
#include "gateway/faces/opcua/opcuaserver.h"
#include "gateway/options.h"
#include "gateway/payloads.h"
#include "platform/tr.h"

#include <atomic>
#include <filesystem>

namespace {

constexpr double kGatewayInterval = 1.0;

// The adapter's serial number as udev names it under /dev/serial/by-id ("usb-FTDI_FT232R_USB_UART_
// A10K7XQ2-if00-port0" gives "A10K7XQ2"); empty for a port without one.
std::string adapterSerial(const std::string &device) {
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::canonical(device, ec);
    if (ec)
        return {};
    for (const auto &entry : std::filesystem::directory_iterator("/dev/serial/by-id", ec)) {
        std::error_code same;
        if (std::filesystem::canonical(entry.path(), same) != target || same)
            continue;
        std::string name = entry.path().filename().string();
        const auto ifAt = name.rfind("-if");
        if (ifAt != std::string::npos)
            name.erase(ifAt);
        const auto underscore = name.rfind('_');
        return underscore == std::string::npos ? name : name.substr(underscore + 1);
    }
    return {};
}

// OPC UA's status codes for what a job came to.
constexpr uint32_t kGood = 0x00000000, kBadNoCommunication = 0x80310000, kBadTimeout = 0x800A0000,
                   kBadShutdown = 0x800C0000, kBadOutOfRange = 0x803C0000,
                   kBadTooManyOperations = 0x80100000, kBadDeviceFailure = 0x808B0000;

class OpcuaFace : public GatewayFace {
  public:
    OpcuaFace(FaceServices &services, OpcuaSettings settings)
        : s_(services),
          server_(std::move(settings), [this](OpcuaRequest request, OpcuaFinish finish) {
              handle(std::move(request), std::move(finish));
          }) {}

    bool start(std::string *) override {
        const GatewayOptions &o = s_.options;
        std::string error;
        if (!server_.start(&error)) {
            logEvent(kvex::tr("cannot serve OPC UA on %s:%d: %s%s"), o.opcuaAddress.c_str(),
                     o.opcuaPort, error.c_str(),
                     o.opcuaPort < 1024 ? kvex::trNow(" (ports below 1024 need privileges)") : "");
            return false;
        }
        std::string policies;
        for (const std::string &p : server_.policies())
            policies += (policies.empty() ? "" : ", ") + p;
        logEvent(kvex::tr("OPC UA on %s, security policies %s"), server_.endpointUrl().c_str(),
                 policies.c_str());
        if (!server_.madeCertificate().empty())
            logEvent(kvex::tr("OPC UA: made the server's certificate, kept in %s"),
                     server_.madeCertificate().c_str());
        return true;
    }

    void stop() override { server_.stop(); }

    void sensorChanged(const GatewayState &state) override {
        if (state.sensorAnswering)
            server_.setIdentity(state, adapterSerial(s_.device));
        paramsChanged(state);
        server_.setHealth(health(state));
    }

    void paramsChanged(const GatewayState &state) override {
        if (!state.haveParams)
            return;
        // The first set after a start or a new identification is no revision of its own.
        const bool changed = paramsKnown_ && state.params != params_;
        server_.setParameters(state.params, changed);
        params_ = state.params;
        paramsKnown_ = true;
    }

    void sampleTaken(const GatewayState &state) override { server_.setSample(state.sample); }

    void reserveChecked(const GatewayState &state, const ReserveReading *) override {
        server_.setReserve(state.reserve);
        server_.setHealth(health(state));
    }

    void driftChecked(const GatewayState &state) override {
        server_.setDrift(state.drift);
        server_.setHealth(health(state));
    }

    void tick(const GatewayState &state) override {
        const double now = steadySeconds();
        if (now - lastGateway_ < kGatewayInterval)
            return;
        lastGateway_ = now;
        server_.setGateway(state);
        server_.setHealth(health(state));
    }

  private:
    // NAMUR NE 107: silent, being written or taught (or holding another set than the approved
    // one), its optics warning, or well.
    DeviceHealth health(const GatewayState &state) const {
        if (!state.sensorAnswering)
            return DeviceHealth::Failure;
        const DriftHealth &drift = state.drift;
        if (writing_ > 0 || (drift.known && (drift.last.differing[DRIFT_EEPROM_GOLDEN] > 0 ||
                                             drift.last.differing[DRIFT_RAM_GOLDEN] > 0)))
            return DeviceHealth::CheckFunction;
        if (reserveWarns(state.reserve))
            return DeviceHealth::MaintenanceRequired;
        return DeviceHealth::Normal;
    }

    // A client's request, on the server's thread: checked as the web checks a write, then a job
    // for the poller, audited and answered as the web answers it.
    void handle(OpcuaRequest request, OpcuaFinish finish) {
        SensorJob job;
        job.kind = SensorJob::Kind::Write;
        std::string what;
        switch (request.kind) {
        case OpcuaRequest::Kind::WriteWord:
        case OpcuaRequest::Kind::WriteParameters: {
            CheckedWrite write;
            if (!checkWordWrite(request.words, request.eeprom, s_.snapshot()->positions, &write)) {
                s_.audit.record(kvex::tr("OPC UA write from %s: %s: %s"), request.user,
                                write.what.empty() ? "parameter words" : write.what,
                                "refused: " + write.refusal);
                return finish({kBadOutOfRange, errorJson(write.refusal), {}});
            }
            (request.eeprom ? job.eeprom : job.ram) = std::move(write);
            break;
        }
        case OpcuaRequest::Kind::Teach:
            job.teach = true;
            break;
        case OpcuaRequest::Kind::ResetMaxMin:
            job.reset = true;
            break;
        case OpcuaRequest::Kind::ReadVideoLine:
            job.kind = SensorJob::Kind::VideoLine;
            break;
        }
        const bool writes = job.kind == SensorJob::Kind::Write;
        const std::string user = request.user;
        if (writes)
            ++writing_;
        const JobScheduler::Ticket ticket =
            s_.jobs.submit(job, [this, user, writes, finish](const JobResult &result) {
                if (writes)
                    --writing_;
                finish(answer(user, result));
            });
        switch (ticket.admission) {
        case JobScheduler::Admission::NoSensor:
        case JobScheduler::Admission::Stopping:
        case JobScheduler::Admission::Full:
        case JobScheduler::Admission::TooSoon: {
            if (writes)
                --writing_;
            const bool noSensor = ticket.admission == JobScheduler::Admission::NoSensor;
            const bool stopping = ticket.admission == JobScheduler::Admission::Stopping;
            finish({noSensor   ? kBadNoCommunication
                    : stopping ? kBadShutdown
                               : kBadTooManyOperations,
                    errorJson(noSensor   ? "no sensor answering"
                              : stopping ? "the gateway is stopping"
                                         : "too much sensor work waits already; try again later"),
                    {}});
            break;
        }
        default:
            break;
        }
    }

    OpcuaAnswer answer(const std::string &user, const JobResult &result) {
        switch (result.status) {
        case JobResult::Status::NoSensor:
            return {kBadNoCommunication, errorJson("no sensor answering"), {}};
        case JobResult::Status::Late:
            return {kBadTimeout, errorJson("the gateway did not get to the request in time"), {}};
        case JobResult::Status::Stopping:
            return {kBadShutdown, errorJson("the gateway is stopping"), {}};
        case JobResult::Status::Done:
            break;
        }
        if (result.steps.empty()) { // a video line
            if (!result.answered)
                return {kBadNoCommunication, errorJson("the video line did not come whole"), {}};
            return {kGood, videoJson(result.video), result.video.pixels};
        }
        const auto &[what, outcome] = result.steps.front();
        s_.audit.record(kvex::tr("OPC UA write from %s: %s: %s"), user, what, outcome.result);
        if (!outcome.answered)
            return {kBadNoCommunication, errorJson(outcome.failure), {}};
        switch (outcome.kind) {
        case WriteOutcome::Kind::Words:
            return {outcome.verified ? kGood : kBadDeviceFailure,
                    writeResultJson(outcome.eeprom, outcome.verified, outcome.words.data()),
                    {}};
        case WriteOutcome::Kind::Teach:
            return {kGood, teachResultJson(outcome.words.data()), {}};
        case WriteOutcome::Kind::Reset:
            break;
        }
        return {kGood, resetResultJson(), {}};
    }

    FaceServices &s_;
    OpcuaServer server_;
    ParameterSet params_{};
    bool paramsKnown_ = false;
    std::atomic<int> writing_{0};
    double lastGateway_ = -1e9;
};

} // namespace

std::unique_ptr<GatewayFace> makeOpcuaFace(FaceServices &services) {
    const GatewayOptions &o = services.options;
    if (!o.opcua)
        return nullptr;
    OpcuaSettings settings;
    settings.address = o.opcuaAddress;
    settings.port = o.opcuaPort;
    settings.device = o.opcuaDevice;
    settings.host = services.host;
    settings.applicationUri = "urn:" + services.host + ":kvex-rtn:gateway";
    settings.historyFile = o.store;
    OpcuaSecuritySettings &security = settings.security;
    security.certFile = o.opcuaCert;
    security.keyFile = o.opcuaKey;
    const std::string port = services.device.substr(services.device.rfind('/') + 1);
    security.stateCert = gatewayStateFile(o.store, "opcua-" + port + ".der");
    security.stateKey = gatewayStateFile(o.store, "opcua-" + port + ".key");
    security.trustDir = o.opcuaTrust;
    security.anonymous = o.opcuaAnonymous;
    security.host = settings.host;
    security.applicationUri = settings.applicationUri;
    // serve has checked the file already; a user list that no longer parses is none.
    std::string error;
    parseOpcuaUsers(o.opcuaUsersText, &security.users, &error);
    return std::make_unique<OpcuaFace>(services, std::move(settings));
}
