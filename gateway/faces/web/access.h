// Who may change the sensor through the web: a token in the Authorization header, compared in
// constant time, a growing wait after each refusal, and the request from the page's own site.
#pragma once

#include "gateway/core/audit.h"
#include "platform/httpserver.h"

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
    const std::string token_;
    std::mutex mutex_;
    int failures_ = 0;
    double lastFailure_ = -1e9;
};

// The audit's journal line of a web request: client, what, result.
const char *webAuditFormat();
