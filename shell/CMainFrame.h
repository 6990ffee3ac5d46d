#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "ListCommands.h"
#include "SessionEnd.h"

class QLabel;
class QSplitter;
class QSystemTrayIcon;

namespace tallowdesk::shell {

class ActionHandler;
class CLeftView;
class CTallowdeskView;
class ListCommands;
class TrayBalloon;
struct AppState;

// The storage sentence shows at most this many UTF-16 units.
inline constexpr int kQuotaTextLimit = 128;

// Hooks into features that come with other parts of the program.
struct FrameHooks {
    std::function<void()> showSettings;
    std::function<void()> checkForUpdates;
};

// The one top-level window: menus, toolbar, the tree and the list in a
// splitter, a status bar with the item count and the storage sentence, and
// the tray icon that keeps the program running while the window is closed.
// Wires the action handler to the views. UI thread.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame(std::shared_ptr<AppState> state, FrameHooks hooks = {}, QWidget* parent = nullptr);
    // The same, with the list commands' pickers and desktop calls replaced.
    CMainFrame(std::shared_ptr<AppState> state, FrameHooks hooks, CommandHooks commandHooks,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    CLeftView* Tree() const { return m_tree; }
    CTallowdeskView* List() const { return m_list; }
    ActionHandler* Actions() const { return m_actions; }
    ListCommands* Commands() const { return m_commands; }
    QLabel* QuotaLabel() const { return m_quota; }
    QString StatusText() const;

    // Fills the tree and lists the first location.
    void Start();
    void HideToTray();
    void RestoreFromTray();
    void Exit();
    void GoBack();
    void UpdateActions();
    // Sign Out and Switch Account: refused (with the reason) while a
    // transfer runs, else SessionEndWanted is emitted for the application.
    void RequestSessionEnd(SessionEndKind kind);
    // The window's workers are told to stop at their next request.
    void StopWorkers();
    // No listing or tree refresh of this window runs any more.
    bool WorkersStopped() const;
    // Reads the storage sentence on a worker into the status bar's second
    // part: on every show and hide, once the cookie sign-in is done, and
    // when a transfer has finished.
    void RefreshQuota();

signals:
    void SessionEndWanted(SessionEndKind kind);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void SetStatusText(const QString& text);
    void ConnectActions();
    void OnNodeSelected(bool isPlaceholder, const std::string& label, const std::string& url);
    void SwitchPane();
    void ShowAbout();
    void NotAvailableYet(const QString& command);

    std::shared_ptr<AppState> m_state;
    FrameHooks m_hooks;
    ActionHandler* m_actions;
    QSplitter* m_splitter;
    CLeftView* m_tree;
    CTallowdeskView* m_list;
    ListCommands* m_commands;
    QLabel* m_statusText;
    QLabel* m_quota;
    QSystemTrayIcon* m_tray = nullptr;
    TrayBalloon* m_balloon = nullptr;  // with the tray icon
    bool m_exiting = false;
    bool m_treeActive = false;
    int m_quotaRequests = 0;                    // the storage reads started, the last one wins
    QMetaObject::Connection m_focusConnection;  // the pane that had the focus last
};

}  // namespace tallowdesk::shell
