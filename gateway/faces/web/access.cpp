// The token check and the wait that doubles with each refused token.
#include "gateway/faces/web/access.h"
#include "gateway/core/state.h"
#include "gateway/core/weblistener.h"
#include "gateway/payloads.h"
#include "platform/tr.h"

#include <algorithm>
#include <cctype>

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

} // namespace

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
    const std::string authorization = request.header("authorization");
    if (startsWithBearer(authorization) && sameText(authorization.substr(7), token_))
        return std::nullopt;
    double delay = 0.0;
    {
        // Each failure within a minute of the last doubles the wait, up to 5 s.
        const std::lock_guard<std::mutex> lock(mutex_);
        const double now = steadySeconds();
        failures_ = now - lastFailure_ > 60.0 ? 1 : std::min(failures_ + 1, 10);
        lastFailure_ = now;
        delay = std::min(0.2 * (1 << std::min(failures_, 5)), 5.0);
    }
    audit.record(webAuditFormat(), request.remoteAddress, what,
                 authorization.empty() ? "refused: no token" : "refused: wrong token");
    HttpResponse response =
        jsonResponse(401, errorJson("a valid token is needed: Authorization: Bearer TOKEN"));
    response.headers.push_back({"WWW-Authenticate", "Bearer"});
    response.delayMs = static_cast<int>(delay * 1000.0);
    return response;
}
