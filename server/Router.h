#pragma once

#include <cstddef>
#include <memory>

#include "FeedHandler.h"
#include "HttpMessage.h"
#include "SignInHandler.h"

namespace tallowdesk::server {

class Store;
class RequestLog;

// Sends each request to the handler of its path; turns anything a handler
// throws into a 500 error document so no exception reaches the I/O threads.
class Router {
public:
    Router(Store& store, std::size_t pageSize, RequestLog* log);

    HttpResponse Handle(const HttpRequest& request);
    SignInHandler& SignIn() { return m_signIn; }
    FeedHandler& Feeds() { return m_feeds; }

private:
    HttpResponse Dispatch(const HttpRequest& request);

    SignInHandler m_signIn;
    FeedHandler m_feeds;
    RequestLog* m_log;
};

}  // namespace tallowdesk::server
