#include "gateway/faces/opcua/security.h"
#include "gateway/core/logging.h"
#include "gateway/core/statefiles.h"

#include <open62541.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

bool readBytes(const std::string &path, std::string *bytes) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    *bytes = all.str();
    return in.good() || in.eof();
}

UA_ByteString byteString(const std::string &bytes) {
    UA_ByteString b;
    b.length = bytes.size();
    b.data = reinterpret_cast<UA_Byte *>(const_cast<char *>(bytes.data()));
    return b;
}

// A client's login: a user of the file with the right password, or anonymous when allowed.
// The session's context is the user (null for anonymous), for the access rules below.
UA_StatusCode login(const UA_String *userName, const UA_ByteString *password, size_t,
                    const UA_UsernamePasswordLogin *, void **sessionContext, void *loginContext) {
    auto *access = static_cast<OpcuaAccess *>(loginContext);
    *sessionContext = nullptr;
    if (userName->length == 0)
        return UA_STATUSCODE_GOOD; // anonymous, which the plugin has allowed already
    const std::string name(reinterpret_cast<const char *>(userName->data), userName->length);
    const std::string given(reinterpret_cast<const char *>(password->data), password->length);
    for (const OpcuaUser &user : access->users)
        if (user.name == name && opcuaPasswordMatches(given, user.hash)) {
            *sessionContext = const_cast<OpcuaUser *>(&user);
            return UA_STATUSCODE_GOOD;
        }
    const uint64_t refused = ++access->refusedLogins;
    // A guesser at work would fill the log: the first, then every hundredth.
    if (refused == 1 || refused % 100 == 0)
        logEvent("OPC UA: login refused for user %s (%llu refused so far)", name.c_str(),
                 static_cast<unsigned long long>(refused));
    return UA_STATUSCODE_BADUSERACCESSDENIED;
}

OpcuaAccess *accessOf(UA_Server *server) {
    return static_cast<OpcuaAccess *>(UA_Server_getConfig(server)->context);
}

using Activate = UA_StatusCode (*)(UA_Server *, UA_AccessControl *, const UA_EndpointDescription *,
                                   const UA_ByteString *, const UA_NodeId *,
                                   const UA_ExtensionObject *, void **);

// A password travels only over a channel that encrypts it; the rest is the plugin's own check.
UA_StatusCode activateSession(UA_Server *server, UA_AccessControl *ac,
                              const UA_EndpointDescription *endpoint,
                              const UA_ByteString *remoteCertificate, const UA_NodeId *sessionId,
                              const UA_ExtensionObject *token, void **sessionContext) {
    if (token->encoding >= UA_EXTENSIONOBJECT_DECODED &&
        token->content.decoded.type == &UA_TYPES[UA_TYPES_USERNAMEIDENTITYTOKEN] &&
        (!endpoint || endpoint->securityMode != UA_MESSAGESECURITYMODE_SIGNANDENCRYPT))
        return UA_STATUSCODE_BADSECURITYMODEINSUFFICIENT;
    auto original = reinterpret_cast<Activate>(accessOf(server)->defaultActivate);
    return original(server, ac, endpoint, remoteCertificate, sessionId, token, sessionContext);
}

UA_Byte userAccessLevel(UA_Server *, UA_AccessControl *, const UA_NodeId *, void *sessionContext,
                        const UA_NodeId *, void *) {
    const UA_Byte all = 0xFF;
    return opcuaMayWrite(sessionContext)
               ? all
               : static_cast<UA_Byte>(
                     all & ~(UA_ACCESSLEVELMASK_WRITE | UA_ACCESSLEVELMASK_HISTORYWRITE));
}

UA_Boolean userExecutable(UA_Server *, UA_AccessControl *, const UA_NodeId *, void *sessionContext,
                          const UA_NodeId *, void *) {
    return opcuaMayWrite(sessionContext);
}

