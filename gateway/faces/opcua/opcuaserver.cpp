// The open62541 server: its configuration, its thread and the gateway's nodes. The node ids are
// strings in the gateway's own namespace, the path of browse names below Objects
// ("sensor/Measurements/value"), so a client's configuration reads like the tree it browses.
#include "gateway/faces/opcua/opcuaserver.h"
#include "app/jsontext.h"
#include "app/parameterwords.h"
#include "gateway/core/logging.h"

#include <open62541.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>

namespace {

// A value of the Devices model's nameplate and of the measurements: the types the model gives.
struct Unit {
    int32_t id;           // UNECE common code as the OPC UA units table encodes it; -1: none
    const char *display;  // what a client shows
    const char *describe; // what it is
};

int32_t unece(const char *code) {
    int32_t id = 0;
    for (const char *c = code; *c; ++c)
        id = (id << 8) | static_cast<unsigned char>(*c);
    return id;
}

const Unit kPositions = {-1, "positions", "the sensor's sub-pixel positions across the line"};
const Unit kMicrometres = {unece("4H"), "µm", "micrometre"};
const Unit kRatio = {unece("C62"), "1", "one (a ratio)"};
const Unit kCounts = {-1, "counts", "the video line's A/D counts"};
// The most samples one HistoryRead answer gives before a continuation point.
constexpr std::size_t kHistoryPerAnswer = 10000;
// How long the poller's news may wait for the server's thread.
constexpr double kUpdateIntervalMs = 10.0;
// How long a created session may wait for its activation: as long as the stack gives a new
// connection for its Hello and OpenSecureChannel.
constexpr double kActivationSeconds = 10.0;

UA_DateTime fromUnixMs(int64_t ms) {
    return UA_DATETIME_UNIX_EPOCH + static_cast<UA_DateTime>(ms) * UA_DATETIME_MSEC;
}

// open62541's own messages of warning level and above go to the gateway's log, at most 20 a
// minute (a client that tries again and again must not fill the journal); its chatter about each
// connection does not, nor its warnings about rules the server replaces before it starts (the
// default access rules, passwords over the None policy, which the login refuses) or has chosen
// (any client certificate without --opcua-trust).
void logFromStack(void *, UA_LogLevel level, UA_LogCategory, const char *msg, va_list args) {
    if (level < UA_LOGLEVEL_WARNING)
        return;
    for (const char *replaced :
         {"AccessControl: Unconfigured", "x509 Certificate Authentication",
          "Username/Password Authentication configured", "No certificate store configured",
          "Ignoring client certificate on SecurityPolicy None"})
        if (std::strstr(msg, replaced))
            return;
    static std::mutex mutex;
    static double windowStart = -1e9;
    static int inWindow = 0, left = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const double now = steadySeconds();
        if (now - windowStart >= 60.0) {
            if (left > 0)
                logEvent("OPC UA: %d more messages of the stack left out in the last minute", left);
            windowStart = now;
            inWindow = left = 0;
        }
        if (++inWindow > 20) {
            ++left;
            return;
        }
    }
    UA_String text = UA_STRING_NULL;
    va_list copy;
    va_copy(copy, args);
    UA_String_vformat(&text, msg, copy);
    va_end(copy);
    logEvent("OPC UA: %.*s", static_cast<int>(text.length),
             reinterpret_cast<const char *>(text.data));
    UA_String_clear(&text);
}

void readRawHistory(UA_Server *server, void *, const UA_NodeId *, void *, const UA_RequestHeader *,
                    const UA_ReadRawModifiedDetails *details, UA_TimestampsToReturn,
                    UA_Boolean releaseContinuationPoints, size_t nodesToReadSize,
                    const UA_HistoryReadValueId *nodesToRead, UA_HistoryReadResponse *response,
                    UA_HistoryData *const *const historyData);

void clearLogger(UA_Logger *logger) {
    UA_free(logger);
}

// The stack sends each answer whole before it turns to anything else, however long the client
// takes to read it: one that asks and never reads would hold the server's thread, and every other
// client, for good. The kernel drops a connection whose peer has taken nothing for 5 s (the whole
// face waits that long); the connections inherit this from the listening sockets, which the
// stack does not hand out.
void dropStalledPeers(int port) {
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const int fd = std::atoi(entry.path().filename().c_str());
        int listening = 0;
        socklen_t length = sizeof listening;
        sockaddr_storage address{};
        socklen_t addressLength = sizeof address;
        if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &addressLength) != 0)
            continue;
        const in_port_t bound = address.ss_family == AF_INET6
                                    ? reinterpret_cast<const sockaddr_in6 &>(address).sin6_port
                                    : reinterpret_cast<const sockaddr_in &>(address).sin_port;
        const unsigned int ms = 5000;
        if (ntohs(bound) == port)
            ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, sizeof ms);
    }
}

} // namespace

OpcuaServer::OpcuaServer(OpcuaSettings settings, OpcuaRequestHandler handler)
    : s_(std::move(settings)), handler_(std::move(handler)) {}

OpcuaServer::~OpcuaServer() {
    stop();
}

std::string OpcuaServer::endpointUrl() const {
    return "opc.tcp://" + s_.address + ":" + std::to_string(s_.port);
}

std::vector<std::string> OpcuaServer::policies() const {
    std::vector<std::string> out;
    if (!server_)
        return out;
    const UA_ServerConfig *config = UA_Server_getConfig(server_);
    for (size_t i = 0; i < config->securityPoliciesSize; ++i) {
        const UA_String &uri = config->securityPolicies[i].policyUri;
        std::string name(reinterpret_cast<const char *>(uri.data), uri.length);
        out.push_back(name.substr(name.find('#') + 1));
    }
    return out;
}

