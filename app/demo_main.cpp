// The demo program: the real program, with a simulated sensor on a pseudo-terminal as port 1.
#include "app/K-VEX-RTN-RedozU15.h"
#include "platform/rs232.h"
#include "sim/sensorsim.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const char *profileName = "standard";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--profile") == 0 && i + 1 < argc) {
            profileName = argv[++i];
        } else {
            std::fprintf(stderr, "usage: kvex-rtn-demo [--profile NAME]\n");
            return 2;
        }
    }
    const kvexsim::SensorProfile *profile = kvexsim::findProfile(profileName);
    if (!profile) {
        std::fprintf(stderr, "kvex-rtn-demo: no sensor profile \"%s\"\n", profileName);
        return 2;
    }
    kvexsim::SensorSim sensor(*profile);
    if (!sensor.openPty()) {
        std::fprintf(stderr, "kvex-rtn-demo: cannot open a pseudo-terminal\n");
        return 1;
    }
    sensor.start();
    bindPortDevice(1, sensor.devicePath());
    const int result = WinMain();
    sensor.stop();
    return result;
}
