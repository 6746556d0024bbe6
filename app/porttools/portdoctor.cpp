// The port check over the program's own link: the machine's findings from the platform, then the
// echo, the hardware query and the firmware text as the connection sequence sends them.
#include "app/porttools/portdoctor.h"
#include "app/jsontext.h"
#include "app/panelcontrols.h"
#include "com232/identify.h"
#include "com232/rs232link.h"
#include "platform/portcheckwindow.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

// Echoes timed for the answer time; their median says more than one on a busy machine.
constexpr int kEchoes = 5;
// A request and its answer at 19 200 baud, 10 bits a byte: no sensor answers sooner.
constexpr double kWireMs = 2 * FRAME_BYTES * 10 * 1000.0 / 19200;
// The pause the connection sequence leaves the sensor between its queries.
constexpr double kQueryPause = 0.1;

const char *const kNoAnswerFix =
    kvex::tr("check that the sensor has power, that its cable is on this port, and the cable (a "
             "null-modem cable where both ends are wired as a computer's port)");
const char *const kBadAnswerFix =
    kvex::tr("make sure a K-VEX-RTN sensor is on this port and set to 19 200 baud, 8N1");

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", ms);
    return text;
}

PortCheck failed(const char *name, bool answered, int &outcome) {
    outcome = answered ? LINK_BAD_ANSWER : LINK_NO_ANSWER;
    // The status line's text as the operator read it there.
    return {name, CheckResult::Fail, kvex::trNow(trimmed(szStatus).c_str()),
            kvex::trNow(answered ? kBadAnswerFix : kNoAnswerFix)};
}

// The echo, timed, then the hardware query and the firmware text, on the open port.
void checkLink(int port, PortReport &report, PortCheck &line, PortCheck &sensor) {
    std::vector<double> times;
    while (static_cast<int>(times.size()) < kEchoes && CheckComLine(port) == 1)
        times.push_back(tdiff * 1000.0);
    if (times.empty()) {
        line = failed("line", rx_flag == 1, report.outcome);
        return;
    }
    std::sort(times.begin(), times.end());
    report.answerMs = times[times.size() / 2];
    line = {"line", CheckResult::Ok,
            kvex::trArgs("the echo came back in %1 (median of %2, slowest %3; the wire alone "
                         "takes %4)",
                         {milliseconds(report.answerMs), std::to_string(times.size()),
                          milliseconds(times.back()), milliseconds(kWireMs)}),
            ""};
    if (static_cast<int>(times.size()) < kEchoes) {
        line.result = CheckResult::Warn;
        line.detail +=
            kvex::trArgs("; %1 of %2 echoes did not: %3",
                         {std::to_string(kEchoes - times.size()), std::to_string(kEchoes),
                          kvex::trNow(trimmed(szStatus).c_str())});
        line.fix = kvex::trNow(kNoAnswerFix);
    }

    Delay(kQueryPause);
    if (!GetHARDWAREInfo()) {
        sensor = failed("sensor", rx_flag == 1, report.outcome);
        sensor.detail = kvex::trArgs("hardware query: %1", {sensor.detail});
        return;
    }
    Delay(kQueryPause);
    const int firmwareBytes = GetVERSIONInfo();
    if (firmwareBytes < 72) {
        sensor = failed("sensor", firmwareBytes > 0, report.outcome);
        sensor.detail = kvex::trArgs("firmware text: %1", {sensor.detail});
        return;
    }
    report.firmware = trimmed(szVersion);
    report.outcome = LINK_OK;
    sensor = {"sensor", CheckResult::Ok,
              kvex::trArgs("sensor type %1, board %2, %3 pixels, firmware \"%4\"",
                           {std::to_string(ccdtype), std::to_string(pcbtype),
                            std::to_string(ccdmaxpixel), report.firmware}),
              ""};
}

} // namespace

