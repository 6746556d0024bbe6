// Secrets come from files only their owner may read, or from systemd's credentials, which the
// service manager hands over in a folder no other process sees.
#include "gateway/secrets.h"
#include "gateway/options.h"
#include "platform/tr.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string credential(const char *name) {
    const char *folder = std::getenv("CREDENTIALS_DIRECTORY");
    if (!folder || !*folder)
        return {};
    const std::string path = std::string(folder) + "/" + name;
    return ::access(path.c_str(), F_OK) == 0 ? path : std::string();
}

void takeIfEmpty(std::string *option, const char *name) {
    if (option->empty())
        *option = credential(name);
}

// Empty when the file can be read (and, for a secret, only by its owner); otherwise why not.
std::string fileProblem(const std::string &path, bool secret) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::strerror(errno);
    if (!S_ISREG(info.st_mode))
        return kvex::trNow("not a regular file");
    if (::access(path.c_str(), R_OK) != 0)
        return std::strerror(errno);
    if (secret && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return kvex::trArgs("group or others may read it (mode %1); chmod 600 it", {mode});
    }
    return {};
}

bool checkFile(const std::string &path, const char *option, bool secret, std::string *error) {
    if (path.empty())
        return true;
    const std::string problem = fileProblem(path, secret);
    if (problem.empty())
        return true;
    *error = kvex::trArgs("--%1 %2: %3", {option, path, problem});
    return false;
}

bool checkPair(const std::string &cert, const char *certOption, const std::string &key,
               const char *keyOption, std::string *error) {
    if (cert.empty() != key.empty()) {
        *error = kvex::trArgs(
            "--%1 needs --%2 too: a certificate and its key go together",
            {cert.empty() ? keyOption : certOption, cert.empty() ? certOption : keyOption});
        return false;
    }
    return checkFile(cert, certOption, false, error) && checkFile(key, keyOption, true, error);
}

} // namespace

void takeCredentials(GatewayOptions *o) {
    if (o->passwordFile.empty() && o->password.empty())
        o->passwordFile = credential("mqtt-password");
    if (o->http)
        takeIfEmpty(&o->httpTokenFile, "http-token");
    if (o->http && o->httpCert.empty() && o->httpKey.empty()) {
        o->httpCert = credential("http-cert");
        o->httpKey = credential("http-key");
    }
    if (o->cert.empty() && o->key.empty()) {
        o->cert = credential("mqtt-cert");
        o->key = credential("mqtt-key");
    }
    takeIfEmpty(&o->cafile, "mqtt-ca");
    if (o->opcua)
        takeIfEmpty(&o->opcuaUsers, "opcua-users");
}

bool readSecretFile(const std::string &path, const char *option, std::string *secret,
                    std::string *error) {
    if (!checkFile(path, option, true, error))
        return false;
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line.find_first_not_of("\r\n") == std::string::npos) {
        *error =
            kvex::trArgs("--%1 %2: %3", {option, path, kvex::trNow("no secret in its first line")});
        return false;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    *secret = line;
    return true;
}

bool readSecretLines(const std::string &path, const char *option, std::string *text,
                     std::string *error) {
    if (!checkFile(path, option, true, error))
        return false;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    if (!in) {
        *error = kvex::trArgs("--%1 %2: %3", {option, path, kvex::trNow("cannot be read")});
        return false;
    }
    *text = all.str();
    return true;
}

bool checkTlsFiles(const GatewayOptions &o, std::string *error) {
    if (o.http && !checkPair(o.httpCert, "http-cert", o.httpKey, "http-key", error))
        return false;
    if (o.opcua && !checkPair(o.opcuaCert, "opcua-cert", o.opcuaKey, "opcua-key", error))
        return false;
    if (o.mqtt) {
        if (!checkPair(o.cert, "cert", o.key, "key", error) ||
            !checkFile(o.cafile, "cafile", false, error))
            return false;
        // libmosquitto's TLS needs a CA to check the broker against.
        if (!o.cert.empty() && o.cafile.empty()) {
            *error = kvex::trNow("--cert and --key need --cafile too: the broker's certificate is "
                                 "checked against it");
            return false;
        }
    }
    return true;
}

double tokenBits(const std::string &token) {
    bool lower = false, upper = false, digit = false, other = false;
    for (const char c : token) {
        lower |= c >= 'a' && c <= 'z';
        upper |= c >= 'A' && c <= 'Z';
        digit |= c >= '0' && c <= '9';
        other |= !std::isalnum(static_cast<unsigned char>(c));
    }
    const bool hex = token.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    // The alphabet the token seems drawn from; a person's word scores far above what it is
    // worth, so the length needed is on the safe side only for random tokens.
    const double letters =
        hex ? 16.0 : (lower ? 26 : 0) + (upper ? 26 : 0) + (digit ? 10 : 0) + (other ? 33 : 0);
    return letters < 2 ? 0.0 : static_cast<double>(token.size()) * std::log2(letters);
}

const char *tokenAdvice() {
    return "(umask 077 && openssl rand -hex 32 > FILE)";
}
