#include "ListContextMenu.h"

#include "model/FeedCatalogue.h"

namespace tallowdesk::shell {
namespace {

std::string CategoryUrl(const char* label) {
    for (const Category& c : CategoryTable())
        if (c.label == label) return c.url;
    return {};
}

ContextMenuItem Command(int id, const char* text) {
    return {ContextMenuItem::Kind::Command, id, QString::fromLatin1(text), {}};
}

ContextMenuItem Separator() {
    return {ContextMenuItem::Kind::Separator, 0, {}, {}};
}

}  // namespace

std::string ExportMenuForType(const std::string& type) {
    if (type == "document") return "DOWNLOADDOC";
    if (type == "presentation") return "DOWNLOADPPT";
    if (type == "spreadsheet") return "DOWNLOADSPREADSHEET";
    if (type == "drawing") return "DOWNLOADDRAW";
    return {};
}

std::vector<ContextMenuItem> ContextMenuItems(const ContextMenuState& s) {
    std::vector<ContextMenuItem> items;
    const bool starred = s.currentUrl == CategoryUrl(" Starred");
    const ContextMenuItem star =
        starred ? Command(kCmdUnstar, "UnStar") : Command(kCmdStar, "Star");
    if (s.selected > 1) {
        if (!s.transferBusy) items.push_back(Command(kCmdDownload, "&Download..."));
        // Several rows: the Trash is recognised by its title.
        if (s.currentTitle != " Trash") {
            items.push_back(Command(kCmdMoveToTrash, "Move to trash"));
            items.push_back(star);
        }
        items.push_back(Command(kCmdShare, "&Share..."));
    } else if (s.selected == 1) {
        items.push_back(Command(kCmdOpen, "&Open"));
        if (!s.transferBusy) {
            const std::string menu = ExportMenuForType(s.firstType);
            if (!menu.empty())
                items.push_back(
                    {ContextMenuItem::Kind::Submenu, 0, QStringLiteral("&Export to"), menu});
            else
                items.push_back(Command(kCmdDownload, "&Download..."));
        }
        items.push_back(Command(kCmdRename, "&Rename"));
        // One row: the Trash is recognised by its feed URL.
        if (s.currentUrl != CategoryUrl(" Trash")) {
            items.push_back(Command(kCmdMoveToTrash, "Move to trash"));
            items.push_back(star);
        }
        items.push_back(Command(kCmdShare, "&Share..."));
    } else {
        items.push_back(Command(kCmdCreateFolder, "&Create Folder"));
        items.push_back(Command(kCmdSearch, "&Search"));
        items.push_back(Command(kCmdRefresh, "&Refresh"));
        if (s.isFolder) items.push_back(Command(kCmdUpload, "&Upload..."));
    }
    items.push_back(Separator());
    if (s.clipboardHasFiles) {
        items.push_back(Command(kCmdPaste, "&Paste\tCtrl+V"));
        items.push_back(Separator());
    }
    items.push_back({ContextMenuItem::Kind::Submenu, 0, QStringLiteral("&Views"), "VIEWS"});
    return items;
}

}  // namespace tallowdesk::shell
