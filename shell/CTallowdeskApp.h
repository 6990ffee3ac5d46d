#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

#include "ListCommands.h"
#include "SessionEnd.h"
#include "dialogs/CLoginDlg.h"

namespace tallowdesk::shell {

class CMainFrame;
class SingleInstance;
struct AppState;

// The application object: the single-instance rule, the sign-in dialog and
// then the main window. Owns the shared state (the client of the signed-in
// account, the entry and folder lists, the location and its history) and
// the frame. Lives on the UI thread for the whole process; QApplication
// runs the event loop.
// Replaces what a session asks of the desktop; tests drive the application
// object through these. Each has a working default.
struct SessionHooks {
    std::filesystem::path configPath;               // empty: the default Config.xml
    std::function<void(LoginDependencies&)> login;  // adjusts each sign-in dialog's needs
    std::function<CommandHooks()> commands;         // the list commands of each new window
    std::function<void(AppState&)> signedIn;        // a sign-in succeeded, no window yet
    std::function<void()> quit;                     // the program ends
};

class CTallowdeskApp : public QObject {
    Q_OBJECT
public:
    CTallowdeskApp();
    ~CTallowdeskApp() override;

    // False when the program must end (another instance runs, or the
    // sign-in was cancelled).
    bool InitInstance();

    // The one application object of the process; null before it exists.
    static CTallowdeskApp* Instance();

    // Runs the modal sign-in dialog, then shows a new window on the root
    // folder of the account. False when the dialog was cancelled.
    bool StartSession(LoginPrefill prefill = LoginPrefill::RememberedAccount);
    // Sign Out / Switch Account (after the frame checked no transfer runs):
    // the window's workers stop, the account's client and session go, the
    // window closes and the sign-in dialog opens again; its Cancel ends the
    // program as at start.
    void EndSession(SessionEndKind kind);
    void SetSessionHooks(SessionHooks hooks) { m_hooks = std::move(hooks); }

    CMainFrame* Frame() const { return m_frame.get(); }
    // The sign-in dialog opened after a sign-out, while it is open.
    CLoginDlg* LoginDialog() const { return m_login; }
    const std::shared_ptr<AppState>& State() const { return m_state; }

private:
    void BringForward();
    LoginDependencies SessionLoginDependencies(LoginPrefill prefill);
    void ShowFrame();
    void ReopenSignIn(LoginPrefill prefill);

    std::shared_ptr<AppState> m_state;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<CMainFrame> m_frame;
    SessionHooks m_hooks;
    std::function<void()> m_startUpdateCheck;
    QPointer<CLoginDlg> m_login;
    bool m_ending = false;
};

// The sign-in dialog's dependencies for the real service: each attempt makes
// a ServiceClient and hands it, with its calls, to the shared state.
LoginDependencies ApplicationLoginDependencies(const std::shared_ptr<AppState>& state);

}  // namespace tallowdesk::shell
