// libFuzzer target: what an OPC UA client sends, as the gateway's server receives it. Each input
// is the byte stream of one client connection (Hello, OpenSecureChannel, the services), handed
// to open62541 through a connection manager of our own, so it runs through the same binary
// protocol, services, access rules and the gateway's own callbacks (the words, the methods, the
// history) as a client on the network would. open62541 is built for this target with
// FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION, which lets a recorded session's channel id, sequence
// numbers and session token pass; the security token, which that mode still checks, is put into
// each message as a client would, from the server's answer to OpenSecureChannel. So the seeds
// (sessions of node-opcua recorded against the gateway) reach the services.
#include "app/jsontext.h"
#include "gateway/faces/opcua/opcuaserver.h"

#include <open62541.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// ---- a connection manager that is the fuzz input ----------------------------------------------

struct FuzzConnections {
    UA_ConnectionManager cm;
    UA_ConnectionManager_connectionCallback callback = nullptr;
    void *application = nullptr;
    void *listenContext = nullptr;
    std::vector<uintptr_t> closing; // connections the server has closed
    uint32_t tokenId = 0;           // from the last OpenSecureChannel answer
};
FuzzConnections *connections = nullptr;
constexpr uintptr_t kListenId = 1;

UA_StatusCode startSource(UA_EventSource *es) {
    es->state = UA_EVENTSOURCESTATE_STARTED;
    return UA_STATUSCODE_GOOD;
}
void stopSource(UA_EventSource *es) {
    es->state = UA_EVENTSOURCESTATE_STOPPED;
}
UA_StatusCode freeSource(UA_EventSource *es) {
    UA_String_clear(&es->name);
    UA_KeyValueMap_clear(&es->params);
    return UA_STATUSCODE_GOOD; // it is a static object
}

UA_StatusCode openConnection(UA_ConnectionManager *, const UA_KeyValueMap *, void *application,
                             void *, UA_ConnectionManager_connectionCallback callback) {
    // The server asks to listen; the listening "socket" is announced once the server runs.
    connections->application = application;
    connections->callback = callback;
    return UA_STATUSCODE_GOOD;
}

