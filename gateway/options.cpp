// Parsing and checking the gateway's options; the INI file uses the same key names.
#include "gateway/options.h"
#include "platform/tr.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

namespace {

// Options that take no value.
bool isFlag(const std::string &key) {
    return key == "help" || key == "sparkplug-commands";
}

bool parseInt(const std::string &text, long low, long high, long *value) {
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    *value = v;
    return true;
}

bool parseHostPort(const std::string &text, std::string *host, int *port, bool portRequired) {
    const auto colon = text.rfind(':');
    long p = *port;
    if (colon == std::string::npos) {
        if (portRequired)
            return parseInt(text, 1, 65535, &p) && (*port = static_cast<int>(p), true);
        *host = text;
        return !text.empty();
    }
    if (!parseInt(text.substr(colon + 1), 1, 65535, &p))
        return false;
    *port = static_cast<int>(p);
    if (colon > 0)
        *host = text.substr(0, colon);
    return portRequired || colon > 0;
}

} // namespace

bool parseDuration(const std::string &text, double *seconds) {
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    double unit = 1.0;
    const std::string suffix = end;
    if (suffix == "m")
        unit = 60.0;
    else if (suffix == "h")
        unit = 3600.0;
    else if (suffix == "d")
        unit = 86400.0;
    else if (!suffix.empty() && suffix != "s")
        return false;
    // At most a year: a longer one is a slip, and the sum with the clock stays exact.
    if (errno != 0 || end == text.c_str() || !(v >= 0.0) || v * unit > 366.0 * 86400.0)
        return false;
    *seconds = v * unit;
    return true;
}

bool splitOptionWords(const std::vector<std::string> &words, OptionList *options,
                      std::string *error) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (word.rfind("--", 0) != 0 || word.size() < 3) {
            *error = kvex::trArgs("unexpected word: %1", {word});
            return false;
        }
        const std::string body = word.substr(2);
        const auto equals = body.find('=');
        if (equals != std::string::npos) {
            options->emplace_back(body.substr(0, equals), body.substr(equals + 1));
        } else if (isFlag(body)) {
            options->emplace_back(body, "");
        } else if (i + 1 < words.size()) {
            options->emplace_back(body, words[++i]);
        } else {
            *error = kvex::trArgs("--%1 needs a value", {body});
            return false;
        }
    }
    return true;
}

// The web server's limits, one key each; false when `key` is not one of them.
bool applyHttpLimit(HttpLimits *l, const std::string &key, const std::string &value,
                    std::string *error) {
    struct Limit {
        const char *key;
        long min, max;
        // Seconds in the key, milliseconds in the server.
        bool seconds;
        std::function<void(long)> set;
    };
    const Limit limits[] = {
        {"http-max-header-bytes", 1024, 1 << 20, false,
         [l](long n) { l->maxHeaderBytes = static_cast<int>(n); }},
        {"http-max-body-bytes", 1024, 1 << 26, false,
         [l](long n) { l->maxBodyBytes = static_cast<std::size_t>(n); }},
        {"http-request-timeout", 1, 3600, true,
         [l](long n) { l->requestTimeoutMs = static_cast<int>(n); }},
        {"http-keep-alive", 1, 3600, true, [l](long n) { l->keepAliveMs = static_cast<int>(n); }},
        {"http-page-timeout", 2, 3600, true,
         [l](long n) { l->websocketTimeoutMs = static_cast<int>(n); }},
        {"http-max-connections", 1, 1000000, false,
         [l](long n) { l->maxConnections = static_cast<int>(n); }},
        {"http-max-per-address", 1, 1000000, false,
         [l](long n) { l->maxPerAddress = static_cast<int>(n); }},
        {"http-page-queue", 1, 100000, false,
         [l](long n) { l->websocketQueue = static_cast<std::size_t>(n); }},
    };
    for (const Limit &limit : limits) {
        if (key != limit.key)
            continue;
        long n = 0;
        if (!parseInt(value, limit.min, limit.max, &n)) {
            *error = "--" + key + ": " +
                     kvex::trArgs("expected %1 to %2 (got \"%3\")",
                                  {std::to_string(limit.min), std::to_string(limit.max), value});
            return true;
        }
        limit.set(limit.seconds ? n * 1000 : n);
        return true;
    }
    return false;
}

