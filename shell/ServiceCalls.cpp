#include "ServiceCalls.h"

#include <stdexcept>

#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/Sharing.h"

namespace tallowdesk::shell {

ServiceCalls ServiceCallsFor(std::shared_ptr<ServiceClient> client) {
    ServiceCalls calls;
    calls.getFeed = [client](const std::string& url, tinyxml2::XMLDocument& doc) {
        GetFeed(*client, url, doc);
    };
    calls.renameEntry = [client](const std::string& editHref, const std::string& title) {
        RenameEntry(editHref, title, *client);
    };
    calls.trashEntry = [client](const std::string& resourceId) {
        TrashEntry(*client, resourceId, false);
    };
    calls.quotaText = [client] { return GetQuotaText(*client); };
    return calls;
}

ServiceCalls OfflineServiceCalls() {
    ServiceCalls calls;
    calls.getFeed = [](const std::string&, tinyxml2::XMLDocument&) {
        throw std::runtime_error("The user must be logged in.");
    };
    calls.renameEntry = [](const std::string&, const std::string&) {
        throw std::runtime_error("The user must be logged in.");
    };
    calls.trashEntry = [](const std::string&) {
        throw std::runtime_error("The user must be logged in.");
    };
    calls.quotaText = [] { return std::optional<std::string>(); };
    return calls;
}

}  // namespace tallowdesk::shell
