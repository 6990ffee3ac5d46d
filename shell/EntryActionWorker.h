#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ServiceCalls.h"
#include "UiMessages.h"

namespace tallowdesk::shell {

struct AppState;

// What an entry action does with each key.
enum class EntryAction { Trash, Star, Unstar };

// The argument block of one trash, star or unstar command.
struct EntryActionBlock {
    EntryAction action = EntryAction::Trash;
    std::vector<std::string> keys;    // resource ids (trash) or edit links (star, unstar)
    ServiceCalls calls;               // copied on the UI thread
    std::shared_ptr<AppState> state;  // the location shown (listing control)
    ListViewPort list;
    TreeViewPort tree;
    QPointer<QObject> processingWindow;
};

// The EntryActionWorker: for each key in order, one service call; a failing
// key is skipped silently. After a trash the row (and a folder's tree node)
// goes; after an unstar the row goes while the list shows the Starred
// category. Ends with "Exit delete/trash/star/hidden thread" for its
// processing window. Runs on a thread of its own.
void RunEntryAction(EntryActionBlock& block);

void StartEntryActionWorker(std::unique_ptr<EntryActionBlock> block);

}  // namespace tallowdesk::shell
