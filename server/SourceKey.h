#pragma once

#include <string>

namespace tallowdesk::server {

// The key under which throttles count a client address. Every loopback
// address (127.0.0.0/8, ::1, and those written as IPv4-mapped IPv6) is one
// source: they all belong to the people of this one computer, and a new
// address in that range costs nothing. An IPv6 client counts by its /64,
// which one machine usually holds whole. Anything unparsable is kept as
// written. One function, so a trusted proxy's forwarded address can later
// be keyed the same way.
std::string SourceKey(const std::string& address);

}  // namespace tallowdesk::server
