#include "Version.h"

#include <optional>
#include <vector>

namespace tallowdesk {

namespace {

// The groups of a version text, or nothing when it is not well formed.
// Values saturate: a group longer than any real version part still compares
// correctly against ordinary ones instead of wrapping around.
std::optional<std::array<unsigned long long, 4>> ParseVersion(std::string_view text) {
    std::array<unsigned long long, 4> groups{};
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '.') {
            ++i;
            continue;
        }
        if (count == groups.size()) return std::nullopt;
        unsigned long long value = 0;
        while (i < text.size() && text[i] != '.') {
            const char c = text[i];
            if (c < '0' || c > '9') return std::nullopt;
            const unsigned digit = static_cast<unsigned>(c - '0');
            constexpr unsigned long long kMax = ~0ull;
            value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
            ++i;
        }
        groups[count++] = value;
    }
    if (count == 0) return std::nullopt;
    return groups;
}

}  // namespace

int CompareVersions(std::string_view a, std::string_view b) {
    const auto left = ParseVersion(a);
    if (!left) return kVersionAMalformed;
    const auto right = ParseVersion(b);
    if (!right) return kVersionBMalformed;
    for (std::size_t i = 0; i < left->size(); ++i) {
        if ((*left)[i] != (*right)[i]) return (*left)[i] > (*right)[i] ? 1 : -1;
    }
    return 0;
}

std::string FormatVersion(const std::array<unsigned, 4>& parts) {
    if (parts[0] == 0 && parts[1] == 0 && parts[2] == 0 && parts[3] == 0) return {};
    std::string text = std::to_string(parts[0]) + "." + std::to_string(parts[1]);
    if (parts[2] != 0 || parts[3] != 0) {
        text += "." + std::to_string(parts[2]) + "." + std::to_string(parts[3]);
    }
    return text;
}

std::string RunningVersion() {
    // "+0" turns a part the project leaves out into 0.
    return FormatVersion({TALLOWDESK_VERSION_PARTS});
}

std::string BuiltInUpdateKey() {
    return TALLOWDESK_UPDATE_PUBLIC_KEY;
}

}  // namespace tallowdesk
