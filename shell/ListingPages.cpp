#include "ListingPages.h"

namespace tallowdesk::shell {

void ListingPages::Restart(std::uint64_t current) {
    m_pages.clear();
    m_end.reset();
    m_stale = current;
}

bool ListingPages::Offer(std::uint64_t generation, EntryPage page) {
    if (!IsCurrent(generation)) return false;
    if (generation != m_generation) {
        m_pages.clear();
        m_generation = generation;
    }
    // Once a page of this listing arrived, nothing older may follow it in.
    if (generation > 0) m_stale = generation - 1;
    m_pages.push_back(std::move(page));
    return true;
}

std::optional<EntryPage> ListingPages::Take() {
    if (m_pages.empty()) return std::nullopt;
    EntryPage page = std::move(m_pages.front());
    m_pages.pop_front();
    return page;
}

bool ListingPages::IsCurrent(std::uint64_t generation) const {
    return !m_stale || generation > *m_stale;
}

void ListingPages::End(PagesEnd end) {
    m_end = std::move(end);
}

std::optional<PagesEnd> ListingPages::TakeEnd() {
    if (!m_pages.empty() || !m_end) return std::nullopt;
    std::optional<PagesEnd> end = std::move(m_end);
    m_end.reset();
    return end;
}

}  // namespace tallowdesk::shell