bool OpcuaServer::start(std::string *error) {
    UA_ServerConfig config;
    std::memset(&config, 0, sizeof config);
    auto *logger = static_cast<UA_Logger *>(UA_calloc(1, sizeof(UA_Logger)));
    logger->log = logFromStack;
    logger->clear = clearLogger;
    config.logging = logger;
    if (s_.adjust)
        s_.adjust(&config, OpcuaSettings::Stage::BeforeDefaults);
    std::string cert, key;
    if (!loadServerCertificate(s_.security, logger, &cert, &key, &madeCertificate_, error)) {
        UA_free(logger);
        return false;
    }
    UA_ByteString certificate;
    certificate.length = cert.size();
    certificate.data = reinterpret_cast<UA_Byte *>(cert.data());
    if (UA_ServerConfig_setMinimal(&config, static_cast<UA_UInt16>(s_.port), &certificate) !=
        UA_STATUSCODE_GOOD) {
        UA_ServerConfig_clear(&config);
        *error = "the server's configuration failed";
        return false;
    }
    // Listen on the address given only, as the web and Modbus faces do.
    UA_Array_delete(config.serverUrls, config.serverUrlsSize, &UA_TYPES[UA_TYPES_STRING]);
    config.serverUrls = UA_String_new();
    *config.serverUrls = UA_String_fromChars(endpointUrl().c_str());
    config.serverUrlsSize = 1;
    UA_String_clear(&config.applicationDescription.applicationUri);
    config.applicationDescription.applicationUri = UA_String_fromChars(s_.applicationUri.c_str());
    UA_LocalizedText_clear(&config.applicationDescription.applicationName);
    config.applicationDescription.applicationName =
        UA_LOCALIZEDTEXT_ALLOC("en", "K-VEX-RTN gateway");
    UA_String_clear(&config.buildInfo.productName);
    config.buildInfo.productName = UA_String_fromChars("kvex-rtn gateway");
    // The sensor answers at most about 27 times a second: a client sampling faster than every
    // 5 ms gets nothing more, and sampling interval 0 samples at every answer.
    config.samplingIntervalLimits.min = 0.0;
    config.queueSizeLimits.max = 1000;
    // HistoryRead on the measurements, from the samples kept in memory.
    config.historizingEnabled = true;
    config.historyDatabase.context = this; // the server looks for one before it reads
    config.historyDatabase.readRaw = readRawHistory;
    config.accessHistoryDataCapability = true;
    config.maxReturnDataValues = kHistoryPerAnswer;
    // Sensor work waits for the poller: the job's own deadline comes first.
    config.asyncOperationTimeout = 60000.0;
    config.maxAsyncOperationQueueSize = 64;
    config.asyncOperationCancelCallback = [](UA_Server *server, const void *operation) {
        auto *access = static_cast<OpcuaAccess *>(UA_Server_getConfig(server)->context);
        static_cast<OpcuaServer *>(access->owner)->cancelled(operation);
    };
    // A request is a few kB at most: without a limit the stack would gather up to 512 MB of
    // chunks for one message, on each of its channels.
    config.tcpMaxMsgSize = 1 << 20;
    // A session takes one of the server's places from CreateSession on, and the stack keeps one
    // never activated as long as its channel stays open: a client could create sessions and lock
    // every other client out. Those not activated in time are closed (below).
    config.sessionNotificationCallback = [](UA_Server *server, UA_ApplicationNotificationType type,
                                            const UA_KeyValueMap payload) {
        const auto *id = static_cast<const UA_NodeId *>(UA_KeyValueMap_getScalar(
            &payload, UA_QUALIFIEDNAME(0, const_cast<char *>("session-id")),
            &UA_TYPES[UA_TYPES_NODEID]));
        if (!id)
            return;
        UA_String printed = UA_STRING_NULL;
        UA_NodeId_print(id, &printed);
        const std::string key(reinterpret_cast<const char *>(printed.data), printed.length);
        UA_String_clear(&printed);
        auto &waiting = static_cast<OpcuaServer *>(
                            static_cast<OpcuaAccess *>(UA_Server_getConfig(server)->context)->owner)
                            ->unactivated_;
        waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                                     [&](const auto &w) { return w.first == key; }),
                      waiting.end());
        if (type == UA_APPLICATIONNOTIFICATIONTYPE_SESSION_CREATED)
            waiting.emplace_back(key, steadySeconds());
    };
    access_.owner = this;
    if (!configureSecurity(&config, s_.security, cert, key, &access_, error)) {
        UA_ServerConfig_clear(&config);
        return false;
    }
    if (s_.adjust)
        s_.adjust(&config, OpcuaSettings::Stage::Secured);
    server_ = UA_Server_newWithConfig(&config);
    if (!server_) {
        *error = "the server could not be made";
        return false;
    }
    ns_ = UA_Server_addNamespace(server_, ("urn:" + s_.host + ":kvex-rtn:gateway").c_str());
    if (!buildAddressSpace(error))
        return false;
    if (const UA_StatusCode code = UA_Server_run_startup(server_); code != UA_STATUSCODE_GOOD) {
        *error = std::string("the server did not start (") + UA_StatusCode_name(code) +
                 "; the port may be taken)";
        UA_Server_delete(server_);
        server_ = nullptr;
        return false;
    }
    dropStalledPeers(s_.port);
    UA_Server_addRepeatedCallback(
        server_,
        [](UA_Server *server, void *self) {
            auto &waiting = static_cast<OpcuaServer *>(self)->unactivated_;
            while (!waiting.empty() &&
                   steadySeconds() - waiting.front().second > kActivationSeconds) {
                const std::string key = waiting.front().first;
                waiting.pop_front();
                UA_NodeId id;
                if (UA_NodeId_parse(&id, UA_STRING(const_cast<char *>(key.c_str()))) ==
                    UA_STATUSCODE_GOOD) {
                    UA_Server_closeSession(server, &id);
                    UA_NodeId_clear(&id);
                }
            }
        },
        this, 1000.0, nullptr);
    // The loop waits for the network at most this long, so the poller's news is in the address
    // space within a fraction of a cycle of the wire.
    UA_Server_addRepeatedCallback(
        server_, [](UA_Server *, void *) {}, nullptr, kUpdateIntervalMs, nullptr);
    running_ = true;
    if (s_.ownThread)
        thread_ = std::thread([this] { run(); });
    return true;
}

void OpcuaServer::run() {
    // Named, so a look at the process's threads finds it.
    pthread_setname_np(pthread_self(), "kvex-opcua");
    while (running_)
        turn(true);
}

void OpcuaServer::iterate() {
    if (server_ && !s_.ownThread)
        turn(false);
}

void OpcuaServer::turn(bool wait) {
    UA_Server_run_iterate(server_, wait);
    applyUpdates();
    finishDone();
}

void OpcuaServer::begin(void *operation, std::size_t outputs, OpcuaRequest request) {
    live_[operation] = outputs;
    const bool method = outputs > 0;
    handler_(std::move(request), [this, operation, method](OpcuaAnswer answer) {
        const std::lock_guard<std::mutex> lock(doneMutex_);
        done_.push_back({operation, method, std::move(answer)});
    });
}

