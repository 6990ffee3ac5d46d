#pragma once

#include <QDialog>

#include "transfer/NameClash.h"

class QCheckBox;

namespace tallowdesk::shell {

// Asks what to do with an item whose name is already taken where a transfer
// puts it, as file managers do: Replace (Merge for a folder), Keep Both
// (a numbered name) or Skip, and whether the answer holds for the remaining
// clashes of the same kind. Closing the window skips: nothing is lost.
// UI thread.
class NameClashDlg : public QDialog {
    Q_OBJECT
public:
    NameClashDlg(const ClashQuestion& question, QWidget* parent);
    ClashAnswer Answer() const;

    // Shows the dialog modally and returns the user's answer.
    static ClashAnswer Ask(QWidget* parent, const ClashQuestion& question);

private:
    QCheckBox* m_forAll;
    ClashChoice m_choice = ClashChoice::Skip;
};

}  // namespace tallowdesk::shell
