#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

class QLabel;

namespace tallowdesk::shell {

// "About Tallowdesk": name, version, home page, and the account's storage
// sentence once a worker has fetched it (hidden until then, and for good
// when there is none). Modal, UI thread.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    using QuotaSource = std::function<std::optional<std::string>()>;
    // quota runs on a worker thread.
    CAboutDlg(QuotaSource quota, QWidget* parent);

    // Shows the storage sentence (UI thread); 3 bytes or fewer show nothing.
    void ShowQuota(const std::string& text);

private:
    QLabel* m_quotaTitle;
    QLabel* m_quota;
    QLabel* m_addStorage;
};

}  // namespace tallowdesk::shell
