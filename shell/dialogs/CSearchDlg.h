#pragma once

#include <QDialog>

class QLineEdit;

namespace tallowdesk::shell {

// "Search": one line for the words to look for; "Search" ends it with OK.
// UI thread.
class CSearchDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSearchDlg(QWidget* parent = nullptr);
    QString Query() const;

private:
    QLineEdit* m_edit;
};

// The longest query taken: what the processing line ("Searching for "...")
// and the request hold.
inline constexpr int kMaxSearchQueryUnits = 230;

}  // namespace tallowdesk::shell
