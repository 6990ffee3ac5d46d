#include "Router.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "RequestLog.h"
#include "Store.h"

namespace tallowdesk::server {

namespace {

bool IsUnder(const std::string& path, std::string_view prefix) {
    return path.rfind(prefix, 0) == 0 &&
           (path.size() == prefix.size() || path[prefix.size()] == '/');
}

// The name part of a Host header: "[::1]:443" -> "::1", "docs:80" -> "docs".
std::string HostName(const std::string& host) {
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        return close == std::string::npos ? host : host.substr(1, close - 1);
    }
    return host.substr(0, host.find(':'));
}

bool IsPort(std::string_view text) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

Router::Router(Store& store, SharedState& shared, std::size_t pageSize, RequestLog* log,
               const std::string& contentDir)
    : m_signIn(store, shared),
      m_feeds(store, m_signIn, pageSize),
      m_uploads(store, shared, m_signIn, contentDir),
      m_web(store, m_signIn, m_feeds),
      m_log(log) {}

void Router::SetHostNames(std::vector<std::string> names) {
    m_hostNames = std::move(names);
}

bool Router::IsSlow(const HttpRequest& request) const {
    const std::string path = request.Path();
    return request.method == "POST" &&
           (path == "/accounts/ClientLogin" || path == "/accounts/ServiceLoginAuth" ||
            path == "/accounts/NewAccount");
}

// The Host header goes into every absolute URL we write; only the names the
// service was started for are taken, so no one can make us write links to
// another site (or break our documents with odd characters).
bool Router::HostAllowed(const HttpRequest& request) const {
    const auto host = request.Header("Host");
    if (!host) return true;  // HTTP/1.0: our own name is used
    if (host->empty()) return false;
    const std::string name = HostName(*host);
    const std::size_t rest = host->front() == '[' ? host->find(']') + 1 : name.size();
    if (rest > host->size()) return false;
    if (rest < host->size() && ((*host)[rest] != ':' || !IsPort(host->substr(rest + 1)))) {
        return false;
    }
    if (EqualsIgnoreCase(name, "localhost") || name == "127.0.0.1" || name == "::1") return true;
    return std::any_of(m_hostNames.begin(), m_hostNames.end(),
                       [&](const std::string& allowed) { return EqualsIgnoreCase(name, allowed); });
}

std::optional<UploadPlan> Router::PlanUpload(const HttpRequest& header) {
    try {
        if (!HostAllowed(header)) return std::nullopt;  // refused as any other request
        auto plan = m_uploads.Plan(header);
        if (plan && plan->refusal && m_log) m_log->Write(header);
        return plan;
    } catch (const std::exception& e) {
        std::cerr << "tallowdesk-server: " << header.method << ' ' << header.target << ": "
                  << e.what() << '\n';
        return UploadPlan{
            GDataError(500, "internalError", "The service failed to answer this request."),
            nullptr};
    }
}

HttpResponse Router::FinishUpload(const HttpRequest& header, UploadSink& sink) {
    if (m_log) {
        try {
            m_log->Write(header);
        } catch (const std::exception& e) {
            std::cerr << "tallowdesk-server: request log: " << e.what() << '\n';
        }
    }
    try {
        return m_uploads.Finish(header, sink);
    } catch (const FolderGone& e) {
        return GDataError(404, "ResourceNotFoundException", e.what());
    } catch (const std::exception& e) {
        std::cerr << "tallowdesk-server: " << header.method << ' ' << header.target << ": "
                  << e.what() << '\n';
        return GDataError(500, "internalError", "The service failed to store the upload.");
    }
}

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
    } catch (const FolderGone& e) {
        return GDataError(404, "ResourceNotFoundException", e.what());
    } catch (const std::exception& e) {
        std::cerr << "tallowdesk-server: " << request.method << ' ' << request.target << ": "
                  << e.what() << '\n';
        return GDataError(500, "internalError", "The service failed to answer this request.");
    }
}

HttpResponse Router::Dispatch(const HttpRequest& request) {
    if (!HostAllowed(request)) {
        return GDataError(400, "invalidHost", "This service does not answer for that host name.");
    }
    const std::string path = request.Path();
    if (path == "/accounts/ClientLogin") return m_signIn.ClientLogin(request);
    if (path == "/accounts/Captcha") return m_signIn.CaptchaImage(request);
    if (path == "/accounts/ServiceLogin") return m_signIn.ServiceLogin(request);
    if (path == "/accounts/ServiceLoginAuth") return m_signIn.ServiceLoginAuth(request);
    if (path == "/upload/resumableupload") return m_uploads.OpenSession(request);
    if (path == "/DocAction") return m_uploads.UploadPage(request);
    if (IsUnder(path, "/feeds/default/media")) return m_uploads.ReplaceMediaAtOnce(request);
    if (IsUnder(path, "/feeds/default/private/full")) return m_feeds.DocumentList(request);
    if (IsUnder(path, "/feeds/download")) return m_feeds.Download(request);
    if (IsUnder(path, "/updatefiles")) return m_updates.Serve(request);
    if (auto page = m_web.Handle(request)) return std::move(*page);
    return GDataError(404, "ResourceNotFoundException", "No such page: " + path);
}

}  // namespace tallowdesk::server
