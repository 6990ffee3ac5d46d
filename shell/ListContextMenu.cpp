#include "ListContextMenu.h"

#include <QCoreApplication>

#include "model/FeedCatalogue.h"

namespace tallowdesk::shell {
namespace {

std::string CategoryUrl(const char* label) {
    for (const Category& c : CategoryTable())
        if (c.label == label) return c.url;
    return {};
}

ContextMenuItem Command(int id, const char* text) {
    // The texts are marked where the table names them.
    return {ContextMenuItem::Kind::Command,
            id,
            QCoreApplication::translate("ListContextMenu", text),
            {}};
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
        starred ? Command(kCmdUnstar, QT_TRANSLATE_NOOP("ListContextMenu", "UnStar"))
                : Command(kCmdStar, QT_TRANSLATE_NOOP("ListContextMenu", "Star"));
    const bool inTrash = s.currentUrl == CategoryUrl(" Trash");
    const ContextMenuItem restore =
        Command(kCmdRestore, QT_TRANSLATE_NOOP("ListContextMenu", "Rest&ore"));
    const ContextMenuItem deleteForever =
        Command(kCmdDeleteForever, QT_TRANSLATE_NOOP("ListContextMenu", "Delete For&ever"));
    if (s.selected > 1) {
        if (!s.transferBusy)
            items.push_back(
                Command(kCmdDownload, QT_TRANSLATE_NOOP("ListContextMenu", "&Download...")));
        // Several rows: the Trash is recognised by its title.
        if (s.currentTitle != " Trash") {
            items.push_back(
                Command(kCmdMoveToTrash, QT_TRANSLATE_NOOP("ListContextMenu", "Move to trash")));
            items.push_back(star);
        } else {
            items.push_back(restore);
            items.push_back(deleteForever);
        }
        items.push_back(Command(kCmdShare, QT_TRANSLATE_NOOP("ListContextMenu", "&Share...")));
    } else if (s.selected == 1) {
        items.push_back(Command(kCmdOpen, QT_TRANSLATE_NOOP("ListContextMenu", "&Open")));
        if (!s.transferBusy) {
            const std::string menu = ExportMenuForType(s.firstType);
            if (!menu.empty())
                items.push_back({ContextMenuItem::Kind::Submenu, 0,
                                 QCoreApplication::translate("ListContextMenu", "&Export to"),
                                 menu});
            else
                items.push_back(
                    Command(kCmdDownload, QT_TRANSLATE_NOOP("ListContextMenu", "&Download...")));
        }
        items.push_back(Command(kCmdRename, QT_TRANSLATE_NOOP("ListContextMenu", "&Rename")));
        // One row: the Trash is recognised by its feed URL.
        if (s.currentUrl != CategoryUrl(" Trash")) {
            items.push_back(
                Command(kCmdMoveToTrash, QT_TRANSLATE_NOOP("ListContextMenu", "Move to trash")));
            items.push_back(star);
        } else {
            items.push_back(restore);
            items.push_back(deleteForever);
        }
        items.push_back(Command(kCmdShare, QT_TRANSLATE_NOOP("ListContextMenu", "&Share...")));
    } else {
        items.push_back(
            Command(kCmdCreateFolder, QT_TRANSLATE_NOOP("ListContextMenu", "&Create Folder")));
        items.push_back(Command(kCmdSearch, QT_TRANSLATE_NOOP("ListContextMenu", "&Search")));
        items.push_back(Command(kCmdRefresh, QT_TRANSLATE_NOOP("ListContextMenu", "&Refresh")));
        if (s.isFolder)
            items.push_back(
                Command(kCmdUpload, QT_TRANSLATE_NOOP("ListContextMenu", "&Upload...")));
        if (inTrash)
            items.push_back(
                Command(kCmdEmptyTrash, QT_TRANSLATE_NOOP("ListContextMenu", "Empty Trash")));
    }
    items.push_back(Separator());
    if (s.clipboardHasFiles) {
        items.push_back(Command(kCmdPaste, QT_TRANSLATE_NOOP("ListContextMenu", "&Paste\tCtrl+V")));
        items.push_back(Separator());
    }
    items.push_back({ContextMenuItem::Kind::Submenu, 0,
                     QCoreApplication::translate("ListContextMenu", "&Views"), "VIEWS"});
    return items;
}

}  // namespace tallowdesk::shell
