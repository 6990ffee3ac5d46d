#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tallowdesk::server {

// A request as the handlers see it, apart from the network library.
struct HttpRequest {
    std::string method;
    std::string target;  // as received: path and query, still escaped
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
    std::string body;
    bool secure = false;        // arrived over TLS
    std::string remoteAddress;  // the peer's IP address, when known
    // The configured public address ("https://docs.example.org"); when set it
    // replaces scheme and Host in every absolute URL of the answer.
    std::string publicOrigin;

    // First header of that name (case-insensitive).
    std::optional<std::string> Header(std::string_view name) const;
    std::string Scheme() const { return secure ? "https" : "http"; }
    // Scheme and Host header (or the public address, when configured): the
    // base of every absolute URL in the answer.
    std::string Origin() const;
    std::string Path() const;   // target without its query, still escaped
    std::string Query() const;  // text after '?', empty when none
    std::map<std::string, std::string> Cookies() const;
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string bodyFile;  // when set, the body is this file's content instead
    // Removed once bodyFile is open: a folder of temporary results.
    std::string removeAfterOpen;
    // Sent this many milliseconds late, on a timer: sign-in attempts of an
    // account that keeps failing are answered further apart.
    std::int64_t delayMs = 0;

    HttpResponse& Set(std::string name, std::string value) {
        headers.emplace_back(std::move(name), std::move(value));
        return *this;
    }
};

// Percent-decoding; '+' becomes a blank only when `plusIsSpace`.
std::string UrlDecode(std::string_view text, bool plusIsSpace);
std::string UrlEncode(std::string_view text);
// Form or query text: name=value pairs joined by '&', decoded. Later
// duplicates do not replace the first value.
std::map<std::string, std::string> ParseForm(std::string_view text);
std::string XmlEscape(std::string_view text);
// XmlEscape(text) appended to `out`, without a string of its own.
void AppendXmlEscaped(std::string& out, std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// True when the last of the comma-separated transfer codings is "chunked",
// the only framing of a request body that has a known end.
bool EndsInChunked(std::string_view codings);

}  // namespace tallowdesk::server