UA_Boolean userExecutableOnObject(UA_Server *, UA_AccessControl *, const UA_NodeId *,
                                  void *sessionContext, const UA_NodeId *, void *,
                                  const UA_NodeId *, void *) {
    return opcuaMayWrite(sessionContext);
}

// Users log in anonymously or with a password, never with a certificate of their own: the
// certificate's login is taken out of what the endpoints offer, so a client cannot use it.
void dropCertificateLogins(UA_AccessControl *ac) {
    size_t kept = 0;
    for (size_t i = 0; i < ac->userTokenPoliciesSize; ++i) {
        if (ac->userTokenPolicies[i].tokenType == UA_USERTOKENTYPE_CERTIFICATE) {
            UA_UserTokenPolicy_clear(&ac->userTokenPolicies[i]);
            continue;
        }
        ac->userTokenPolicies[kept++] = ac->userTokenPolicies[i];
    }
    ac->userTokenPoliciesSize = kept;
}

} // namespace

std::string opcuaUserName(const void *sessionContext) {
    return sessionContext ? static_cast<const OpcuaUser *>(sessionContext)->name : std::string();
}

bool opcuaMayWrite(const void *sessionContext) {
    return sessionContext && static_cast<const OpcuaUser *>(sessionContext)->write;
}

bool loadServerCertificate(const OpcuaSecuritySettings &s, const UA_Logger *logger,
                           std::string *cert, std::string *key, std::string *made,
                           std::string *error) {
    made->clear();
    const bool given = !s.certFile.empty();
    const std::string certPath = given ? s.certFile : s.stateCert;
    const std::string keyPath = given ? s.keyFile : s.stateKey;
    if (given || (std::filesystem::exists(certPath) && std::filesystem::exists(keyPath))) {
        if (!readBytes(certPath, cert) || !readBytes(keyPath, key) || cert->empty() ||
            key->empty()) {
            *error = "cannot read the certificate " + certPath + " or its key " + keyPath;
            return false;
        }
        return true;
    }
    // Made once, with the names a client checks, and kept: a client that trusted it once goes
    // on trusting it after a restart.
    const std::string cn = "CN=kvex-rtn gateway@" + s.host;
    UA_String subject[] = {UA_STRING(const_cast<char *>(cn.c_str())),
                           UA_STRING(const_cast<char *>("O=KVEX"))};
    const std::string dns = "DNS:" + s.host, uri = "URI:" + s.applicationUri;
    UA_String altNames[] = {
        UA_STRING(const_cast<char *>(dns.c_str())), UA_STRING(const_cast<char *>("DNS:localhost")),
        UA_STRING(const_cast<char *>("IP:127.0.0.1")), UA_STRING(const_cast<char *>(uri.c_str()))};
    UA_UInt16 days = 3650;
    UA_UInt16 bits = 2048;
    UA_KeyValuePair pairs[2];
    pairs[0].key = UA_QUALIFIEDNAME(0, const_cast<char *>("expires-in-days"));
    UA_Variant_setScalar(&pairs[0].value, &days, &UA_TYPES[UA_TYPES_UINT16]);
    pairs[1].key = UA_QUALIFIEDNAME(0, const_cast<char *>("key-size-bits"));
    UA_Variant_setScalar(&pairs[1].value, &bits, &UA_TYPES[UA_TYPES_UINT16]);
    UA_KeyValueMap params = {2, pairs};
    UA_ByteString derKey = UA_BYTESTRING_NULL, derCert = UA_BYTESTRING_NULL;
    const UA_StatusCode code = UA_CreateCertificate(
        logger, subject, 2, altNames, 4, UA_CERTIFICATEFORMAT_DER, &params, &derKey, &derCert);
    if (code != UA_STATUSCODE_GOOD) {
        *error = std::string("cannot make a certificate: ") + UA_StatusCode_name(code);
        return false;
    }
    cert->assign(reinterpret_cast<const char *>(derCert.data), derCert.length);
    key->assign(reinterpret_cast<const char *>(derKey.data), derKey.length);
    UA_ByteString_clear(&derCert);
    UA_ByteString_clear(&derKey);
    if (!writeFileAtomically(keyPath, *key, 0600, error) ||
        !writeFileAtomically(certPath, *cert, 0644, error))
        return false;
    *made = certPath;
    return true;
}

