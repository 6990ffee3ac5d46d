#include "ActionHandler.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

namespace tallowdesk::shell {
namespace {

QIcon ToolIcon(const char* name) {
    QIcon icon;
    icon.addFile(QStringLiteral(":/tallowdesk/tb_%1.png").arg(QLatin1String(name)), QSize(32, 32));
    icon.addFile(QStringLiteral(":/tallowdesk/tb_%1_hot.png").arg(QLatin1String(name)),
                 QSize(32, 32), QIcon::Active);
    return icon;
}

}  // namespace

ActionHandler::ActionHandler(QWidget* window) : QObject(window), m_window(window) {
    // Prompts: status-bar text, then the tool tip.
    back = Make(QStringLiteral("Go back"), QStringLiteral("back"),
                QStringLiteral("Go back to previous folder\nGo back"));
    back->setIcon(ToolIcon("back"));
    back->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    refresh = Make(QStringLiteral("Refresh"), QStringLiteral("refresh"),
                   QStringLiteral("Refresh current view\nRefresh"));
    refresh->setIcon(ToolIcon("refresh"));
    refresh->setShortcut(QKeySequence::Refresh);
    open = Make(QStringLiteral("&Open"), QStringLiteral("open"),
                QStringLiteral("Open the file or folder\nOpen file or folder"));
    open->setIcon(ToolIcon("open"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    upload = Make(QStringLiteral("Upload..."), QStringLiteral("upload"),
                  QStringLiteral("Upload selected files\nUpload files..."));
    upload->setIcon(ToolIcon("upload"));
    download = Make(QStringLiteral("Download..."), QStringLiteral("download"),
                    QStringLiteral("Download selected files and folders\nDownload..."));
    download->setIcon(ToolIcon("download"));
    exit = Make(QStringLiteral("E&xit"), QStringLiteral("exit"),
                QStringLiteral("Quit the application\nExit"));

    createFolder = Make(QStringLiteral("Create Folder"), QStringLiteral("createFolder"),
                        QStringLiteral("Create new folder...\nCreate Folder..."));
    share = Make(QStringLiteral("Share..."), QStringLiteral("share"),
                 QStringLiteral("Share to others...\nShare to others..."));
    share->setIcon(ToolIcon("share"));
    search = Make(QStringLiteral("Search..."), QStringLiteral("search"),
                  QStringLiteral("Search...\nSearch..."));
    search->setIcon(ToolIcon("search"));
    rename = Make(QStringLiteral("Rename"), QStringLiteral("rename"),
                  QStringLiteral("Rename the file/folder...\nRename..."));
    moveToTrash = Make(QStringLiteral("Move to trash"), QStringLiteral("moveToTrash"),
                       QStringLiteral("Delete seleted items to trash\nDelete"));
    moveToTrash->setIcon(ToolIcon("trash"));
    moveToTrash->setShortcut(QKeySequence::Delete);
    star = Make(QStringLiteral("Add star"), QStringLiteral("star"),
                QStringLiteral("Star selected items \nStar selected items"));

    statusBarToggle = Make(QStringLiteral("&Status Bar"), QStringLiteral("statusBarToggle"),
                           QStringLiteral("Show or hide the status bar\nToggle StatusBar"));
    statusBarToggle->setCheckable(true);
    statusBarToggle->setChecked(true);
    largeIcons = Make(QStringLiteral("Large Icons"), QStringLiteral("largeIcons"),
                      QStringLiteral("Display items by using large icons.\nLarge Icons"));
    smallIcons = Make(QStringLiteral("Small Icons"), QStringLiteral("smallIcons"),
                      QStringLiteral("Display items by using small icons.\nSmall Icons"));
    list = Make(QStringLiteral("List"), QStringLiteral("list"),
                QStringLiteral("Displays items in a list.\nList"));
    details =
        Make(QStringLiteral("Details"), QStringLiteral("details"),
             QStringLiteral(
                 "Displays detailed information about each item in the window.\nChange your view"));
    m_styles = new QActionGroup(this);
    for (QAction* a : {largeIcons, smallIcons, list, details}) {
        a->setCheckable(true);
        m_styles->addAction(a);
    }
    details->setChecked(true);
    arrange = Make(QStringLiteral("Arrange Icons"), QStringLiteral("arrange"));

    settings = Make(QStringLiteral("Settings..."), QStringLiteral("settings"));
    helpContent = Make(QStringLiteral("&Help Content"), QStringLiteral("helpContent"),
                       QStringLiteral("Help content\nGet help"));
    helpContent->setIcon(ToolIcon("help"));
    helpContent->setShortcut(QKeySequence::HelpContents);
    checkUpdates = Make(QStringLiteral("Check for &Updates"), QStringLiteral("checkUpdates"));
    moreStorage = Make(QStringLiteral("Get more Google storage"), QStringLiteral("moreStorage"));
    about =
        Make(QStringLiteral("&About Tallowdesk..."), QStringLiteral("about"),
             QStringLiteral("Display program information, version number and copyright\nAbout"));

    nextPane = Make(QStringLiteral("Next Pane"), QStringLiteral("nextPane"));
    nextPane->setShortcut(QKeySequence(Qt::Key_F6));
    previousPane = Make(QStringLiteral("Previous Pane"), QStringLiteral("previousPane"));
    previousPane->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    paste = Make(QStringLiteral("Paste"), QStringLiteral("paste"));
    paste->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    for (QAction* a : {nextPane, previousPane, paste}) {
        a->setShortcutContext(Qt::WindowShortcut);
        window->addAction(a);
    }

    trayOpen = Make(QStringLiteral("Open"), QStringLiteral("trayOpen"));
    trayExit = Make(QStringLiteral("Exit"), QStringLiteral("trayExit"));

    refreshTree = Make(QStringLiteral("Refresh tree"), QStringLiteral("refreshTree"));
    treeCreateFolder = Make(QStringLiteral("Create folder"), QStringLiteral("treeCreateFolder"));
    treeDownload = Make(QStringLiteral("&Download"), QStringLiteral("treeDownload"));
    treeRename = Make(QStringLiteral("&Rename"), QStringLiteral("treeRename"));
    treeMoveToTrash = Make(QStringLiteral("Move to trash"), QStringLiteral("treeMoveToTrash"));
    treeShare = Make(QStringLiteral("&Share"), QStringLiteral("treeShare"));
    shortRefreshTree = Make(QStringLiteral("&Refresh tree"), QStringLiteral("shortRefreshTree"));
    shortCreateFolder = Make(QStringLiteral("&Create folder"), QStringLiteral("shortCreateFolder"));
    connect(shortRefreshTree, &QAction::triggered, refreshTree, &QAction::trigger);
    connect(shortCreateFolder, &QAction::triggered, treeCreateFolder, &QAction::trigger);

    // Built with later features; they keep their place and their rules.
    for (QAction* a : {checkUpdates}) MarkLater(a);

    m_viewStyleMenu = new QMenu(window);
    m_viewStyleMenu->addActions({largeIcons, smallIcons, list, details});
    m_trayMenu = new QMenu(window);
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    m_trayMenu->addActions({trayOpen, trayExit});
    m_treeFolderMenu = new QMenu(window);
    m_treeFolderMenu->setObjectName(QStringLiteral("treeFolderMenu"));
    m_treeFolderMenu->addActions(
        {refreshTree, treeCreateFolder, treeDownload, treeRename, treeMoveToTrash, treeShare});
    m_treeShortMenu = new QMenu(window);
    m_treeShortMenu->setObjectName(QStringLiteral("treeShortMenu"));
    m_treeShortMenu->addActions({shortRefreshTree, shortCreateFolder});
}

QAction* ActionHandler::Make(const QString& text, const QString& name, const QString& prompt) {
    auto* action = new QAction(text, this);
    action->setObjectName(name);
    if (!prompt.isEmpty()) {
        const qsizetype cut = prompt.indexOf(QLatin1Char('\n'));
        action->setStatusTip(prompt.left(cut));
        if (cut >= 0) action->setToolTip(prompt.mid(cut + 1));
    }
    return action;
}

void ActionHandler::MarkLater(QAction* action) {
    connect(action, &QAction::triggered, this,
            [this, action] { emit NotAvailableYet(action->text().remove(QLatin1Char('&'))); });
}

void ActionHandler::FillMenuBar(QMenuBar* bar, QAction* toolBarToggle) {
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->addActions({back, refresh});
    file->addSeparator();
    file->addActions({open, upload, download});
    file->addSeparator();
    file->addAction(exit);
    QMenu* commands = bar->addMenu(QStringLiteral("Commands"));
    commands->addAction(createFolder);
    commands->addSeparator();
    commands->addActions({share, search, rename, moveToTrash, star});
    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    toolBarToggle->setText(QStringLiteral("&Toolbar"));
    toolBarToggle->setStatusTip(QStringLiteral("Show or hide the toolbar"));
    view->addActions({toolBarToggle, statusBarToggle});
    view->addSeparator();
    view->addActions({largeIcons, smallIcons, list, details});
    QMenu* tools = bar->addMenu(QStringLiteral("Tools"));
    tools->addAction(settings);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addActions({helpContent, checkUpdates, moreStorage});
    help->addSeparator();
    help->addAction(about);
}

void ActionHandler::FillToolBar(QToolBar* bar) {
    bar->setIconSize(QSize(32, 32));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->addAction(back);
    bar->addAction(refresh);
    bar->addSeparator();
    bar->addAction(open);
    bar->addAction(download);
    bar->addAction(upload);
    bar->addAction(share);
    bar->addAction(search);
    bar->addAction(moveToTrash);
    // Button texts differ from the menu texts.
    back->setIconText(QStringLiteral("Back"));
    refresh->setIconText(QStringLiteral("Refresh"));
    open->setIconText(QStringLiteral("Open"));
    download->setIconText(QStringLiteral("Download"));
    upload->setIconText(QStringLiteral("Upload"));
    share->setIconText(QStringLiteral("Share"));
    search->setIconText(QStringLiteral("Search"));
    moveToTrash->setIconText(QStringLiteral("MoveToTrash"));

    auto* views = new QToolButton(bar);
    views->setObjectName(QStringLiteral("viewStyleButton"));
    // The button shows the styles' own picture and picks "Details" when pressed.
    views->setIcon(ToolIcon("views"));
    views->setToolTip(QStringLiteral("Change your view"));
    views->setStatusTip(details->statusTip());
    connect(views, &QToolButton::clicked, details, &QAction::trigger);
    views->setMenu(m_viewStyleMenu);
    views->setPopupMode(QToolButton::MenuButtonPopup);
    views->setToolButtonStyle(Qt::ToolButtonIconOnly);
    views->setIconSize(QSize(32, 32));
    bar->addWidget(views);
    auto* help = new QToolButton(bar);
    help->setObjectName(QStringLiteral("helpButton"));
    help->setDefaultAction(helpContent);
    help->setToolButtonStyle(Qt::ToolButtonIconOnly);
    help->setIconSize(QSize(32, 32));
    bar->addWidget(help);
}

void ActionHandler::Apply(const FrameState& state) {
    const ActionAvailability a = ComputeAvailability(state);
    back->setEnabled(a.goBack);
    refresh->setEnabled(a.refresh);
    search->setEnabled(a.search);
    upload->setEnabled(a.upload);
    moveToTrash->setEnabled(a.moveToTrash);
    star->setEnabled(a.star);
    open->setEnabled(a.open);
    rename->setEnabled(a.rename);
    share->setEnabled(a.share);
    download->setEnabled(a.download);
    createFolder->setEnabled(a.createFolder);
    arrange->setEnabled(a.arrange);
    refreshTree->setEnabled(!state.processing);
    shortRefreshTree->setEnabled(!state.processing);
}

void ActionHandler::LocationChanged(const std::string& url) {
    star->setText(m_star.Update(url));
}

}  // namespace tallowdesk::shell
