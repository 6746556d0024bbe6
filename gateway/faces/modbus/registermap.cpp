// The register map of the Modbus server.
#include "gateway/faces/modbus/registermap.h"

#include <cmath>
#include <cstring>
#include <limits>

void putUint32(uint16_t *registers, uint32_t value, bool swapWords) {
    const auto high = static_cast<uint16_t>(value >> 16);
    const auto low = static_cast<uint16_t>(value & 0xFFFF);
    registers[0] = swapWords ? low : high;
    registers[1] = swapWords ? high : low;
}

void putFloat32(uint16_t *registers, float value, bool swapWords) {
    uint32_t bits = 0;
    static_assert(sizeof bits == sizeof value, "IEEE single precision");
    std::memcpy(&bits, &value, sizeof bits);
    putUint32(registers, bits, swapWords);
}

RegisterBlock buildRegisterBlock(const GatewayState &state, uint16_t heartbeat, bool swapWords) {
    RegisterBlock r{};
    const GatewaySample &s = state.sample;
    const bool micronsValid = state.haveSample && !std::isnan(s.um);
    r[0] = kRegisterMapVersion;
    r[1] = static_cast<uint16_t>((state.sensorAnswering ? kStatusSensorAnswering : 0) |
                                 (state.haveSample && s.inTol ? kStatusInTolerance : 0) |
                                 (state.answerBroken ? kStatusSerialError : 0) |
                                 (micronsValid ? kStatusMicronsValid : 0));
    r[2] = heartbeat;
    if (state.haveSample) {
        putUint32(&r[4], s.seq, swapWords);
        r[6] = s.left;
        r[7] = s.right;
        r[8] = s.value;
        r[9] = s.setpoint;
        r[10] = s.tol;
        r[13] = s.anaMax;
        r[14] = s.anaMin;
    }
    putFloat32(&r[11],
               micronsValid ? static_cast<float>(s.um) : std::numeric_limits<float>::quiet_NaN(),
               swapWords);
    for (int i = 0; i < 16; ++i)
        r[16 + i] = state.params[i];
    return r;
}
