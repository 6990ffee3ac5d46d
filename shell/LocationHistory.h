#pragma once

#include <cstddef>
#include <deque>
#include <optional>

#include "model/ListingWorker.h"

namespace tallowdesk::shell {

// The Go back history: locations shown, oldest first; the last one is the
// location now shown. UI thread only.
class LocationHistory {
public:
    void Push(const CurrentLocation& location) { m_items.push_back(location); }
    // Drops the last location and returns the one before it (to be shown
    // again without pushing); nothing when no location is left.
    std::optional<CurrentLocation> GoBack();
    bool CanGoBack() const { return m_items.size() > 1; }
    std::size_t Size() const { return m_items.size(); }
    const std::deque<CurrentLocation>& Items() const { return m_items; }

private:
    std::deque<CurrentLocation> m_items;
};

// The location that starts the program: the root folder.
CurrentLocation RootLocation();

// What selecting a tree node with this label and feed URL makes current.
CurrentLocation LocationForNode(const std::string& label, const std::string& url);

}  // namespace tallowdesk::shell
