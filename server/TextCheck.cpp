#include "TextCheck.h"

#include "Limits.h"

namespace tallowdesk::server {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at `at` and its code point, or 0.
std::size_t DecodeOne(std::string_view text, std::size_t at, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(text[at + i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

bool XmlTakes(char32_t cp) {
    if (cp < 0x20) return cp == 0x09 || cp == 0x0A || cp == 0x0D;
    return cp != 0xFFFE && cp != 0xFFFF;
}

}  // namespace

std::optional<std::string> TitleProblem(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        char32_t cp = 0;
        const std::size_t length = DecodeOne(text, at, cp);
        if (length == 0) return "The title is not valid UTF-8 text.";
        if (cp < 0x20 || cp == 0x7F || !XmlTakes(cp)) {
            return "The title contains a control character.";
        }
        at += length;
        ++count;
    }
    if (count > kMaxTitleChars) {
        return "The title is too long (" + std::to_string(count) + " characters; at most " +
               std::to_string(kMaxTitleChars) + ").";
    }
    return std::nullopt;
}

std::string CleanText(std::string_view text, bool singleLine) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t cp = 0;
        const std::size_t length = DecodeOne(text, at, cp);
        if (length == 0) {
            out += kReplacement;
            ++at;
            continue;
        }
        if (singleLine && (cp == 0x09 || cp == 0x0A || cp == 0x0D)) {
            out += ' ';
        } else if (!XmlTakes(cp)) {
            out += kReplacement;
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

std::size_t CharCount(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

}  // namespace tallowdesk::server
