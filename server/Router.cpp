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

Router::Router(Store& store, std::size_t pageSize, RequestLog* log, const std::string& contentDir)
    : m_signIn(store),
      m_feeds(store, m_signIn, pageSize),
      m_uploads(store, m_signIn, contentDir),
      m_web(store, m_signIn, m_feeds),
      m_log(log) {}

std::optional<UploadPlan> Router::PlanUpload(const HttpRequest& header) {
    try {
        if (const auto host = header.Header("Host"); host && !IsPlainHost(*host)) {
            return std::nullopt;  // refused as any other request
        }
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
    if (path == "/upload/resumableupload") return m_uploads.OpenSession(request);
    if (path == "/DocAction") return m_uploads.UploadPage(request);
    if (IsUnder(path, "/feeds/default/private/full")) return m_feeds.DocumentList(request);
    if (IsUnder(path, "/feeds/download")) return m_feeds.Download(request);
    if (IsUnder(path, "/updatefiles")) return m_updates.Serve(request);
    if (auto page = m_web.Handle(request)) return std::move(*page);
    return GDataError(404, "ResourceNotFoundException", "No such page: " + path);
}

}  // namespace tallowdesk::server
