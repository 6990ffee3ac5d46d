#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "FeedHandler.h"
#include "HttpMessage.h"
#include "SignInHandler.h"
#include "UpdateFiles.h"
#include "UploadHandler.h"
#include "web/WebPages.h"

namespace tallowdesk::server {

class Store;
class SharedState;
class RequestLog;

// Sends each request to the handler of its path; turns anything a handler
// throws into a 500 error document so no exception reaches the I/O threads.
class Router {
public:
    Router(Store& store, SharedState& shared, std::size_t pageSize, RequestLog* log,
           const std::string& contentDir);

    HttpResponse Handle(const HttpRequest& request);
    // Requests whose answer takes long on purpose (password checks): the
    // server runs them away from its I/O threads.
    bool IsSlow(const HttpRequest& request) const;
    // Host names accepted besides localhost, 127.0.0.1 and ::1.
    void SetHostNames(std::vector<std::string> names);
    // Whether the Host header names this service (or is absent).
    bool HostAllowed(const HttpRequest& request) const;
    // Uploads whose body streams to disk: planned once the header is read,
    // finished once the body is there. `header` carries no body.
    std::optional<UploadPlan> PlanUpload(const HttpRequest& header);
    HttpResponse FinishUpload(const HttpRequest& header, UploadSink& sink);
    UploadHandler& Uploads() { return m_uploads; }
    SignInHandler& SignIn() { return m_signIn; }
    FeedHandler& Feeds() { return m_feeds; }
    UpdateFiles& Updates() { return m_updates; }
    web::WebPages& Web() { return m_web; }

private:
    HttpResponse Dispatch(const HttpRequest& request);

    SignInHandler m_signIn;
    FeedHandler m_feeds;
    UploadHandler m_uploads;
    UpdateFiles m_updates;
    web::WebPages m_web;
    RequestLog* m_log;
    std::vector<std::string> m_hostNames;
};

}  // namespace tallowdesk::server
