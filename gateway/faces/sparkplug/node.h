// The gateway as a Sparkplug B edge node with one device, the sensor: topics, the birth and death
// certificates, the node's bdSeq (kept on disk across restarts) and seq, what the primary host's
// STATE allows, and what an NCMD or DCMD asks. It builds messages and reads them; the gateway's
// one MQTT client sends and receives them beside the JSON topics.
#pragma once

#include "gateway/core/state.h"
#include "gateway/core/wordwrites.h"

#include <cstdint>
#include <string>
#include <vector>

struct SparkplugSettings {
    std::string group, node, device;
    // The primary host whose STATE the node follows; empty: none.
    std::string primaryHost;
    // Where the last bdSeq is kept.
    std::string bdSeqFile;
    // The gateway's version, in NBIRTH.
    std::string version;
};

struct SparkplugMessage {
    std::string topic;
    std::string payload;
};

// What a message from the broker asks of the gateway.
struct SparkplugRequest {
    enum Kind { None, Rebirth, HostOnline, HostOffline, Command } kind = None;
    // The broker kept the command: it is refused, whatever it asks.
    bool retained = false;
    // Command: the words for RAM (Parameters/<name>) and EEPROM (EEPROM/<name>), teach and reset.
    std::vector<WordValue> ram, eeprom;
    bool teach = false, reset = false;
    // Command: what the gateway does not take (an unknown metric, a wrong type); empty: none.
    std::string refusal;
    // Command: "Parameters/t_val=100, Device Control/Teach", for the audit.
    std::string what;
};

// Sparkplug's rule for group, node and device ids: not empty, valid UTF-8 (checked as
// printable), none of '/', '+', '#'.
bool validSparkplugId(const std::string &id);
// <host>-<port name> with the characters Sparkplug forbids in an id replaced.
std::string defaultSparkplugNode(const std::string &host, const std::string &devicePath);
// Where the bdSeq is kept: beside the store, else in systemd's STATE_DIRECTORY, else under
// XDG_STATE_HOME (~/.local/state) in kvex-rtn/.
std::string sparkplugBdSeqFile(const std::string &store, const std::string &group,
                               const std::string &node);

class SparkplugNode {
  public:
    explicit SparkplugNode(SparkplugSettings settings);

    // The will for the next connection: NDEATH with a bdSeq one more than the last (0 after 255,
    // 0 the first time), written to disk first. `error` says why it could not be kept.
    SparkplugMessage nextWill(std::string *error);
    // The filters to subscribe on every new connection, before any birth.
    std::vector<std::string> subscriptions() const;

    void connectionUp();
    void connectionLost();
    // Whether births may go now: connected, births not sent, the primary host (if any) online.
    bool birthDue() const { return up_ && !born_ && hostOnline_; }
    // Whether NBIRTH went on this connection and the host has not gone since: data may go.
    bool live() const { return up_ && born_; }
    bool deviceLive() const { return live() && deviceBorn_; }

    // NBIRTH with the gateway's health, then DBIRTH when the sensor answers, with its identity,
    // words and last sample.
    std::vector<SparkplugMessage> births(const GatewayState &state);
    SparkplugMessage deviceBirth(const GatewayState &state);
    SparkplugMessage deviceDeath();
    // DDATA: every sample's values at its own time (is_historical for those sent late), the
    // words that changed since the last DDATA or birth, and the last command's result.
    SparkplugMessage deviceData(const std::vector<GatewaySample> &samples,
                                const ParameterSet &params);
    // DDATA with the last drift check's Drift/ metrics.
    SparkplugMessage driftData(const DriftHealth &drift);
    // NDATA with the health figures that changed; false when none did.
    bool nodeData(const GatewayState &state, SparkplugMessage *message);
    // The NDEATH the node sends itself before it stops or while the primary host is away.
    SparkplugMessage nodeDeath();
    // After it the node waits for the host's next online (or a rebirth) to birth again.
    void died() { born_ = false; }

    // What a message on one of the subscriptions asks.
    SparkplugRequest handle(const std::string &topic, const std::string &payload,
                            bool retained = false);
    // The result of a command, for the next DDATA; the words are sent whole with it, so a
    // host's tag that was refused shows the sensor's value again.
    void commandAnswered(const std::string &result);

    const SparkplugSettings &settings() const { return s_; }
    uint64_t bdSeq() const { return bdSeq_; }

  private:
    std::string topic(const char *type, bool device) const;
    uint64_t nextSeq();

    SparkplugSettings s_;
    uint64_t bdSeq_ = 0;
    uint64_t seq_ = 0;
    bool up_ = false, born_ = false, deviceBorn_ = false, hostOnline_ = true;
    uint64_t hostTimestamp_ = 0;
    ParameterSet paramsSent_{};
    bool sendAllParams_ = false;
    std::string answer_;
    bool answerWaiting_ = false;
    // The health figures as the last NBIRTH or NDATA gave them.
    GatewayState healthSent_;
};
