#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

namespace tallowdesk::fuzz {

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The input cut at its first NUL: two independent texts from one input.
inline std::pair<std::string_view, std::string_view> SplitAtNul(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul == std::string_view::npos) return {text, {}};
    return {text.substr(0, nul), text.substr(nul + 1)};
}

}  // namespace tallowdesk::fuzz
