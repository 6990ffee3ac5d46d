#pragma once

typedef void CURL;

namespace tallowdesk {

class ServiceClient;

// The Internet Explorer 8 user agent of the browser-style requests.
extern const char kMsieUserAgent[];

// Sets up handle as a browser of the client's web session: redirects followed,
// the TLS settings, the MSIE user agent and the shared session cookies. A
// client without a cookie store signs in on the web first; without credentials
// that throws "User doesn't log in!".
void PrepareBrowserRequest(ServiceClient& client, CURL* handle);

}  // namespace tallowdesk
