#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "HttpMessage.h"

namespace tallowdesk::server::web {

// Helpers shared by the service's web pages: escaping, the page frame, the
// answers every page gives and the guard of their forms.

// Text for HTML element content and quoted attribute values.
std::string Escape(std::string_view text);

// True for localhost, 127.0.0.0/8 and [::1], with or without a port.
bool IsLoopbackHost(std::string_view host);
// Where the browser pages of a service reached at `origin` live: plain http
// on a loopback host (a browser would stop at our self-signed certificate),
// the origin itself otherwise.
std::string BrowserOrigin(const std::string& origin);

// Who is looking at a page and the token their forms must carry.
struct Visitor {
    std::optional<std::string> email;
    std::string formToken;
    bool newFormToken = false;  // the answer must set the cookie
};

// The common frame: header with the account links, the body, the footer.
std::string Layout(const HttpRequest& request, const Visitor& visitor, const std::string& title,
                   const std::string& body);
HttpResponse HtmlAnswer(int status, std::string html, const Visitor& visitor,
                        const HttpRequest& request);
HttpResponse Redirect(const std::string& location);
// "Send there and back": the sign-in form, continuing to this page.
HttpResponse SignInRedirect(const HttpRequest& request);
std::string SignInUrl(const HttpRequest& request);
HttpResponse MethodNotAllowed(const std::string& allow);

// The form token: a random value in an HttpOnly, SameSite=Strict cookie that
// each form repeats in a hidden field (double submit). Another site can make
// a browser post to us but cannot read the cookie to fill in the field.
std::string ExistingFormToken(const HttpRequest& request);
std::string NewFormToken();
std::string FormTokenField(const Visitor& visitor);
// The field matches the cookie and any Origin header names this service.
bool FormIsGenuine(const HttpRequest& request, const std::map<std::string, std::string>& form);

// Session and form cookies: HttpOnly, SameSite, Secure on https.
std::string CookieHeader(const HttpRequest& request, const std::string& name,
                         const std::string& value, const std::string& sameSite,
                         bool expire = false);

// Where a finished form may send the browser: `wanted` when it is a page of
// this service (a path, or a URL of our own origin), `fallback` otherwise.
// Control characters, blanks and backslashes are refused anywhere in it:
// they would split our headers or make browsers read another host.
std::string SafeContinue(const HttpRequest& request, const std::string& wanted,
                         const std::string& fallback);
// Whether a browser says the request came from a page of another origin.
bool FromOtherSite(const HttpRequest& request);

std::string FormatBytes(std::int64_t bytes);  // "1.5 MB"
std::string FormatWhen(std::int64_t millis);  // "2026-12-06 11:25 UTC"
std::string Field(const std::map<std::string, std::string>& form, const std::string& name);

}  // namespace tallowdesk::server::web
