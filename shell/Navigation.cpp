#include "Navigation.h"

namespace tallowdesk::shell {

// The start is recorded too: Back returns to it, and the root folder, which
// has no tree node, stays reachable.
Navigation::Navigation() : m_current(RootLocation()) {
    m_history.Push(m_current);
}

bool Navigation::SelectNode(bool isPlaceholder, const std::string& label, const std::string& url) {
    if (isPlaceholder || url == m_current.url) return false;
    Open(LocationForNode(label, url));
    return true;
}

void Navigation::Open(const CurrentLocation& loc) {
    m_current = loc;
    m_history.Push(loc);
}

bool Navigation::GoBack() {
    std::optional<CurrentLocation> previous = m_history.GoBack();
    if (!previous) return false;
    m_current = *previous;
    return true;
}

}  // namespace tallowdesk::shell
