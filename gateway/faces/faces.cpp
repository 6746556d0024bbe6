// The faces' one list: a new face is a folder of its own and a line here.
#include "gateway/faces/faces.h"
#include "gateway/faces/json/jsontopics.h"
#include "gateway/faces/metrics/metrics.h"
#include "gateway/faces/modbus/modbusface.h"
#include "gateway/faces/opcua/opcuaface.h"
#include "gateway/faces/sparkplug/sparkplugface.h"
#include "gateway/faces/web/webface.h"

const std::vector<FaceMaker> &gatewayFaces() {
    // Sparkplug before the JSON topics: a batch's DDATA goes out before its meas, so the meas's
    // delivery vouches for both, and its NDEATH is the connection's will when both are on.
    static const std::vector<FaceMaker> faces = {
        makeSparkplugFace, makeJsonTopicsFace, makeModbusFace,
        makeWebFace,       makeMetricsFace,    makeOpcuaFace,
    };
    return faces;
}