uint32_t le32(const UA_Byte *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The security token of an OpenSecureChannel answer (None policy: the body is in the clear).
void learnToken(const UA_ByteString &msg) {
    if (msg.length < 12 || std::memcmp(msg.data, "OPNF", 4) != 0)
        return;
    std::size_t at = 12;
    for (int field = 0; field < 3; ++field) { // policy URI, certificate, thumbprint
        if (at + 4 > msg.length)
            return;
        const auto length = static_cast<int32_t>(le32(msg.data + at));
        at += 4 + (length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    at += 8; // sequence header
    // The answer's type: a numeric node id in the two- or four-byte form.
    if (at >= msg.length || msg.data[at] > 1)
        return;
    at += msg.data[at] == 0 ? 2 : 4;
    if (at >= msg.length)
        return;
    const UA_ByteString body = {msg.length - at, msg.data + at};
    UA_OpenSecureChannelResponse response;
    if (UA_decodeBinary(&body, &response, &UA_TYPES[UA_TYPES_OPENSECURECHANNELRESPONSE], nullptr) ==
        UA_STATUSCODE_GOOD)
        connections->tokenId = response.securityToken.tokenId;
    UA_OpenSecureChannelResponse_clear(&response);
}

UA_StatusCode sendWithConnection(UA_ConnectionManager *, uintptr_t, const UA_KeyValueMap *,
                                 UA_ByteString *buf) {
    learnToken(*buf);
    UA_ByteString_clear(buf);
    return UA_STATUSCODE_GOOD;
}

UA_StatusCode closeConnection(UA_ConnectionManager *, uintptr_t id) {
    // Its last callback comes after the server's present one has returned, as a real socket's.
    connections->closing.push_back(id);
    return UA_STATUSCODE_GOOD;
}

UA_StatusCode allocBuffer(UA_ConnectionManager *, uintptr_t, UA_ByteString *buf, size_t size) {
    return UA_ByteString_allocBuffer(buf, size);
}
void freeBuffer(UA_ConnectionManager *, uintptr_t, UA_ByteString *buf) {
    UA_ByteString_clear(buf);
}

// ---- the clock: virtual, so time-outs pass without waiting ------------------------------------

UA_DateTime monotonic = 0;
UA_DateTime virtualMonotonic(UA_EventLoop *) {
    return monotonic;
}

void adjust(UA_ServerConfig *config, OpcuaSettings::Stage stage) {
    if (stage == OpcuaSettings::Stage::BeforeDefaults) {
        config->eventLoop = UA_EventLoop_new_POSIX(config->logging);
        config->eventLoop->dateTime_nowMonotonic = virtualMonotonic;
        static FuzzConnections fuzz;
        connections = &fuzz;
        UA_ConnectionManager &cm = fuzz.cm;
        cm.eventSource.eventSourceType = UA_EVENTSOURCETYPE_CONNECTIONMANAGER;
        cm.eventSource.name = UA_String_fromChars("fuzz connections");
        cm.eventSource.start = startSource;
        cm.eventSource.stop = stopSource;
        cm.eventSource.free = freeSource;
        cm.protocol = UA_STRING_STATIC("tcp");
        cm.openConnection = openConnection;
        cm.sendWithConnection = sendWithConnection;
        cm.closeConnection = closeConnection;
        cm.allocNetworkBuffer = allocBuffer;
        cm.freeNetworkBuffer = freeBuffer;
        config->eventLoop->registerEventSource(config->eventLoop, &cm.eventSource);
        return;
    }
    // Every session may write and call, as a `write` user's: anonymous over the None policy is
    // what a fuzz input can reach, and the writes are what the gateway's own callbacks decide.
    static UA_StatusCode (*original)(
        UA_Server *, UA_AccessControl *, const UA_EndpointDescription *, const UA_ByteString *,
        const UA_NodeId *, const UA_ExtensionObject *, void **) = nullptr;
    static OpcuaUser writer{"fuzz", true, ""};
    original = config->accessControl.activateSession;
    config->accessControl.activateSession =
        [](UA_Server *server, UA_AccessControl *ac, const UA_EndpointDescription *endpoint,
           const UA_ByteString *certificate, const UA_NodeId *sessionId,
           const UA_ExtensionObject *token, void **sessionContext) {
            const UA_StatusCode code =
                original(server, ac, endpoint, certificate, sessionId, token, sessionContext);
            if (code == UA_STATUSCODE_GOOD)
                *sessionContext = &writer;
            return code;
        };
}

void check(bool condition, const char *what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_opcua: %s\n", what);
        std::abort();
    }
}

bool isWordName(const std::string &name) {
    for (int word = 0; word < 16; ++word)
        if (name == parameterJsonKey(word))
            return true;
    return false;
}

// What reaches the poller is what the server has checked: a word of the set with its name, the
// WriteParameters' pairs, from the session's user. The poller's answer comes at once: a write is
// done, a method gives the web API's kind of answer, the video line its 256 samples.
void answer(OpcuaRequest request, OpcuaFinish finish) {
    check(request.user == "fuzz", "a request without the session's user");
    switch (request.kind) {
    case OpcuaRequest::Kind::WriteWord:
        check(request.words.size() == 1 && isWordName(request.words[0].name) && !request.eeprom,
              "a word write that is not one word of the set, to RAM");
        break;
    case OpcuaRequest::Kind::WriteParameters:
        check(!request.words.empty(), "WriteParameters without words");
        break;
    default:
        check(request.words.empty() && !request.eeprom, "a method without words carries some");
    }
    OpcuaAnswer a;
    a.result = R"({"ok":true})";
    if (request.kind == OpcuaRequest::Kind::ReadVideoLine)
        a.line.assign(256, 1234);
    finish(std::move(a));
}

OpcuaServer *server = nullptr;

void turn(int times, UA_DateTime step) {
    for (int i = 0; i < times; ++i) {
        monotonic += step;
        server->iterate();
    }
}

// The sensor's news as the poller gives it: an identified sensor, its words, a few samples kept
// for HistoryRead, a reserve line and the gateway's health.
void feedNews() {
    GatewayState state;
    state.sensorChecked = state.sensorAnswering = state.identified = true;
    state.info.ccdtype = 3;
    state.info.pcbtype = 2;
    state.info.pixels = 256;
    state.info.firmware = "V1.0";
    state.info.pitchMicrons = 14.0;
    state.positions = 2048;
    state.haveParams = true;
    for (int i = 0; i < 16; ++i)
        state.params[i] = static_cast<uint16_t>(i * 10);
    server->setIdentity(state, "FUZZ0001");
    server->setParameters(state.params, false);
    for (uint32_t seq = 1; seq <= 64; ++seq) {
        const GatewaySample sample{1'700'000'000'000 + seq * 38,
                                   seq,
                                   100,
                                   900,
                                   500,
                                   std::nan(""),
                                   500,
                                   20,
                                   true,
                                   700,
                                   300,
                                   false,
                                   0};
        server->setSample(sample);
    }
    ReserveHealth reserve;
    reserve.known = true;
    reserve.line.assign(256, 2000);
    reserve.lineMs = 1'700'000'000'000;
    server->setReserve(reserve);
    server->setHealth(DeviceHealth::Normal);
    server->setGateway(state);
    server->setDrift(DriftHealth{});
}

void start() {
    static std::string dir;
    char pattern[] = "/tmp/kvex-fuzz-opcua-XXXXXX";
    if (!::mkdtemp(pattern))
        std::abort();
    dir = pattern;
    OpcuaSettings s;
    s.host = "fuzz";
    s.applicationUri = "urn:fuzz:kvex-rtn:gateway";
    s.security.host = s.host;
    s.security.applicationUri = s.applicationUri;
    s.security.stateCert = dir + "/opcua.der";
    s.security.stateKey = dir + "/opcua.key";
    s.adjust = adjust;
    s.ownThread = false;
    server = new OpcuaServer(s, answer);
    std::string error;
    if (!server->start(&error)) {
        std::fprintf(stderr, "fuzz_opcua: %s\n", error.c_str());
        std::abort();
    }
    std::remove(s.security.stateCert.c_str());
    std::remove(s.security.stateKey.c_str());
    ::rmdir(dir.c_str());
    // The listening socket, as a real connection manager announces it.
    const UA_KeyValueMap none = {0, nullptr};
    connections->callback(&connections->cm, kListenId, connections->application,
                          &connections->listenContext, UA_CONNECTIONSTATE_ESTABLISHED, &none,
                          UA_BYTESTRING_NULL);
    feedNews();
    turn(2, UA_DATETIME_MSEC);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!server)
        start();
    static uintptr_t nextId = kListenId;
    const uintptr_t id = ++nextId;
    void *context = connections->listenContext; // a new connection inherits the listener's
    const UA_KeyValueMap none = {0, nullptr};
    auto deliver = [&](UA_ConnectionState state, UA_ByteString msg) {
        connections->callback(&connections->cm, id, connections->application, &context, state,
                              &none, msg);
    };
    deliver(UA_CONNECTIONSTATE_ESTABLISHED, UA_BYTESTRING_NULL);
    bool open = context != connections->listenContext && context != nullptr;
    connections->tokenId = 0;
    // The first byte says how TCP cuts the stream: in pieces of that many times 16 bytes, or
    // (0) a message at a time, as its header's size says.
    const std::size_t cut = size > 1 ? data[0] * 16u : 0;
    std::size_t at = size > 1 ? 1 : 0;
    while (open && at < size) {
        std::size_t n = size - at;
        if (n >= 8) {
            const uint32_t announced = le32(data + at + 4);
            if (announced >= 8 && announced < n)
                n = announced;
        }
        // A copy: the server may keep no pointer into the input, and the token goes in.
        std::vector<UA_Byte> message(data + at, data + at + n);
        if (n >= 16 && (std::memcmp(message.data(), "MSG", 3) == 0 ||
                        std::memcmp(message.data(), "CLO", 3) == 0))
            for (int i = 0; i < 4; ++i)
                message[12 + i] = static_cast<UA_Byte>(connections->tokenId >> (8 * i));
        at += n;
        for (std::size_t from = 0; open && from < n;) {
            const std::size_t piece = cut ? std::min(cut, n - from) : n - from;
            deliver(UA_CONNECTIONSTATE_ESTABLISHED, {piece, message.data() + from});
            from += piece;
            for (const uintptr_t closed : connections->closing)
                open = open && closed != id;
        }
        // The gateway's answers to waiting writes and calls, and the publishing intervals.
        turn(1, 50 * UA_DATETIME_MSEC);
    }
    connections->closing.clear();
    if (context != connections->listenContext && context != nullptr)
        deliver(UA_CONNECTIONSTATE_CLOSING, UA_BYTESTRING_NULL);
    // Past every session's and channel's time-out, so the next input starts as the first.
    turn(2, 2 * 3600 * UA_DATETIME_SEC);
    check(server->waiting() == 0, "an operation neither answered nor cancelled");
    return 0;
}
