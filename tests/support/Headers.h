#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tallowdesk::test {

// Header lookups shared by the test helpers: names compare without regard to
// case, as HTTP wants.

inline bool SameHeaderName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Every value of that name, in order.
inline std::vector<std::string> HeaderValues(const HeaderList& headers, std::string_view name) {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers)
        if (SameHeaderName(key, name)) values.push_back(value);
    return values;
}

// The first value of that name; "" when there is none.
inline std::string HeaderValue(const HeaderList& headers, std::string_view name) {
    for (const auto& [key, value] : headers)
        if (SameHeaderName(key, name)) return value;
    return {};
}

// The same over raw "Name: value" lines (blanks after the colon dropped).
inline std::string HeaderValue(const std::vector<std::string>& lines, std::string_view name) {
    for (const std::string& line : lines) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || !SameHeaderName(line.substr(0, colon), name)) continue;
        const auto start = line.find_first_not_of(' ', colon + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return {};
}

}  // namespace tallowdesk::test