void OpcuaServer::cancelled(const void *operation) {
    live_.erase(operation);
}

// On the server's thread, between two of its iterations: an operation the server has cancelled
// meanwhile (its session closed) is no longer there to be answered, and its memory is gone.
void OpcuaServer::finishDone() {
    std::deque<Done> done;
    {
        const std::lock_guard<std::mutex> lock(doneMutex_);
        done.swap(done_);
    }
    for (Done &d : done) {
        const auto it = live_.find(d.operation);
        if (it == live_.end())
            continue;
        const std::size_t outputs = it->second;
        live_.erase(it);
        if (!d.method) {
            UA_Server_setAsyncWriteResult(server_, static_cast<const UA_DataValue *>(d.operation),
                                          d.answer.status);
            continue;
        }
        auto *out = static_cast<UA_Variant *>(d.operation);
        std::size_t next = 0;
        if (outputs == 2) {
            UA_Variant_setArrayCopy(&out[next++], d.answer.line.data(), d.answer.line.size(),
                                    &UA_TYPES[UA_TYPES_UINT16]);
        }
        if (outputs >= 1) {
            UA_String text = UA_String_fromChars(d.answer.result.c_str());
            UA_Variant_setScalarCopy(&out[next], &text, &UA_TYPES[UA_TYPES_STRING]);
            UA_String_clear(&text);
        }
        UA_Server_setAsyncCallMethodResult(server_, out, d.answer.status);
    }
}

std::vector<GatewaySample> OpcuaServer::history(int64_t fromMs, int64_t toMs, HistoryCursor after,
                                                std::size_t count, bool newestFirst, bool *more) {
    // One more than asked from each source says whether more follow.
    std::vector<GatewaySample> kept;
    {
        const std::lock_guard<std::mutex> lock(historyMutex_);
        auto inRange = [&](const GatewaySample &s) {
            return s.timeMs >= fromMs && s.timeMs <= toMs && (newestFirst || atOrAfter(s, after));
        };
        if (newestFirst) {
            for (auto it = history_.rbegin(); it != history_.rend() && kept.size() <= count; ++it)
                if (inRange(*it))
                    kept.push_back(*it);
                else if (it->timeMs < fromMs)
                    break;
        } else {
            auto it =
                std::lower_bound(history_.begin(), history_.end(), std::max(fromMs, after.timeMs),
                                 [](const GatewaySample &s, int64_t ms) { return s.timeMs < ms; });
            for (; it != history_.end() && it->timeMs <= toMs && kept.size() <= count; ++it)
                if (inRange(*it))
                    kept.push_back(*it);
        }
    }
    std::vector<GatewaySample> stored;
    if (!s_.historyFile.empty())
        readStoredHistory(s_.historyFile, fromMs, toMs, after, count + 1, newestFirst, &stored);
    // Both in the order asked; a sample both hold (the same time) is given once.
    const auto before = [newestFirst](const GatewaySample &a, const GatewaySample &b) {
        return newestFirst ? a.timeMs > b.timeMs : a.timeMs < b.timeMs;
    };
    std::vector<GatewaySample> out;
    out.reserve(std::min(count + 1, stored.size() + kept.size()));
    std::merge(stored.begin(), stored.end(), kept.begin(), kept.end(), std::back_inserter(out),
               before);
    out.erase(std::unique(out.begin(), out.end(),
                          [](const GatewaySample &a, const GatewaySample &b) {
                              return a.timeMs == b.timeMs;
                          }),
              out.end());
    *more = out.size() > count;
    if (*more)
        out.resize(count);
    return out;
}

int32_t OpcuaServer::parameterValue(int word) const {
    const std::lock_guard<std::mutex> lock(paramsMutex_);
    return params_[word];
}

void OpcuaServer::stop() {
    if (!server_)
        return;
    running_ = false;
    if (thread_.joinable())
        thread_.join();
    UA_Server_run_shutdown(server_);
    UA_Server_delete(server_);
    server_ = nullptr;
}

std::size_t OpcuaServer::sessions() const {
    if (!server_)
        return 0;
    UA_Variant value;
    UA_Variant_init(&value);
    std::size_t count = 0;
    if (UA_Server_readValue(
            server_,
            UA_NODEID_NUMERIC(
                0, UA_NS0ID_SERVER_SERVERDIAGNOSTICS_SERVERDIAGNOSTICSSUMMARY_CURRENTSESSIONCOUNT),
            &value) == UA_STATUSCODE_GOOD &&
        UA_Variant_hasScalarType(&value, &UA_TYPES[UA_TYPES_UINT32]))
        count = *static_cast<UA_UInt32 *>(value.data);
    UA_Variant_clear(&value);
    return count;
}

// ---- the address space ---------------------------------------------------------------------

