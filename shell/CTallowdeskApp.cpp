#include "CTallowdeskApp.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>

#include "AppState.h"
#include "CAutoUpdater.h"
#include "CMainFrame.h"
#include "Notifier.h"
#include "Resources.h"
#include "SingleInstance.h"
#include "dialogs/CLoginDlg.h"
#include "dialogs/CUpdaterDlg.h"
#include "dialogs/Modality.h"
#include "model/FeedCatalogue.h"
#include "service/ServiceClient.h"
#include "settings/ConfigFile.h"

namespace tallowdesk::shell {

namespace {
CTallowdeskApp* g_app = nullptr;
}  // namespace

CTallowdeskApp::CTallowdeskApp() : m_state(std::make_shared<AppState>()) {
    g_app = this;
}

CTallowdeskApp::~CTallowdeskApp() {
    if (g_app == this) g_app = nullptr;
}

CTallowdeskApp* CTallowdeskApp::Instance() {
    return g_app;
}

bool CTallowdeskApp::InitInstance() {
    QApplication::setApplicationName(QStringLiteral("Tallowdesk"));
    QApplication::setApplicationVersion(QStringLiteral(TALLOWDESK_VERSION));
    QApplication::setWindowIcon(AppIcon());
    // Closing the window only hides it; Exit ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    m_instance = std::make_unique<SingleInstance>();
    if (!m_instance->Claim()) {
        if (m_instance->Error().isEmpty()) {
            QMessageBox::information(
                nullptr, QStringLiteral("Tallowdesk"),
                tr("Tallowdesk is already running, only one instance is allowed at a time."));
            m_instance->AskFirstToComeForward();
            return false;
        }
        // No socket for later starts: this one runs without the guard.
        qWarning("Tallowdesk: single-instance socket unavailable: %s",
                 qPrintable(m_instance->Error()));
    }
    connect(m_instance.get(), &SingleInstance::ComeForwardRequested, this,
            &CTallowdeskApp::BringForward);

    SetServiceHosts(ConfigFile().GetServiceHosts());
    ResetCategoryTable();
    m_state->navigation = Navigation();  // the root folder on the configured host

    LoginDependencies deps = ApplicationLoginDependencies(m_state);
    // The storage page needs the session cookies: read it again once they
    // are there, since the window may show before the cookie sign-in ends.
    deps.services.cookieSignIn = [signIn = deps.services.cookieSignIn,
                                  app = QPointer<CTallowdeskApp>(this)](ServiceClient& client) {
        signIn(client);
        notifier::Post([app] {
            if (app && app->m_frame) app->m_frame->RefreshQuota();
        });
    };
    auto* updater = new CAutoUpdater(DefaultUpdateServices(), this);
    deps.startUpdateCheck = [updater] { updater->StartSilentCheck(); };
    {
        CLoginDlg login(std::move(deps));
        if (login.exec() != QDialog::Accepted) return false;
    }

    FrameHooks hooks;
    hooks.checkForUpdates = [this] {
        CUpdaterDlg dialog(DefaultUpdateServices(), std::nullopt, m_frame.get());
        ExecModalToItsWindow(dialog);
    };
    m_frame = std::make_unique<CMainFrame>(m_state, std::move(hooks));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = m_frame->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_frame->move(frame.topLeft());
    }
    m_frame->show();
    m_frame->Start();
    return true;
}

LoginDependencies ApplicationLoginDependencies(const std::shared_ptr<AppState>& state) {
    LoginDependencies deps;
    deps.makeClient = [](const std::string& email, const std::string& password) {
        return std::make_shared<ServiceClient>(email, password);
    };
    deps.clientCreated = [state](std::shared_ptr<ServiceClient> client) {
        // A worker of an earlier attempt may still hold the old client.
        state->client = client;
        state->calls = client ? ServiceCallsFor(client) : OfflineServiceCalls();
    };
    return deps;
}

void CTallowdeskApp::BringForward() {
    QWidget* target = QApplication::activeModalWidget();
    if (!target) target = m_frame.get();
    if (!target) return;
    if (m_frame && target == m_frame.get()) {
        m_frame->RestoreFromTray();
    } else {
        if (target->isMinimized()) target->showNormal();
        target->show();
    }
    target->raise();
    target->activateWindow();
}

}  // namespace tallowdesk::shell
