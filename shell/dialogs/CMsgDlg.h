#pragma once

#include <QDialog>

class QLabel;

namespace tallowdesk::shell {

// The modeless "Processing......" window that shows a worker is running:
// a banner and one line of text, no buttons. The user cannot close it; the
// worker's last message hides it. UI thread.
class CMsgDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMsgDlg(QWidget* parent);

    void SetLine(const QString& text);
    QString Line() const;
    // Shown next to its parent, without taking the focus from it.
    void ShowOverParent();

protected:
    void reject() override {}  // Escape does not close it

private:
    QLabel* m_line;
};

}  // namespace tallowdesk::shell
