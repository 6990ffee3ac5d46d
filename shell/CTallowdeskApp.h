#pragma once

#include <QObject>
#include <memory>

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

    CMainFrame* Frame() const { return m_frame.get(); }
    const std::shared_ptr<AppState>& State() const { return m_state; }

private:
    void BringForward();

    std::shared_ptr<AppState> m_state;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<CMainFrame> m_frame;
};

// The sign-in dialog's dependencies for the real service: each attempt makes
// a ServiceClient and hands it, with its calls, to the shared state.
LoginDependencies ApplicationLoginDependencies(const std::shared_ptr<AppState>& state);

}  // namespace tallowdesk::shell
