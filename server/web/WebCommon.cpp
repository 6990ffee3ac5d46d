#include "WebCommon.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <vector>

#include "Crypto.h"

namespace tallowdesk::server::web {

namespace {

constexpr const char* kFormCookie = "TDFORM";
constexpr std::size_t kFormTokenLength = 32;

// Our pages load nothing from elsewhere and run no script at all.
constexpr const char* kPagePolicy =
    "default-src 'none'; style-src 'self'; img-src 'self'; frame-src 'self'; "
    "form-action 'self'; base-uri 'none'; frame-ancestors 'none'";

bool IsTokenText(const std::string& text) {
    if (text.size() != kFormTokenLength) return false;
    for (unsigned char c : text) {
        if (!std::isalnum(c) && c != '-' && c != '_') return false;
    }
    return true;
}

}  // namespace

std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool IsLoopbackHost(std::string_view host) {
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        return close != std::string_view::npos && host.substr(1, close - 1) == "::1";
    }
    host = host.substr(0, host.find(':'));
    if (EqualsIgnoreCase(host, "localhost")) return true;
    // 127.0.0.0/8 written as four decimal numbers.
    if (host.rfind("127.", 0) != 0) return false;
    int dots = 0;
    for (char c : host) {
        if (c == '.') {
            ++dots;
        } else if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return dots == 3;
}

std::string BrowserOrigin(const std::string& origin) {
    constexpr std::string_view kHttps = "https://";
    if (origin.rfind(kHttps, 0) == 0 && IsLoopbackHost(origin.substr(kHttps.size()))) {
        return "http://" + origin.substr(kHttps.size());
    }
    return origin;
}

std::string SignInUrl(const HttpRequest& request) {
    const std::string back = request.Origin() + request.target;
    return "/accounts/ServiceLogin?service=writely&continue=" + UrlEncode(back) +
           "&followup=" + UrlEncode(back);
}

std::string Layout(const HttpRequest& request, const Visitor& visitor, const std::string& title,
                   const std::string& body) {
    std::string account;
    if (visitor.email) {
        account = "<span class='who'>" + Escape(*visitor.email) +
                  "</span> <a href='/accounts/PurchaseStorage'>Storage</a> "
                  "<form class='inline' method='post' action='/accounts/Logout'>" +
                  FormTokenField(visitor) + "<button type='submit'>Sign out</button></form>";
    } else {
        account = "<a href='" + Escape(SignInUrl(request)) +
                  "'>Sign in</a> <a href='/accounts/NewAccount'>Create an account</a>";
    }
    return "<!DOCTYPE html><html lang='en'><head><meta charset='utf-8'>"
           "<meta name='viewport' content='width=device-width, initial-scale=1'>"
           "<title>" +
           Escape(title) +
           " - Tallowdesk</title><link rel='stylesheet' href='/web/style.css'></head><body>"
           "<header><a class='brand' href='/'>Tallowdesk</a><nav>" +
           (visitor.email ? "<a href='/folderview?id=root'>My Documents</a> " : std::string()) +
           account + "</nav></header><main>" + body +
           "</main><footer><a href='/quick-start-guide.html'>Quick-start guide</a></footer>"
           "</body></html>";
}

HttpResponse HtmlAnswer(int status, std::string html, const Visitor& visitor,
                        const HttpRequest& request) {
    HttpResponse r;
    r.status = status;
    r.Set("Content-Type", "text/html; charset=UTF-8");
    r.Set("Cache-Control", "no-store");
    r.Set("Content-Security-Policy", kPagePolicy);
    r.Set("X-Content-Type-Options", "nosniff");
    r.Set("X-Frame-Options", "DENY");
    r.Set("Referrer-Policy", "same-origin");
    if (visitor.newFormToken) {
        r.Set("Set-Cookie", CookieHeader(request, kFormCookie, visitor.formToken, "Strict"));
    }
    r.body = std::move(html);
    return r;
}

HttpResponse Redirect(const std::string& location) {
    HttpResponse r;
    r.status = 303;
    r.Set("Location", location);
    r.Set("Cache-Control", "no-store");
    r.Set("Content-Type", "text/html; charset=UTF-8");
    r.body = "<!DOCTYPE html><p><a href='" + Escape(location) + "'>Continue</a></p>";
    return r;
}

HttpResponse SignInRedirect(const HttpRequest& request) {
    HttpResponse r = Redirect(SignInUrl(request));
    r.status = 302;
    return r;
}

HttpResponse MethodNotAllowed(const std::string& allow) {
    HttpResponse r;
    r.status = 405;
    r.Set("Allow", allow);
    r.Set("Content-Type", "text/plain; charset=UTF-8");
    r.body = "Method not allowed\n";
    return r;
}

std::string ExistingFormToken(const HttpRequest& request) {
    const auto cookies = request.Cookies();
    const auto it = cookies.find(kFormCookie);
    return it != cookies.end() && IsTokenText(it->second) ? it->second : std::string();
}

std::string NewFormToken() {
    return RandomToken(kFormTokenLength);
}

std::string FormTokenField(const Visitor& visitor) {
    return "<input type='hidden' name='csrf' value='" + Escape(visitor.formToken) + "'>";
}

bool FormIsGenuine(const HttpRequest& request, const std::map<std::string, std::string>& form) {
    const std::string cookie = ExistingFormToken(request);
    const std::string field = Field(form, "csrf");
    if (cookie.empty() || field.size() != cookie.size()) return false;
    const std::vector<unsigned char> a(cookie.begin(), cookie.end());
    const std::vector<unsigned char> b(field.begin(), field.end());
    if (!SameBytes(a, b)) return false;
    // Browsers name the page a form came from; another site's page is refused
    // even if it somehow learnt the token.
    if (const auto origin = request.Header("Origin")) return *origin == request.Origin();
    return true;
}

std::string CookieHeader(const HttpRequest& request, const std::string& name,
                         const std::string& value, const std::string& sameSite, bool expire) {
    return name + "=" + value + "; Path=/" + (expire ? "; Max-Age=0" : "") + "; HttpOnly" +
           "; SameSite=" + sameSite + (request.secure ? "; Secure" : "");
}

std::string SafeContinue(const HttpRequest& request, const std::string& wanted,
                         const std::string& fallback) {
    for (unsigned char c : wanted) {
        if (c <= 0x20 || c >= 0x7f || c == '\\') return fallback;
    }
    if (!wanted.empty() && wanted.front() == '/') {
        // "//host/..." is another site to a browser.
        return wanted.size() > 1 && wanted[1] == '/' ? fallback : wanted;
    }
    for (const std::string& origin : {request.Origin(), BrowserOrigin(request.Origin())}) {
        if (wanted.size() > origin.size() && wanted.compare(0, origin.size(), origin) == 0 &&
            wanted[origin.size()] == '/') {
            return wanted;
        }
    }
    return fallback;
}

bool FromOtherSite(const HttpRequest& request) {
    if (const auto site = request.Header("Sec-Fetch-Site")) {
        if (*site != "same-origin" && *site != "none") return true;
    }
    if (const auto origin = request.Header("Origin")) {
        return *origin != request.Origin() && *origin != BrowserOrigin(request.Origin());
    }
    return false;
}

std::string FormatBytes(std::int64_t bytes) {
    char text[64];
    const double value = static_cast<double>(bytes);
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
    } else if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KB", value / 1024.0);
    } else if (bytes < 1024LL * 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MB", value / (1024.0 * 1024.0));
    } else {
        std::snprintf(text, sizeof text, "%.2f GB", value / (1024.0 * 1024.0 * 1024.0));
    }
    return text;
}

std::string FormatWhen(std::int64_t millis) {
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm);
    return text;
}

std::string Field(const std::map<std::string, std::string>& form, const std::string& name) {
    const auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

}  // namespace tallowdesk::server::web
