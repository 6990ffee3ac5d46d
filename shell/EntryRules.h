#pragma once

#include <QString>
#include <optional>

#include "model/DocEntry.h"

namespace tallowdesk::shell {

// Rules of the entry list that need no window: sort order, icons, status text.

inline constexpr int kColumnCount = 5;

// Names as a person orders them: case and accents count only between
// otherwise equal texts, and runs of digits compare by value ("log-9" before
// "log-10"). Independent of the process locale, so every user sees one order.
int NaturalCompare(const QString& a, const QString& b);

// Negative, zero or positive like a string comparison; 0 when a or b is null
// or the column is unknown. Folders sort first by name, size and author.
int CompareEntries(const DocEntry* a, const DocEntry* b, int column);

// Row order of the list: the column's comparison, ties broken by name and
// then by resource id so that equal keys keep one order on every refresh.
// Descending turns the whole order round.
bool EntryBefore(const DocEntry& a, const DocEntry& b, int column, bool ascending);

// Index in the entry image strips (0 folder ... 10 drawing).
int EntryIconIndex(const DocEntry& entry);
inline constexpr int kEntryIconCount = 11;
// The icon-theme name of an entry image index; empty for an unknown index.
QString EntryIconThemeName(int index);

// What an empty list says: the search's, a folder's or another place's text.
QString EmptyListText(const std::optional<QString>& searchQuery, bool isFolder);
// The label over search results.
QString SearchResultsText(const QString& query);

// "3 items", "1 item selected", ...
QString StatusText(int rowCount, int selectedCount);

// The column the list is sorted by and its direction: a second click on the
// same column turns the direction round, another column starts ascending.
class SortState {
public:
    void Click(int column) {
        m_ascending = column == m_column ? !m_ascending : true;
        m_column = column;
    }
    int Column() const { return m_column; }
    bool Ascending() const { return m_ascending; }

private:
    bool m_ascending = true;
    int m_column = -1;
};

}  // namespace tallowdesk::shell
