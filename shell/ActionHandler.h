#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

#include "ActionRules.h"

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QToolBar;
class QWidget;

namespace tallowdesk::shell {

// Owns every QAction of the window, their texts, prompts, keys and
// availability, and builds the menus from them. It only emits what was asked
// for; the frame connects the handlers. Lives on the UI thread.
class ActionHandler : public QObject {
    Q_OBJECT
public:
    explicit ActionHandler(QWidget* window);

    // File
    QAction* back;
    QAction* refresh;
    QAction* open;
    QAction* upload;
    QAction* download;
    QAction* switchAccount;
    QAction* signOut;
    QAction* exit;
    // Commands
    QAction* createFolder;
    QAction* share;
    QAction* search;
    QAction* rename;
    QAction* moveToTrash;
    QAction* star;
    QAction* restore;
    QAction* deleteForever;
    QAction* emptyTrash;
    // View
    QAction* statusBarToggle;
    QAction* largeIcons;
    QAction* smallIcons;
    QAction* list;
    QAction* details;
    QAction* arrange;
    std::vector<QAction*> sortBy;  // one per list column
    QAction* up;
    // Tools and Help
    QAction* settings;
    QAction* helpContent;
    QAction* checkUpdates;
    QAction* moreStorage;
    QAction* about;
    // Keys without menu items
    QAction* nextPane;
    QAction* previousPane;
    QAction* paste;
    // Tray
    QAction* trayOpen;
    QAction* trayExit;
    // Folder tree context menu
    QAction* refreshTree;
    QAction* treeCreateFolder;
    QAction* treeDownload;
    QAction* treeRename;
    QAction* treeMoveToTrash;
    QAction* treeShare;
    QAction* shortRefreshTree;
    QAction* shortCreateFolder;

    void FillMenuBar(QMenuBar* bar, QAction* toolBarToggle);
    void FillToolBar(QToolBar* bar);
    QMenu* ViewStyleMenu() const { return m_viewStyleMenu; }
    QMenu* TrayMenu() const { return m_trayMenu; }
    QMenu* TreeFolderMenu() const { return m_treeFolderMenu; }
    QMenu* TreeShortMenu() const { return m_treeShortMenu; }

    void Apply(const FrameState& state);
    // The location changed: the star item may change its text.
    void LocationChanged(const std::string& url);
    bool StarMeansUnstar() const { return m_star.Unstar(); }

signals:
    // A command whose feature comes later was chosen.
    void NotAvailableYet(const QString& command);
    // A sort command of the View menu: sort the list by this column.
    void SortWanted(int column);

private:
    QAction* Make(const QString& text, const QString& name, const QString& prompt = {});
    void MarkLater(QAction* action);

    QWidget* m_window;
    QActionGroup* m_styles;
    QMenu* m_viewStyleMenu;
    QMenu* m_trayMenu;
    QMenu* m_treeFolderMenu;
    QMenu* m_treeShortMenu;
    StarLabel m_star;
};

}  // namespace tallowdesk::shell
