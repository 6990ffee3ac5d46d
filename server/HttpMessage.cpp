#include "HttpMessage.h"

#include <array>
#include <cctype>

#include "TextCheck.h"

namespace tallowdesk::server {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsIgnoreCase(key, name)) return value;
    }
    return std::nullopt;
}

std::string HttpRequest::Origin() const {
    if (!publicOrigin.empty()) return publicOrigin;
    return Scheme() + "://" + Header("Host").value_or("localhost");
}

std::string HttpRequest::Path() const {
    return target.substr(0, target.find('?'));
}

std::string HttpRequest::Query() const {
    const auto q = target.find('?');
    return q == std::string::npos ? std::string() : target.substr(q + 1);
}

std::map<std::string, std::string> HttpRequest::Cookies() const {
    std::map<std::string, std::string> cookies;
    for (const auto& [key, value] : headers) {
        if (!EqualsIgnoreCase(key, "Cookie")) continue;
        std::string_view rest = value;
        while (!rest.empty()) {
            const auto semi = rest.find(';');
            std::string_view pair = rest.substr(0, semi);
            rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
            while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
            const auto eq = pair.find('=');
            if (eq == std::string_view::npos) continue;
            cookies.emplace(std::string(pair.substr(0, eq)), std::string(pair.substr(eq + 1)));
        }
    }
    return cookies;
}

std::string UrlDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::string UrlEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::map<std::string, std::string> ParseForm(std::string_view text) {
    std::map<std::string, std::string> form;
    while (!text.empty()) {
        const auto amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (pair.empty()) continue;
        const auto eq = pair.find('=');
        const std::string name = UrlDecode(pair.substr(0, eq), true);
        const std::string value =
            eq == std::string_view::npos ? std::string() : UrlDecode(pair.substr(eq + 1), true);
        form.emplace(name, value);
    }
    return form;
}

namespace {

// What each byte needs in XML text: 0 nothing, 1 an entity, 2 CleanText's
// care (controls and everything outside ASCII).
constexpr std::array<unsigned char, 256> kXmlByteClass = [] {
    std::array<unsigned char, 256> table{};
    for (int b = 0; b < 256; ++b) {
        if (b >= 0x80 || (b < 0x20 && b != '\t' && b != '\n' && b != '\r')) table[b] = 2;
    }
    for (const unsigned char b : {'&', '<', '>', '\'', '"'}) table[b] = 1;
    return table;
}();

// Appends `text` in runs, with the five entities; stops at the first byte
// that needs CleanText unless the text is clean already.
bool AppendEntities(std::string& out, std::string_view text, bool clean) {
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at != end) {
        const char* run = at;
        while (at != end && kXmlByteClass[static_cast<unsigned char>(*at)] != 1 &&
               (clean || kXmlByteClass[static_cast<unsigned char>(*at)] == 0)) {
            ++at;
        }
        out.append(run, static_cast<std::size_t>(at - run));
        if (at == end) break;
        switch (*at) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                return false;
        }
        ++at;
    }
    return true;
}

}  // namespace

void AppendXmlEscaped(std::string& out, std::string_view raw) {
    // Plain ASCII (every id, address and URL, most titles) needs no cleaning.
    const std::size_t mark = out.size();
    if (AppendEntities(out, raw, false)) return;
    // Whatever is stored, what we write stays well-formed XML.
    out.resize(mark);
    AppendEntities(out, CleanText(raw, false), true);
}

std::string XmlEscape(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    AppendXmlEscaped(out, raw);
    return out;
}

bool EndsInChunked(std::string_view codings) {
    const auto comma = codings.rfind(',');
    std::string_view last = comma == std::string_view::npos ? codings : codings.substr(comma + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t')) last.remove_prefix(1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t')) last.remove_suffix(1);
    return EqualsIgnoreCase(last, "chunked");
}

}  // namespace tallowdesk::server
