#pragma once

#include <optional>
#include <string>

namespace tallowdesk {

// The account of one ServiceClient: what the user typed and the two ClientLogin
// tokens. UTF-8; every field is absent until known.
struct ServiceCredentials {
    std::optional<std::string> email;
    std::optional<std::string> password;
    std::optional<std::string> writelyToken;  // document list ("writely")
    std::optional<std::string> wiseToken;     // spreadsheet exports ("wise")
};

}  // namespace tallowdesk