namespace {

OpcuaServer *ownerOf(UA_Server *server) {
    auto *access = static_cast<OpcuaAccess *>(UA_Server_getConfig(server)->context);
    return static_cast<OpcuaServer *>(access->owner);
}

UA_StatusCode readParameter(UA_Server *server, const UA_NodeId *, void *, const UA_NodeId *,
                            void *nodeContext, UA_Boolean, const UA_NumericRange *range,
                            UA_DataValue *value) {
    if (range) {
        value->hasStatus = true;
        value->status = UA_STATUSCODE_BADINDEXRANGEINVALID;
        return UA_STATUSCODE_GOOD;
    }
    const int word = static_cast<int>(reinterpret_cast<intptr_t>(nodeContext));
    UA_UInt16 v = static_cast<UA_UInt16>(ownerOf(server)->parameterValue(word));
    UA_Variant_setScalarCopy(&value->value, &v, &UA_TYPES[UA_TYPES_UINT16]);
    value->hasValue = true;
    return UA_STATUSCODE_GOOD;
}

// A word written by a client goes to the poller, which writes RAM, reads it back and audits it;
// the client is answered then.
UA_StatusCode writeParameter(UA_Server *server, const UA_NodeId *, void *sessionContext,
                             const UA_NodeId *, void *nodeContext, const UA_NumericRange *range,
                             const UA_DataValue *value) {
    if (range)
        return UA_STATUSCODE_BADINDEXRANGEINVALID;
    if (!value->hasValue || !UA_Variant_hasScalarType(&value->value, &UA_TYPES[UA_TYPES_UINT16]))
        return UA_STATUSCODE_BADTYPEMISMATCH;
    const int word = static_cast<int>(reinterpret_cast<intptr_t>(nodeContext));
    OpcuaRequest request;
    request.kind = OpcuaRequest::Kind::WriteWord;
    request.user = opcuaUserName(sessionContext);
    request.words.push_back(
        {parameterJsonKey(word), *static_cast<const UA_UInt16 *>(value->value.data)});
    ownerOf(server)->begin(const_cast<UA_DataValue *>(value), 0, std::move(request));
    return UA_STATUSCODE_GOODCOMPLETESASYNCHRONOUSLY;
}

std::string text(const UA_String &s) {
    return std::string(reinterpret_cast<const char *>(s.data), s.length);
}

UA_StatusCode callMethod(UA_Server *server, const UA_NodeId *, void *sessionContext,
                         const UA_NodeId *, void *methodContext, const UA_NodeId *, void *,
                         size_t inputSize, const UA_Variant *input, size_t outputSize,
                         UA_Variant *output) {
    OpcuaRequest request;
    request.kind = static_cast<OpcuaRequest::Kind>(reinterpret_cast<intptr_t>(methodContext));
    request.user = opcuaUserName(sessionContext);
    if (request.kind == OpcuaRequest::Kind::WriteParameters) {
        // The server has checked each argument's type and rank against the method's own.
        if (inputSize != 3)
            return UA_STATUSCODE_BADARGUMENTSMISSING;
        const std::string target = text(*static_cast<const UA_String *>(input[0].data));
        if (target != "ram" && target != "eeprom")
            return UA_STATUSCODE_BADINVALIDARGUMENT;
        request.eeprom = target == "eeprom";
        const auto *names = static_cast<const UA_String *>(input[1].data);
        const auto *values = static_cast<const UA_UInt16 *>(input[2].data);
        if (input[1].arrayLength != input[2].arrayLength || input[1].arrayLength == 0)
            return UA_STATUSCODE_BADINVALIDARGUMENT;
        for (size_t i = 0; i < input[1].arrayLength; ++i)
            request.words.push_back({text(names[i]), values[i]});
    }
    ownerOf(server)->begin(output, outputSize, std::move(request));
    return UA_STATUSCODE_GOODCOMPLETESASYNCHRONOUSLY;
}

int64_t toUnixMs(UA_DateTime t) {
    return (t - UA_DATETIME_UNIX_EPOCH) / UA_DATETIME_MSEC;
}

// One measurement of a sample as the node of that name gives it.
void sampleValue(const std::string &name, const GatewaySample &s, UA_Variant *v) {
    UA_Variant_init(v);
    UA_UInt16 word = 0;
    if (name == "value")
        word = s.value;
    else if (name == "left")
        word = s.left;
    else if (name == "right")
        word = s.right;
    else if (name == "ana_max")
        word = s.anaMax;
    else if (name == "ana_min")
        word = s.anaMin;
    else if (name == "um") {
        if (std::isfinite(s.um))
            UA_Variant_setScalarCopy(v, &s.um, &UA_TYPES[UA_TYPES_DOUBLE]);
        return;
    } else if (name == "in_tol") {
        UA_Boolean b = s.inTol;
        UA_Variant_setScalarCopy(v, &b, &UA_TYPES[UA_TYPES_BOOLEAN]);
        return;
    } else if (name == "seq") {
        UA_Variant_setScalarCopy(v, &s.seq, &UA_TYPES[UA_TYPES_UINT32]);
        return;
    }
    UA_Variant_setScalarCopy(v, &word, &UA_TYPES[UA_TYPES_UINT16]);
}

// HistoryRead (raw) on a measurement: the kept samples in the time range, oldest first (or
// newest first when the range runs backwards), each with its own time; more than an answer
// holds goes on through a continuation point (the next sample's time and seq).
void readRawHistory(UA_Server *server, void *, const UA_NodeId *, void *, const UA_RequestHeader *,
                    const UA_ReadRawModifiedDetails *details, UA_TimestampsToReturn,
                    UA_Boolean releaseContinuationPoints, size_t nodesToReadSize,
                    const UA_HistoryReadValueId *nodesToRead, UA_HistoryReadResponse *response,
                    UA_HistoryData *const *const historyData) {
    OpcuaServer *owner = ownerOf(server);
    const bool backwards = details->endTime != 0 && details->endTime < details->startTime;
    int64_t fromMs = toUnixMs(backwards ? details->endTime : details->startTime);
    int64_t toMs = details->endTime == 0
                       ? INT64_MAX
                       : toUnixMs(backwards ? details->startTime : details->endTime);
    if (details->startTime == 0)
        fromMs = INT64_MIN;
    std::size_t limit = details->numValuesPerNode == 0
                            ? kHistoryPerAnswer
                            : std::min<std::size_t>(details->numValuesPerNode, kHistoryPerAnswer);
    for (size_t i = 0; i < nodesToReadSize; ++i) {
        UA_HistoryReadResult &result = response->results[i];
        if (releaseContinuationPoints)
            continue;
        const UA_NodeId &id = nodesToRead[i].nodeId;
        std::string path =
            id.identifierType == UA_NODEIDTYPE_STRING ? text(id.identifier.string) : std::string();
        const std::string name = path.substr(path.rfind('/') + 1);
        if (path.find("/Measurements/") == std::string::npos) {
            result.statusCode = UA_STATUSCODE_BADHISTORYOPERATIONUNSUPPORTED;
            continue;
        }
        // A continuation point is the next sample's time and seq.
        HistoryCursor after;
        const UA_ByteString &cp = nodesToRead[i].continuationPoint;
        if (cp.length == sizeof after.timeMs + sizeof after.seq) {
            std::memcpy(&after.timeMs, cp.data, sizeof after.timeMs);
            std::memcpy(&after.seq, cp.data + sizeof after.timeMs, sizeof after.seq);
        } else if (cp.length != 0) {
            result.statusCode = UA_STATUSCODE_BADCONTINUATIONPOINTINVALID;
            continue;
        }
        // Newest first: the last of the range, without a continuation point. Oldest first: one
        // more than the answer holds, which is where the client goes on.
        bool beyond = false;
        std::vector<GatewaySample> samples =
            owner->history(fromMs, toMs, after, limit + (backwards ? 0 : 1), backwards, &beyond);
        const bool more = !backwards && samples.size() > limit;
        HistoryCursor next;
        if (more) {
            next = {samples.back().timeMs, samples.back().seq};
            samples.pop_back();
        }
        UA_HistoryData *data = historyData[i];
        data->dataValues = static_cast<UA_DataValue *>(
            UA_Array_new(samples.size(), &UA_TYPES[UA_TYPES_DATAVALUE]));
        data->dataValuesSize = samples.size();
        for (std::size_t k = 0; k < samples.size(); ++k) {
            UA_DataValue &dv = data->dataValues[k];
            sampleValue(name, samples[k], &dv.value);
            dv.hasValue = true;
            dv.sourceTimestamp = fromUnixMs(samples[k].timeMs);
            dv.hasSourceTimestamp = true;
        }
        if (more) {
            UA_ByteString_allocBuffer(&result.continuationPoint,
                                      sizeof next.timeMs + sizeof next.seq);
            std::memcpy(result.continuationPoint.data, &next.timeMs, sizeof next.timeMs);
            std::memcpy(result.continuationPoint.data + sizeof next.timeMs, &next.seq,
                        sizeof next.seq);
        }
        result.statusCode = UA_STATUSCODE_GOOD;
    }
}

struct Arg {
    const char *name;
    int type;
    bool array;
    const char *description;
};

// A node's display name and description, in English.
template <typename Attributes>
void label(Attributes *attr, const std::string &name, const std::string &description) {
    attr->displayName =
        UA_LOCALIZEDTEXT(const_cast<char *>("en"), const_cast<char *>(name.c_str()));
    attr->description =
        UA_LOCALIZEDTEXT(const_cast<char *>("en"), const_cast<char *>(description.c_str()));
}

struct Builder {
    UA_Server *server;
    uint16_t ns;
    bool ok = true;
    std::string failed;

