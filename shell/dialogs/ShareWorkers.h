#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ShareMessages.h"
#include "model/AclRule.h"
#include "model/DocEntry.h"

namespace tallowdesk {
class ServiceClient;
}

namespace tallowdesk::shell {

// The sharing requests as plain functions (throwing like the service
// client), so the dialogs run against a fake in tests. Call only on workers.
struct ShareService {
    std::function<void(const std::string& shortId, const std::string& kind,
                       tinyxml2::XMLDocument& feed)>
        getAcl;
    std::function<void(const std::string& scopeType, const std::string& scopeValue,
                       const std::string& shortId, const std::string& kind,
                       const std::string& role)>
        addRule;
    std::function<void(const std::string& scopeType, const std::string& scopeValue,
                       const std::string& editHref, const std::string& etag,
                       const std::string& role)>
        changeRole;
    std::function<void(const std::string& editHref)> deleteRule;
};

// The requests of one signed-in client (kept alive by the functions); with
// no client every call fails with "The user must be logged in.".
ShareService ShareServiceFor(std::shared_ptr<ServiceClient> client);

// The rule for one address of a sharing text and the role to give.
struct ShareRequest {
    std::string scopeType;
    std::string address;
};

// The addresses of a text, each with its scope type.
std::vector<ShareRequest> ShareRequestsFor(const std::string& text,
                                           const std::string& groupsMailDomain);

// The rules of an ACL feed ("feed" element, each "entry" in order).
std::vector<AclRule> ParseAclFeed(const tinyxml2::XMLDocument& feed);

// "Is owner", "Can edit", "Can view", or nothing for another role.
std::string RoleShownText(const std::optional<std::string>& role);

// The sharing workers. Each runs on a thread of its own with its own copies
// and reports only through its port; the dialogs never wait for them.
namespace share_workers {

void LoadAcl(const ShareService& service, const DocEntry& entry, ShareSinglePort port);
void AddPeople(const ShareService& service, const DocEntry& entry, const std::string& text,
               const std::string& role, const std::string& groupsMailDomain, ShareSinglePort port);
void ChangeRole(const ShareService& service, const AclRule& rule, const std::string& role,
                ShareSinglePort port);
void DeleteRule(const ShareService& service, const std::string& editHref, ShareSinglePort port);
// Public: adds the "default" reader rule; private: deletes the rule at editHref.
void SetPublic(const ShareService& service, const DocEntry& entry, ShareSinglePort port);
void SetPrivate(const ShareService& service, const std::string& editHref, ShareSinglePort port);
void ShareEntries(const ShareService& service,
                  const std::vector<std::shared_ptr<const DocEntry>>& entries,
                  const std::string& text, const std::string& role,
                  const std::string& groupsMailDomain, ShareMultiPort port);

}  // namespace share_workers

}  // namespace tallowdesk::shell
