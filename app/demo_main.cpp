// The demo program: the real program, with a simulated sensor on a pseudo-terminal as port 1.
#include "app/K-VEX-RTN-RedozU15.h"
#include "app/panelcontrols.h"
#include "platform/language.h"
#include "platform/rs232.h"
#include "platform/screenshot.h"
#include "platform/userint.h"
#include "sim/sensorsim.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char *const kUsage =
    "usage: kvex-rtn-demo [--profile NAME | --device PATH] [--screenshot FILE.png]\n"
    "                     [--state idle|run|run-zoom|video|propose|no-sensor|popup|traffic]\n"
    "                     [--lang de|en] [--replay FILE [--speed X]] [--size WxH]\n"
    "                     [--dim PERCENT_PER_HOUR]\n"
    "       kvex-rtn-demo --help | --version\n"
    "\n"
    "Starts the program with a simulated sensor bound to port 1 (kvex-sensor-sim\n"
    "--list-profiles lists the profiles).\n"
    "\n"
    "  --profile NAME      the simulated sensor (default \"standard\")\n"
    "  --device PATH       bind port 1 to PATH instead of the built-in simulator, for\n"
    "                      example the pseudo-terminal of a kvex-sensor-sim of your own\n"
    "  --state STATE       after start-up: idle, run (run mode), run-zoom (run mode with\n"
    "                      the strip chart zoomed), video (video mode), propose (video\n"
    "                      mode with a set-up proposal shown), no-sensor (the\n"
    "                      simulator leaves the line check unanswered), popup (sensor\n"
    "                      information shown), traffic (the traffic monitor over run\n"
    "                      mode, one answer with a bad sync word)\n"
    "  --replay FILE       the simulated sensor answers run mode with the rows of a\n"
    "                      recording (and video mode with the lines of FILE-video.csv\n"
    "                      beside it, if there is one) at their recorded pace\n"
    "  --speed X           play the recording X times as fast (default 1)\n"
    "  --dim P             dirt and ageing: the simulated line's lit level falls by P per\n"
    "                      cent of its clean value an hour, so video mode's signal reserve\n"
    "                      falls and the edges start to jitter near the threshold\n"
    "  --lang de|en        German or English (default: the panel's choice, else the\n"
    "                      system's)\n"
    "  --size WxH          the main window's size once it is shown, as far as the\n"
    "                      screen's free area allows (default: as the program opens it)\n"
    "  --screenshot FILE   once the state has settled, save the main panel (for popup with\n"
    "                      the sensor information below it; for traffic the monitor), print\n"
    "                      the status line, end\n";

enum class State { Idle, Run, RunZoom, Video, Propose, NoSensor, Popup, Traffic };

bool parseState(const char *text, State &state) {
    static const struct {
        const char *name;
        State state;
    } names[] = {{"idle", State::Idle},        {"run", State::Run},
                 {"run-zoom", State::RunZoom}, {"video", State::Video},
                 {"propose", State::Propose},  {"no-sensor", State::NoSensor},
                 {"popup", State::Popup},      {"traffic", State::Traffic}};
    for (const auto &entry : names)
        if (std::strcmp(text, entry.name) == 0) {
            state = entry.state;
            return true;
        }
    return false;
}

void clickButton(const char *objectName) {
    kvexplatform::clickButton(pHandle, objectName);
}

bool saveScreenshot(const char *file, State state) {
    // The pop-up is its own window, so its picture goes below the main panel's.
    if (state == State::Popup)
        return kvexplatform::saveStackedPicture(pHandle, pPopup, file);
    if (state == State::Traffic)
        return kvexplatform::saveTrafficPicture(pHandle, file);
    return kvexplatform::savePanelPicture(pHandle, file);
}

// Milliseconds from the end of start-up until the state is reached and has something to show:
// run mode fills its strip chart (101 points at about 25 cycles a second), video mode draws a
// few lines.
int settleTime(State state) {
    switch (state) {
    case State::Run:
    case State::RunZoom:
        return 5000;
    case State::Video:
    case State::Propose:
    case State::Traffic:
        return 2500;
    default:
        return 800;
    }
}

} // namespace

