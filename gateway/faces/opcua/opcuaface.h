// The gateway's OPC UA face (serve --opcua): the sensor in the shape of the Devices model, its
// parameter set, its measurements and the gateway's health, on a server of its own thread.
#pragma once

#include "gateway/core/face.h"

#include <memory>

// Null without --opcua.
std::unique_ptr<GatewayFace> makeOpcuaFace(FaceServices &services);
