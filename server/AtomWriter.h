#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Store.h"

namespace tallowdesk::server {

inline constexpr const char* kAtomNs = "http://www.w3.org/2005/Atom";
inline constexpr const char* kKindScheme = "http://schemas.google.com/g/2005#kind";
inline constexpr const char* kLabelsScheme = "http://schemas.google.com/g/2005/labels";
inline constexpr const char* kDocsNs = "http://schemas.google.com/docs/2007";

// URLs of one entry under `origin` (scheme://host[:port]).
std::string EntryUrl(const std::string& origin, const StoredEntry& e);
std::string ContentsUrl(const std::string& origin, const std::string& folderId);
std::string ContentSrc(const std::string& origin, const StoredEntry& e);
// The entry's web page (the feeds' "alternate" link); "" gives the path only.
std::string AlternateUrl(const std::string& origin, const StoredEntry& e);

struct FeedPage {
    std::string id;  // feed id: the feed URL without its query
    std::string title;
    std::string selfUrl;
    std::string postUrl;
    std::optional<std::string> nextUrl;
    std::string authorName;
    std::string authorEmail;
    long startIndex = 1;
    long itemsPerPage = 100;
};

// Documents as the original service wrote them: one line, single-quoted
// attributes, prefixes declared on the root, app:edited with its own xmlns.
std::string EntryDocument(const std::string& origin, const StoredEntry& e);
std::string FeedDocument(const std::string& origin, const FeedPage& page,
                         const std::vector<StoredEntry>& entries);
std::string ErrorDocument(const std::string& code, const std::string& reason);

}  // namespace tallowdesk::server
