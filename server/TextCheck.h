#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tallowdesk::server {

// Checks of text that ends up in XML documents (titles, file names): XML 1.0
// takes only valid UTF-8 without control characters other than tab, line
// feed and carriage return, and without U+FFFE and U+FFFF.

// Why `text` cannot be a title, or nothing when it can: invalid UTF-8, any
// control character, more than kMaxTitleChars characters.
std::optional<std::string> TitleProblem(std::string_view text);
// `text` with each invalid UTF-8 sequence and each character XML does not
// take replaced by U+FFFD; tab, line feed and carriage return become blanks
// when `singleLine`.
std::string CleanText(std::string_view text, bool singleLine);
// Characters (code points) of valid UTF-8 text.
std::size_t CharCount(std::string_view text);

}  // namespace tallowdesk::server
