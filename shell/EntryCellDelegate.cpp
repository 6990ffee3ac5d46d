#include "EntryCellDelegate.h"

namespace tallowdesk::shell {

QSize EntryCellDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    return m_cell.isValid() ? m_cell : QStyledItemDelegate::sizeHint(option, index);
}

}  // namespace tallowdesk::shell
