#pragma once

#include <QSize>
#include <QStyledItemDelegate>

namespace tallowdesk::shell {

// Draws the rows of the icon and list styles, every row in a cell of one
// size. The view asks the size of one row only (uniform item sizes) and lays
// out tens of thousands of rows in batches without measuring each name; a
// fixed cell keeps the first row's name from deciding how much of every other
// name shows. An empty cell size falls back to measuring. UI thread.
class EntryCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void SetCellSize(QSize size) { m_cell = size; }
    QSize CellSize() const { return m_cell; }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QSize m_cell;
};

}  // namespace tallowdesk::shell
