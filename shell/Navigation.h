#pragma once

#include <string>

#include "LocationHistory.h"

namespace tallowdesk::shell {

// What the list shows and how it got there. UI thread only.
class Navigation {
public:
    Navigation();
    const CurrentLocation& Current() const { return m_current; }
    const LocationHistory& History() const { return m_history; }
    bool CanGoBack() const { return m_history.CanGoBack(); }

    // A tree node was selected. True when the list must reload; the location
    // is then current and recorded. Placeholders and the location already
    // shown change nothing.
    bool SelectNode(bool isPlaceholder, const std::string& label, const std::string& url);
    // Makes loc current and records it (opening a folder from the list).
    void Open(const CurrentLocation& loc);
    // True when the list must reload the location that is now current.
    bool GoBack();

private:
    CurrentLocation m_current;
    LocationHistory m_history;
};

}  // namespace tallowdesk::shell
