#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/EntryList.h"
#include "model/ListingWorker.h"

namespace tallowdesk {
class ServiceClient;
}

namespace tallowdesk::cli {

// Turns the names a user types into locations and entries: a category label
// ("Starred", " Starred"), "/" for the root folder, a folder path of titles
// from the root ("Projects/2026"), or a resource id ("folder:abc").
class EntryResolver {
public:
    explicit EntryResolver(ServiceClient& client) : m_client(client) {}

    // Throws std::runtime_error when nothing matches.
    CurrentLocation Location(std::string_view name);
    DocEntryPtr Entry(std::string_view path);
    // The folder that holds the last component of path ("" for the root).
    std::string ParentContentsUrl(std::string_view path);

    // Every entry of a feed, following "next" links.
    std::vector<DocEntryPtr> AllEntries(const std::string& url);

private:
    DocEntryPtr Child(const std::string& contentsUrl, std::string_view title, bool folderOnly);
    DocEntryPtr ById(std::string_view resourceId);

    ServiceClient& m_client;
};

std::vector<std::string> SplitPath(std::string_view path);

}  // namespace tallowdesk::cli
