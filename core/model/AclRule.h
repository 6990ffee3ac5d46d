#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tinyxml2 {
class XMLElement;
}

namespace tallowdesk {

// One access rule of an entry, its strings kept as the feed delivered them
// (UTF-8 bytes). Plain value owned by whoever lists the rules.
struct AclRule {
    std::optional<std::string> etag;
    std::optional<std::string> id;
    std::optional<std::string> updated;  // unchanged RFC 3339 text
    std::optional<std::string> edited;
    std::optional<std::string> categoryScheme;
    std::optional<std::string> categoryTerm;
    std::optional<std::string> title;
    std::optional<std::string> selfHref;  // last "self" link
    std::optional<std::string> editHref;  // last "edit" link: where the rule is changed or deleted
    std::optional<std::string> role;        // "owner", "writer", "reader"
    std::optional<std::string> scopeType;   // "user", "group", "domain", "default"
    std::optional<std::string> scopeValue;  // absent for "default"
};

// Throws std::runtime_error "the Acl user entry is invalid." for a null element.
AclRule ParseAclRule(const tinyxml2::XMLElement* entry);

// The addresses of a sharing text: split at blanks, ";", ",", tabs and line
// feeds; empty pieces are skipped.
std::vector<std::string> SplitShareAddresses(std::string_view text);

// "group" for an address in the groups mail domain, "domain" for a bare
// domain name (no "@"; .com, .net, .org, .edu or .gov), "user" otherwise.
std::string ScopeTypeForAddress(std::string_view address, std::string_view groupsMailDomain);

}  // namespace tallowdesk
