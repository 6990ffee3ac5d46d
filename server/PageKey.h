#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowdesk::server {

// Where the next page of a listing starts: after the entry `id` last edited
// at `edited`, with `position` entries on the pages before it (for the
// feed's openSearch:startIndex).
struct PageKey {
    std::int64_t edited = 0;
    std::string id;
    std::int64_t position = 0;
};

// The "start-key" parameter of a feed's next link: the place, signed with
// the service's secret, as URL-safe text. Clients treat it as opaque.
std::string EncodePageKey(const PageKey& key, std::string_view secret);
// The place a start-key names; nothing when the text is not one the service
// wrote (damaged, cut short, changed, or signed with another secret).
std::optional<PageKey> DecodePageKey(std::string_view text, std::string_view secret);

}  // namespace tallowdesk::server
