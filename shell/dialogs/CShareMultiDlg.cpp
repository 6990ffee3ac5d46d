#include "CShareMultiDlg.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallowdesk::shell {

CShareMultiDlg::CShareMultiDlg(std::vector<std::shared_ptr<const DocEntry>> entries,
                               ShareContext context, QWidget* parent)
    : QDialog(parent), m_entries(std::move(entries)), m_context(std::move(context)) {
    setObjectName(QStringLiteral("shareMultiDialog"));
    setWindowTitle(tr("Sharing settings"));
    auto* body = new QVBoxLayout(this);
    auto* addTitle = new QLabel(
        tr("Add people (email addresses, groups, or domains...), seperated by \",\":"), this);
    body->addWidget(addTitle);
    auto* addRow = new QHBoxLayout;
    m_addresses = new QLineEdit(this);
    m_addresses->setObjectName(QStringLiteral("addressEdit"));
    addTitle->setBuddy(m_addresses);
    m_addresses->setAccessibleName(tr("Add people"));
    m_addresses->setMaxLength(1023);
    m_addresses->setMinimumWidth(300);
    m_role = new QComboBox(this);
    m_role->setObjectName(QStringLiteral("roleBox"));
    m_role->addItems({tr("Can Edit"), tr("Can View")});
    m_role->setCurrentIndex(0);
    m_role->setAccessibleName(tr("Permission of the people added"));
    m_role->view()->setAccessibleName(m_role->accessibleName());
    addRow->addWidget(m_addresses, 1);
    addRow->addWidget(m_role);
    body->addLayout(addRow);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255); background: transparent;"));
    m_status->setWordWrap(true);
    body->addWidget(m_status);
    m_report = new QListWidget(this);
    m_report->setObjectName(QStringLiteral("reportList"));
    m_report->setAccessibleName(tr("Sharing report"));
    m_report->hide();
    body->addWidget(m_report);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_share = new QPushButton(tr("Share"), this);
    m_share->setObjectName(QStringLiteral("shareButton"));
    m_share->setDefault(true);
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    buttons->addWidget(m_share);
    buttons->addWidget(close);
    body->addLayout(buttons);
    connect(m_share, &QPushButton::clicked, this, &CShareMultiDlg::accept);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

QString CShareMultiDlg::StatusText() const {
    return m_status->text();
}

void CShareMultiDlg::accept() {
    if (m_busy) return;
    const std::string role = m_role->currentIndex() == 0 ? "writer" : "reader";
    const std::string text = m_addresses->text().trimmed().toStdString();
    if (text.empty()) return;
    m_busy = true;
    m_share->setEnabled(false);
    m_failedEntries = 0;
    m_report->clear();
    m_report->hide();
    m_status->setText(tr("processing..."));
    share_workers::ShareEntries(m_context.service, m_entries, text, role,
                                m_context.groupsMailDomain, ShareMultiPort(this));
}

void CShareMultiDlg::EntryShared(const EntryShareReport& report) {
    if (report.failures.empty() || report.index >= m_entries.size()) return;
    ++m_failedEntries;
    const QString title = QString::fromStdString(m_entries[report.index]->title.value_or(""));
    for (const auto& failure : report.failures) {
        m_report->addItem(tr("%1: %2").arg(title, QString::fromStdString(failure)));
    }
    m_report->show();
}

void CShareMultiDlg::MultiShareFinished() {
    m_busy = false;
    m_share->setEnabled(true);
    if (m_failedEntries == 0) {
        m_addresses->clear();
        QDialog::accept();
        return;
    }
    // The addresses stay in the box, and the list says where they failed.
    m_status->setText(
        tr("Sharing failed for %1 of %2 items.").arg(m_failedEntries).arg(m_entries.size()));
}

}  // namespace tallowdesk::shell
