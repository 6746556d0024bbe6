// The Sparkplug B face: the edge node's births, data and deaths over the gateway's one broker
// connection, the primary host's STATE, and device commands submitted as jobs.
#pragma once

#include "gateway/core/face.h"

#include <memory>

std::unique_ptr<GatewayFace> makeSparkplugFace(FaceServices &services);
