#include "TerminalText.h"

#include <cstdint>
#include <cstdio>

namespace tallowdesk::cli {

namespace {

// The length of the well-formed UTF-8 sequence at text[at] and its code
// point; 0 when the bytes there are not one.
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t& cp) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

bool MustEscape(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) ||  // C0, DEL, C1
           (cp >= 0x202A && cp <= 0x202E) ||           // embeddings and overrides
           (cp >= 0x2066 && cp <= 0x2069);             // isolates
}

}  // namespace

std::string VisibleText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char escape[16];
    for (std::size_t at = 0; at < text.size();) {
        char32_t cp = 0;
        const std::size_t length = DecodeUtf8(text, at, cp);
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x",
                          static_cast<unsigned>(static_cast<unsigned char>(text[at])));
            out += escape;
            ++at;
            continue;
        }
        if (!MustEscape(cp)) {
            out.append(text, at, length);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
            out += escape;
        }
        at += length;
    }
    return out;
}

}  // namespace tallowdesk::cli
