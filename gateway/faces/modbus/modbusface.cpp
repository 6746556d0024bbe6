// The register block kept in step with the poller: every sample (with its heartbeat and age), the
// sensor found or lost, the words changed; and the connections the server closed, in the log.
#include "gateway/faces/modbus/modbusface.h"
#include "gateway/core/logging.h"
#include "gateway/core/state.h"
#include "gateway/faces/modbus/registermap.h"
#include "gateway/options.h"
#include "platform/modbusserver.h"
#include "platform/tr.h"

namespace {

// A client that reconnects in a loop would otherwise fill the log with a line per attempt.
constexpr double kRefusalLogInterval = 60.0;

class ModbusFace : public GatewayFace {
  public:
    explicit ModbusFace(FaceServices &services)
        : s_(services), limits_(services.options.modbusLimits) {}

    bool start(std::string *) override {
        const GatewayOptions &o = s_.options;
        std::string error;
        if (!server_.start(o.modbusAddress, o.modbusPort, o.unitId, &error, limits_)) {
            logEvent(kvex::tr("cannot serve Modbus TCP on %s:%d: %s%s"), o.modbusAddress.c_str(),
                     o.modbusPort, error.c_str(),
                     o.modbusPort < 1024 ? kvex::trNow(" (ports below 1024 need privileges)") : "");
            return false;
        }
        logEvent(kvex::tr("Modbus TCP on %s:%d, unit id %d"), o.modbusAddress.c_str(), o.modbusPort,
                 o.unitId);
        update(*s_.snapshot(), false);
        return true;
    }

    void sensorChanged(const GatewayState &state) override { update(state, false); }
    void paramsChanged(const GatewayState &state) override { update(state, false); }
    void sampleTaken(const GatewayState &state) override {
        ++heartbeat_;
        update(state, true);
    }

    void tick(const GatewayState &) override {
        const ModbusRefusals now = server_.refusals();
        s_.modbusRefusals.addressCap = now.addressCap;
        s_.modbusRefusals.totalCap = now.totalCap;
        s_.modbusRefusals.idle = now.idle;
        const double at = steadySeconds();
        // Each cause's count since its last line, at most one line a minute each.
        auto report = [at](uint64_t count, Logged *logged, auto &&logLine) {
            if (count == logged->count || at - logged->at < kRefusalLogInterval)
                return;
            logLine(static_cast<unsigned long long>(count - logged->count));
            *logged = {count, at};
        };
        report(now.addressCap, &addressCap_, [this](unsigned long long n) {
            logEvent(kvex::tr("Modbus TCP: %llu new connections closed, over %d from one address"),
                     n, limits_.maxPerAddress);
        });
        report(now.totalCap, &totalCap_, [this](unsigned long long n) {
            logEvent(kvex::tr("Modbus TCP: %llu new connections closed, over %d in all"), n,
                     limits_.maxConnections);
        });
        report(now.idle, &idle_, [this](unsigned long long n) {
            logEvent(kvex::tr("Modbus TCP: %llu connections closed after %.0f s without a request"),
                     n, limits_.idleTimeoutMs / 1000.0);
        });
    }

  private:
    void update(const GatewayState &state, bool freshSample) {
        server_.update(buildRegisterBlock(state, heartbeat_, s_.options.swapWords), freshSample);
    }

    struct Logged {
        uint64_t count = 0;
        double at = -kRefusalLogInterval;
    };

    FaceServices &s_;
    ModbusLimits limits_;
    ModbusServer server_;
    uint16_t heartbeat_ = 0;
    Logged addressCap_, totalCap_, idle_;
};

} // namespace

std::unique_ptr<GatewayFace> makeModbusFace(FaceServices &services) {
    if (!services.options.modbus)
        return nullptr;
    return std::make_unique<ModbusFace>(services);
}
