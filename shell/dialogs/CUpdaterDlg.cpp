#include "CUpdaterDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallowdesk::shell {

CUpdaterDlg::CUpdaterDlg(UpdateServices services, std::optional<UpdateOffer> offer, QWidget* parent)
    : QDialog(parent), m_services(std::move(services)) {
    setObjectName(QStringLiteral("updaterDialog"));
    setWindowTitle(tr("Tallowdesk Updater"));
    auto* body = new QVBoxLayout(this);
    m_status = new QLabel(tr("Checking for updates ..."), this);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setWordWrap(true);
    m_status->setMinimumWidth(
        m_status->fontMetrics().horizontalAdvance(QString(60, QLatin1Char('x'))));
    body->addWidget(m_status);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(tr("Progress"));
    body->addWidget(m_progress);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_update = new QPushButton(tr("Update"), this);
    m_update->setObjectName(QStringLiteral("updateButton"));
    m_update->setDefault(true);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    buttons->addWidget(m_update);
    buttons->addWidget(m_cancel);
    body->addLayout(buttons);
    connect(m_update, &QPushButton::clicked, this, &CUpdaterDlg::StartInstall);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    if (offer) {
        m_progress->hide();
        ShowOffer(*offer);
    } else {
        m_progress->setRange(0, 0);  // marquee
        m_update->hide();
        m_busy = true;
        CAutoUpdater::StartCheck(m_services, UpdaterPort(this));
    }
}

QString CUpdaterDlg::StatusText() const {
    return m_status->text();
}

void CUpdaterDlg::UpdateCheckFinished(const UpdateOffer& offer) {
    m_busy = false;
    m_progress->hide();
    if (offer.check.result != UpdateCheckResult::Available) {
        Finish(tr("No updates available."));
        return;
    }
    ShowOffer(offer);
}

void CUpdaterDlg::ShowOffer(const UpdateOffer& offer) {
    m_offeredVersion = offer.check.publishedVersion;
    const QString version = QString::fromStdString(offer.check.publishedVersion);
    if (!offer.installable) {
        // Replacing a program the package manager owns would fail or fight it.
        m_update->hide();
        Finish(tr("Version %1 is available now. Tallowdesk was installed by your "
                  "system's package manager; the update comes through it.")
                   .arg(version));
        return;
    }
    m_status->setText(tr("Version %1 is available now, upgrade to the new version?").arg(version));
    m_update->show();
    m_update->setEnabled(true);
}

void CUpdaterDlg::StartInstall() {
    if (m_busy) return;
    m_busy = true;
    m_progress->setRange(0, 0);
    m_progress->show();
    m_status->setText(tr("Downloading new updates..."));
    m_update->hide();
    CAutoUpdater::StartInstall(m_services, m_offeredVersion, UpdaterPort(this));
}

void CUpdaterDlg::UpdateInstallFinished(UpdateInstallResult result) {
    m_busy = false;
    m_progress->hide();
    Finish(result == UpdateInstallResult::Started
               ? tr("Upgrade finished. You need to restart Tallowdesk for the changes "
                    "to take effect.")
               : tr("Upgrade failed. You can try it again later."));
}

void CUpdaterDlg::Finish(const QString& text) {
    m_status->setText(text);
    m_cancel->setText(tr("Close"));
}

}  // namespace tallowdesk::shell
