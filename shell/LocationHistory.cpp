#include "LocationHistory.h"

#include <array>
#include <string_view>

#include "model/FeedCatalogue.h"

namespace tallowdesk::shell {

std::optional<CurrentLocation> LocationHistory::GoBack() {
    if (!m_items.empty()) m_items.pop_back();
    if (m_items.empty()) return std::nullopt;
    return m_items.back();
}

CurrentLocation RootLocation() {
    return CurrentLocation{RootFolderUrl(), std::string(kRootFolderTitle), false, true};
}

CurrentLocation LocationForNode(const std::string& label, const std::string& url) {
    // Categories whose contents cannot take an upload.
    static constexpr std::array<std::string_view, 7> kNotFolders = {
        " Owned by me", " Shared with me", " Starred",     " Trash",
        " Documents",   " Presentations",  " Spreadsheets"};
    CurrentLocation loc;
    loc.url = url;
    loc.title = label;
    loc.isFolder = true;
    for (std::string_view name : kNotFolders)
        if (label == name) loc.isFolder = false;
    loc.noPaging = label == " Latest 100 items";
    return loc;
}

}  // namespace tallowdesk::shell
