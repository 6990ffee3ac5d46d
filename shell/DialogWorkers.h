#pragma once

#include <memory>
#include <string>

#include "DialogMessages.h"
#include "ServiceCalls.h"

namespace tallowdesk::shell {

struct AppState;

// The workers of the create-folder dialog and of the Search command. Started
// on the UI thread; they talk back only through their ports.

// Creates the folder title in the folder whose feed is parentUrl and sends
// "Create new folder finished." with the reply (null on any failure).
void StartCreateFolderWorker(ServiceCalls calls, std::string title, std::string parentUrl,
                             CreateFolderPort dialog);

// Lists the search for query into the shared entry list: empties it, reads
// the one page, posts "Entry Items Added" to the list, then SearchEnded.
void StartSearchWorker(std::shared_ptr<AppState> state, std::string query, ListViewPort list,
                       SearchPort search);

}  // namespace tallowdesk::shell
