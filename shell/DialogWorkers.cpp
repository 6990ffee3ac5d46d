#include "DialogWorkers.h"

#include <tinyxml2.h>

#include "AppState.h"
#include "Worker.h"
#include "model/FeedCatalogue.h"

namespace tallowdesk::shell {

void StartCreateFolderWorker(ServiceCalls calls, std::string title, std::string parentUrl,
                             CreateFolderPort dialog) {
    struct Block {
        ServiceCalls calls;
        std::string title;
        std::string parentUrl;
        CreateFolderPort dialog;
    };
    StartWorker(std::make_unique<Block>(
                    Block{std::move(calls), std::move(title), std::move(parentUrl), dialog}),
                [](Block& b) {
                    tinyxml2::XMLDocument reply;
                    bool ok = false;
                    try {
                        b.calls.createFolder(b.title, b.parentUrl, reply);
                        ok = true;
                    } catch (...) {
                        // Any failure reads "Create Folder Failed." on the dialog.
                    }
                    b.dialog.CreateNewFolderFinished(ok ? &reply : nullptr);
                });
}

void StartSearchWorker(std::shared_ptr<AppState> state, std::string query, ListViewPort list,
                       SearchPort search) {
    struct Block {
        std::shared_ptr<AppState> state;
        ServiceCalls calls;
        std::string query;
        ListViewPort list;
        SearchPort search;
    };
    ServiceCalls calls = state->calls;
    StartWorker(std::make_unique<Block>(
                    Block{std::move(state), std::move(calls), std::move(query), list, search}),
                [](Block& b) {
                    tinyxml2::XMLDocument doc;
                    ClearEntryList(b.state->entries);
                    const std::uint64_t generation = b.state->entries.Generation();
                    try {
                        b.calls.getFeed(SearchUrl(b.query), doc);
                    } catch (...) {
                        b.search.SearchEnded(true);
                        return;
                    }
                    ParseFeedEntries(b.state->entries, doc);
                    b.list.EntryItemsAdded(generation,
                                           b.state->entries.AppendedSince(generation, 0));
                    b.search.SearchEnded(false);
                });
}

}  // namespace tallowdesk::shell
