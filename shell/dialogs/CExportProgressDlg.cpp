#include "CExportProgressDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "TransferWorkers.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk::shell {

CExportProgressDlg::CExportProgressDlg(ExportRequest request,
                                       std::function<std::unique_ptr<TransferOps>()> makeOps,
                                       QWidget* parent)
    : QDialog(parent), m_request(std::move(request)), m_makeOps(std::move(makeOps)) {
    setObjectName(QStringLiteral("exportProgressDialog"));
    setWindowTitle(tr("Exporting..."));
    setModal(true);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 0);  // moves by itself: an export's size is not known
    m_bar->setMinimumWidth(360);
    m_speed = new QLabel(tr("Unknown"), this);
    m_speed->setObjectName(QStringLiteral("speedText"));
    auto* speed = new QHBoxLayout;
    speed->addWidget(new QLabel(tr("Speed:"), this));
    speed->addWidget(m_speed, 1);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("messageText"));
    m_message->setStyleSheet(QStringLiteral("color: red; background: transparent;"));
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_bar);
    layout->addLayout(speed);
    layout->addWidget(m_message);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(cancel, &QPushButton::clicked, this, &CExportProgressDlg::reject);
}

QString CExportProgressDlg::Message() const {
    return m_message->text();
}

void CExportProgressDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_started) return;
    m_started = true;
    m_wait.setInterval(20);
    connect(&m_wait, &QTimer::timeout, this, &CExportProgressDlg::StartWhenFree);
    StartWhenFree();
}

void CExportProgressDlg::StartWhenFree() {
    // A Cancel raised for a download or upload that is still winding down
    // is theirs: clearing it would let them run on with no window, and
    // keeping it would stop this export at once. Wait for their end.
    if (transferCancel && transferBusy) {
        m_wait.start();
        return;
    }
    m_wait.stop();
    transferCancel = false;
    m_running = true;
    m_message->clear();
    StartExportWorker(m_request, m_makeOps, this);
}

void CExportProgressDlg::Progress(std::uint64_t, std::uint64_t rateBytesPerMs) {
    m_speed->setText(tr("%1 KB/s").arg(rateBytesPerMs));
}

void CExportProgressDlg::AddTransferDetail(const QString& text) {
    m_message->setText(text);
}

void CExportProgressDlg::TransferFinished() {
    m_running = false;
    m_bar->setRange(0, 1);  // the bar stops
    m_bar->setValue(0);
    // A download or upload beside it may still have to see the Cancel.
    if (transferCancel && !transferBusy) transferCancel = false;
    if (m_message->text().left(63).size() < 2) accept();
}

void CExportProgressDlg::reject() {
    m_wait.stop();  // not started yet: nothing to stop
    if (m_running) transferCancel = true;
    QDialog::reject();
}

}  // namespace tallowdesk::shell
