#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk {
class ServiceClient;
class TransferOps;
}  // namespace tallowdesk

namespace tallowdesk::shell {

// The service operations the window's workers need, as plain functions, so
// the window runs against a fake in tests. Each call blocks and throws like
// the service client; call only on worker threads. Copies share the client.
struct ServiceCalls {
    std::function<void(const std::string& url, tinyxml2::XMLDocument& doc)> getFeed;
    std::function<void(const std::string& editHref, const std::string& newTitle)> renameEntry;
    std::function<void(const std::string& resourceId)> trashEntry;
    // The Trash view's own: back into the folders, or gone for good.
    std::function<void(const std::string& editHref)> restoreEntry;
    std::function<void(const std::string& resourceId)> deleteForever;
    std::function<void(const std::string& editHref, bool starred)> setStarred;
    // Creates a folder in the folder whose contents feed is parentUrl; the
    // new entry lands in reply.
    std::function<void(const std::string& title, const std::string& parentUrl,
                       tinyxml2::XMLDocument& reply)>
        createFolder;
    // The transfer loops' calls, one set per transfer thread.
    std::function<std::unique_ptr<TransferOps>()> transferOps;
    // The account's storage sentence; nothing when the page carries none.
    std::function<std::optional<std::string>()> quotaText;
};

// The calls of one signed-in client (which they keep alive).
ServiceCalls ServiceCallsFor(std::shared_ptr<ServiceClient> client);

// Calls that fail at once; what the window uses before any sign-in.
ServiceCalls OfflineServiceCalls();

// The calls of a session that can end: once ended is raised, every call not
// yet made fails as before the sign-in ("The user must be logged in."), so
// the workers of a signed-out window stop at their next request and the
// account's token is not used again.
ServiceCalls SessionServiceCalls(ServiceCalls calls,
                                 std::shared_ptr<const std::atomic<bool>> ended);

}  // namespace tallowdesk::shell
