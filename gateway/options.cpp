// Parsing and checking the gateway's options; the INI file uses the same key names.
#include "gateway/options.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Options that take no value.
bool isFlag(const std::string &key) {
    return key == "help";
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

bool splitOptionWords(const std::vector<std::string> &words, OptionList *options,
                      std::string *error) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (word.rfind("--", 0) != 0 || word.size() < 3) {
            *error = "unexpected word: " + word;
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
            *error = "--" + body + " needs a value";
            return false;
        }
    }
    return true;
}

bool applyOption(GatewayOptions *o, const std::string &rawKey, const std::string &value,
                 bool fromFile, std::string *error) {
    // QSettings puts keys of an INI file without a section under "General".
    const std::string key = rawKey.rfind("General/", 0) == 0 ? rawKey.substr(8) : rawKey;
    long n = 0;
    auto bad = [&](const char *what) {
        *error = "--" + key + ": " + what;
        // A secret is not repeated into the log.
        if (key != "password")
            *error += " (got \"" + value + "\")";
        return false;
    };
    if (key == "config") {
        if (fromFile)
            return bad("not allowed inside a config file");
        o->config = value;
    } else if (key == "mqtt") {
        if (!parseHostPort(value, &o->mqttHost, &o->mqttPort, false))
            return bad("expected HOST[:PORT]");
        o->mqtt = true;
    } else if (key == "topic-prefix") {
        if (value.empty() || value.find_first_of("+#") != std::string::npos)
            return bad("expected a topic without + or #");
        o->topicPrefix = value;
    } else if (key == "meas-qos" || key == "state-qos") {
        if (!parseInt(value, 0, 2, &n))
            return bad("expected 0, 1 or 2");
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
            return bad("a password on the command line is visible to every user; use "
                       "--password-file, the config file or KVEX_MQTT_PASSWORD");
        o->password = value;
    } else if (key == "client-id") {
        o->clientId = value;
    } else if (key == "batch") {
        if (!parseInt(value, 1, 1000, &n))
            return bad("expected 1 to 1000");
        o->batch = static_cast<int>(n);
    } else if (key == "queue") {
        if (!parseInt(value, 1, 10000000, &n))
            return bad("expected 1 to 10000000");
        o->queue = static_cast<std::size_t>(n);
    } else if (key == "rate" || key == "replay-rate") {
        char *end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !(v > 0.0 && v <= 100000.0))
            return bad("expected a positive number");
        (key == "rate" ? o->rate : o->replayRate) = v;
    } else if (key == "modbus") {
        if (!parseHostPort(value, &o->modbusAddress, &o->modbusPort, true))
            return bad("expected [ADDR:]PORT");
        o->modbus = true;
    } else if (key == "unit-id") {
        if (!parseInt(value, 0, 255, &n))
            return bad("expected 0 to 255");
        o->unitId = static_cast<int>(n);
    } else if (key == "word-order") {
        if (value != "normal" && value != "swap")
            return bad("expected normal or swap");
        o->swapWords = value == "swap";
    } else if (key == "low-latency") {
        if (value != "on" && value != "off")
            return bad("expected on or off");
        o->lowLatency = value == "on";
    } else {
        *error = "unknown option --" + key;
        return false;
    }
    return true;
}

std::string optionsHelp() {
    return "serve: polls the sensor in run mode and publishes every measurement.\n"
           "  --config FILE          INI file with the same keys (command line wins)\n"
           "  --rate HZ              poll slower than the wire rate\n"
           "  --mqtt HOST[:PORT]     publish to this MQTT broker (port 1883)\n"
           "  --topic-prefix P       topics under P (kvex/<host>-<port name>)\n"
           "  --meas-qos N           QoS of meas (0); --state-qos N of status/info/params (1)\n"
           "  --cafile F --cert F --key F   TLS to the broker\n"
           "  --username U --password-file F   or KVEX_MQTT_PASSWORD in the environment\n"
           "  --client-id ID         MQTT client id (kvex-rtn-<host>-<port name>-<pid>)\n"
           "  --batch N              N samples per meas message (1)\n"
           "  --queue N              samples kept while the broker is away (100000)\n"
           "  --replay-rate N        late messages per second once it is back (500)\n"
           "  --modbus [ADDR:]PORT   Modbus TCP server (address 127.0.0.1)\n"
           "  --unit-id N            Modbus unit id answered (255)\n"
           "  --word-order swap      32-bit registers low word first\n"
           "  --low-latency off      do not ask a USB adapter for low latency (on)\n";
}
