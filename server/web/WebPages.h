#pragma once

#include <optional>

#include "AccountPages.h"
#include "EntryPages.h"
#include "HttpMessage.h"

namespace tallowdesk::server {
class Store;
class SignInHandler;
class FeedHandler;
}  // namespace tallowdesk::server

namespace tallowdesk::server::web {

// The service's face in a browser: home page, quick-start guide, account
// pages, entry and folder pages, and the files they need. Pages answer on
// plain http and https alike; see server/README.md for why.
class WebPages {
public:
    WebPages(Store& store, SignInHandler& signIn, FeedHandler& feeds);

    // Nothing when the request is not for a web page.
    std::optional<HttpResponse> Handle(const HttpRequest& request);
    AccountPages& Accounts() { return m_accounts; }

private:
    Visitor VisitorOf(const HttpRequest& request);
    HttpResponse Home(const HttpRequest& request, const Visitor& visitor);
    HttpResponse Guide(const HttpRequest& request, const Visitor& visitor);
    std::optional<HttpResponse> Asset(const HttpRequest& request);

    SignInHandler& m_signIn;
    AccountPages m_accounts;
    EntryPages m_entries;
};

}  // namespace tallowdesk::server::web
