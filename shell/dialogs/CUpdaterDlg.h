#pragma once

#include <QDialog>
#include <optional>

#include "../CAutoUpdater.h"
#include "../UpdateMessages.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tallowdesk::shell {

// "Tallowdesk Updater": checking (marquee, "Update" hidden) -> nothing new
// or the offer -> downloading -> finished or failed. Opened from the menu it
// starts in the checking state; opened by the silent check it starts on the
// offer. "Cancel"/"Close" ends it at any time; a running worker then reports
// to nobody. Receiver of the update workers' messages. UI thread.
class CUpdaterDlg : public QDialog, public UpdaterMessages {
    Q_OBJECT
public:
    // Without an offer the dialog checks first.
    CUpdaterDlg(UpdateServices services, std::optional<UpdateOffer> offer,
                QWidget* parent = nullptr);

    QString StatusText() const;
    bool Busy() const { return m_busy; }

    // UpdaterMessages
    void UpdateCheckFinished(const UpdateOffer& offer) override;
    void UpdateInstallFinished(UpdateInstallResult result) override;

private:
    void ShowOffer(const UpdateOffer& offer);
    void StartInstall();
    void Finish(const QString& text);

    UpdateServices m_services;
    QLabel* m_status;
    QProgressBar* m_progress;
    QPushButton* m_update;
    QPushButton* m_cancel;
    std::string m_offeredVersion;
    bool m_busy = false;
};

}  // namespace tallowdesk::shell
