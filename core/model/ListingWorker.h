#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "EntryList.h"

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk {

// What the entry list shows: the listed feed and how to list it.
struct CurrentLocation {
    std::string url;
    std::string title;
    bool noPaging = false;
    bool isFolder = false;
};

// The hand-over between the UI thread, which asks for listings, and the one
// listing worker that runs at a time. Replaces the busy handle and restart
// flag with one lock so that a request can never fall between the worker's
// last check and its end.
class ListingControl {
public:
    // UI thread: makes loc the current location. Returns true when the caller
    // must start a worker; false when the running one will restart with loc.
    bool Request(CurrentLocation loc);
    CurrentLocation Location() const;
    bool Busy() const;

    // Worker side.
    bool TakeRestart();
    // Ends the worker unless a restart arrived meanwhile (then returns false
    // and the worker goes on).
    bool Finish();

private:
    mutable std::mutex m_mutex;
    CurrentLocation m_location;
    bool m_busy = false;
    bool m_restart = false;
};

// Where the listing reports. ResetList is delivered synchronously (the view
// must drop its rows before the records go); EntriesAdded may be queued: it
// names the generation of the list so a late one can be recognised.
class ListingSink {
public:
    virtual ~ListingSink() = default;
    virtual void ResetList() = 0;
    virtual void EntriesAdded(std::uint64_t generation, std::size_t firstIndex) = 0;
    // The listing ended (after the last page, a failure or nothing at all).
    virtual void ListingFinished(const CurrentLocation& location) = 0;
    // A request failed and ended the listing (before ListingFinished): the
    // service's or the connection's message.
    virtual void ListingFailed(const std::string& /*reason*/) {}
};

// Fetches one URL into the document, throwing on failure (GetFeed).
using FeedFetcher = std::function<void(const std::string& url, tinyxml2::XMLDocument& doc)>;

// Pages of 10 entries or more are followed through their "next" link unless the
// location lists one page only; the first failure ends the listing, keeps what
// was listed and is reported to the sink.
inline constexpr int kFullPageEntries = 10;

// The listing worker's loop: call on the worker thread after Request()
// returned true. Returns when the listing has ended.
void RunListing(ListingControl& control, EntryList& entries, const FeedFetcher& fetch,
                ListingSink& sink);

}  // namespace tallowdesk
