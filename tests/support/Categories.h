#pragma once

#include <string>
#include <string_view>

#include "model/FeedCatalogue.h"

namespace tallowdesk::test {

// The feed URL of the category with that tree label; "" when none has it.
inline std::string CategoryUrl(std::string_view label) {
    for (const Category& c : CategoryTable())
        if (c.label == label) return c.url;
    return {};
}

}  // namespace tallowdesk::test