    void parameter(const std::string &parentPath, const std::string &name,
                   const std::string &description, int word) {
        const std::string path = parentPath + "/" + name;
        UA_VariableAttributes attr = UA_VariableAttributes_default;
        label(&attr, name, description);
        attr.dataType = UA_TYPES[UA_TYPES_UINT16].typeId;
        attr.valueRank = UA_VALUERANK_SCALAR;
        attr.accessLevel = UA_ACCESSLEVELMASK_READ | UA_ACCESSLEVELMASK_WRITE;
        attr.userAccessLevel = attr.accessLevel;
        UA_CallbackValueSource source;
        std::memset(&source, 0, sizeof source);
        source.read = readParameter;
        source.write = writeParameter;
        check(UA_Server_addCallbackValueSourceVariableNode(
                  server, id(path), id(parentPath), UA_NODEID_NUMERIC(0, UA_NS0ID_HASCOMPONENT),
                  UA_QUALIFIEDNAME(ns, const_cast<char *>(name.c_str())),
                  UA_NODEID_NUMERIC(0, UA_NS0ID_BASEDATAVARIABLETYPE), attr, source,
                  reinterpret_cast<void *>(static_cast<intptr_t>(word)), nullptr),
              path);
    }

    void method(const std::string &parentPath, const std::string &name,
                const std::string &description, const std::vector<Arg> &in,
                const std::vector<Arg> &out, OpcuaRequest::Kind kind) {
        const std::string path = parentPath + "/" + name;
        auto arguments = [](const std::vector<Arg> &args) {
            std::vector<UA_Argument> list(args.size());
            for (std::size_t i = 0; i < args.size(); ++i) {
                UA_Argument_init(&list[i]);
                list[i].name = UA_STRING(const_cast<char *>(args[i].name));
                list[i].dataType = UA_TYPES[args[i].type].typeId;
                list[i].valueRank =
                    args[i].array ? UA_VALUERANK_ONE_DIMENSION : UA_VALUERANK_SCALAR;
                list[i].description = UA_LOCALIZEDTEXT(const_cast<char *>("en"),
                                                       const_cast<char *>(args[i].description));
            }
            return list;
        };
        const std::vector<UA_Argument> inputs = arguments(in), outputs = arguments(out);
        UA_MethodAttributes attr = UA_MethodAttributes_default;
        label(&attr, name, description);
        attr.executable = true;
        attr.userExecutable = true;
        check(UA_Server_addMethodNode(
                  server, id(path), id(parentPath), UA_NODEID_NUMERIC(0, UA_NS0ID_HASCOMPONENT),
                  UA_QUALIFIEDNAME(ns, const_cast<char *>(name.c_str())), attr, callMethod,
                  inputs.size(), inputs.data(), outputs.size(), outputs.data(),
                  reinterpret_cast<void *>(static_cast<intptr_t>(kind)), nullptr),
              path);
    }

    UA_NodeId id(const std::string &path) const {
        return UA_NODEID_STRING(ns, const_cast<char *>(path.c_str()));
    }

    void object(const UA_NodeId &parent, const std::string &path, const std::string &name,
                const std::string &description, uint32_t reference = UA_NS0ID_HASCOMPONENT) {
        UA_ObjectAttributes attr = UA_ObjectAttributes_default;
        label(&attr, name, description);
        check(UA_Server_addObjectNode(server, id(path), parent, UA_NODEID_NUMERIC(0, reference),
                                      UA_QUALIFIEDNAME(ns, const_cast<char *>(name.c_str())),
                                      UA_NODEID_NUMERIC(0, UA_NS0ID_BASEOBJECTTYPE), attr, nullptr,
                                      nullptr),
              path);
    }

    // A variable (or, as `property`, a property) with its first value.
    void variable(const std::string &parentPath, const std::string &name, const UA_Variant &value,
                  const std::string &description, bool property = false, bool history = false) {
        const std::string path = parentPath + "/" + name;
        UA_VariableAttributes attr = UA_VariableAttributes_default;
        label(&attr, name, description);
        attr.value = value;
        attr.dataType = value.type->typeId;
        attr.valueRank =
            UA_Variant_isScalar(&value) ? UA_VALUERANK_SCALAR : UA_VALUERANK_ONE_DIMENSION;
        UA_UInt32 dimension = static_cast<UA_UInt32>(value.arrayLength);
        if (!UA_Variant_isScalar(&value)) {
            attr.arrayDimensionsSize = 1;
            attr.arrayDimensions = &dimension;
        }
        attr.accessLevel = UA_ACCESSLEVELMASK_READ | (history ? UA_ACCESSLEVELMASK_HISTORYREAD : 0);
        attr.historizing = history;
        attr.userAccessLevel = attr.accessLevel;
        check(UA_Server_addVariableNode(
                  server, id(path), id(parentPath),
                  UA_NODEID_NUMERIC(0, property ? UA_NS0ID_HASPROPERTY : UA_NS0ID_HASCOMPONENT),
                  UA_QUALIFIEDNAME(ns, const_cast<char *>(name.c_str())),
                  UA_NODEID_NUMERIC(0, property ? UA_NS0ID_PROPERTYTYPE
                                                : UA_NS0ID_BASEDATAVARIABLETYPE),
                  attr, nullptr, nullptr),
              path);
    }

