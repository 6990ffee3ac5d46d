#pragma once

#include <QAction>
#include <QMenu>
#include <QStringList>

namespace tallowdesk::shell {

// A menu's item texts in order, "-" for a separator.
inline QStringList MenuTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* a : menu.actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

}  // namespace tallowdesk::shell
