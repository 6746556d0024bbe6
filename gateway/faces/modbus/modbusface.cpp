// The register block kept in step with the poller: every sample (with its heartbeat and age), the
// sensor found or lost, the words changed.
#include "gateway/faces/modbus/modbusface.h"
#include "gateway/core/logging.h"
#include "gateway/faces/modbus/registermap.h"
#include "gateway/options.h"
#include "platform/modbusserver.h"
#include "platform/tr.h"

namespace {

class ModbusFace : public GatewayFace {
  public:
    explicit ModbusFace(FaceServices &services) : s_(services) {}

    bool start(std::string *) override {
        const GatewayOptions &o = s_.options;
        std::string error;
        if (!server_.start(o.modbusAddress, o.modbusPort, o.unitId, &error)) {
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

  private:
    void update(const GatewayState &state, bool freshSample) {
        server_.update(buildRegisterBlock(state, heartbeat_, s_.options.swapWords), freshSample);
    }

    FaceServices &s_;
    ModbusServer server_;
    uint16_t heartbeat_ = 0;
};

} // namespace

std::unique_ptr<GatewayFace> makeModbusFace(FaceServices &services) {
    if (!services.options.modbus)
        return nullptr;
    return std::make_unique<ModbusFace>(services);
}
