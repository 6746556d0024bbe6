// The Modbus register block: 32 words built from the latest sample and the parameter set.
#pragma once

#include "gateway/core/state.h"

#include <array>
#include <cstdint>

constexpr uint16_t kRegisterMapVersion = 1;

enum RegisterStatusBit : uint16_t {
    kStatusSensorAnswering = 1u << 0,
    kStatusInTolerance = 1u << 1,
    kStatusSerialError = 1u << 2,
    kStatusMicronsValid = 1u << 3,
};

using RegisterBlock = std::array<uint16_t, 32>;

// The block from the gateway's state; `heartbeat` counts the samples the face has seen. Register 3
// (age of the sample) is left 0: the server fills it in when it is read.
RegisterBlock buildRegisterBlock(const GatewayState &state, uint16_t heartbeat, bool swapWords);
// A 32-bit value as two registers, high word first unless swapped.
void putUint32(uint16_t *registers, uint32_t value, bool swapWords);
void putFloat32(uint16_t *registers, float value, bool swapWords);
