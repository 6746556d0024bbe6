// The 16 parameter words: read from the gateway or the EEPROM, written behind the token, and the
// ranges the panel allows for each.
#include "gateway/faces/web/webcontext.h"
#include "gateway/faces/web/webbody.h"
#include "gateway/payloads.h"

namespace {

HttpResponse readEeprom(WebContext &c, const HttpRequest &request,
                        const HttpServer::Reply &reply) {
    SensorJob job;
    job.kind = SensorJob::Kind::ReadEeprom;
    return submitJob(c, request, reply, job, [](const JobResult &result) {
        return result.answered ? jsonResponse(200, parametersJson(result.words.data()))
                               : jsonResponse(504, errorJson("the sensor did not answer"));
    });
}

HttpResponse putParams(WebContext &c, const HttpRequest &request,
                       const HttpServer::Reply &reply) {
    const bool eeprom = request.query == "to=eeprom";
    if (!request.query.empty() && !eeprom && request.query != "to=ram")
        return jsonResponse(400, errorJson("expected ?to=ram or ?to=eeprom"));
    if (auto refused =
            c.access.refuse(request, std::string("parameter words to ") + (eeprom ? "EEPROM" : "RAM"),
                            c.services.audit, "writes are off"))
        return *refused;
    std::vector<WordValue> values;
    std::string error;
    if (!parseWordObject(request.body, &values, &error))
        return jsonResponse(400, errorJson(error));
    CheckedWrite write;
    if (!checkWordWrite(values, eeprom, c.services.snapshot()->positions, &write))
        return write.badWord < 0 ? jsonResponse(400, errorJson(write.refusal))
                                 : jsonResponse(422, rangeErrorJson(write.badName, write.badWord,
                                                                    write.badValue,
                                                                    write.badLimit));
    SensorJob job;
    (eeprom ? job.eeprom : job.ram) = std::move(write);
    const std::string client = request.remoteAddress;
    return submitJob(c, request, reply, job, [&c, client](const JobResult &result) {
        return answerWrite(c, client, result);
    });
}

} // namespace

// GET /api/params
//   200 the params topic's body: {"power","p_mode","v_thd","ana_mode","polarity","e_mode",
//       "e_beg","e_end","t_val","t_tol","op_mode","e_hardware","para12","para13","average",
//       "para15"}, as the gateway last read or wrote them; 503 {"error"} before identification
// GET /api/params?from=eeprom: the same keys read from the EEPROM (a sensor job)
// PUT /api/params[?to=ram|?to=eeprom] {"name": value, ...}, with the token: the words written
//   200 {"memory" ("ram" or "eeprom"),"verified","params":{...}}, 502 the same when the
//   read-back differs; 400 {"error"} a body or name that is wrong, 422 {"error","word","value",
//   "min","max"} a value out of range; 401, 403 without the token or from another site
// GET /api/limits
//   200 {"power":{"word","min","max"},"p_mode":{...},...}: the range the panel allows per word
void addParamsRoutes(WebContext &c) {
    c.listener.route("/api/params", [&c](const HttpRequest &request,
                                         const HttpServer::Reply &reply) {
        if (request.method == "PUT")
            return putParams(c, request, reply);
        if (!isGet(request))
            return methodNotAllowed("GET, PUT");
        if (request.query == "from=eeprom")
            return readEeprom(c, request, reply);
        return keptBody(c, c.paramsJson, "no sensor identified yet");
    });
    c.listener.route("/api/limits", [&c](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        const int positions = c.services.snapshot()->positions;
        ParameterLimit limits[16];
        for (int word = 0; word < 16; ++word)
            limits[word] = parameterLimit(word, positions);
        return jsonResponse(200, limitsJson(limits));
    });
}
