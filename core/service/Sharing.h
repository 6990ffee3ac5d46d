#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk {

class ServiceClient;

// Access rules of an entry and the account's storage use. Synchronous; run on
// the sharing dialogs' and the frame's workers, each call with its own handle.
// Failures throw std::runtime_error with a message for the user (the service's
// error text for an error status).
//
// shortId and kind are the two halves of the entry's resource id; editUrl and
// etag come from the parsed AclRule. Roles sent: "reader", "writer". Scope
// types: "user", "group", "domain", "default" (everybody; its value is never sent).

// Fetches the entry's access-control feed into document (replacing its content).
void GetAcl(ServiceClient& client, std::string_view shortId, std::string_view kind,
            tinyxml2::XMLDocument& document);

void AddAclRule(std::string_view scopeType, std::string_view scopeValue, ServiceClient& client,
                std::string_view shortId, std::string_view kind, std::string_view role);

// Replaces the rule with one of the same scope and the new role.
void ChangeAclRole(std::string_view scopeType, std::string_view scopeValue, ServiceClient& client,
                   const std::string& editUrl, std::string_view etag, std::string_view newRole);

void DeleteAclRule(const std::string& editUrl, ServiceClient& client);

// The usage sentence of the service's upload page ("You are currently using
// ... MB."), at most 127 bytes; nothing when the page does not carry one.
// Authorised by the session cookies, not by a token.
std::optional<std::string> GetQuotaText(ServiceClient& client);

// Request pieces and response readers, kept apart so they can be checked
// without a network.

// https://DocsHost/feeds/default/private/full/<kind>%3A<shortId>/acl
std::string AclFeedUrl(std::string_view kind, std::string_view shortId);
std::string BuildNewAclRuleEntry(std::string_view scopeType, std::string_view scopeValue,
                                 std::string_view role);
std::string BuildChangedAclRuleEntry(std::string_view scopeType, std::string_view scopeValue,
                                     std::string_view etag, std::string_view newRole);
// The usage sentence of a quota page body; accountsHost names the storage
// purchase link that marks the second page layout.
std::optional<std::string> ExtractQuotaText(std::string_view page, std::string_view accountsHost);

}  // namespace tallowdesk
