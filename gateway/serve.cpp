// The `serve` command: reads the options, makes the gateway's core and its faces, and runs them
// until SIGTERM or SIGINT.
#include "gateway/serve.h"
#include "app/K-VEX-RTN-RedozU15.h"
#include "com232/rs232link.h"
#include "gateway/core/logging.h"
#include "gateway/core/poller.h"
#include "gateway/faces/faces.h"
#include "gateway/faces/opcua/users.h"
#include "gateway/options.h"
#include "gateway/payloads.h"
#include "gateway/secrets.h"
#include "platform/inisettings.h"
#include "platform/rs232.h"
#include "platform/stopsignals.h"
#include "platform/tr.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <unistd.h>

namespace {

std::string hostName() {
    char name[256] = "";
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

} // namespace

int runServeCommand(int port, const std::vector<std::string> &args) {
    OptionList words;
    std::string error;
    if (!splitOptionWords(args, &words, &error)) {
        logEvent("serve: %s", error.c_str());
        return 2;
    }
    GatewayOptions options;
    for (const auto &word : words) {
        if (word.first == "help") {
            std::fputs(optionsHelp().c_str(), stdout);
            return 0;
        }
        if (word.first == "config")
            options.config = word.second;
    }
    if (!options.config.empty()) {
        std::map<std::string, std::string> values;
        if (!readIniFile(options.config, &values, &error)) {
            logEvent("serve: %s", error.c_str());
            return 2;
        }
        for (const auto &value : values)
            if (!applyOption(&options, value.first, value.second, true, &error)) {
                logEvent("serve: %s: %s", options.config.c_str(), error.c_str());
                return 2;
            }
    }
    for (const auto &word : words)
        if (!applyOption(&options, word.first, word.second, false, &error)) {
            logEvent("serve: %s", error.c_str());
            return 2;
        }
    takeCredentials(&options);
    if (!options.passwordFile.empty()) {
        if (!readSecretFile(options.passwordFile, "password-file", &options.password, &error)) {
            logEvent("serve: %s", error.c_str());
            return 2;
        }
    } else if (options.password.empty()) {
        if (const char *env = std::getenv("KVEX_MQTT_PASSWORD"))
            options.password = env;
    }
    setLowLatencyRequested(options.lowLatency);
    if (!options.store.empty() && !options.mqtt) {
        logEvent(kvex::tr("serve: --store keeps samples for the MQTT broker; give --mqtt too"));
        return 2;
    }
    if (!options.mqtt && !options.modbus && !options.http && !options.opcua) {
        logEvent(kvex::tr("serve: nothing to serve; give --mqtt HOST, --modbus PORT, --http PORT "
                          "and/or --opcua PORT"));
        return 2;
    }
    const std::string device = portDevicePath(port);
    if (device.empty()) {
        logEvent(kvex::tr("serve: port %d has no device"), port);
        return 2;
    }
    const std::string host = hostName();
    const std::string prefix =
        options.topicPrefix.empty() ? defaultTopicPrefix(host, device) : options.topicPrefix;
    std::string clientId = options.clientId;
    // Stable across restarts: the broker replaces the session of the gateway's last run instead
    // of keeping one per process.
    // From the host and port, not from --topic-prefix: two gateways given the same prefix must
    // not take each other's session.
    if (clientId.empty()) {
        const std::string own = defaultTopicPrefix(host, device);
        clientId = "kvex-rtn-" + own.substr(own.find('/') + 1);
    }
    if (!options.sparkplugGroup.empty() && !options.mqtt) {
        logEvent(kvex::tr("serve: --sparkplug publishes over the MQTT broker; give --mqtt too"));
        return 2;
    }

    if (options.http && !options.httpTokenFile.empty()) {
        if (!readSecretFile(options.httpTokenFile, "http-token-file", &options.httpToken, &error)) {
            logEvent("serve: %s", error.c_str());
            return 2;
        }
        if (tokenBits(options.httpToken) < kTokenBitsNeeded) {
            logEvent(kvex::tr("serve: --http-token-file %s: the token is too short to stand "
                              "guessing (%.0f bits of the %.0f needed); make one with %s"),
                     options.httpTokenFile.c_str(), tokenBits(options.httpToken), kTokenBitsNeeded,
                     tokenAdvice());
            return 2;
        }
    }
    if (options.opcua && !options.opcuaUsers.empty() &&
        !readSecretLines(options.opcuaUsers, "opcua-users", &options.opcuaUsersText, &error)) {
        logEvent("serve: %s", error.c_str());
        return 2;
    }
    if (options.opcua && !options.opcuaAnonymous && options.opcuaUsers.empty()) {
        logEvent(kvex::tr("serve: --opcua-anonymous off needs --opcua-users: otherwise no client "
                          "could log in"));
        return 2;
    }
    if (!options.opcuaUsersText.empty()) {
        std::vector<OpcuaUser> users;
        if (!parseOpcuaUsers(options.opcuaUsersText, &users, &error)) {
            logEvent("serve: --opcua-users %s: %s", options.opcuaUsers.c_str(), error.c_str());
            return 2;
        }
    }
    if (!checkTlsFiles(options, &error)) {
        logEvent("serve: %s", error.c_str());
        return 2;
    }

    GatewayCore gateway(options, port, device, host, prefix, clientId);
    std::vector<std::string> problems;
    if (!gateway.loadApprovedSet(&problems)) {
        for (const std::string &problem : problems)
            logEvent("serve: %s", problem.c_str());
        logEvent(kvex::tr("serve: --golden %s is no approved parameter set"),
                 options.golden.c_str());
        return 2;
    }
    installStopSignals([](int number) {
        requestGatewayStop(number);
        stop_flag = 1;
    });
    installReloadSignal([&gateway] { gateway.reload(); });
    gateway.makeFaces(gatewayFaces());
    if (!gateway.start())
        return 1;
    gateway.run();
    return gateway.finish();
}
