// The gateway's settings: command-line words and INI keys share one set of names.
#pragma once

#include "platform/httpserver.h"
#include "platform/modbusserver.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct GatewayOptions {
    std::string config;
    bool mqtt = false;
    std::string mqttHost;
    int mqttPort = 1883;
    std::string topicPrefix;
    int measQos = 0;
    int stateQos = 1;
    std::string cafile, cert, key;
    std::string username;
    std::string passwordFile;
    // From the INI file or the environment only.
    std::string password;
    std::string clientId;
    int batch = 1;
    std::size_t queue = 100000;
    // Samples per second; 0 polls at the wire rate.
    double rate = 0.0;
    // Replayed messages per second while a backlog drains.
    double replayRate = 500.0;
    bool modbus = false;
    std::string modbusAddress = "127.0.0.1";
    int modbusPort = 0;
    int unitId = 255;
    bool swapWords = false;
    // Connections the Modbus server holds: per client address, in all, and how long one may idle.
    ModbusLimits modbusLimits;
    // Ask a USB adapter's driver for low latency when the port opens.
    bool lowLatency = true;
    // The SQLite file every sample goes into before it is published; empty: memory only.
    std::string store;
    // Bound on the store's file in MiB; 0: only --queue bounds it.
    std::size_t storeMaxMb = 0;
    // The web page, JSON API and metrics; writes only with a token file.
    bool http = false;
    std::string httpAddress = "127.0.0.1";
    int httpPort = 0;
    std::string httpTokenFile;
    // Read from httpTokenFile at the start; empty: writes are off.
    std::string httpToken;
    std::string httpCert, httpKey;
    // Host names the web face answers to besides its addresses, localhost and the machine's name.
    std::vector<std::string> httpAllowedHosts;
    // The signal reserve: a video line every so many seconds (0: none), and the level below
    // which health warns.
    double reserveEvery = 600.0;
    double reserveWarn = 0.3;
    // The parameter set's drift: the approved set's file (empty: RAM against EEPROM only), and
    // how often RAM and EEPROM are read and compared (0: never).
    std::string golden;
    double driftEvery = 3600.0;
    // Sparkplug B over the same broker connection (gateway/sparkplug/); an empty group: off.
    std::string sparkplugGroup;
    std::string sparkplugNode; // empty: <host>-<port name>
    std::string sparkplugDevice = "sensor";
    std::string sparkplugHost; // the primary host followed; empty: none
    bool sparkplugCommands = false;
    // The OPC UA server (gateway/faces/opcua/): its address and port, and the device's name
    // under DeviceSet.
    bool opcua = false;
    std::string opcuaAddress = "127.0.0.1";
    int opcuaPort = 0;
    std::string opcuaDevice = "sensor";
    // Its certificate and key (empty: made at the first start and kept), the folder of the client
    // certificates it trusts (empty: any), the users file and what serve read from it, and
    // whether anonymous clients may read.
    std::string opcuaCert, opcuaKey, opcuaTrust, opcuaUsers, opcuaUsersText;
    bool opcuaAnonymous = true;
    // The JSON topics; off leaves the broker to Sparkplug alone.
    bool jsonTopics = true;
    // What one web client may take: sizes, time-outs, connection caps, a page's queue.
    HttpLimits httpLimits;
};

using OptionList = std::vector<std::pair<std::string, std::string>>;

// "--key value" and "--key=value" words as key/value pairs; false with a reason.
bool splitOptionWords(const std::vector<std::string> &words, OptionList *options,
                      std::string *error);
// Sets one option; `fromFile` allows the keys that must not appear on a command line.
bool applyOption(GatewayOptions *options, const std::string &key, const std::string &value,
                 bool fromFile, std::string *error);
// "10m", "30s", "1h", "2d" or plain seconds ("0" too) as seconds; false when it is none.
bool parseDuration(const std::string &text, double *seconds);
// What `serve --help` prints.
std::string optionsHelp();