int main(int argc, char *argv[]) {
    // Help needs no display.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("kvex-rtn-demo " KVEX_VERSION);
            return 0;
        }
    QApplication application(argc, argv);
    std::string language;
    if (!kvexplatform::languageOption(argc, argv, language)) {
        std::fprintf(stderr, "kvex-rtn-demo: --lang takes de or en, not \"%s\"\n",
                     language.c_str());
        return 2;
    }
    kvexplatform::useLanguage(language, true);
    const char *profileName = "standard";
    const char *screenshot = nullptr;
    const char *device = nullptr;
    const char *replayFile = nullptr;
    double speed = 1.0;
    double dim = 0.0; // per cent of the clean lit level an hour
    State state = State::Idle;
    int width = 0, height = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--profile") == 0 && i + 1 < argc) {
            profileName = argv[++i];
        } else if (std::strcmp(argv[i], "--device") == 0 && i + 1 < argc) {
            device = argv[++i];
        } else if (std::strcmp(argv[i], "--replay") == 0 && i + 1 < argc) {
            replayFile = argv[++i];
        } else if (std::strcmp(argv[i], "--speed") == 0 && i + 1 < argc) {
            char *end = nullptr;
            speed = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(speed >= 0.01 && speed <= 1000.0)) {
                std::fprintf(stderr, "kvex-rtn-demo: --speed takes 0.01 to 1000, not \"%s\"\n",
                             argv[i]);
                return 2;
            }
        } else if (std::strcmp(argv[i], "--dim") == 0 && i + 1 < argc) {
            char *end = nullptr;
            dim = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(dim >= 0.0 && dim <= 1e7)) {
                std::fprintf(stderr, "kvex-rtn-demo: --dim takes 0 to 10000000, not \"%s\"\n",
                             argv[i]);
                return 2;
            }
        } else if (std::strcmp(argv[i], "--lang") == 0 && i + 1 < argc) {
            ++i; // chosen above, before the panel loads
        } else if (std::strncmp(argv[i], "--lang=", 7) == 0) {
            continue;
        } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            char tail = '\0';
            if (std::sscanf(argv[++i], "%dx%d%c", &width, &height, &tail) != 2 || width < 1 ||
                height < 1 || width > 20000 || height > 20000) {
                std::fprintf(stderr, "kvex-rtn-demo: --size takes WIDTHxHEIGHT, not \"%s\"\n",
                             argv[i]);
                return 2;
            }
        } else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = argv[++i];
        } else if (std::strcmp(argv[i], "--state") == 0 && i + 1 < argc) {
            if (!parseState(argv[++i], state)) {
                std::fprintf(stderr, "kvex-rtn-demo: no state \"%s\"\n%s", argv[i], kUsage);
                return 2;
            }
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    const kvexsim::SensorProfile *profile = kvexsim::findProfile(profileName);
    if (!profile) {
        std::fprintf(stderr, "kvex-rtn-demo: no sensor profile \"%s\"\n", profileName);
        return 2;
    }
    if (replayFile && device) {
        std::fprintf(stderr, "kvex-rtn-demo: --replay plays through the built-in simulator, "
                             "not the sensor given with --device\n");
        return 2;
    }
    kvexsim::SensorSim sensor(*profile);
    if (dim > 0.0)
        sensor.setDimming(dim);
    if (replayFile) {
        auto replay = std::make_shared<kvexsim::Replay>();
        std::string error;
        if (!kvexsim::loadReplay(replayFile, *replay, error)) {
            std::fprintf(stderr, "kvex-rtn-demo: %s\n", error.c_str());
            return 1;
        }
        sensor.setReplay(replay, speed);
    }
    if (device) {
        // Whatever answers there is the sensor; the built-in one stays off.
        bindPortDevice(1, device, "given with --device");
    } else {
        if (!sensor.openPty()) {
            std::fprintf(stderr, "kvex-rtn-demo: cannot open a pseudo-terminal\n");
            return 1;
        }
        // The port opens, but the line check goes unanswered: what a missing sensor looks like.
        if (state == State::NoSensor)
            sensor.setFault(5, {kvexsim::FaultKind::Silence, 1, 0.0, -1});
        sensor.start();
        bindPortDevice(1, sensor.devicePath(),
                       std::string("simulated sensor \"") + profileName + "\"");
    }

    if (startUpProgram() < 0) {
        sensor.stop();
        return -1;
    }
    if (width > 0)
        kvexplatform::resizePanel(pHandle, width, height);
    // The timers start once the connection sequence is over, so every state is timed from a
    // panel that shows its sensor (or its timeout).
    switch (state) {
    case State::RunZoom:
        kvexplatform::callAfter(200, [] { clickButton("TOGGBTN_Zoom"); });
        [[fallthrough]];
    case State::Run:
        kvexplatform::callAfter(300, [] { clickButton("BTNRun"); });
        break;
    case State::Video:
        kvexplatform::callAfter(300, [] { clickButton("BTNVideo"); });
        break;
    case State::Propose:
        kvexplatform::callAfter(300, [] { clickButton("BTNVideo"); });
        kvexplatform::callAfter(300 + 1500, [] { clickButton("BTNPropose"); });
        break;
    case State::Popup:
        kvexplatform::callAfter(300, [] { clickButton("TOGGBTN_ParaII"); });
        break;
    case State::Traffic:
        kvexplatform::callAfter(200, [] { clickButton("BTNTraffic"); });
        kvexplatform::callAfter(300, [] { clickButton("BTNRun"); });
        // One spoiled answer shortly before the picture, so the monitor shows its mark.
        kvexplatform::callAfter(300 + settleTime(state) - 300, [&sensor] {
            sensor.setFault(8, {kvexsim::FaultKind::WrongSync, 1, 0.0, 1});
        });
        break;
    default:
        break;
    }
    int result = 0;
    if (screenshot) {
        // Fires inside the run or video loop's event pump; Stop ends that loop, and the quit
        // request then ends the program once the Run or Video callback has returned.
        kvexplatform::callAfter(300 + settleTime(state), [screenshot, state, &result] {
            // The status line tells whoever makes screenshots in bulk that the state was reached.
            std::string status;
            if (kvexplatform::labelText(pHandle, "TEXTStatus", status))
                std::printf("kvex-rtn-demo: status \"%s\"\n", status.c_str());
            if (!saveScreenshot(screenshot, state)) {
                std::fprintf(stderr, "kvex-rtn-demo: cannot save %s\n", screenshot);
                result = 1;
            }
            QuitUserInterface(0);
            clickButton("BTNStop");
        });
    }
    RunUserInterface();
    shutDownProgram();
    sensor.stop();
    return result;
}
