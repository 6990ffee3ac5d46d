#pragma once

#include <QString>

namespace tallowdesk::shell {

// The program's private drag formats, for "the listview clipboard format "
// (rows dragged out of the entry list) and "the treeview clipboard format "
// (a folder dragged out of the tree). Files themselves travel as
// text/uri-list.
inline QString ListViewMimeType() {
    return QStringLiteral("application/x-tallowdesk-listview");
}
inline QString TreeViewMimeType() {
    return QStringLiteral("application/x-tallowdesk-treeview");
}

}  // namespace tallowdesk::shell
