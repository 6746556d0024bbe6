// Who may change the sensor through the web: a token in the Authorization header, compared in
// constant time, a growing wait after each refusal counted per client address across all its
// connections, and the request from the page's own site.
#pragma once

#include "gateway/core/audit.h"
#include "platform/httpserver.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

class WriteAccess {
  public:
    // `token` empty: writes are off.
    explicit WriteAccess(std::string token) : token_(std::move(token)) {}

    bool enabled() const { return !token_.empty(); }
    // Nothing when `request` may go ahead; otherwise the answer that refuses it, after the
    // refusal went into the audit as `what`. `offReason` says why the feature needs the token
    // while writes are off.
    std::optional<HttpResponse> refuse(const HttpRequest &request, const std::string &what,
                                       AuditLog &audit, const char *offReason);

  private:
    struct Failures {
        int count = 0;
        double last = -1e9;
        // No token from this address is looked at before then.
        double nextCheck = 0.0;
    };
    // Seconds until `address` may try a token again (0: now); counts a failure when `failed`.
    double throttle(const std::string &address, bool failed);
    // Whether this refusal goes into the audit: at most kAuditedPerMinute a minute, the rest
    // counted and named in the next entry.
    bool audited(uint64_t *skipped);

    const std::string token_;
    std::mutex mutex_;
    std::map<std::string, Failures> failures_;
    double auditMinute_ = -1e9;
    int auditedInMinute_ = 0;
    uint64_t unaudited_ = 0;
};

// The audit's journal line of a web request: client, what, result.
const char *webAuditFormat();
