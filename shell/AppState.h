#pragma once

#include <atomic>
#include <memory>

#include "Navigation.h"
#include "ServiceCalls.h"
#include "model/EntryList.h"
#include "model/ListingWorker.h"

namespace tallowdesk {
class ServiceClient;
}

namespace tallowdesk::shell {

// The state the window and the workers share, owned by the application
// object and handed (as a shared pointer, so detached workers keep it alive)
// to whoever needs it.
//
// Threads: entries, folders and listing lock themselves; the flag is
// atomic; client, calls and navigation belong to the UI thread (workers get
// copies of the calls, which keep their client alive).
struct AppState {
    std::shared_ptr<ServiceClient> client;
    ServiceCalls calls = OfflineServiceCalls();
    EntryList entries;
    FolderList folders;
    ListingControl listing;
    Navigation navigation;

    // The transfer flags are the process-wide ones the transfer loops read
    // (transferBusy, transferCancel in transfer/TransferFlags.h).
    std::atomic<bool> treeBusy{false};  // "Refresh tree" runs
    // Raised when the user signs out: the calls above then refuse (see
    // SessionServiceCalls). Each sign-in gets a fresh AppState.
    std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace tallowdesk::shell
