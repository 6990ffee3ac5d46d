#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <optional>
#include <vector>

#include "model/EntryList.h"

namespace tallowdesk::shell {

// Rows of the entry list: one shared record per row, cells read from it on
// demand. Rows never own the list's storage; a row only keeps its record
// alive. A folder renamed elsewhere keeps its record and gets a title of its
// own. UI thread only.
class EntryListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit EntryListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    // Images by icon index (see EntryIconIndex), large and small.
    void SetIcons(std::vector<QIcon> icons) { m_icons = std::move(icons); }

    void Clear();
    // Appends the records from first on, unless generation is stale.
    void AppendFrom(const EntryList& list, std::uint64_t generation, std::size_t first);
    void InsertAtTop(DocEntryPtr entry);
    void RemoveRowAt(int row);
    int FindRowByResourceId(const std::string& resourceId) const;
    int FindRowByEditHref(const std::string& editHref) const;
    // Retitles every row whose contents URL is url.
    void RenameByContentSrc(const std::string& url, const QString& title);

    DocEntryPtr EntryAt(int row) const;
    QString TitleAt(int row) const;

private:
    struct Row {
        DocEntryPtr entry;
        std::optional<QString> title;  // after a rename
    };
    QString CellText(const Row& row, int column) const;

    std::vector<Row> m_rows;
    std::vector<QIcon> m_icons;
};

}  // namespace tallowdesk::shell
