// Sensor geometry by type. Only the types whose identification names a pixel pitch are listed;
// for every other type a value in micrometres would be a guess.
#include "com232/sensorunits.h"
#include "com232/identify.h"

#include <cmath>
#include <limits>

namespace {

const SensorGeometry geometries[] = {
    {103, 1180, 63.5, 2},
    {104, 1536, 63.5, 1},
};

} // namespace

const SensorGeometry *sensorGeometry(unsigned short type) {
    for (const SensorGeometry &g : geometries)
        if (g.ccdtype == type)
            return &g;
    return nullptr;
}

double micronsPerUnit() {
    const SensorGeometry *g = sensorGeometry(ccdtype);
    if (!g)
        return std::numeric_limits<double>::quiet_NaN();
    return g->pitchMicrons / g->subpixel;
}

double positionMicrons(unsigned short value) {
    return value * micronsPerUnit();
}
