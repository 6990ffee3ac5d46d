#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "model/EntryList.h"

namespace tallowdesk::shell {

// Rows of the entry list: one shared record per row, cells read from it on
// demand. Rows never own the list's storage; a row only keeps its record
// alive. A folder renamed elsewhere keeps its record and gets a title of its
// own. UI thread only.
//
// Names are editable in place, but the model never takes an edited text
// itself: it announces RenameRequested and the rename command changes the row
// once the service agreed (SetTitleOf).
class EntryListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit EntryListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    // Dragging rows out: the data comes from the drag source set here (the
    // selected rows, whatever indexes the view passes).
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    void SetDragSource(std::function<QMimeData*()> source) { m_dragSource = std::move(source); }
    // The folder row a drag from outside would drop into, drawn highlighted
    // (-1: none).
    void SetDropRow(int row);
    int DropRow() const { return m_dropRow; }

    // Images by icon index (see EntryIconIndex), large and small.
    void SetIcons(std::vector<QIcon> icons) { m_icons = std::move(icons); }

    void Clear();
    // Appends one page of a listing after the rows already shown, in one
    // insertion (views lay out once per page, not once per row).
    void AppendPage(const std::vector<DocEntryPtr>& page);
    void InsertAtTop(DocEntryPtr entry);
    // Row of the record (the same object), or -1.
    int RowOf(const DocEntry* entry) const;
    // Gives the row of the record its new name after a rename.
    void SetTitleOf(const DocEntry* entry, const QString& title);
    void RemoveRowAt(int row);
    int FindRowByResourceId(const std::string& resourceId) const;
    int FindRowByEditHref(const std::string& editHref) const;
    // Retitles every row whose contents URL is url.
    void RenameByContentSrc(const std::string& url, const QString& title);

    DocEntryPtr EntryAt(int row) const;
    QString TitleAt(int row) const;

    // The icon styles show the name only; with the other columns present a
    // screen reader hears every cell of every row as an item of the list.
    void SetNameColumnOnly(bool on);

signals:
    // The name of the row was edited in place to text.
    void RenameRequested(int row, const QString& text);

private:
    std::function<QMimeData*()> m_dragSource;
    int m_dropRow = -1;
    struct Row {
        DocEntryPtr entry;
        std::optional<QString> title;  // after a rename
    };
    QString CellText(const Row& row, int column) const;

    std::vector<Row> m_rows;
    // The first m_sortedRows rows are in the order of the last sort
    // (column, ascending); rows appended since come after them.
    std::pair<int, bool> m_sortedBy{-1, true};
    std::size_t m_sortedRows = 0;
    std::vector<QIcon> m_icons;
    bool m_nameOnly = false;
};

}  // namespace tallowdesk::shell
