// What the gateway checks of its secrets and TLS files before it starts: systemd credentials,
// files that group or others may read, half a TLS configuration, files it cannot read, tokens
// too short to guess at.
#pragma once

#include <string>

struct GatewayOptions;

// Fills the secret options not given from systemd's credentials ($CREDENTIALS_DIRECTORY, the
// unit's LoadCredential=): "mqtt-password", "http-token", "http-key", "http-cert", "mqtt-key",
// "mqtt-cert", "mqtt-ca" and "opcua-users", each a file of that name.
void takeCredentials(GatewayOptions *options);
// The first line of a secret's file, refused when group or others may read the file (as ssh
// refuses such keys); false with a reason naming `option`.
bool readSecretFile(const std::string &path, const char *option, std::string *secret,
                    std::string *error);
// The TLS files of the web and the broker connection: both halves of each pair, every file
// readable, private keys readable by their owner only. False with a reason naming the option.
bool checkTlsFiles(const GatewayOptions &options, std::string *error);
// A secret file read whole (a list of users), with the same checks as readSecretFile.
bool readSecretLines(const std::string &path, const char *option, std::string *text,
                     std::string *error);
// How many bits of guessing a token stands for, from its length and the letters it uses.
double tokenBits(const std::string &token);
// The bits a write token needs, and the command that makes a good one.
constexpr double kTokenBitsNeeded = 128.0;
const char *tokenAdvice();
