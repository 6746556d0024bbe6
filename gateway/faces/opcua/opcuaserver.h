// The OPC UA server of the gateway's OPC UA face: open62541 on a thread of its own, the address
// space (the device in the shape of the Devices model, its parameter set, its measurements, the
// gateway's health), and the values the poller's news puts into it. Everything here may be called
// from the poller's thread while the server's thread serves clients: open62541 is built
// thread-safe and each call takes its lock.
#pragma once

#include "gateway/core/state.h"
#include "gateway/core/storedhistory.h"
#include "gateway/faces/opcua/security.h"

#include "gateway/core/wordvalue.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct UA_Server;
struct UA_ServerConfig;

// NAMUR NE 107, as the Devices model numbers it.
enum class DeviceHealth : int32_t {
    Normal = 0,
    Failure = 1,
    CheckFunction = 2,
    OffSpec = 3,
    MaintenanceRequired = 4,
};

// What a client asks of the sensor: a word written, or one of the methods.
struct OpcuaRequest {
    enum class Kind { WriteWord, WriteParameters, Teach, ResetMaxMin, ReadVideoLine };
    Kind kind = Kind::WriteWord;
    std::string user;
    bool eeprom = false;
    std::vector<WordValue> words;
};
// Its outcome: an OPC UA status code, and for a method the web API's answer (JSON) and, for
// ReadVideoLine, the line.
struct OpcuaAnswer {
    uint32_t status = 0;
    std::string result;
    std::vector<uint16_t> line;
};
using OpcuaFinish = std::function<void(OpcuaAnswer)>;
// Called on the server's thread; `finish` may be called from any thread, once.
using OpcuaRequestHandler = std::function<void(OpcuaRequest, OpcuaFinish)>;

struct OpcuaSettings {
    std::string address = "127.0.0.1";
    int port = 4840;
    std::string device = "sensor"; // the device's browse name under DeviceSet
    std::string applicationUri;    // urn:<host>:kvex-rtn:gateway
    std::string host;              // in the endpoint URL and the certificate
    std::string historyFile;       // the store's file; empty: the history in memory only
    OpcuaSecuritySettings security;
    // For the fuzz target, which feeds the server a connection of its own on its own thread:
    // `adjust` sees the configuration before the defaults (an event loop set there replaces the
    // network's) and again once the security is in place; without `ownThread` the caller turns
    // the server with iterate().
    enum class Stage { BeforeDefaults, Secured };
    std::function<void(UA_ServerConfig *, Stage)> adjust;
    bool ownThread = true;
};

class OpcuaServer {
  public:
    OpcuaServer(OpcuaSettings settings, OpcuaRequestHandler handler);
    ~OpcuaServer();
    OpcuaServer(const OpcuaServer &) = delete;
    OpcuaServer &operator=(const OpcuaServer &) = delete;

    // Builds the address space, opens the endpoint and starts the server's thread; false with
    // the reason.
    bool start(std::string *error);
    // Ends the thread; the sessions are closed.
    void stop();
    // One turn of the server without a thread of its own: the network, the poller's news and
    // the answers it has for waiting clients.
    void iterate();

    std::string endpointUrl() const;
    // The security policies the endpoint offers, for the log.
    std::vector<std::string> policies() const;
    // Where a certificate made at this start was kept; empty when none was made.
    const std::string &madeCertificate() const { return madeCertificate_; }
    // The namespace index of the gateway's own nodes.
    uint16_t namespaceIndex() const { return ns_; }

    // The poller's news.
    void setIdentity(const GatewayState &state, const std::string &serialNumber);
    void setParameters(const ParameterSet &params, bool raiseRevision);
    void setSample(const GatewaySample &sample);
    void setReserve(const ReserveHealth &reserve);
    void setHealth(DeviceHealth health);
    void setGateway(const GatewayState &state);
    void setDrift(const DriftHealth &drift);

    // The server's thread's side of an asynchronous operation (a write's value or a method's
    // output, as open62541 names it): a request begins, the server cancels one.
    // `outputs`: a method's output arguments; 0 for a write.
    void begin(void *operation, std::size_t outputs, OpcuaRequest request);
    void cancelled(const void *operation);
    // Operations begun and neither answered nor cancelled yet (the server's thread only).
    std::size_t waiting() const { return live_.size(); }
    int32_t parameterValue(int word) const;
    // The samples kept for HistoryRead whose time lies in [fromMs, toMs]: at most `count`,
    // oldest first from `after` on, or the newest first; `more` says whether others in the range
    // follow. From the store's file and, for what it lacks (no store, or a failing file),
    // memory. The server's thread only.
    std::vector<GatewaySample> history(int64_t fromMs, int64_t toMs, HistoryCursor after,
                                       std::size_t count, bool newestFirst, bool *more);

  private:
    struct Done {
        void *operation;
        bool method;
        OpcuaAnswer answer;
    };
    void run();
    void turn(bool wait);
    void post(std::function<void()> update);
    // On the server's thread.
    void applyUpdates();
    void applyIdentity(const GatewayState &state, const std::string &serialNumber);
    void applyRevision();
    void applySample(const GatewaySample &sample);
    void applyReserve(const ReserveHealth &reserve);
    void applyHealth(DeviceHealth health);
    void applyGateway(const GatewayState &state);
    void applyDrift(const DriftHealth &drift);
    std::size_t sessions() const;
    void finishDone();
    bool buildAddressSpace(std::string *error);

    OpcuaSettings s_;
    OpcuaRequestHandler handler_;
    OpcuaAccess access_;
    // Operations waiting for the poller (the server's thread only), and those it has answered.
    std::map<const void *, std::size_t> live_; // an operation and its method's outputs
    // Sessions not activated yet, oldest first: their ids as text and when they were created
    // (the server's thread only).
    std::deque<std::pair<std::string, double>> unactivated_;
    std::mutex doneMutex_;
    std::deque<Done> done_;
    std::mutex updatesMutex_;
    std::deque<std::function<void()>> updates_;
    mutable std::mutex paramsMutex_;
    ParameterSet params_{};
    // The last samples, for a client that was away: about an hour at the wire's rate.
    mutable std::mutex historyMutex_;
    std::deque<GatewaySample> history_;
    std::string madeCertificate_;
    UA_Server *server_ = nullptr;
    uint16_t ns_ = 1;
    std::thread thread_;
    std::atomic<bool> running_{false};
    int32_t revision_ = 0;
    DeviceHealth health_ = DeviceHealth::Failure;
};
