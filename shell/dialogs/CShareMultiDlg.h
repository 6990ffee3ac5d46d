#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "ShareDialogs.h"
#include "ShareMessages.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tallowdesk::shell {

// "Sharing settings" of several entries: adds the same people with the same
// role to every entry, on one worker, one entry after another. Closes itself
// when everything was shared; otherwise it stays open and lists, per entry,
// what could not be added. Receiver of that worker's messages. UI thread.
class CShareMultiDlg : public QDialog, public ShareMultiMessages {
    Q_OBJECT
public:
    CShareMultiDlg(std::vector<std::shared_ptr<const DocEntry>> entries, ShareContext context,
                   QWidget* parent = nullptr);

    QString StatusText() const;
    bool Busy() const { return m_busy; }

    // ShareMultiMessages
    void EntryShared(const EntryShareReport& report) override;
    void MultiShareFinished() override;

public slots:
    void accept() override;  // "Share"

private:
    std::vector<std::shared_ptr<const DocEntry>> m_entries;
    ShareContext m_context;
    bool m_busy = false;
    std::size_t m_failedEntries = 0;

    QLineEdit* m_addresses;
    QComboBox* m_role;
    QLabel* m_status;
    QListWidget* m_report;
    QPushButton* m_share;
};

}  // namespace tallowdesk::shell
