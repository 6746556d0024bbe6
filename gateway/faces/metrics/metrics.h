// The metrics face: /metrics on the gateway's web listener, for Prometheus.
#pragma once

#include "gateway/core/face.h"
#include "platform/httpserver.h"

#include <memory>
#include <string>

std::unique_ptr<GatewayFace> makeMetricsFace(FaceServices &services);

// The exposition (text format 0.0.4) at `now` on the steady clock; `reserveOn` with reserve lines.
// `modbus`: the Modbus face's refusals, null without that face.
std::string metricsText(const GatewayState &state, double now, const HttpStats &web,
                        bool reserveOn, const ConnectionRefusals *modbus = nullptr);
