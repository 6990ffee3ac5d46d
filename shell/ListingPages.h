#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "model/ListingWorker.h"

namespace tallowdesk::shell {

// One page of a listing as the worker parsed it, in the service's order.
using EntryPage = std::vector<DocEntryPtr>;

// How a run of pages ended: the listing of a location, or a search (none).
struct PagesEnd {
    std::optional<CurrentLocation> listed;
};

// The pages of the running listing on their way from the listing worker into
// the entry list. The worker posts each page it parsed; the window takes one
// page per event-loop turn, so a burst of pages (a slow turn, a fast service)
// never holds the UI thread for more than one page. The end of the listing
// waits behind its pages.
//
// Pages are told apart by the generation of the shared entry list they were
// parsed into: a listing starts by emptying the list, so every page of a
// location left behind carries a generation at or below the one the list had
// when the window moved on, and is dropped. Plain data, UI thread only.
class ListingPages {
public:
    // The window starts a listing or a search while the entry list is at
    // generation current: what is queued goes, and so does every page of
    // generation current or older that is still on its way.
    void Restart(std::uint64_t current);
    // A page arrived; false when it belongs to a listing already left (it is
    // dropped). A page of a newer listing drops the pages of older ones.
    bool Offer(std::uint64_t generation, EntryPage page);
    // The next page to insert, or nothing.
    std::optional<EntryPage> Take();
    bool HasPages() const { return !m_pages.empty(); }

    // Whether the end of the listing of generation belongs to the current one.
    bool IsCurrent(std::uint64_t generation) const;
    // The run ended; it is handed out by TakeEnd once its pages are in.
    void End(PagesEnd end);
    // The end, when it came and no page is left before it.
    std::optional<PagesEnd> TakeEnd();

private:
    std::deque<EntryPage> m_pages;
    std::uint64_t m_generation = 0;        // of the queued pages
    std::optional<std::uint64_t> m_stale;  // this generation and older are dropped
    std::optional<PagesEnd> m_end;
};

}  // namespace tallowdesk::shell
