#include "EntryActionWorker.h"

#include "AppState.h"
#include "Worker.h"
#include "model/FeedCatalogue.h"

namespace tallowdesk::shell {
namespace {

std::string StarredUrl() {
    for (const Category& c : CategoryTable())
        if (c.label == " Starred") return c.url;
    return {};
}

}  // namespace

void RunEntryAction(EntryActionBlock& b) {
    const ServiceCalls& calls = b.calls;
    for (const std::string& key : b.keys) {
        try {
            switch (b.action) {
                case EntryAction::Trash:
                    calls.trashEntry(key);
                    break;
                case EntryAction::Star:
                    calls.setStarred(key, true);
                    break;
                case EntryAction::Unstar:
                    calls.setStarred(key, false);
                    break;
            }
        } catch (...) {
            continue;  // silent: the row stays
        }
        switch (b.action) {
            case EntryAction::Trash:
                b.list.DeleteItemByResourceId(key);
                if (key.find("folder") != std::string::npos) b.tree.DeleteItemByResourceId(key);
                break;
            case EntryAction::Unstar:
                if (b.state->listing.Location().url == StarredUrl())
                    b.list.DeleteItemByEditLink(key);
                break;
            case EntryAction::Star:
                break;
        }
    }
    b.list.ExitActionThread(b.processingWindow);
}

void StartEntryActionWorker(std::unique_ptr<EntryActionBlock> block) {
    StartWorker(std::move(block), [](EntryActionBlock& b) { RunEntryAction(b); });
}

}  // namespace tallowdesk::shell