bool configureSecurity(UA_ServerConfig *config, const OpcuaSecuritySettings &s,
                       const std::string &cert, const std::string &key, OpcuaAccess *access,
                       std::string *error) {
    const UA_ByteString certificate = byteString(cert), privateKey = byteString(key);
    if (!s.trustDir.empty()) {
        std::vector<std::string> files;
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(s.trustDir, ec))
            if (entry.is_regular_file()) {
                std::string bytes;
                if (readBytes(entry.path().string(), &bytes) && !bytes.empty())
                    files.push_back(std::move(bytes));
            }
        if (ec) {
            *error = "--opcua-trust " + s.trustDir + ": " + ec.message();
            return false;
        }
        std::vector<UA_ByteString> trusted;
        for (const std::string &f : files)
            trusted.push_back(byteString(f));
        UA_TrustListDataType list;
        UA_TrustListDataType_init(&list);
        list.specifiedLists = UA_TRUSTLISTMASKS_TRUSTEDCERTIFICATES;
        list.trustedCertificatesSize = trusted.size();
        list.trustedCertificates = trusted.data();
        if (config->secureChannelPKI.clear)
            config->secureChannelPKI.clear(&config->secureChannelPKI);
        UA_NodeId group = UA_NODEID_NUMERIC(
            0, UA_NS0ID_SERVERCONFIGURATION_CERTIFICATEGROUPS_DEFAULTAPPLICATIONGROUP);
        if (UA_CertificateGroup_Memorystore(&config->secureChannelPKI, &group, &list,
                                            config->logging, nullptr) != UA_STATUSCODE_GOOD) {
            *error = "--opcua-trust " + s.trustDir + ": the certificates could not be taken";
            return false;
        }
    }
    if (UA_ServerConfig_addSecurityPolicyBasic256Sha256(config, &certificate, &privateKey) !=
            UA_STATUSCODE_GOOD ||
        UA_ServerConfig_addSecurityPolicyAes256Sha256RsaPss(config, &certificate, &privateKey) !=
            UA_STATUSCODE_GOOD) {
        *error = "the certificate and key do not make a security policy (an RSA pair is needed)";
        return false;
    }
    for (size_t i = 0; i < config->securityPoliciesSize; ++i) {
        const UA_String uri = config->securityPolicies[i].policyUri;
        if (UA_String_equal(&uri, &UA_SECURITY_POLICY_NONE_URI))
            continue;
        for (UA_MessageSecurityMode mode :
             {UA_MESSAGESECURITYMODE_SIGN, UA_MESSAGESECURITYMODE_SIGNANDENCRYPT})
            if (UA_ServerConfig_addEndpoint(config, uri, mode) != UA_STATUSCODE_GOOD) {
                *error = "an endpoint could not be added";
                return false;
            }
    }
    access->users = s.users;
    std::vector<UA_UsernamePasswordLogin> logins;
    for (const OpcuaUser &user : access->users)
        logins.push_back({UA_STRING(const_cast<char *>(user.name.c_str())), UA_BYTESTRING_NULL});
    if (UA_AccessControl_defaultWithLoginCallback(config, s.anonymous, nullptr, logins.size(),
                                                  logins.data(), login,
                                                  access) != UA_STATUSCODE_GOOD) {
        *error = "the access rules could not be set";
        return false;
    }
    UA_AccessControl &ac = config->accessControl;
    access->defaultActivate = reinterpret_cast<void *>(ac.activateSession);
    ac.activateSession = activateSession;
    ac.getUserAccessLevel = userAccessLevel;
    ac.getUserExecutable = userExecutable;
    ac.getUserExecutableOnObject = userExecutableOnObject;
    dropCertificateLogins(&ac);
    config->context = access;
    return true;
}
