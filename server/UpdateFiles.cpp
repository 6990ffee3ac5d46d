#include "UpdateFiles.h"

#include <cctype>
#include <filesystem>

#include "FeedHandler.h"

namespace tallowdesk::server {

namespace {

// One plain file name: no folders, no hidden files, nothing that climbs out.
bool IsPublishedName(const std::string& name) {
    if (name.empty() || name.front() == '.') return false;
    for (const unsigned char c : name) {
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') return false;
    }
    return true;
}

}  // namespace

HttpResponse UpdateFiles::Serve(const HttpRequest& request) const {
    if (request.method != "GET" && request.method != "HEAD") {
        HttpResponse r = GDataError(405, "methodNotAllowed", "Only GET is allowed here.");
        r.Set("Allow", "GET, HEAD");
        return r;
    }
    const std::string path = request.Path();
    const std::string name = UrlDecode(path.substr(path.find('/', 1) + 1), false);
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file = fs::path(m_folder) / name;
    if (m_folder.empty() || !IsPublishedName(name) || !fs::is_regular_file(file, ec)) {
        return GDataError(404, "ResourceNotFoundException", "No such update file: " + name);
    }
    HttpResponse r;
    const bool text = file.extension() == ".txt";
    r.Set("Content-Type", text ? "text/plain; charset=UTF-8" : "application/octet-stream");
    r.Set("Cache-Control", "no-cache");
    r.bodyFile = file.string();
    return r;
}

}  // namespace tallowdesk::server
