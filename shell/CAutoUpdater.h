#pragma once

#include <QObject>

class QDialog;
#include <functional>

#include "UpdateMessages.h"

namespace tallowdesk::shell {

// The update operations as plain functions, so the dialog runs against
// fakes in tests. Each blocks; call only on worker threads.
struct UpdateServices {
    std::function<UpdateCheckOutcome()> check;
    std::function<bool()> installable;
    // Installs the offered version (as the check published it).
    std::function<UpdateInstallResult(const std::string& version)> install;
};

// The running program against the configured update server.
UpdateServices DefaultUpdateServices();

// Runs the update check and install on workers of their own and reports to
// an UpdaterPort. As a receiver itself it is the silent check at sign-in:
// nothing is shown unless a newer version exists, and then the updater
// dialog opens in its offer state on the UI thread (modal, but without a
// nested event loop, so the sign-in goes on). Owned by the application
// object; UI thread.
class CAutoUpdater : public QObject, public UpdaterMessages {
    Q_OBJECT
public:
    explicit CAutoUpdater(UpdateServices services, QObject* parent = nullptr);

    static void StartCheck(const UpdateServices& services, UpdaterPort port);
    static void StartInstall(const UpdateServices& services, std::string version, UpdaterPort port);

    // The check at sign-in; a second one while one runs is not started.
    void StartSilentCheck();
    const UpdateServices& Services() const { return m_services; }

    // UpdaterMessages
    void UpdateCheckFinished(const UpdateOffer& offer) override;
    void UpdateInstallFinished(UpdateInstallResult) override {}

signals:
    // A newer version was found by the silent check; its dialog is shown.
    void UpdateOffered(QDialog* dialog);

private:
    UpdateServices m_services;
    bool m_checking = false;
    bool m_offerShown = false;
};

}  // namespace tallowdesk::shell
