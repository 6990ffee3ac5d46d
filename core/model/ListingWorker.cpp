#include "ListingWorker.h"

#include <tinyxml2.h>

#include "FeedCatalogue.h"

namespace tallowdesk {

bool ListingControl::Request(CurrentLocation loc) {
    std::lock_guard lock(m_mutex);
    m_location = std::move(loc);
    if (m_busy) {
        m_restart = true;
        return false;
    }
    m_busy = true;
    return true;
}

CurrentLocation ListingControl::Location() const {
    std::lock_guard lock(m_mutex);
    return m_location;
}

bool ListingControl::Busy() const {
    std::lock_guard lock(m_mutex);
    return m_busy;
}

bool ListingControl::TakeRestart() {
    std::lock_guard lock(m_mutex);
    const bool restart = m_restart;
    m_restart = false;
    return restart;
}

bool ListingControl::Finish() {
    std::lock_guard lock(m_mutex);
    if (m_restart) {
        m_restart = false;
        return false;
    }
    m_busy = false;
    return true;
}

namespace {

// Lists one location until its last page, a failure, or a restart request.
// Returns true when it stopped for a restart.
bool ListOnce(ListingControl& control, EntryList& entries, const FeedFetcher& fetch,
              ListingSink& sink) {
    const CurrentLocation location = control.Location();
    tinyxml2::XMLDocument doc;
    std::string url = location.url;
    std::size_t listed = 0;
    for (;;) {
        try {
            fetch(url, doc);
        } catch (const std::exception& e) {
            sink.ListingFailed(e.what());  // the pages already listed stay
            return false;
        } catch (...) {
            sink.ListingFailed("Get entry list failed");
            return false;
        }
        if (control.TakeRestart()) return true;
        const std::uint64_t generation = entries.Generation();
        const int n = ParseFeedEntries(entries, doc);
        sink.EntriesAdded(generation, listed);
        listed += static_cast<std::size_t>(n);
        if (location.noPaging || n < kFullPageEntries) return false;
        std::optional<std::string> next = NextLinkHref(doc);
        if (!next) return false;
        url = std::move(*next);
    }
}

}  // namespace

void RunListing(ListingControl& control, EntryList& entries, const FeedFetcher& fetch,
                ListingSink& sink) {
    ClearEntryList(entries);
    for (;;) {
        if (ListOnce(control, entries, fetch, sink) || !control.Finish()) {
            sink.ResetList();
            ClearEntryList(entries);
            continue;
        }
        break;
    }
    sink.ListingFinished(control.Location());
}

}  // namespace tallowdesk
