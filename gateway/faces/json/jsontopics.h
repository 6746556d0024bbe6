// The JSON topics face: every sample as PREFIX/meas, and the retained PREFIX/status, info, params,
// health and audit, in the vocabulary the web API shares.
#pragma once

#include "gateway/core/face.h"

#include <memory>

std::unique_ptr<GatewayFace> makeJsonTopicsFace(FaceServices &services);
