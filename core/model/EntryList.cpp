#include "EntryList.h"

#include <tinyxml2.h>

namespace tallowdesk {

std::size_t EntryList::Append(std::vector<DocEntryPtr> entries) {
    std::lock_guard lock(m_mutex);
    const std::size_t first = m_entries.size();
    m_entries.insert(m_entries.end(), std::make_move_iterator(entries.begin()),
                     std::make_move_iterator(entries.end()));
    return first;
}

std::size_t EntryList::Append(DocEntryPtr entry) {
    std::vector<DocEntryPtr> one;
    one.push_back(std::move(entry));
    return Append(std::move(one));
}

void EntryList::InsertFront(DocEntryPtr entry) {
    std::lock_guard lock(m_mutex);
    m_entries.insert(m_entries.begin(), std::move(entry));
    ++m_front;
}

void EntryList::Clear() {
    std::vector<DocEntryPtr> old;
    {
        std::lock_guard lock(m_mutex);
        old.swap(m_entries);
        m_front = 0;
        ++m_generation;
    }
    // Records are released outside the lock.
}

std::size_t EntryList::Size() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

std::uint64_t EntryList::Generation() const {
    std::lock_guard lock(m_mutex);
    return m_generation;
}

DocEntryPtr EntryList::At(std::size_t index) const {
    std::lock_guard lock(m_mutex);
    return index < m_entries.size() ? m_entries[index] : nullptr;
}

std::vector<DocEntryPtr> EntryList::Snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_entries;
}

std::vector<DocEntryPtr> EntryList::Snapshot(std::uint64_t generation, std::size_t from) const {
    std::lock_guard lock(m_mutex);
    if (generation != m_generation || from >= m_entries.size()) return {};
    return {m_entries.begin() + static_cast<std::ptrdiff_t>(from), m_entries.end()};
}

std::vector<DocEntryPtr> EntryList::AppendedSince(std::uint64_t generation,
                                                  std::size_t from) const {
    std::lock_guard lock(m_mutex);
    const std::size_t start = m_front + from;
    if (generation != m_generation || start >= m_entries.size()) return {};
    return {m_entries.begin() + static_cast<std::ptrdiff_t>(start), m_entries.end()};
}

template <typename Pred>
DocEntryPtr EntryList::FindFirst(Pred pred) const {
    std::lock_guard lock(m_mutex);
    for (const DocEntryPtr& e : m_entries)
        if (e && pred(*e)) return e;
    return nullptr;
}

DocEntryPtr EntryList::FindByContentSrc(const std::string& url) const {
    return FindFirst([&](const DocEntry& e) { return e.contentSrc == url; });
}

DocEntryPtr EntryList::FindByResourceId(const std::string& resourceId) const {
    return FindFirst([&](const DocEntry& e) { return e.resourceId == resourceId; });
}

DocEntryPtr EntryList::FindByEditHref(const std::string& editHref) const {
    return FindFirst([&](const DocEntry& e) { return e.editHref == editHref; });
}

int ParseFeedEntries(EntryList& list, const tinyxml2::XMLDocument& feed) {
    const tinyxml2::XMLElement* root = feed.FirstChildElement("feed");
    if (!root) return 0;
    std::vector<DocEntryPtr> parsed;
    for (const tinyxml2::XMLElement* e = root->FirstChildElement("entry"); e;
         e = e->NextSiblingElement("entry")) {
        parsed.push_back(std::make_shared<const DocEntry>(ParseEntry(*e)));
    }
    const int count = static_cast<int>(parsed.size());
    if (count) list.Append(std::move(parsed));
    return count;
}

void ClearEntryList(EntryList& list) {
    list.Clear();
}

}  // namespace tallowdesk
