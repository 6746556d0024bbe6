// Named sensor profiles: one for every kind of sensor the program treats differently.
#include "sim/sensorsim.h"

#include <algorithm>

namespace kvexsim {

namespace {

SensorProfile makeProfile(std::string name, uint16_t ccdtype, uint16_t ccdmaxpixel,
                          uint16_t ccdresolution, uint16_t pcbtype, uint16_t ccdsubpixel,
                          uint16_t softversion, std::string firmwareText) {
    SensorProfile p;
    p.name = std::move(name);
    p.ccdtype = ccdtype;
    p.ccdmaxpixel = ccdmaxpixel;
    p.ccdresolution = ccdresolution;
    p.pcbtype = pcbtype;
    p.ccdmaxpixelX8 = static_cast<uint16_t>(ccdmaxpixel * 8);
    p.ccdsubpixel = ccdsubpixel;
    p.ccdpixB = 1;
    p.ccdpixE = ccdsubpixel;
    p.softversion = softversion;
    p.videoFullScale = videoFullScaleFor(ccdtype, ccdresolution, softversion);
    p.firmwareText = std::move(firmwareText);
    return p;
}

std::vector<SensorProfile> buildProfiles() {
    // Board type 0 sends its firmware text one character per word, so those texts stay within 36
    // characters; the other boards have room for 72.
    return {
        makeProfile("standard", 1, 1024, 0, 0, 1024, 220, "KVEX-RTN FW 2.20 standard"),
        makeProfile("type0", 0, 1024, 0, 0, 1024, 220, "KVEX-RTN FW 2.20 type 0"),
        makeProfile("type1-fw1001", 1, 1024, 0, 100, 1024, 1001,
                    "KVEX-RTN FW 10.01 type 1, board 100"),
        makeProfile("type1-x8", 1, 1024, 0, 0, 8192, 230, "KVEX-RTN FW 2.30 type 1 x8"),
        makeProfile("type2-750", 2, 2048, 750, 0, 2048, 220, "KVEX-RTN FW 2.20 type 2 r750"),
        makeProfile("type2-350", 2, 1024, 350, 0, 1024, 220, "KVEX-RTN FW 2.20 type 2 r350"),
        makeProfile("type2-350-fw230", 2, 1024, 350, 0, 1024, 230, "KVEX-RTN FW 2.30 type 2 r350"),
        makeProfile("type2-250", 2, 1280, 250, 0, 2560, 220, "KVEX-RTN FW 2.20 type 2 r250"),
        makeProfile("type2-other", 2, 1280, 500, 0, 2360, 230, "KVEX-RTN FW 2.30 type 2 r500"),
        makeProfile("type3", 3, 512, 0, 0, 512, 220, "KVEX-RTN FW 2.20 type 3"),
        makeProfile("type4", 4, 512, 0, 0, 512, 230, "KVEX-RTN FW 2.30 type 4"),
        // 256 pixels is no count of the program's step tables; it falls back to one video
        // point per pixel, which is exactly this sensor's layout.
        makeProfile("type101", 101, 256, 0, 400, 256, 220, "KVEX-RTN FW 2.20 type 101, board 400"),
        makeProfile("type102-220", 102, 768, 0, 400, 768, 220,
                    "KVEX-RTN FW 2.20 type 102, board 400"),
        makeProfile("type102-230", 102, 768, 0, 400, 768, 230,
                    "KVEX-RTN FW 2.30 type 102, board 400"),
        makeProfile("type102-221", 102, 768, 0, 400, 768, 221,
                    "KVEX-RTN FW 2.21 type 102, board 400"),
        makeProfile("type103", 103, 1280, 0, 100, 1180, 220,
                    "KVEX-RTN FW 2.20 type 103, 1180 pixel, board 100"),
        makeProfile("type104", 104, 1536, 0, 400, 1536, 230,
                    "KVEX-RTN FW 2.30 type 104, 1536 pixel, board 400"),
        makeProfile("type104-220", 104, 1536, 0, 100, 1536, 220,
                    "KVEX-RTN FW 2.20 type 104, 1536 pixel, board 100"),
        makeProfile("unknown-type", 7, 1024, 0, 0, 1024, 220, "KVEX-RTN FW 2.20 type 7"),
        makeProfile("fw-raw72", 1, 1024, 0, 400, 1024, 230,
                    "KVEX-RTN FW 2.30 board 400, 1024 pixel, identification text of 72 bytes."),
    };
}

} // namespace

uint16_t videoFullScaleFor(uint16_t ccdtype, uint16_t ccdresolution, uint16_t softversion) {
    const bool eightBit =
        (ccdtype == 2 && (ccdresolution == 350 || ccdresolution == 250) && softversion == 220) ||
        (ccdtype == 102 && softversion > 220) ||
        ((ccdtype == 103 || ccdtype == 104) && softversion == 220);
    return eightBit ? 255 : 1023;
}

const std::vector<SensorProfile> &sensorProfiles() {
    static const std::vector<SensorProfile> profiles = buildProfiles();
    return profiles;
}

const SensorProfile *findProfile(const std::string &name) {
    const auto &profiles = sensorProfiles();
    auto it = std::find_if(profiles.begin(), profiles.end(),
                           [&](const SensorProfile &p) { return p.name == name; });
    return it == profiles.end() ? nullptr : &*it;
}

} // namespace kvexsim