PortReport examinePort(int port) {
    PortReport report;
    report.name = std::to_string(port);
    report.device = portDevicePath(port);
    report.outcome = LINK_NO_PORT;
    // An exchange under way (a live mode above all) owns the port; the machine's checks do not
    // count this program as another holder either way.
    const bool busy = exchangeDepth > 0;
    report.checks = checkDeviceOnMachine(report.device);
    const bool usable =
        std::none_of(report.checks.begin(), report.checks.end(),
                     [](const PortCheck &c) { return c.result == CheckResult::Fail; });

    PortCheck line{"line", CheckResult::Skip, "", ""};
    PortCheck sensor{"sensor", CheckResult::Skip, kvex::trNow("no line"), ""};
    if (busy) {
        line.detail = sensor.detail = kvex::trNow(
            "the program is using the port (run or video mode): press Stop and check again");
    } else if (!usable) {
        line.detail = kvex::trNow("the port cannot be used (see above)");
    } else {
        const ExchangeScope exchange;
        const int opened = openSensorPort(port);
        if (opened < 0) {
            showStatusText(openFailureText(opened).c_str());
            line = {"line", CheckResult::Fail, openFailureText(opened),
                    kvex::trNow("see the checks above; a port that does not open for them "
                                "either may need a new plug-in of the adapter")};
        } else {
            checkLink(port, report, line, sensor);
        }
    }
    // Read after the open: opening the port may have set the timer.
    report.checks.push_back(checkLatencyTimer(report.device));
    report.checks.push_back(line);
    report.checks.push_back(sensor);
    return report;
}

std::string portReportText(const PortReport &report) {
    std::string text = (report.device.empty() || report.device == report.name
                            ? kvex::trArgs("port %1", {report.name})
                            : kvex::trArgs("port %1: %2", {report.name, report.device})) +
                       "\n";
    for (const PortCheck &c : report.checks) {
        char head[40];
        std::string result = checkResultName(c.result);
        std::transform(result.begin(), result.end(), result.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
        std::snprintf(head, sizeof head, "%-5s %-14s ", result.c_str(), c.name.c_str());
        text += head + c.detail + "\n";
        if (!c.fix.empty())
            text += std::string(21, ' ') + kvex::trArgs("fix: %1", {c.fix}) + "\n";
    }
    return text;
}

std::string portReportJson(const PortReport &report) {
    std::string json =
        "{\"port\":" + jsonString(report.name) + ",\"device\":" + jsonString(report.device) +
        ",\"ok\":" + (report.outcome == LINK_OK ? "true" : "false") + ",\"answer_ms\":";
    if (report.answerMs >= 0) {
        char ms[32];
        std::snprintf(ms, sizeof ms, "%.2f", report.answerMs);
        json += ms;
    } else {
        json += "null";
    }
    json += ",\"firmware\":" + (report.firmware.empty() ? "null" : jsonString(report.firmware));
    json += ",\"checks\":[";
    for (size_t i = 0; i < report.checks.size(); ++i) {
        const PortCheck &c = report.checks[i];
        json += std::string(i ? "," : "") + "{\"name\":" + jsonString(c.name) + ",\"result\":\"" +
                checkResultName(c.result) + "\",\"detail\":" + jsonString(c.detail) +
                ",\"fix\":" + (c.fix.empty() ? "null" : jsonString(c.fix)) + "}";
    }
    return json + "]}";
}

int CC_BTNCheckPort(int, int, int event, void *, int, int) {
    static bool checking = false;
    if (event != EVENT_COMMIT || checking)
        return 0;
    checking = true;
    const PortReport report = examinePort(com);
    const std::string title =
        report.device.empty()
            ? kvex::trArgs("K-VEX-RTN port check: port %1", {report.name})
            : kvex::trArgs("K-VEX-RTN port check: port %1 (%2)", {report.name, report.device});
    ShowPortCheckWindow(pHandle, title.c_str(), portReportText(report).c_str());
    checking = false;
    return 0;
}
