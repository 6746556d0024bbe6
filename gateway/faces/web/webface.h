// The web face (--http): the live page, its JSON API and its stream, over the gateway's web
// listener. Its routes are one file per area in routes/.
#pragma once

#include "gateway/core/face.h"

#include <memory>

std::unique_ptr<GatewayFace> makeWebFace(FaceServices &services);
