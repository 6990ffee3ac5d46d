#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DocEntry.h"

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk {

// One fixed category of the folder tree: its label (leading blank included),
// its feed URL, and whether only the first page is listed.
struct Category {
    std::string label;
    std::string url;
    bool noPaging = false;
};

// The ten categories in tree order, with URLs on the configured document host.
const std::vector<Category>& CategoryTable();
// Rebuilds the table after the hosts changed; like SetServiceHosts, only
// before any worker runs.
void ResetCategoryTable();

// True when url equals one of the category URLs exactly.
bool IsCategoryUrl(std::string_view url);

inline constexpr std::string_view kRootFolderTitle = "Root Folder";

std::string DocumentListUrl();      // https://DocsHost/feeds/default/private/full
std::string RootFolderUrl();        // contents feed of the root folder
std::string RootSubFoldersUrl();    // folders at the top level of the root
std::string SubFoldersUrl(std::string_view contentsUrl);
// The words of a search query (split at blanks, runs of blanks counting as
// one) joined with "+".
std::string JoinSearchWords(std::string_view query);
// The feed of a search for query, as the window and the command line send it:
// the joined words, percent-encoded as UTF-8.
std::string SearchUrl(std::string_view query);

// Percent-encodes every byte but the unreserved characters (A-Z a-z 0-9 - . _ ~).
std::string UrlEscape(std::string_view text);

// A folder's contents feed: its content src, or the feed built from its short id.
std::string FolderContentsUrl(const DocEntry& folder);

// "href" of the first "link" of the "feed" element whose "rel" is "next".
std::optional<std::string> NextLinkHref(const tinyxml2::XMLDocument& feed);

// One member of a folder for the folder download, by value.
struct FolderItem {
    std::string url;    // download URL of a file, contents feed of a folder
    std::string title;
    std::string kind;
    std::uint64_t size = 0;
};

// Appends one item per "entry" of the feed page, in order.
void CollectFolderItems(std::vector<FolderItem>& items, const tinyxml2::XMLDocument& page);

}  // namespace tallowdesk
