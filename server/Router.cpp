#include "Router.h"

#include <cctype>
#include <iostream>

#include "RequestLog.h"

namespace tallowdesk::server {

namespace {

bool IsUnder(const std::string& path, std::string_view prefix) {
    return path.rfind(prefix, 0) == 0 &&
           (path.size() == prefix.size() || path[prefix.size()] == '/');
}

// Host names and addresses only: the Host header goes into every absolute
// URL we write, so anything else could break or forge our documents.
bool IsPlainHost(const std::string& host) {
    if (host.empty()) return false;
    for (unsigned char c : host) {
        if (!std::isalnum(c) && c != '.' && c != '-' && c != ':' && c != '[' && c != ']') {
            return false;
        }
    }
    return true;
}

}  // namespace

Router::Router(Store& store, std::size_t pageSize, RequestLog* log)
    : m_signIn(store), m_feeds(store, m_signIn, pageSize), m_log(log) {}

HttpResponse Router::Handle(const HttpRequest& request) {
    if (m_log) {
        try {
            m_log->Write(request);
        } catch (const std::exception& e) {
            std::cerr << "tallowdesk-server: request log: " << e.what() << '\n';
        }
    }
    try {
        return Dispatch(request);
    } catch (const std::exception& e) {
        std::cerr << "tallowdesk-server: " << request.method << ' ' << request.target << ": "
                  << e.what() << '\n';
        return GDataError(500, "internalError", "The service failed to answer this request.");
    }
}

HttpResponse Router::Dispatch(const HttpRequest& request) {
    if (const auto host = request.Header("Host"); host && !IsPlainHost(*host)) {
        return GDataError(400, "invalidHost", "The Host header is not a host name.");
    }
    const std::string path = request.Path();
    if (path == "/accounts/ClientLogin") return m_signIn.ClientLogin(request);
    if (path == "/accounts/Captcha") return m_signIn.CaptchaImage(request);
    if (path == "/accounts/ServiceLogin") return m_signIn.ServiceLogin(request);
    if (path == "/accounts/ServiceLoginAuth") return m_signIn.ServiceLoginAuth(request);
    if (path == "/") return m_signIn.Home(request);
    if (IsUnder(path, "/feeds/default/private/full")) return m_feeds.DocumentList(request);
    if (IsUnder(path, "/feeds/download")) return m_feeds.Download(request);
    return GDataError(404, "ResourceNotFoundException", "No such page: " + path);
}

}  // namespace tallowdesk::server
