// Every face of the gateway, in the order they hear the poller's news.
#pragma once

#include "gateway/core/face.h"

#include <vector>

const std::vector<FaceMaker> &gatewayFaces();
