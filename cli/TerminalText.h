#pragma once

#include <string>
#include <string_view>

namespace tallowdesk::cli {

// Text from the service (titles, names, messages) made safe to print on a
// terminal: control characters (C0, DEL, C1), the bidirectional overrides and
// bytes that are not UTF-8 are shown as escapes ("\n", "\u001b", "\xff")
// instead of being obeyed, so a title can neither recolour the terminal nor
// overwrite a line to pass for another name. Everything else is kept.
std::string VisibleText(std::string_view text);

}  // namespace tallowdesk::cli