bool applyOption(GatewayOptions *o, const std::string &rawKey, const std::string &value,
                 bool fromFile, std::string *error) {
    // QSettings puts keys of an INI file without a section under "General".
    const std::string key = rawKey.rfind("General/", 0) == 0 ? rawKey.substr(8) : rawKey;
    long n = 0;
    auto bad = [&](const char *what) {
        *error = "--" + key + ": " + kvex::trNow(what);
        // A secret is not repeated into the log.
        if (key != "password")
            *error += kvex::trArgs(" (got \"%1\")", {value});
        return false;
    };
    error->clear();
    if (applyHttpLimit(&o->httpLimits, key, value, error))
        return error->empty();
    if (key == "config") {
        if (fromFile)
            return bad(kvex::tr("not allowed inside a config file"));
        o->config = value;
    } else if (key == "mqtt") {
        if (!parseHostPort(value, &o->mqttHost, &o->mqttPort, false))
            return bad(kvex::tr("expected HOST[:PORT]"));
        o->mqtt = true;
    } else if (key == "topic-prefix") {
        if (value.empty() || value.find_first_of("+#") != std::string::npos)
            return bad(kvex::tr("expected a topic without + or #"));
        o->topicPrefix = value;
    } else if (key == "meas-qos" || key == "state-qos") {
        if (!parseInt(value, 0, 2, &n))
            return bad(kvex::tr("expected 0, 1 or 2"));
        (key == "meas-qos" ? o->measQos : o->stateQos) = static_cast<int>(n);
    } else if (key == "cafile") {
        o->cafile = value;
    } else if (key == "cert") {
        o->cert = value;
    } else if (key == "key") {
        o->key = value;
    } else if (key == "username") {
        o->username = value;
    } else if (key == "password-file") {
        o->passwordFile = value;
    } else if (key == "password") {
        if (!fromFile)
            return bad(kvex::tr("a password on the command line is visible to every user; use "
                                "--password-file, the config file or KVEX_MQTT_PASSWORD"));
        o->password = value;
    } else if (key == "client-id") {
        o->clientId = value;
    } else if (key == "batch") {
        if (!parseInt(value, 1, 1000, &n))
            return bad(kvex::tr("expected 1 to 1000"));
        o->batch = static_cast<int>(n);
    } else if (key == "queue") {
        if (!parseInt(value, 1, 10000000, &n))
            return bad(kvex::tr("expected 1 to 10000000"));
        o->queue = static_cast<std::size_t>(n);
    } else if (key == "rate" || key == "replay-rate") {
        char *end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(v > 0.0 && v <= 100000.0))
            return bad(kvex::tr("expected a positive number"));
        (key == "rate" ? o->rate : o->replayRate) = v;
    } else if (key == "modbus") {
        if (!parseHostPort(value, &o->modbusAddress, &o->modbusPort, true))
            return bad(kvex::tr("expected [ADDR:]PORT"));
        o->modbus = true;
    } else if (key == "modbus-max-per-address" || key == "modbus-max-connections") {
        if (!parseInt(value, 1, 10000, &n))
            return bad(kvex::tr("expected a number from 1 to 10000"));
        (key == "modbus-max-connections" ? o->modbusLimits.maxConnections
                                         : o->modbusLimits.maxPerAddress) = static_cast<int>(n);
    } else if (key == "modbus-idle-timeout") {
        double seconds = 0.0;
        if (!parseDuration(value, &seconds) || seconds > 86400.0)
            return bad(kvex::tr("expected a duration such as 60s or 5m, or 0 for none"));
        o->modbusLimits.idleTimeoutMs = static_cast<int>(seconds * 1000.0);
    } else if (key == "unit-id") {
        if (!parseInt(value, 0, 255, &n))
            return bad(kvex::tr("expected 0 to 255"));
        o->unitId = static_cast<int>(n);
    } else if (key == "word-order") {
        if (value != "normal" && value != "swap")
            return bad(kvex::tr("expected normal or swap"));
        o->swapWords = value == "swap";
    } else if (key == "low-latency") {
        if (value != "on" && value != "off")
            return bad(kvex::tr("expected on or off"));
        o->lowLatency = value == "on";
    } else if (key == "store") {
        if (value.empty())
            return bad(kvex::tr("expected a file"));
        o->store = value;
    } else if (key == "store-max-mb") {
        if (!parseInt(value, 1, 1000000, &n))
            return bad(kvex::tr("expected 1 to 1000000"));
        o->storeMaxMb = static_cast<std::size_t>(n);
    } else if (key == "http") {
        if (!parseHostPort(value, &o->httpAddress, &o->httpPort, true))
            return bad(kvex::tr("expected [ADDR:]PORT"));
        o->http = true;
    } else if (key == "http-token-file") {
        o->httpTokenFile = value;
    } else if (key == "http-cert") {
        o->httpCert = value;
    } else if (key == "http-key") {
        o->httpKey = value;
    } else if (key == "http-allowed-hosts") {
        o->httpAllowedHosts.clear();
        std::string name;
        for (std::size_t i = 0; i <= value.size(); ++i) {
            if (i < value.size() && value[i] != ',' && value[i] != ' ') {
                name += value[i];
                continue;
            }
            if (!name.empty())
                o->httpAllowedHosts.push_back(name);
            name.clear();
        }
        if (o->httpAllowedHosts.empty())
            return bad(kvex::tr("expected host names separated by commas"));
    } else if (key == "reserve-every") {
        double seconds = 0.0;
        // Below a second the reserve lines would take the run's place.
        if (!parseDuration(value, &seconds) || (seconds > 0.0 && seconds < 1.0))
            return bad(kvex::tr("expected a duration such as 10m, 30s or 1s, or 0 for off"));
        o->reserveEvery = seconds;
    } else if (key == "golden") {
        if (value.empty())
            return bad(kvex::tr("expected a parameter file"));
        o->golden = value;
    } else if (key == "drift-every") {
        double seconds = 0.0;
        // Each check reads both sets: more often than a minute would only wear the line.
        if (!parseDuration(value, &seconds) || (seconds > 0.0 && seconds < 60.0))
            return bad(kvex::tr("expected a duration such as 1h or 10m (at least 1m), or 0 for "
                                "off"));
        o->driftEvery = seconds;
    } else if (key == "reserve-warn") {
        char *end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(v >= 0.0 && v <= 10.0))
            return bad(kvex::tr("expected a ratio from 0 to 10"));
        o->reserveWarn = v;
    } else if (key == "sparkplug" || key == "sparkplug-node" || key == "sparkplug-device" ||
               key == "sparkplug-host") {
        // Sparkplug's ids become topic levels: no '/', '+' or '#'.
        if (value.empty() || value.find_first_of("/+#") != std::string::npos ||
            std::any_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
            return bad(kvex::tr("expected a Sparkplug id: not empty, without / + # or control "
                                "characters"));
        (key == "sparkplug"          ? o->sparkplugGroup
         : key == "sparkplug-node"   ? o->sparkplugNode
         : key == "sparkplug-device" ? o->sparkplugDevice
                                     : o->sparkplugHost) = value;
    } else if (key == "sparkplug-commands") {
        // A flag on the command line, on or off in a config file.
        if (value != "" && value != "on" && value != "off")
            return bad(kvex::tr("expected on or off"));
        o->sparkplugCommands = value != "off";
    } else if (key == "opcua") {
        if (!parseHostPort(value, &o->opcuaAddress, &o->opcuaPort, true))
            return bad(kvex::tr("expected [ADDR:]PORT"));
        o->opcua = true;
    } else if (key == "opcua-device") {
        // A browse name and a part of every node id: no '/' that would split the path.
        if (value.empty() || value.find('/') != std::string::npos ||
            std::any_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
            return bad(kvex::tr("expected a name without / or control characters"));
        o->opcuaDevice = value;
    } else if (key == "opcua-cert" || key == "opcua-key" || key == "opcua-trust" ||
               key == "opcua-users") {
        if (value.empty())
            return bad(kvex::tr("expected a file or folder"));
        (key == "opcua-cert"    ? o->opcuaCert
         : key == "opcua-key"   ? o->opcuaKey
         : key == "opcua-trust" ? o->opcuaTrust
                                : o->opcuaUsers) = value;
    } else if (key == "opcua-anonymous") {
        if (value != "on" && value != "off")
            return bad(kvex::tr("expected on or off"));
        o->opcuaAnonymous = value == "on";
    } else if (key == "json-topics") {
        if (value != "on" && value != "off")
            return bad(kvex::tr("expected on or off"));
        o->jsonTopics = value == "on";
    } else {
        *error = kvex::trArgs("unknown option --%1", {key});
        return false;
    }
    return true;
}

std::string optionsHelp() {
    // One row per option, so each description is translated on its own.
    struct Row {
        const char *option;
        const char *description;
    };
    static const Row rows[] = {
        {"--config FILE", kvex::tr("INI file with the same keys (command line wins)")},
        {"--rate HZ", kvex::tr("poll slower than the wire rate")},
        {"--mqtt HOST[:PORT]", kvex::tr("publish to this MQTT broker (port 1883)")},
        {"--topic-prefix P", kvex::tr("topics under P (kvex/<host>-<port name>)")},
        {"--meas-qos N", kvex::tr("QoS of meas (0); --state-qos N of status/info/params (1)")},
        {"--cafile F --cert F --key F", kvex::tr("TLS to the broker")},
        {"--username U --password-file F", kvex::tr("or KVEX_MQTT_PASSWORD in the environment")},
        {"--client-id ID", kvex::tr("MQTT client id (kvex-rtn-<host>-<port name>)")},
        {"--batch N", kvex::tr("N samples per meas message (1)")},
        {"--queue N", kvex::tr("samples kept while the broker is away (100000)")},
        {"--replay-rate N", kvex::tr("late messages per second once it is back (500)")},
        {"--modbus [ADDR:]PORT", kvex::tr("Modbus TCP server (address 127.0.0.1)")},
        {"--unit-id N", kvex::tr("Modbus unit id answered (255)")},
        {"--modbus-max-per-address N --modbus-max-connections N",
         kvex::tr("Modbus connections held from one address (8) and in all (64)")},
        {"--modbus-idle-timeout D",
         kvex::tr("Modbus connections without a request for this long are closed (60s; 0: never)")},
        {"--word-order swap", kvex::tr("32-bit registers low word first")},
        {"--low-latency off", kvex::tr("do not ask a USB adapter for low latency (on)")},
        {"--store FILE", kvex::tr("keep every sample in this SQLite file until it is published")},
        {"--store-max-mb M", kvex::tr("bound the store's file to M MiB (oldest go first)")},
        {"--http [ADDR:]PORT", kvex::tr("web page, JSON API and metrics (address 127.0.0.1)")},
        {"--http-token-file F", kvex::tr("turns on writes from the web with the token in F")},
        {"--http-cert F --http-key F", kvex::tr("TLS for the web page (SIGHUP reads them again)")},
        {"--http-allowed-hosts NAMES",
         kvex::tr("host names the page is reached by besides its addresses, localhost and this "
                  "machine's name (comma-separated)")},
        {"--http-max-connections N", kvex::tr("web clients held at once (10000)")},
        {"--http-max-per-address N", kvex::tr("web clients from one address (1000)")},
        {"--http-request-timeout S", kvex::tr("seconds a request may take to come (10)")},
        {"--http-keep-alive S", kvex::tr("seconds an idle connection is kept (5)")},
        {"--http-page-timeout S", kvex::tr("a silent live page is pinged, then closed (60)")},
        {"--http-page-queue N", kvex::tr("messages waiting for a slow page (256)")},
        {"--http-max-header-bytes N", kvex::tr("request line and headers (16384)")},
        {"--http-max-body-bytes N", kvex::tr("request body (65536)")},
        {"--reserve-every D", kvex::tr("a video line for the signal reserve every D (10m; 0 off)")},
        {"--reserve-warn R", kvex::tr("health warns below this signal reserve (0.3)")},
        {"--golden FILE", kvex::tr("the approved parameter set the sensor is compared with")},
        {"--drift-every D",
         kvex::tr("read RAM and EEPROM and compare them every D (1h; 0 off; at least 1m)")},
        {"--sparkplug GROUP", kvex::tr("Sparkplug B edge node in GROUP beside the JSON topics")},
        {"--sparkplug-node ID", kvex::tr("its edge node id (<host>-<port name>)")},
        {"--sparkplug-device ID", kvex::tr("the sensor's device id (sensor)")},
        {"--sparkplug-host ID", kvex::tr("publish only while this primary host is online")},
        {"--sparkplug-commands", kvex::tr("take DCMD writes, teach and reset (off)")},
        {"--json-topics off", kvex::tr("leave the JSON topics out (on)")},
        {"--opcua [ADDR:]PORT", kvex::tr("OPC UA server (address 127.0.0.1)")},
        {"--opcua-device NAME", kvex::tr("the sensor's name under DeviceSet (sensor)")},
        {"--opcua-cert F --opcua-key F",
         kvex::tr("the OPC UA server's certificate (made and kept at the first start)")},
        {"--opcua-trust DIR", kvex::tr("trust only the client certificates in DIR (any)")},
        {"--opcua-users F",
         kvex::tr("OPC UA users, NAME:read|write:HASH a line (openssl passwd -6)")},
        {"--opcua-anonymous off", kvex::tr("no reading without a user (on)")},
    };
    std::string help =
        kvex::trNow("serve: polls the sensor in run mode and publishes every measurement.");
    help += "\n";
    for (const Row &row : rows) {
        std::string option = std::string("  ") + row.option;
        option.resize(std::max<std::size_t>(option.size() + 1, 25), ' ');
        help += option + kvex::trNow(row.description) + "\n";
    }
    return help;
}
