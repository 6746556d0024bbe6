// The OPC UA server's security: its certificate (given, or made once and kept), the client
// certificates it trusts, the policies and endpoints it offers, and who may do what: anonymous
// clients and `read` users read, `write` users write and call, passwords only over an encrypted
// channel.
#pragma once

#include "gateway/faces/opcua/users.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct UA_Logger;
struct UA_ServerConfig;

struct OpcuaSecuritySettings {
    std::string certFile, keyFile; // given; both empty: made once and kept in the state files
    std::string stateCert, stateKey;
    std::string trustDir; // empty: any client certificate
    std::vector<OpcuaUser> users;
    bool anonymous = true;
    std::string host, applicationUri;
};

// What the access rules need while the server runs; it outlives the server.
struct OpcuaAccess {
    std::vector<OpcuaUser> users;
    std::atomic<uint64_t> refusedLogins{0};
    void *defaultActivate = nullptr; // open62541's own activateSession
    void *owner = nullptr;           // the OpcuaServer
};
// The user name of a session's context ("" for anonymous).
std::string opcuaUserName(const void *sessionContext);

// The certificate and key as DER or PEM bytes; `made` says where a new pair was kept.
bool loadServerCertificate(const OpcuaSecuritySettings &s, const UA_Logger *logger,
                           std::string *cert, std::string *key, std::string *made,
                           std::string *error);
// Trust list, policies (None, Basic256Sha256, Aes256_Sha256_RsaPss), their endpoints (Sign and
// SignAndEncrypt) and the access rules on a config that has the None policy already.
bool configureSecurity(UA_ServerConfig *config, const OpcuaSecuritySettings &s,
                       const std::string &cert, const std::string &key, OpcuaAccess *access,
                       std::string *error);
// Whether the session belongs to a `write` user (its context as the login set it).
bool opcuaMayWrite(const void *sessionContext);
