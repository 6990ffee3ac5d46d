#pragma once

#include <string>
#include <string_view>

namespace tallowdesk {

bool IsValidUtf8(std::string_view bytes);

// Text from Config.xml: UTF-8 as it stands; anything else was written in the
// Windows ANSI code page and is read as Windows-1252.
std::string ConfigTextToUtf8(std::string_view bytes);

std::string Windows1252ToUtf8(std::string_view bytes);

}  // namespace tallowdesk
