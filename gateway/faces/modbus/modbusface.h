// The Modbus TCP face: the 32-register block, rebuilt from the gateway's state at every change.
#pragma once

#include "gateway/core/face.h"

#include <memory>

std::unique_ptr<GatewayFace> makeModbusFace(FaceServices &services);
