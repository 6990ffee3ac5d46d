#include "FeedCatalogue.h"

#include <tinyxml2.h>

#include "settings/ServiceHosts.h"

namespace tallowdesk {

namespace {

constexpr std::string_view kListPath = "/feeds/default/private/full";

std::string DocsBase() { return "https://" + Hosts().docsHost; }

std::vector<Category> BuildCategories() {
    const std::string base = DocsBase();
    const std::string list = base + std::string(kListPath);
    return {
        {" Latest 100 items", list, true},
        {" All items(folders included)", list + "?showfolders=true", false},
        {" Owned by me", list + "/-/mine", false},
        {" Shared with me", list + "/-/-mine?showfolders=true", false},
        {" Starred", list + "/-/starred", false},
        {" Trash", list + "/-/trashed?showfolders=true", false},
        {" Documents", list + "/-/document", false},
        {" Presentations", list + "/-/presentation", false},
        {" Spreadsheets", list + "/-/spreadsheet", false},
        {" Drawings", list + "/-/drawing", false},
    };
}

std::vector<Category>& Table() {
    static std::vector<Category> table = BuildCategories();
    return table;
}

}  // namespace

const std::vector<Category>& CategoryTable() { return Table(); }

void ResetCategoryTable() { Table() = BuildCategories(); }

bool IsCategoryUrl(std::string_view url) {
    for (const Category& c : CategoryTable())
        if (c.url == url) return true;
    return false;
}

std::string DocumentListUrl() { return DocsBase() + std::string(kListPath); }

std::string RootFolderUrl() { return DocumentListUrl() + "/folder%3Aroot/contents"; }

std::string RootSubFoldersUrl() { return RootFolderUrl() + "/-/folder"; }

std::string SubFoldersUrl(std::string_view contentsUrl) {
    return std::string(contentsUrl) + "/-/folder";
}

std::string JoinSearchWords(std::string_view query) {
    std::string joined;
    std::size_t pos = 0;
    while (pos < query.size()) {
        const std::size_t start = query.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) break;
        std::size_t end = query.find(' ', start);
        if (end == std::string_view::npos) end = query.size();
        if (!joined.empty()) joined += '+';
        joined.append(query.substr(start, end - start));
        pos = end;
    }
    return joined;
}

std::string SearchUrl(std::string_view query) {
    // The joining "+" is encoded with the words and reaches the service as
    // %2B, which is how it tells the words apart.
    return DocumentListUrl() + "?q=" + UrlEscape(JoinSearchWords(query)) + "&showfolders=true";
}

std::string UrlEscape(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

std::string FolderContentsUrl(const DocEntry& folder) {
    if (folder.contentSrc) return *folder.contentSrc;
    return DocumentListUrl() + "/folder%3A" + folder.shortId + "/contents";
}

std::optional<std::string> NextLinkHref(const tinyxml2::XMLDocument& feed) {
    const tinyxml2::XMLElement* root = feed.FirstChildElement("feed");
    if (!root) return std::nullopt;
    for (const tinyxml2::XMLElement* l = root->FirstChildElement("link"); l;
         l = l->NextSiblingElement("link")) {
        const char* rel = l->Attribute("rel");
        if (rel && std::string_view(rel) == "next") {
            const char* href = l->Attribute("href");
            return href ? std::optional<std::string>(href) : std::nullopt;
        }
    }
    return std::nullopt;
}

void CollectFolderItems(std::vector<FolderItem>& items, const tinyxml2::XMLDocument& page) {
    const tinyxml2::XMLElement* root = page.FirstChildElement("feed");
    if (!root) return;
    for (const tinyxml2::XMLElement* e = root->FirstChildElement("entry"); e;
         e = e->NextSiblingElement("entry")) {
        const DocEntry entry = ParseEntry(*e);
        items.push_back(FolderItem{entry.contentSrc.value_or(""), entry.title.value_or(""),
                                   entry.kind, entry.QuotaBytes()});
    }
}

}  // namespace tallowdesk
