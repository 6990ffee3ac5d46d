#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tallowdesk::server {

// Addresses the service listens on and hears from: plain functions over
// text, so that the rules are tested without a network.

struct ListenAddress {
    std::string address;  // "127.0.0.1", "::1", without brackets
    unsigned short port = 0;
};

// The address people use to reach the service, as the operator configured
// it: every absolute URL the service writes (feed links, redirects, form
// targets) starts with `origin`, whatever Host header a request carried.
struct PublicUrl {
    std::string origin;  // "https://docs.example.org" or "https://[2001:db8::1]:8443"
    std::string host;    // "docs.example.org", "2001:db8::1": a name to answer for
};

// "https://HOST[:PORT][/]"; plain "http://" only for a loopback host, since
// forms would carry passwords in the clear. Empty for anything else: a
// path, a query, user information, a host that is neither a DNS name nor an
// IP address, a port outside 1 to 65535.
std::optional<PublicUrl> ParsePublicUrl(std::string_view text);

// "ADDR:PORT", with an IPv6 address in brackets ("[::1]:8443"). Empty when
// the text is not an IP address and a port of 0 to 65535.
std::optional<ListenAddress> ParseListenAddress(std::string_view text);

// 127.0.0.0/8, ::1 and IPv4-mapped 127.x.x.x: only this machine reaches them.
bool IsLoopbackAddress(std::string_view address);

// The address's usual text ("::ffff:10.0.0.1" becomes "10.0.0.1"); empty
// when it is not an IP address.
std::string NormalAddress(std::string_view address);

// The address a request comes from, for throttles and logs. That is the
// peer's address, unless the peer is one of `trustedProxies`: then the
// proxy's "Forwarded" header (or, without one, "X-Forwarded-For") names it.
// Hops are read from the last one back, past other trusted proxies, since
// only what the proxies themselves added can be believed; a hop that is not
// an IP address ends the search with the peer's address. No other header,
// and no header from anyone else, moves the source.
std::string SourceAddress(std::string_view peer,
                          const std::vector<std::pair<std::string, std::string>>& headers,
                          const std::vector<std::string>& trustedProxies);

}  // namespace tallowdesk::server
