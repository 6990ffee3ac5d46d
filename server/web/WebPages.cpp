#include "WebPages.h"

#include "SignInHandler.h"
#include "WebAssets.h"

namespace tallowdesk::server::web {

namespace {

std::string TypeOfAsset(std::string_view name) {
    auto endsWith = [&](std::string_view tail) {
        return name.size() >= tail.size() && name.substr(name.size() - tail.size()) == tail;
    };
    if (endsWith(".css")) return "text/css; charset=UTF-8";
    if (endsWith(".png")) return "image/png";
    return {};  // guide text and the like are not served on their own
}

}  // namespace

WebPages::WebPages(Store& store, SignInHandler& signIn, FeedHandler& feeds)
    : m_signIn(signIn), m_accounts(store), m_entries(store, feeds) {}

Visitor WebPages::VisitorOf(const HttpRequest& request) {
    Visitor visitor;
    visitor.email = m_signIn.CookieUser(request);
    visitor.formToken = ExistingFormToken(request);
    if (visitor.formToken.empty()) {
        visitor.formToken = NewFormToken();
        visitor.newFormToken = true;
    }
    return visitor;
}

std::optional<HttpResponse> WebPages::Handle(const HttpRequest& request) {
    const std::string path = request.Path();
    if (path.rfind("/web/", 0) == 0 && path != "/web/preview" && path != "/web/download") {
        return Asset(request);
    }
    const bool known = path == "/" || path == "/quick-start-guide.html" ||
                       path == "/accounts/NewAccount" || path == "/accounts/PurchaseStorage" ||
                       path == "/accounts/b/0/PurchaseStorage" || path == "/accounts/Logout" ||
                       path == "/accounts/ConfirmAddress";
    if (known) {
        const Visitor visitor = VisitorOf(request);
        if (path == "/") return Home(request, visitor);
        if (path == "/quick-start-guide.html") return Guide(request, visitor);
        if (path == "/accounts/NewAccount") return m_accounts.NewAccount(request, visitor);
        if (path == "/accounts/Logout") return m_accounts.SignOut(request, visitor);
        if (path == "/accounts/ConfirmAddress") return m_accounts.ConfirmAddress(request, visitor);
        return m_accounts.Storage(request, visitor);
    }
    // Entry pages are many paths; only build the visitor for the ones we own.
    if (path == "/folderview" || path == "/spreadsheet/ccc" || path == "/web/preview" ||
        path == "/web/download" || path.rfind("/document/d/", 0) == 0 ||
        path.rfind("/presentation/d/", 0) == 0 || path.rfind("/drawings/d/", 0) == 0 ||
        path.rfind("/file/d/", 0) == 0) {
        return m_entries.Handle(request, VisitorOf(request));
    }
    return std::nullopt;
}

HttpResponse WebPages::Home(const HttpRequest& request, const Visitor& visitor) {
    if (request.method != "GET" && request.method != "HEAD") return MethodNotAllowed("GET, HEAD");
    // The desktop program's cookie sign-in starts at the https root and
    // expects to be led to the sign-in form; browsers come by plain http.
    if (!visitor.email && request.secure) return m_signIn.Home(request);
    std::string body =
        "<h1>Tallowdesk</h1><p class='lead'>Tallowdesk is a desktop program for your "
        "documents, spreadsheets, presentations, drawings and files: it shows them in folders, "
        "uploads and downloads them, exports them to other formats and shares them with other "
        "people. This web service on your computer keeps them, and these pages show them in "
        "your browser.</p>";
    if (visitor.email) {
        body += "<p>Signed in as <strong>" + Escape(*visitor.email) +
                "</strong>.</p><ul class='links'><li><a href='/folderview?id=root'>My "
                "Documents</a></li><li><a href='/folderview?id=shared'>Shared with "
                "me</a></li><li><a href='/accounts/PurchaseStorage'>Storage</a></li>"
                "<li><a href='/quick-start-guide.html'>Quick-start guide</a></li></ul>";
    } else {
        body += "<ul class='links'><li><a href='" + Escape(SignInUrl(request)) +
                "'>Sign in</a></li><li><a href='/accounts/NewAccount'>Create an "
                "account</a></li><li><a href='/quick-start-guide.html'>Quick-start "
                "guide</a></li></ul>";
    }
    return HtmlAnswer(200, Layout(request, visitor, "Home", body), visitor, request);
}

HttpResponse WebPages::Guide(const HttpRequest& request, const Visitor& visitor) {
    if (request.method != "GET" && request.method != "HEAD") return MethodNotAllowed("GET, HEAD");
    const auto text = FindAsset("quick-start-guide.html");
    const std::string body = text ? std::string(*text) : "<h1>Quick-start guide</h1>";
    return HtmlAnswer(200, Layout(request, visitor, "Quick-start guide", body), visitor, request);
}

std::optional<HttpResponse> WebPages::Asset(const HttpRequest& request) {
    const std::string name = request.Path().substr(5);
    const std::string type = TypeOfAsset(name);
    const auto bytes = type.empty() ? std::nullopt : FindAsset(name);
    if (!bytes) return std::nullopt;
    if (request.method != "GET" && request.method != "HEAD") return MethodNotAllowed("GET, HEAD");
    HttpResponse r;
    r.Set("Content-Type", type);
    r.Set("Cache-Control", "public, max-age=3600");
    r.Set("X-Content-Type-Options", "nosniff");
    r.body = std::string(*bytes);
    return r;
}

}  // namespace tallowdesk::server::web
