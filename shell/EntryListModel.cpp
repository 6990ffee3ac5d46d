#include "EntryListModel.h"

#include <QGuiApplication>
#include <QMimeData>
#include <QPalette>
#include <algorithm>

#include "EntryRules.h"
#include "TransferFigures.h"
#include "VisibleText.h"

namespace tallowdesk::shell {
namespace {

QString Text(const std::optional<std::string>& s) {
    return s ? QString::fromStdString(*s) : QString();
}

}  // namespace

EntryListModel::EntryListModel(QObject* parent) : QAbstractTableModel(parent) {}

int EntryListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int EntryListModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return m_nameOnly ? 1 : kColumnCount;
}

void EntryListModel::SetNameColumnOnly(bool on) {
    if (on == m_nameOnly) return;
    if (on) {
        beginRemoveColumns({}, 1, kColumnCount - 1);
        m_nameOnly = true;
        endRemoveColumns();
    } else {
        beginInsertColumns({}, 1, kColumnCount - 1);
        m_nameOnly = false;
        endInsertColumns();
    }
}

QString EntryListModel::CellText(const Row& row, int column) const {
    const DocEntry& e = *row.entry;
    switch (column) {
        case 0:
            return row.title ? *row.title : Text(e.title);
        case 1:
            return QString::fromStdString(e.kind);
        case 2:
            return QString::fromStdString(e.sizeText);
        case 3:
            return Text(e.authorName);
        case 4:
            return Text(e.updated);
        default:
            return {};
    }
}

QVariant EntryListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::ToolTipRole:
            // The column keeps the service's byte-count text; the tip reads
            // it in the locale's units.
            if (index.column() == 2 && !row.entry->IsFolder())
                return HumanSizeText(row.entry->quotaBytesUsed);
            return VisibleText(CellText(row, index.column()));
        case Qt::DisplayRole:
        case Qt::EditRole:
            return VisibleText(CellText(row, index.column()));
        case Qt::DecorationRole: {
            if (index.column() != 0) return {};
            const auto i = static_cast<std::size_t>(EntryIconIndex(*row.entry));
            return i < m_icons.size() ? QVariant(m_icons[i]) : QVariant();
        }
        case Qt::TextAlignmentRole:
            return index.column() == 2 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
        case Qt::BackgroundRole:
            return index.row() == m_dropRow ? QVariant(QGuiApplication::palette().highlight())
                                            : QVariant();
        case Qt::ForegroundRole:
            return index.row() == m_dropRow ? QVariant(QGuiApplication::palette().highlightedText())
                                            : QVariant();
        default:
            return {};
    }
}

void EntryListModel::SetDropRow(int row) {
    if (row == m_dropRow) return;
    const int old = m_dropRow;
    m_dropRow = row;
    for (const int r : {old, row})
        if (r >= 0 && r < rowCount())
            emit dataChanged(index(r, 0), index(r, columnCount() - 1),
                             {Qt::BackgroundRole, Qt::ForegroundRole});
}

QVariant EntryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole)
        return section == 2 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role != Qt::DisplayRole) return {};
    switch (section) {
        case 0:
            return tr("Name");
        case 1:
            return tr("Type");
        case 2:
            return tr("Size");
        case 3:
            return tr("Author");
        case 4:
            return tr("Last Modified");
        default:
            return {};
    }
}

void EntryListModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kColumnCount) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();
    std::vector<std::size_t> perm(m_rows.size());
    for (std::size_t i = 0; i < perm.size(); ++i) perm[i] = i;
    const bool ascending = order == Qt::AscendingOrder;
    const auto before = [&](std::size_t x, std::size_t y) {
        return EntryBefore(*m_rows[x].entry, *m_rows[y].entry, column, ascending);
    };
    // Rows sorted by this same order before, with pages appended since: only
    // the new rows are sorted, then merged in (a long listing sorted by the
    // user is sorted again after each page).
    const std::size_t inOrder =
        m_sortedBy == std::pair{column, ascending} ? std::min(m_sortedRows, perm.size()) : 0;
    const auto middle = perm.begin() + static_cast<std::ptrdiff_t>(inOrder);
    std::stable_sort(middle, perm.end(), before);
    std::inplace_merge(perm.begin(), middle, perm.end(), before);
    m_sortedBy = {column, ascending};
    m_sortedRows = perm.size();
    std::vector<int> newRow(m_rows.size());
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (std::size_t i = 0; i < perm.size(); ++i) {
        newRow[perm[i]] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[perm[i]]));
    }
    m_rows = std::move(sorted);
    QModelIndexList after;
    for (const QModelIndex& i : persistent)
        after.push_back(index(newRow[static_cast<std::size_t>(i.row())], i.column()));
    changePersistentIndexList(persistent, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void EntryListModel::Clear() {
    if (m_rows.empty()) return;
    beginResetModel();
    m_rows.clear();
    m_sortedRows = 0;
    endResetModel();
}

Qt::ItemFlags EntryListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid()) f |= Qt::ItemIsDragEnabled;
    if (index.isValid() && index.column() == 0) f |= Qt::ItemIsEditable;
    return f;
}

bool EntryListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.column() != 0 ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    emit RenameRequested(index.row(), value.toString());
    return false;  // the row changes only when the service has renamed the entry
}

void EntryListModel::AppendPage(const std::vector<DocEntryPtr>& page) {
    const auto real = static_cast<int>(
        std::count_if(page.begin(), page.end(), [](const DocEntryPtr& e) { return e != nullptr; }));
    if (real == 0) return;
    const int start = rowCount();
    beginInsertRows({}, start, start + real - 1);
    for (const DocEntryPtr& e : page)
        if (e) m_rows.push_back(Row{e, std::nullopt});
    endInsertRows();
}

void EntryListModel::InsertAtTop(DocEntryPtr entry) {
    if (!entry) return;
    beginInsertRows({}, 0, 0);
    m_rows.insert(m_rows.begin(), Row{std::move(entry), std::nullopt});
    m_sortedRows = 0;  // the new row may belong anywhere
    endInsertRows();
}

void EntryListModel::RemoveRowAt(int row) {
    if (row < 0 || row >= rowCount()) return;
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    if (static_cast<std::size_t>(row) < m_sortedRows) --m_sortedRows;  // the rest stays in order
    endRemoveRows();
}

int EntryListModel::FindRowByResourceId(const std::string& resourceId) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].entry->resourceId == resourceId) return static_cast<int>(i);
    return -1;
}

int EntryListModel::FindRowByEditHref(const std::string& editHref) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].entry->editHref == editHref) return static_cast<int>(i);
    return -1;
}

void EntryListModel::RenameByContentSrc(const std::string& url, const QString& title) {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].entry->contentSrc != url) continue;
        m_rows[i].title = title;
        const QModelIndex cell = index(static_cast<int>(i), 0);
        emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole});
    }
}

int EntryListModel::RowOf(const DocEntry* entry) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].entry.get() == entry) return static_cast<int>(i);
    return -1;
}

void EntryListModel::SetTitleOf(const DocEntry* entry, const QString& title) {
    const int row = RowOf(entry);
    if (row < 0) return;
    m_rows[static_cast<std::size_t>(row)].title = title;
    const QModelIndex cell = index(row, 0);
    emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole, Qt::EditRole});
}

DocEntryPtr EntryListModel::EntryAt(int row) const {
    return row >= 0 && row < rowCount() ? m_rows[static_cast<std::size_t>(row)].entry : nullptr;
}

QString EntryListModel::TitleAt(int row) const {
    return row >= 0 && row < rowCount() ? CellText(m_rows[static_cast<std::size_t>(row)], 0)
                                        : QString();
}

QStringList EntryListModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* EntryListModel::mimeData(const QModelIndexList&) const {
    return m_dragSource ? m_dragSource() : nullptr;
}

Qt::DropActions EntryListModel::supportedDragActions() const {
    return Qt::CopyAction | Qt::MoveAction;
}

}  // namespace tallowdesk::shell
