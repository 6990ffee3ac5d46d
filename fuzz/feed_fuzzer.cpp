// Feeds arbitrary bytes through every parser that reads service replies.
#include <tinyxml2.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "model/AclRule.h"
#include "model/DocEntry.h"
#include "model/EntryList.h"
#include "model/FeedCatalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tinyxml2::XMLDocument doc;
    if (doc.Parse(reinterpret_cast<const char*>(data), size) != tinyxml2::XML_SUCCESS) return 0;
    tallowdesk::EntryList list;
    tallowdesk::ParseFeedEntries(list, doc);
    for (const auto& e : list.Snapshot()) {
        if (e->IsFolder()) (void)tallowdesk::FolderContentsUrl(*e);
    }
    std::vector<tallowdesk::FolderItem> items;
    tallowdesk::CollectFolderItems(items, doc);
    (void)tallowdesk::NextLinkHref(doc);
    (void)tallowdesk::FirstEntryKind(doc);
    if (const auto* feed = doc.FirstChildElement("feed")) {
        for (auto* e = feed->FirstChildElement("entry"); e; e = e->NextSiblingElement("entry"))
            (void)tallowdesk::ParseAclRule(e);
    }
    if (const auto* entry = doc.FirstChildElement("entry")) {
        (void)tallowdesk::ParseEntry(*entry);
        (void)tallowdesk::ParseAclRule(entry);
    }
    return 0;
}
