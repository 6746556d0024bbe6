// The parameter set against its EEPROM and the approved set, as the last drift check found it.
#include "gateway/faces/web/webcontext.h"
#include "gateway/payloads.h"

// GET /api/drift
//   200 {"drift","says","ts","golden_file","failures","golden","ram_eeprom","eeprom_golden",
//       "ram_golden","words":[{"word","key","name","approved","eeprom","ram"},...]}
void addDriftRoutes(WebContext &c) {
    c.listener.route("/api/drift", [&c](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        return jsonResponse(200, driftStateJson(c.services.snapshot()->drift));
    });
}
