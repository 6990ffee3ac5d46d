#pragma once

#include <QString>
#include <string>
#include <vector>

namespace tallowdesk::shell {

// Command identifiers shared by the main menu, the toolbar and the list's
// context menu.
enum CommandId : int {
    kCmdDownload = 32771,
    kCmdSearch = 32785,
    kCmdRefresh = 32788,
    kCmdCreateFolder = 32789,
    kCmdRename = 32790,
    kCmdMoveToTrash = 32792,
    kCmdStar = 32794,
    kCmdShare = 32795,
    kCmdOpen = 32797,
    kCmdUnstar = 33794,
    kCmdUpload = 40004,
    kCmdRestore = 40010,
    kCmdDeleteForever = 40011,
    kCmdEmptyTrash = 40012,
    kCmdPaste = 57637,
    kCmdSmallIcons = 59408,
    kCmdLargeIcons = 59409,
    kCmdList = 59410,
    kCmdDetails = 59411,
};

// What the list's context menu depends on, read when it opens.
struct ContextMenuState {
    int selected = 0;
    bool transferBusy = false;
    std::string currentTitle;
    std::string currentUrl;
    bool isFolder = false;
    std::string firstType;  // the Type text of the selected row, when one is
    bool clipboardHasFiles = false;
};

struct ContextMenuItem {
    enum class Kind { Command, Separator, Submenu };
    Kind kind = Kind::Command;
    int id = 0;  // a command, or for "&Export to" the first export item
    QString text;
    // Submenu: the export menu ("DOWNLOADDOC", ...) or "VIEWS".
    std::string submenu;
};

// The context menu of the entry list, item by item, built afresh each time:
// several rows, one row, or none selected, then the paste item and the view
// styles.
std::vector<ContextMenuItem> ContextMenuItems(const ContextMenuState& state);

// The export menu for an entry's Type text, or "" when it cannot be exported.
std::string ExportMenuForType(const std::string& type);

}  // namespace tallowdesk::shell