    // The properties of an analogue item: its range and its engineering unit.
    void analogue(const std::string &path, double low, double high, const Unit &unit) {
        UA_Range range{low, high};
        UA_Variant value;
        UA_Variant_setScalar(&value, &range, &UA_TYPES[UA_TYPES_RANGE]);
        variable(path, "EURange", value, "the range the value lies in", true);
        UA_EUInformation eu;
        UA_EUInformation_init(&eu);
        eu.namespaceUri =
            UA_STRING(const_cast<char *>("http://www.opcfoundation.org/UA/units/un/cefact"));
        eu.unitId = unit.id;
        eu.displayName = UA_LOCALIZEDTEXT(const_cast<char *>(""), const_cast<char *>(unit.display));
        eu.description =
            UA_LOCALIZEDTEXT(const_cast<char *>("en"), const_cast<char *>(unit.describe));
        UA_Variant_setScalar(&value, &eu, &UA_TYPES[UA_TYPES_EUINFORMATION]);
        variable(path, "EngineeringUnits", value, "the value's unit", true);
    }

    void check(UA_StatusCode code, const std::string &path) {
        if (code != UA_STATUSCODE_GOOD && ok) {
            ok = false;
            failed = path + ": " + UA_StatusCode_name(code);
        }
    }
};

template <typename T> UA_Variant scalar(T *value, int type) {
    UA_Variant v;
    UA_Variant_setScalar(&v, value, &UA_TYPES[type]);
    return v;
}

} // namespace

bool OpcuaServer::buildAddressSpace(std::string *error) {
    Builder b{server_, ns_};
    const std::string dev = s_.device;
    b.object(UA_NODEID_NUMERIC(0, UA_NS0ID_OBJECTSFOLDER), "DeviceSet", "DeviceSet",
             "The devices this gateway serves", UA_NS0ID_ORGANIZES);
    b.object(b.id("DeviceSet"), dev, dev, "The line sensor on " + s_.device);

    // The nameplate of a Devices model device, with what identification finds.
    UA_LocalizedText text = UA_LOCALIZEDTEXT(const_cast<char *>("en"), const_cast<char *>(""));
    UA_String empty = UA_STRING_NULL;
    UA_Int32 zero = 0;
    b.variable(dev, "Manufacturer", scalar(&text, UA_TYPES_LOCALIZEDTEXT), "the maker", true);
    b.variable(dev, "Model", scalar(&text, UA_TYPES_LOCALIZEDTEXT),
               "the sensor type and its pixels", true);
    for (const char *name :
         {"SoftwareRevision", "HardwareRevision", "DeviceRevision", "SerialNumber"})
        b.variable(dev, name, scalar(&empty, UA_TYPES_STRING), std::string("the device's ") + name,
                   true);
    b.variable(dev, "RevisionCounter", scalar(&zero, UA_TYPES_INT32),
               "raised at every change of the parameter set", true);
    UA_Int32 failure = static_cast<UA_Int32>(DeviceHealth::Failure);
    b.variable(dev, "DeviceHealth", scalar(&failure, UA_TYPES_INT32),
               "NAMUR NE 107: 0 NORMAL, 1 FAILURE, 2 CHECK_FUNCTION, 3 OFF_SPEC, "
               "4 MAINTENANCE_REQUIRED",
               true);

    // The 16 words under the JSON vocabulary's names, with the panel's limits as their range:
    // read from what the poller last knew, written (by `write` users) to the sensor's RAM through
    // the poller, answered when the sensor has read it back.
    const std::string words = dev + "/ParameterSet";
    b.object(b.id(dev), words, "ParameterSet", "The sensor's 16 parameter words in its RAM");
    for (int word = 0; word < 16; ++word) {
        const std::string name = parameterJsonKey(word);
        b.parameter(words, name,
                    std::string(parameterWordName(word)) + " (word " + std::to_string(word) +
                        "); a write goes to the sensor's RAM",
                    word);
        const ParameterLimit limit = parameterLimit(word, -1);
        b.analogue(words + "/" + name, limit.min, limit.max, kCounts);
    }

    // What a client asks the sensor to do, answered as the web API answers it.
    const std::string methods = dev + "/MethodSet";
    b.object(b.id(dev), methods, "MethodSet", "What a write user may ask of the sensor");
    const Arg target{"target", UA_TYPES_STRING, false, "ram or eeprom"};
    const Arg names{"names", UA_TYPES_STRING, true, "the words' names (power … para15)"};
    const Arg values{"values", UA_TYPES_UINT16, true, "their values, in the same order"};
    const Arg result{"result", UA_TYPES_STRING, false,
                     "the outcome, as the web API gives it (JSON)"};
    const Arg lineOut{"line", UA_TYPES_UINT16, true, "the video line's 256 samples"};
    b.method(methods, "WriteParameters",
             "Writes words to RAM or EEPROM, checked against the panel's limits and read back",
             {target, names, values}, {result}, OpcuaRequest::Kind::WriteParameters);
    b.method(methods, "Teach", "The current value becomes the set-point", {}, {result},
             OpcuaRequest::Kind::Teach);
    b.method(methods, "ResetMaxMin", "Resets the analogue output's maximum and minimum", {},
             {result}, OpcuaRequest::Kind::ResetMaxMin);
    b.method(methods, "ReadVideoLine", "Takes one video line between two run cycles", {},
             {lineOut, result}, OpcuaRequest::Kind::ReadVideoLine);

    // The last drift check of the parameter set against its EEPROM and the approved set.
    const std::string drift = dev + "/Drift";
    b.object(b.id(dev), drift, "Drift",
             "The parameter set against its EEPROM and the approved set (--golden)");
    UA_String unknown = UA_STRING(const_cast<char *>("unknown"));
    UA_String nothing = UA_STRING_NULL;
    b.variable(drift, "state", scalar(&unknown, UA_TYPES_STRING),
               "off, unknown (before the first check), ok or drift");
    for (const char *compare : {"ram_eeprom", "eeprom_golden", "ram_golden"}) {
        UA_UInt32 count = 0;
        b.variable(drift, compare, scalar(&count, UA_TYPES_UINT32),
                   std::string("words that differ, ") + compare +
                       " (null where nothing was compared)");
    }
    b.variable(drift, "words", scalar(&nothing, UA_TYPES_STRING),
               "each word that differs, with its values");
    UA_DateTime never = 0;
    b.variable(drift, "checked", scalar(&never, UA_TYPES_DATETIME), "the last whole check");

    // The measurements, each with the time its answer arrived.
    const std::string meas = dev + "/Measurements";
    b.object(b.id(dev), meas, "Measurements", "The sensor's answers, live and historical");
    struct Item {
        const char *name, *description;
        int type;
        const Unit *unit;
        double low, high;
    };
    const Item items[] = {
        {"value", "the measured value", UA_TYPES_UINT16, &kPositions, 0, 65535},
        {"left", "the left edge", UA_TYPES_UINT16, &kPositions, 0, 65535},
        {"right", "the right edge", UA_TYPES_UINT16, &kPositions, 0, 65535},
        {"um", "the measured value in micrometres (null when the sensor's pitch is not known)",
         UA_TYPES_DOUBLE, &kMicrometres, 0, 1e6},
        {"ana_max", "the analogue output's maximum", UA_TYPES_UINT16, &kPositions, 0, 65535},
        {"ana_min", "the analogue output's minimum", UA_TYPES_UINT16, &kPositions, 0, 65535},
        {"signal_reserve",
         "how far the nearer side of the last reserve line stands from the video threshold",
         UA_TYPES_DOUBLE, &kRatio, 0, 10},
    };
    for (const Item &item : items) {
        UA_UInt16 u = 0;
        UA_Double d = 0.0;
        const UA_Variant initial = item.type == UA_TYPES_UINT16 ? scalar(&u, UA_TYPES_UINT16)
                                                                : scalar(&d, UA_TYPES_DOUBLE);
        b.variable(meas, item.name, initial, item.description, false,
                   std::string(item.name) != "signal_reserve");
        b.analogue(meas + "/" + item.name, item.low, item.high, *item.unit);
    }
    UA_Boolean no = false;
    b.variable(meas, "in_tol", scalar(&no, UA_TYPES_BOOLEAN), "whether the value is in tolerance",
               false, true);
    UA_UInt32 seq = 0;
    b.variable(meas, "seq", scalar(&seq, UA_TYPES_UINT32), "the answer's number", false, true);
    std::vector<UA_UInt16> line(256, 0);
    UA_Variant lineValue;
    UA_Variant_setArray(&lineValue, line.data(), line.size(), &UA_TYPES[UA_TYPES_UINT16]);
    b.variable(meas, "video_line", lineValue,
               "the last reserve line's 256 samples (the CCD video line)");
    b.analogue(meas + "/video_line", 0, 1023, kCounts);

    // The gateway's own health.
    b.object(UA_NODEID_NUMERIC(0, UA_NS0ID_OBJECTSFOLDER), "Gateway", "Gateway",
             "The gateway's health", UA_NS0ID_ORGANIZES);
    UA_UInt64 none64 = 0;
    UA_String off = UA_STRING(const_cast<char *>("off"));
    b.variable("Gateway", "broker", scalar(&off, UA_TYPES_STRING),
               "the MQTT broker: connected, disconnected or off");
    b.variable("Gateway", "store", scalar(&off, UA_TYPES_STRING),
               "the store on disk: off, ok, or failing: and what failed");
    for (const char *name : {"queue_depth", "dropped", "samples", "serial_errors"})
        b.variable("Gateway", name, scalar(&none64, UA_TYPES_UINT64),
                   std::string("the gateway's ") + name);
    b.variable("Gateway", "sensor_answering", scalar(&no, UA_TYPES_BOOLEAN),
               "whether the sensor answers");
    UA_UInt32 sessions = 0;
    b.variable("Gateway", "opcua_sessions", scalar(&sessions, UA_TYPES_UINT32),
               "the OPC UA sessions open now");
    if (!b.ok)
        *error = "the address space could not be built: " + b.failed;
    return b.ok;
}

