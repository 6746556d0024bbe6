// The page's own files, built into the program: every path outside /api/ that no route has.
#include "gateway/faces/web/webcontext.h"
#include "gateway/faces/web/webfiles.h"
#include "gateway/payloads.h"

namespace {

const char *contentTypeOf(const std::string &path) {
    static const std::pair<const char *, const char *> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".woff2", "font/woff2"},
        {".txt", "text/plain; charset=utf-8"},
    };
    for (const auto &type : types) {
        const std::string ending = type.first;
        if (path.size() >= ending.size() &&
            path.compare(path.size() - ending.size(), ending.size(), ending) == 0)
            return type.second;
    }
    return "application/octet-stream";
}

} // namespace

// GET / and GET /FILE: index.html and the page's scripts, styles and pictures; 404 {"error"}
// for any other name
void addPageRoutes(WebContext &c) {
    c.listener.fallback([](const HttpRequest &request, const HttpServer::Reply &) {
        if (!isGet(request))
            return methodNotAllowed("GET");
        const std::string name = request.path == "/" ? "index.html" : request.path.substr(1);
        for (const WebFile &file : webFiles())
            if (name == file.path) {
                HttpResponse response;
                response.contentType = contentTypeOf(name);
                response.body.assign(reinterpret_cast<const char *>(file.data), file.size);
                response.headers.push_back({"Cache-Control", "no-cache"});
                return response;
            }
        return jsonResponse(404, errorJson("not found"));
    });
}
