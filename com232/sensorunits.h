// What the identified sensor's type says about its geometry: pixel pitch and sub-pixel factor,
// and from them the measured value in micrometres.
#pragma once

struct SensorGeometry {
    unsigned short ccdtype;
    unsigned short pixels;   // CCD pixels across the line
    double pitchMicrons;     // distance between two pixels
    unsigned short subpixel; // positions the sensor reports per pixel
};

// The geometry of the identified sensor type, or nullptr when its pitch is not known.
const SensorGeometry *sensorGeometry(unsigned short type);
// Micrometres per position unit of the identified sensor; NaN when the pitch is not known.
double micronsPerUnit();
// The measured value (or any position) in micrometres; NaN when the pitch is not known.
double positionMicrons(unsigned short value);
