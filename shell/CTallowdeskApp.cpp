#include "CTallowdeskApp.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <atomic>

#include "AppState.h"
#include "CAutoUpdater.h"
#include "CMainFrame.h"
#include "Notifier.h"
#include "RememberedPassword.h"
#include "Resources.h"
#include "SingleInstance.h"
#include "Worker.h"
#include "dialogs/CLoginDlg.h"
#include "dialogs/CUpdaterDlg.h"
#include "dialogs/Modality.h"
#include "model/FeedCatalogue.h"
#include "service/ServiceClient.h"
#include "settings/ConfigFile.h"

namespace tallowdesk::shell {

namespace {
CTallowdeskApp* g_app = nullptr;
// How long a signed-out window's workers get to stop before it goes anyway.
constexpr int kSessionEndWaitMs = 3000;
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

    auto* updater = new CAutoUpdater(DefaultUpdateServices(), this);
    m_startUpdateCheck = [updater] { updater->StartSilentCheck(); };
    return StartSession(LoginPrefill::RememberedAccount);
}

LoginDependencies CTallowdeskApp::SessionLoginDependencies(LoginPrefill prefill) {
    // Every sign-in starts from nothing: a worker of the previous account
    // keeps its own state alive and writes only there.
    m_state = std::make_shared<AppState>();
    m_state->navigation = Navigation();  // the root folder on the configured host

    LoginDependencies deps = ApplicationLoginDependencies(m_state);
    deps.prefill = prefill;
    deps.configPath = m_hooks.configPath;
    // The storage page needs the session cookies: read it again once they
    // are there, since the window may show before the cookie sign-in ends.
    deps.services.cookieSignIn = [signIn = deps.services.cookieSignIn,
                                  app = QPointer<CTallowdeskApp>(this)](ServiceClient& client) {
        signIn(client);
        notifier::Post([app] {
            if (app && app->m_frame) app->m_frame->RefreshQuota();
        });
    };
    // The update check belongs to the program's start, not to each account.
    if (prefill == LoginPrefill::RememberedAccount) deps.startUpdateCheck = m_startUpdateCheck;
    if (m_hooks.login) m_hooks.login(deps);
    return deps;
}

bool CTallowdeskApp::StartSession(LoginPrefill prefill) {
    {
        CLoginDlg login(SessionLoginDependencies(prefill));
        if (login.exec() != QDialog::Accepted) return false;
    }
    ShowFrame();
    return true;
}

void CTallowdeskApp::ShowFrame() {
    if (m_hooks.signedIn) m_hooks.signedIn(*m_state);
    FrameHooks hooks;
    hooks.checkForUpdates = [this] {
        CUpdaterDlg dialog(DefaultUpdateServices(), std::nullopt, m_frame.get());
        ExecModalToItsWindow(dialog);
    };
    m_frame = std::make_unique<CMainFrame>(m_state, std::move(hooks),
                                           m_hooks.commands ? m_hooks.commands() : CommandHooks{});
    // Handled after the menu's own handler has returned: the frame goes.
    connect(m_frame.get(), &CMainFrame::SessionEndWanted, this, [this](SessionEndKind kind) {
        QTimer::singleShot(0, this, [this, kind] { EndSession(kind); });
    });
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = m_frame->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_frame->move(frame.topLeft());
    }
    m_frame->show();
    m_frame->Start();
}

void CTallowdeskApp::EndSession(SessionEndKind kind) {
    if (!m_frame || m_ending) return;
    m_ending = true;
    const SessionEndPlan plan = PlanSessionEnd(kind);

    // Nothing of the account is shown or asked for from here on: its
    // workers fail at their next request, its client (token and cookies)
    // goes with the last of them.
    m_frame->StopWorkers();
    m_frame->hide();
    m_state->client.reset();
    m_state->calls = OfflineServiceCalls();

    auto keyringDone = std::make_shared<std::atomic<bool>>(true);
    if (plan.forgetPassword) {
        std::optional<std::string> keyringAccount;
        try {
            ConfigFile config =
                m_hooks.configPath.empty() ? ConfigFile() : ConfigFile(m_hooks.configPath);
            PasswordForget forget = ForgetRememberedPassword(config);
            if (!forget.ok)
                QMessageBox::warning(nullptr, QStringLiteral("Tallowdesk"),
                                     QString::fromStdString(forget.message));
            keyringAccount = forget.keyringAccount;
        } catch (const std::exception& e) {
            QMessageBox::warning(nullptr, QStringLiteral("Tallowdesk"),
                                 QString::fromUtf8(e.what()));
        }
        if (keyringAccount) {
            // The keyring answers over D-Bus, possibly slowly: not on this thread.
            keyringDone->store(false);
            struct Block {
                std::string account;
                std::shared_ptr<std::atomic<bool>> done;
            };
            StartWorker(std::make_unique<Block>(Block{*keyringAccount, keyringDone}), [](Block& b) {
                PasswordKeyring().Remove(b.account);
                b.done->store(true);
            });
        }
    }

    // A bounded wait with the event loop running: a request that hangs
    // keeps its (hidden) window no longer than this, never the program.
    auto* wait = new QTimer(this);
    wait->setInterval(20);
    const QDeadlineTimer deadline(kSessionEndWaitMs);
    connect(wait, &QTimer::timeout, this, [this, wait, deadline, keyringDone, plan] {
        if (!deadline.hasExpired() && !(m_frame->WorkersStopped() && keyringDone->load())) return;
        wait->deleteLater();
        m_frame.reset();
        m_ending = false;
        ReopenSignIn(plan.prefill);
    });
    wait->start();
}

void CTallowdeskApp::ReopenSignIn(LoginPrefill prefill) {
    // Not exec(): the dialog runs in the program's own loop, as the window did.
    m_login = new CLoginDlg(SessionLoginDependencies(prefill));
    m_login->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_login, &QDialog::finished, this, [this](int result) {
        if (result == QDialog::Accepted) {
            ShowFrame();
        } else if (m_hooks.quit) {
            m_hooks.quit();
        } else {
            QCoreApplication::exit(0);  // Cancel ends the program, as at start
        }
    });
    m_login->setWindowModality(Qt::ApplicationModal);
    m_login->show();
}

LoginDependencies ApplicationLoginDependencies(const std::shared_ptr<AppState>& state) {
    LoginDependencies deps;
    deps.makeClient = [](const std::string& email, const std::string& password) {
        return std::make_shared<ServiceClient>(email, password);
    };
    deps.clientCreated = [state](std::shared_ptr<ServiceClient> client) {
        // A worker of an earlier attempt may still hold the old client.
        state->client = client;
        state->calls = client ? SessionServiceCalls(ServiceCallsFor(client), state->ended)
                              : OfflineServiceCalls();
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
