#pragma once

#include <memory>

#include "UiMessages.h"

namespace tallowdesk::shell {

struct AppState;

// Starts the listing worker for the location state->listing holds (call on
// the UI thread when ListingControl::Request returned true). The worker
// fetches and parses every page itself and posts each parsed page to list
// ("Entry Items Added"), then "ListingFinished"; the window only inserts.
void StartListingWorker(std::shared_ptr<AppState> state, ListViewPort list);

}  // namespace tallowdesk::shell