// ---- values --------------------------------------------------------------------------------

namespace {

void writeValue(UA_Server *server, uint16_t ns, const std::string &path, const UA_Variant &value,
                int64_t sourceMs = -1) {
    UA_DataValue dv;
    UA_DataValue_init(&dv);
    dv.value = value;
    dv.hasValue = true;
    if (sourceMs >= 0) {
        dv.sourceTimestamp = fromUnixMs(sourceMs);
        dv.hasSourceTimestamp = true;
    }
    UA_Server_writeDataValue(server, UA_NODEID_STRING(ns, const_cast<char *>(path.c_str())), dv);
}

void writeString(UA_Server *server, uint16_t ns, const std::string &path, const std::string &text) {
    UA_String s = {text.size(), reinterpret_cast<UA_Byte *>(const_cast<char *>(text.data()))};
    writeValue(server, ns, path, scalar(&s, UA_TYPES_STRING));
}

void writeText(UA_Server *server, uint16_t ns, const std::string &path, const std::string &text) {
    UA_LocalizedText t =
        UA_LOCALIZEDTEXT(const_cast<char *>("en"), const_cast<char *>(text.c_str()));
    writeValue(server, ns, path, scalar(&t, UA_TYPES_LOCALIZEDTEXT));
}

} // namespace

// The poller's side: each change is handed to the server's thread, which puts it into the
// address space between two of its iterations, so the poller never waits for the server's lock
// while the server answers its clients.
void OpcuaServer::post(std::function<void()> update) {
    if (!server_)
        return;
    const std::lock_guard<std::mutex> lock(updatesMutex_);
    updates_.push_back(std::move(update));
}

void OpcuaServer::setIdentity(const GatewayState &state, const std::string &serialNumber) {
    post([this, state, serialNumber] { applyIdentity(state, serialNumber); });
}

void OpcuaServer::setParameters(const ParameterSet &params, bool raiseRevision) {
    // The words' nodes read from here: a value written into them would be a client's write.
    {
        const std::lock_guard<std::mutex> lock(paramsMutex_);
        params_ = params;
    }
    if (raiseRevision)
        post([this] { applyRevision(); });
}

