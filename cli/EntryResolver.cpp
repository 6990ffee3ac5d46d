#include "EntryResolver.h"

#include <tinyxml2.h>

#include <stdexcept>

#include "model/FeedCatalogue.h"
#include "service/GDataRequests.h"

namespace tallowdesk::cli {

namespace {

std::string Trim(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

// "document:1a2b": a kind in lower-case letters, a colon, an id without
// blanks or slashes. A title such as "Notes: Q1" is not one and is looked up
// as a path.
bool LooksLikeResourceId(std::string_view s) {
    const auto colon = s.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == s.size()) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        if (s[i] < 'a' || s[i] > 'z') return false;
    }
    return s.find_first_of(" /\t", colon + 1) == std::string_view::npos;
}

}  // namespace

std::vector<std::string> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    std::string current;
    for (const char c : path) {
        if (c == '/') {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    return parts;
}

std::vector<DocEntryPtr> EntryResolver::AllEntries(const std::string& url) {
    EntryList list;
    tinyxml2::XMLDocument doc;
    std::string next = url;
    for (;;) {
        GetFeed(m_client, next, doc);
        ParseFeedEntries(list, doc);
        const auto link = NextLinkHref(doc);
        if (!link || *link == next) break;
        next = *link;
    }
    return list.Snapshot();
}

DocEntryPtr EntryResolver::Child(const std::string& contentsUrl, std::string_view title,
                                 bool folderOnly) {
    const std::string url = folderOnly ? SubFoldersUrl(contentsUrl) : contentsUrl;
    std::vector<DocEntryPtr> found;
    for (const DocEntryPtr& e : AllEntries(url)) {
        if (e->title == title && (!folderOnly || e->IsFolder())) found.push_back(e);
    }
    if (found.empty()) return nullptr;
    // Taking the first of several would act on an entry the user may not mean.
    if (found.size() > 1) {
        std::string ids;
        for (const DocEntryPtr& e : found)
            ids += (ids.empty() ? "" : ", ") + e->resourceId.value_or("?");
        throw std::runtime_error(std::to_string(found.size()) + " entries are named \"" +
                                 std::string(title) + "\": " + ids +
                                 ". Name one by its resource id.");
    }
    return found.front();
}

DocEntryPtr EntryResolver::ById(std::string_view resourceId) {
    tinyxml2::XMLDocument doc;
    const auto colon = resourceId.find(':');
    GetFeed(m_client,
            DocumentListUrl() + "/" + std::string(resourceId.substr(0, colon)) + "%3A" +
                UrlEscape(resourceId.substr(colon + 1)),
            doc);
    const tinyxml2::XMLElement* entry = doc.FirstChildElement("entry");
    if (!entry) throw std::runtime_error("No entry " + std::string(resourceId) + ".");
    return std::make_shared<const DocEntry>(ParseEntry(*entry));
}

DocEntryPtr EntryResolver::Entry(std::string_view path) {
    if (LooksLikeResourceId(path)) {
        try {
            return ById(path);
        } catch (const std::runtime_error&) {
            // A top-level title shaped like an id ("notes:q1") still counts.
            if (DocEntryPtr e = Child(RootFolderUrl(), path, false)) return e;
            throw;
        }
    }
    const std::vector<std::string> parts = SplitPath(path);
    if (parts.empty()) throw std::runtime_error("Name an entry, not the root folder.");
    std::string contents = RootFolderUrl();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        DocEntryPtr e = Child(contents, parts[i], !last);
        if (!e) throw std::runtime_error("No such entry: " + std::string(path));
        if (last) return e;
        contents = FolderContentsUrl(*e);
    }
    return nullptr;  // not reached
}

std::string EntryResolver::ParentContentsUrl(std::string_view path) {
    std::vector<std::string> parts = SplitPath(path);
    if (parts.size() <= 1) return {};
    parts.pop_back();
    std::string contents = RootFolderUrl();
    for (const std::string& part : parts) {
        DocEntryPtr e = Child(contents, part, true);
        if (!e) throw std::runtime_error("No such folder: " + part);
        contents = FolderContentsUrl(*e);
    }
    return contents;
}

CurrentLocation EntryResolver::Location(std::string_view name) {
    const std::string wanted = Trim(name);
    if (wanted.empty() || wanted == "/")
        return {RootFolderUrl(), std::string(kRootFolderTitle), false, true};
    for (const Category& c : CategoryTable()) {
        if (Trim(c.label) == wanted) return {c.url, c.label, c.noPaging, false};
    }
    const DocEntryPtr folder = Entry(name);
    if (!folder->IsFolder())
        throw std::runtime_error(std::string(name) + " is not a folder.");
    return {FolderContentsUrl(*folder), folder->title.value_or(""), false, true};
}

}  // namespace tallowdesk::cli
