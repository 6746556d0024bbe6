// The last writes and port checks, done or refused, from any face.
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

// GET /api/audit
//   200 [{"ts","client","what","result"},...]: the last 50, oldest first
void addAuditRoutes(WebContext &c) {
    c.listener.route("/api/audit", [&c](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        return jsonResponse(200, auditListJson(c.services.audit.entries()));
    });
}