void OpcuaServer::setSample(const GatewaySample &s) {
    {
        const std::lock_guard<std::mutex> lock(historyMutex_);
        history_.push_back(s);
        if (history_.size() > kHistoryKept)
            history_.pop_front();
    }
    post([this, s] { applySample(s); });
}

void OpcuaServer::setReserve(const ReserveHealth &reserve) {
    post([this, reserve] { applyReserve(reserve); });
}

void OpcuaServer::setHealth(DeviceHealth health) {
    post([this, health] { applyHealth(health); });
}

void OpcuaServer::setGateway(const GatewayState &state) {
    post([this, state] { applyGateway(state); });
}

void OpcuaServer::setDrift(const DriftHealth &drift) {
    post([this, drift] { applyDrift(drift); });
}

void OpcuaServer::applyUpdates() {
    std::deque<std::function<void()>> updates;
    {
        const std::lock_guard<std::mutex> lock(updatesMutex_);
        updates.swap(updates_);
    }
    for (const auto &update : updates)
        update();
}

void OpcuaServer::applyIdentity(const GatewayState &state, const std::string &serialNumber) {
    if (!state.identified)
        return;
    const std::string dev = s_.device;
    const SensorInfo &info = state.info;
    writeText(server_, ns_, dev + "/Manufacturer", "KVEX");
    writeText(server_, ns_, dev + "/Model",
              "K-VEX-RTN type " + std::to_string(info.ccdtype) + ", " +
                  std::to_string(info.pixels) + " pixels");
    writeString(server_, ns_, dev + "/SoftwareRevision", info.firmware);
    writeString(server_, ns_, dev + "/HardwareRevision", "board " + std::to_string(info.pcbtype));
    writeString(server_, ns_, dev + "/DeviceRevision", std::to_string(info.ccdtype));
    writeString(server_, ns_, dev + "/SerialNumber", serialNumber);
}

void OpcuaServer::applyRevision() {
    ++revision_;
    writeValue(server_, ns_, s_.device + "/RevisionCounter", scalar(&revision_, UA_TYPES_INT32));
}

void OpcuaServer::applySample(const GatewaySample &s) {
    const std::string meas = s_.device + "/Measurements/";
    struct Word {
        const char *name;
        uint16_t value;
    };
    for (const Word &w : {Word{"value", s.value}, Word{"left", s.left}, Word{"right", s.right},
                          Word{"ana_max", s.anaMax}, Word{"ana_min", s.anaMin}}) {
        UA_UInt16 v = w.value;
        writeValue(server_, ns_, meas + w.name, scalar(&v, UA_TYPES_UINT16), s.timeMs);
    }
    UA_Variant um;
    UA_Variant_init(&um);
    UA_Double microns = s.um;
    if (std::isfinite(microns))
        um = scalar(&microns, UA_TYPES_DOUBLE);
    writeValue(server_, ns_, meas + "um", um, s.timeMs);
    UA_Boolean inTol = s.inTol;
    writeValue(server_, ns_, meas + "in_tol", scalar(&inTol, UA_TYPES_BOOLEAN), s.timeMs);
    UA_UInt32 seq = s.seq;
    writeValue(server_, ns_, meas + "seq", scalar(&seq, UA_TYPES_UINT32), s.timeMs);
}

void OpcuaServer::applyReserve(const ReserveHealth &reserve) {
    if (!reserve.known)
        return;
    UA_Variant value;
    UA_Variant_init(&value);
    UA_Double ratio = reserve.last.ratio;
    if (std::isfinite(ratio))
        value = scalar(&ratio, UA_TYPES_DOUBLE);
    writeValue(server_, ns_, s_.device + "/Measurements/signal_reserve", value, reserve.lineMs);
    if (reserve.line.size() == 256) {
        UA_Variant line;
        UA_Variant_setArray(&line, const_cast<uint16_t *>(reserve.line.data()), 256,
                            &UA_TYPES[UA_TYPES_UINT16]);
        writeValue(server_, ns_, s_.device + "/Measurements/video_line", line, reserve.lineMs);
    }
}

void OpcuaServer::applyHealth(DeviceHealth health) {
    if (health == health_)
        return;
    health_ = health;
    UA_Int32 value = static_cast<UA_Int32>(health);
    writeValue(server_, ns_, s_.device + "/DeviceHealth", scalar(&value, UA_TYPES_INT32));
}

void OpcuaServer::applyGateway(const GatewayState &state) {
    const std::size_t sessions = this->sessions();
    writeString(server_, ns_, "Gateway/broker", state.broker);
    writeString(server_, ns_, "Gateway/store", state.store);
    struct Count {
        const char *name;
        uint64_t value;
    };
    for (const Count &c :
         {Count{"queue_depth", state.queueDepth}, Count{"dropped", state.dropped},
          Count{"samples", state.samples}, Count{"serial_errors", state.serialErrors}}) {
        UA_UInt64 v = c.value;
        writeValue(server_, ns_, std::string("Gateway/") + c.name, scalar(&v, UA_TYPES_UINT64));
    }
    UA_Boolean answering = state.sensorAnswering;
    writeValue(server_, ns_, "Gateway/sensor_answering", scalar(&answering, UA_TYPES_BOOLEAN));
    UA_UInt32 open = static_cast<UA_UInt32>(sessions);
    writeValue(server_, ns_, "Gateway/opcua_sessions", scalar(&open, UA_TYPES_UINT32));
}

void OpcuaServer::applyDrift(const DriftHealth &drift) {
    const std::string path = s_.device + "/Drift/";
    writeString(server_, ns_, path + "state", driftWord(drift));
    for (int c = 0; c < DRIFT_COMPARES; ++c) {
        UA_Variant value;
        UA_Variant_init(&value);
        UA_UInt32 count = static_cast<UA_UInt32>(drift.last.differing[c]);
        if (drift.known && (c == DRIFT_RAM_EEPROM || drift.last.haveGolden))
            value = scalar(&count, UA_TYPES_UINT32);
        writeValue(server_, ns_, path + driftCompareKey(static_cast<DriftCompare>(c)), value);
    }
    std::string words;
    for (const std::string &line : driftLines(drift.last))
        words += (words.empty() ? "" : "; ") + line;
    writeString(server_, ns_, path + "words", drift.known ? words : "");
    UA_DateTime checked = fromUnixMs(drift.checkedMs);
    writeValue(server_, ns_, path + "checked", scalar(&checked, UA_TYPES_DATETIME));
}
