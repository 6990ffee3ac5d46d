#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "DocEntry.h"

namespace tinyxml2 {
class XMLDocument;
}

namespace tallowdesk {

using DocEntryPtr = std::shared_ptr<const DocEntry>;

// Ordered records shared between one or more writer threads and the UI thread.
// Every access takes the list's lock; readers get shared pointers, so a record
// they hold stays valid even after the list is cleared. Each clear starts a new
// generation: a notification that names an older generation refers to records
// that are gone, and Snapshot() answers it with nothing.
class EntryList {
public:
    EntryList() = default;
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;

    // Appends in order; returns the index of the first appended record.
    std::size_t Append(std::vector<DocEntryPtr> entries);
    std::size_t Append(DocEntryPtr entry);
    // Puts a record before all others (a new upload). Records appended by a
    // listing keep their append positions (see AppendedSince).
    void InsertFront(DocEntryPtr entry);
    void Clear();

    std::size_t Size() const;
    std::uint64_t Generation() const;
    DocEntryPtr At(std::size_t index) const;  // null when out of range
    std::vector<DocEntryPtr> Snapshot() const;
    // Records from index on, or nothing when generation is no longer current.
    std::vector<DocEntryPtr> Snapshot(std::uint64_t generation, std::size_t from) const;
    // The appended records (not those put in front) from the from-th one on,
    // or nothing when generation is no longer current.
    std::vector<DocEntryPtr> AppendedSince(std::uint64_t generation, std::size_t from) const;

    // First record whose field equals value (records with the field absent never match).
    DocEntryPtr FindByContentSrc(const std::string& url) const;
    DocEntryPtr FindByResourceId(const std::string& resourceId) const;
    DocEntryPtr FindByEditHref(const std::string& editHref) const;

private:
    template <typename Pred>
    DocEntryPtr FindFirst(Pred pred) const;

    mutable std::mutex m_mutex;
    std::vector<DocEntryPtr> m_entries;
    std::size_t m_front = 0;  // records put in front since the last clear
    std::uint64_t m_generation = 0;
};

// The folder records known to the folder tree: the same container, appended to
// by several loaders at once.
using FolderList = EntryList;

// Appends one record per "entry" child of the document's "feed" element, in
// document order; returns how many were appended (0 without "feed" or "entry").
int ParseFeedEntries(EntryList& list, const tinyxml2::XMLDocument& feed);

// Empties the list (a new generation begins).
void ClearEntryList(EntryList& list);

}  // namespace tallowdesk
