#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ServiceCalls.h"
#include "UiMessages.h"

namespace tallowdesk::shell {

struct AppState;

// What an entry action does with each key.
enum class EntryAction { Trash, Star, Unstar, Restore, DeleteForever };

// The argument block of one trash, star or unstar command.
struct EntryActionBlock {
    EntryAction action = EntryAction::Trash;
    // Resource ids (trash, delete forever) or edit links (star, unstar, restore).
    std::vector<std::string> keys;
    std::vector<std::string> titles;  // of the same entries, for the failures
    // Of the same entries: a folder's node, to put back into the tree when it
    // is restored (its parent's contents URL, empty at the top; its own).
    struct FolderNode {
        std::string parentUrl;
        std::string url;
    };
    std::vector<std::optional<FolderNode>> folderNodes;
    ServiceCalls calls;               // copied on the UI thread
    std::shared_ptr<AppState> state;  // the location shown (listing control)
    ListViewPort list;
    TreeViewPort tree;
    QPointer<QObject> processingWindow;
    bool listAgain = false;  // list the location again at the end
};

// The EntryActionWorker: for each key in order, one service call; a failing
// key is skipped and its entry named, with the service's reason, in one
// failure message at the end. After a trash, restore or delete the row (and a
// trashed folder's tree node) goes; after an unstar the row goes while the
// list shows the Starred category. Ends with "Exit delete/trash/star/hidden
// thread" for its processing window. Runs on a thread of its own.
void RunEntryAction(EntryActionBlock& block);

// One entry's line of a failure message: what did not happen, then the
// service's or the connection's reason on a line of its own.
QString EntryActionFailure(EntryAction action, const QString& title, const std::string& reason);

void StartEntryActionWorker(std::unique_ptr<EntryActionBlock> block);

}  // namespace tallowdesk::shell
