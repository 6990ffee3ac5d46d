#include "CAutoUpdater.h"

#include "Worker.h"
#include "dialogs/CUpdaterDlg.h"
#include "update/ProcessLaunch.h"
#include "update/Version.h"

namespace tallowdesk::shell {

UpdateServices DefaultUpdateServices() {
    UpdateServices services;
    services.check = [] { return CheckForUpdate(UpdateFolderUrl(), RunningVersion()); };
    services.installable = [] { return ExecutableIsUserWritable(RunningExecutable()); };
    services.install = [](const std::string& version) {
        return DownloadUpdate(DefaultInstallPlan(version)).result;
    };
    return services;
}

CAutoUpdater::CAutoUpdater(UpdateServices services, QObject* parent)
    : QObject(parent), m_services(std::move(services)) {}

void CAutoUpdater::StartCheck(const UpdateServices& services, UpdaterPort port) {
    struct Block {
        UpdateServices services;
        UpdaterPort port;
    };
    StartWorker(std::make_unique<Block>(Block{services, port}), [](Block& b) {
        UpdateOffer offer;
        try {
            offer.check = b.services.check();
            if (offer.check.result == UpdateCheckResult::Available && b.services.installable) {
                offer.installable = b.services.installable();
            }
        } catch (...) {
            offer.check.result = UpdateCheckResult::NoConnection;
        }
        b.port.UpdateCheckFinished(offer);
    });
}

void CAutoUpdater::StartInstall(const UpdateServices& services, std::string version,
                                UpdaterPort port) {
    struct Block {
        UpdateServices services;
        std::string version;
        UpdaterPort port;
    };
    StartWorker(std::make_unique<Block>(Block{services, std::move(version), port}), [](Block& b) {
        UpdateInstallResult result = UpdateInstallResult::DownloadFailed;
        try {
            result = b.services.install(b.version);
        } catch (...) {
            result = UpdateInstallResult::DownloadFailed;
        }
        b.port.UpdateInstallFinished(result);
    });
}

void CAutoUpdater::StartSilentCheck() {
    if (m_checking) return;
    m_checking = true;
    StartCheck(m_services, UpdaterPort(this));
}

void CAutoUpdater::UpdateCheckFinished(const UpdateOffer& offer) {
    m_checking = false;
    // The sign-in dialog may open again; one offer per run is enough.
    if (offer.check.result != UpdateCheckResult::Available || m_offerShown) return;
    m_offerShown = true;
    // Modal, so it takes input above the sign-in dialog, but shown without a
    // nested event loop, so the sign-in workers go on behind it.
    auto* dialog = new CUpdaterDlg(m_services, offer);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    emit UpdateOffered(dialog);
}

}  // namespace tallowdesk::shell
