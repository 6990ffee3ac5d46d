#include "NetworkAddress.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <charconv>

#include "HttpMessage.h"

namespace tallowdesk::server {

namespace {

namespace ip = boost::asio::ip;

std::optional<ip::address> ParseAddress(std::string_view text) {
    boost::system::error_code ec;
    ip::address address = ip::make_address(std::string(text), ec);
    if (ec) return std::nullopt;
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return ip::address(ip::make_address_v4(ip::v4_mapped, address.to_v6()));
    }
    return address;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Splits at `separator` outside double quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        if (text[i] == separator && !quoted) {
            parts.push_back(Trim(text.substr(start, i - start)));
            start = i + 1;
        }
    }
    parts.push_back(Trim(text.substr(start)));
    return parts;
}

// A node of "Forwarded: for=..." or an entry of X-Forwarded-For: an address,
// maybe with a port ("192.0.2.1:8080", "[2001:db8::1]:4711"). Obfuscated
// names and "unknown" are no address.
std::optional<ip::address> ParseNode(std::string_view node) {
    if (node.size() >= 2 && node.front() == '"' && node.back() == '"') {
        node = node.substr(1, node.size() - 2);
    }
    if (!node.empty() && node.front() == '[') {
        const auto close = node.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        const std::string_view rest = node.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return std::nullopt;
        return ParseAddress(node.substr(1, close - 1));
    }
    if (std::count(node.begin(), node.end(), ':') == 1) node = node.substr(0, node.find(':'));
    if (std::count(node.begin(), node.end(), ':') > 1) return std::nullopt;  // IPv6 needs []
    return ParseAddress(node);
}

// The hops a proxy header names, first (the client's own claim) to last.
// Empty optional: the header is not there. An unreadable hop is nullopt.
std::optional<std::vector<std::optional<ip::address>>> ForwardedHops(
    const std::vector<std::pair<std::string, std::string>>& headers) {
    std::string forwarded;
    std::string forwardedFor;
    bool haveForwarded = false;
    bool haveForwardedFor = false;
    // Several lines of one header are one comma-separated list.
    for (const auto& [name, value] : headers) {
        if (EqualsIgnoreCase(name, "Forwarded")) {
            forwarded += (haveForwarded ? "," : "") + value;
            haveForwarded = true;
        } else if (EqualsIgnoreCase(name, "X-Forwarded-For")) {
            forwardedFor += (haveForwardedFor ? "," : "") + value;
            haveForwardedFor = true;
        }
    }
    std::vector<std::optional<ip::address>> hops;
    if (haveForwarded) {
        for (const auto element : SplitOutsideQuotes(forwarded, ',')) {
            std::optional<ip::address> hop;
            for (const auto pair : SplitOutsideQuotes(element, ';')) {
                const auto equals = pair.find('=');
                if (equals == std::string_view::npos) continue;
                if (EqualsIgnoreCase(Trim(pair.substr(0, equals)), "for")) {
                    hop = ParseNode(Trim(pair.substr(equals + 1)));
                }
            }
            hops.push_back(hop);
        }
        return hops;
    }
    if (haveForwardedFor) {
        for (const auto entry : SplitOutsideQuotes(forwardedFor, ',')) {
            hops.push_back(ParseNode(entry));
        }
        return hops;
    }
    return std::nullopt;
}

bool IsDnsLabelChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// Lower-case letters, digits, hyphens and dots between labels.
bool IsDnsName(std::string_view name) {
    if (name.empty() || name.size() > 253) return false;
    std::size_t label = 0;
    for (const char c : name) {
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
        } else if (IsDnsLabelChar(c) && ++label <= 63) {
            continue;
        } else {
            return false;
        }
    }
    return label != 0;
}

}  // namespace

std::optional<PublicUrl> ParsePublicUrl(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    std::string_view rest = lowered;
    std::string scheme;
    for (const char* candidate : {"https", "http"}) {
        const std::string prefix = std::string(candidate) + "://";
        if (rest.substr(0, prefix.size()) == prefix) {
            scheme = candidate;
            rest.remove_prefix(prefix.size());
            break;
        }
    }
    if (scheme.empty()) return std::nullopt;
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    std::string_view host = rest;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            port = after.substr(1);
            if (port.empty()) return std::nullopt;
        }
        const auto address = ParseAddress(host);
        if (!address || !address->is_v6()) return std::nullopt;
    } else {
        const auto colon = rest.find(':');
        if (colon != std::string_view::npos) {
            host = rest.substr(0, colon);
            port = rest.substr(colon + 1);
            if (port.empty()) return std::nullopt;
        }
        const auto address = ParseAddress(host);
        if (address && !address->is_v4()) return std::nullopt;
        if (!address && !IsDnsName(host)) return std::nullopt;
    }
    if (!port.empty()) {
        unsigned number = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (ec != std::errc() || end != port.data() + port.size() || number == 0 ||
            number > 65535) {
            return std::nullopt;
        }
    }
    if (scheme == "http" && !IsLoopbackAddress(host) && host != "localhost") return std::nullopt;
    PublicUrl url;
    url.host = std::string(host);
    url.origin = scheme + "://" + std::string(rest);
    return url;
}

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
    std::string_view host;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        const auto parsed = ParseAddress(host);
        if (!parsed || !parsed->is_v6()) return std::nullopt;
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        const auto parsed = ParseAddress(host);
        if (!parsed || !parsed->is_v4()) return std::nullopt;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value > 65535) {
        return std::nullopt;
    }
    return ListenAddress{std::string(host), static_cast<unsigned short>(value)};
}

std::string NormalAddress(std::string_view address) {
    const auto parsed = ParseAddress(address);
    return parsed ? parsed->to_string() : std::string();
}

bool IsLoopbackAddress(std::string_view address) {
    const auto parsed = ParseAddress(address);
    return parsed && parsed->is_loopback();
}

std::string SourceAddress(std::string_view peer,
                          const std::vector<std::pair<std::string, std::string>>& headers,
                          const std::vector<std::string>& trustedProxies) {
    const std::string direct =
        NormalAddress(peer).empty() ? std::string(peer) : NormalAddress(peer);
    auto trusted = [&](const ip::address& address) {
        return std::any_of(trustedProxies.begin(), trustedProxies.end(),
                           [&](const std::string& proxy) {
                               const auto parsed = ParseAddress(proxy);
                               return parsed && *parsed == address;
                           });
    };
    const auto peerAddress = ParseAddress(peer);
    if (!peerAddress || !trusted(*peerAddress)) return direct;
    const auto hops = ForwardedHops(headers);
    if (!hops) return direct;
    for (auto hop = hops->rbegin(); hop != hops->rend(); ++hop) {
        if (!*hop) return direct;
        if (!trusted(**hop)) return (*hop)->to_string();
    }
    return direct;
}

}  // namespace tallowdesk::server
