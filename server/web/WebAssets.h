#pragma once

#include <optional>
#include <string_view>

namespace tallowdesk::server::web {

// Files of resources/web built into the program (stylesheet, guide text,
// guide pictures), by their path under resources/web.
std::optional<std::string_view> FindAsset(std::string_view name);

}  // namespace tallowdesk::server::web
