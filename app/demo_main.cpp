// The demo program: the real program, with a simulated sensor on a pseudo-terminal as port 1.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "platform/qtaccess.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "sim/sensorsim.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    const char *profileName = "standard";
    const char *screenshot = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--profile") == 0 && i + 1 < argc) {
            profileName = argv[++i];
        } else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = argv[++i];
        } else {
            std::fprintf(stderr, "usage: kvex-rtn-demo [--profile NAME] [--screenshot FILE.png]\n");
            return 2;
        }
    }
    // For the documentation: the connected panel, saved a moment after start-up, then the end.
    if (screenshot)
        QTimer::singleShot(1500, [screenshot] {
            if (QWidget *panel = kvexplatform::panelWidget(pHandle))
                panel->grab().save(screenshot);
            QuitUserInterface(0);
        });
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
    bindPortDevice(1, sensor.devicePath(), std::string("simulated sensor \"") + profileName + "\"");
    const int result = WinMain();
    sensor.stop();
    return result;
}
