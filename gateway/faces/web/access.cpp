// The token check and the wait that doubles with each refused token.
#include "gateway/faces/web/access.h"
#include "gateway/core/state.h"
#include "gateway/core/weblistener.h"
#include "gateway/payloads.h"
#include "platform/tr.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

bool sameText(const std::string &a, const std::string &b) {
    // Compares every byte whatever the first difference, so the time says nothing of the token.
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i % std::max<std::size_t>(b.size(), 1)]);
    return difference == 0 && !b.empty();
}

bool startsWithBearer(const std::string &authorization) {
    const std::string scheme = "bearer ";
    if (authorization.size() <= scheme.size())
        return false;
    for (std::size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(authorization[i])) != scheme[i])
            return false;
    return true;
}

// Addresses remembered at most; a flood from many addresses forgets the quiet ones first.
constexpr std::size_t kAddressesKept = 4096;
constexpr int kAuditedPerMinute = 10;

} // namespace

double WriteAccess::throttle(const std::string &address, bool failed) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const double now = steadySeconds();
    if (failures_.size() >= kAddressesKept)
        for (auto it = failures_.begin(); it != failures_.end();)
            it = now - it->second.last > 60.0 ? failures_.erase(it) : std::next(it);
    if (!failed) {
        const auto found = failures_.find(address);
        return found == failures_.end() ? 0.0 : std::max(0.0, found->second.nextCheck - now);
    }
    if (failures_.size() >= kAddressesKept && !failures_.count(address))
        failures_.clear();
    // Each failure within a minute of the last doubles the wait, up to 5 s.
    Failures &f = failures_[address];
    f.count = now - f.last > 60.0 ? 1 : std::min(f.count + 1, 10);
    f.last = now;
    const double wait = std::min(0.2 * (1 << std::min(f.count, 5)), 5.0);
    // The refusal itself is answered after `wait`: a client that waits for it may go on at once.
    f.nextCheck = now + 0.9 * wait;
    return wait;
}

bool WriteAccess::audited(uint64_t *skipped) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const double now = steadySeconds();
    if (now - auditMinute_ >= 60.0) {
        auditMinute_ = now;
        auditedInMinute_ = 0;
    }
    if (auditedInMinute_ >= kAuditedPerMinute) {
        ++unaudited_;
        return false;
    }
    ++auditedInMinute_;
    *skipped = unaudited_;
    unaudited_ = 0;
    return true;
}

const char *webAuditFormat() {
    return kvex::tr("web write from %s: %s: %s");
}

std::optional<HttpResponse> WriteAccess::refuse(const HttpRequest &request, const std::string &what,
                                                AuditLog &audit, const char *offReason) {
    if (crossSite(request))
        return jsonResponse(403, errorJson("cross-site request refused"));
    if (token_.empty())
        return jsonResponse(403, errorJson(std::string(offReason) +
                                           ": start the gateway with --http-token-file FILE "
                                           "(INI key http-token-file) to turn them on"));
    // While an address waits after a wrong token, no token of its is even compared: parallel
    // connections would otherwise try guesses side by side.
    const double wait = throttle(request.remoteAddress, false);
    if (wait > 0.0) {
        HttpResponse response = jsonResponse(
            429, errorJson("too many wrong tokens from this address: try again shortly"));
        response.headers.push_back(
            {"Retry-After", std::to_string(static_cast<int>(std::ceil(wait)))});
        return response;
    }
    const std::string authorization = request.header("authorization");
    if (startsWithBearer(authorization) && sameText(authorization.substr(7), token_))
        return std::nullopt;
    const double delay = throttle(request.remoteAddress, true);
    uint64_t skipped = 0;
    if (audited(&skipped))
        audit.record(webAuditFormat(), request.remoteAddress, what,
                     std::string(authorization.empty() ? "refused: no token"
                                                       : "refused: wrong token") +
                         (skipped > 0 ? " (" + std::to_string(skipped) +
                                            " refusals before it not listed)"
                                      : ""));
    HttpResponse response =
        jsonResponse(401, errorJson("a valid token is needed: Authorization: Bearer TOKEN"));
    response.headers.push_back({"WWW-Authenticate", "Bearer"});
    response.delayMs = static_cast<int>(delay * 1000.0);
    return response;
}
