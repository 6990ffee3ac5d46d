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
    back = Make(tr("&Go back"), QStringLiteral("back"), tr("Go back to previous folder\nGo back"));
    back->setIcon(ToolIcon("back"));
    back->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    refresh = Make(tr("&Refresh"), QStringLiteral("refresh"), tr("Refresh current view\nRefresh"));
    refresh->setIcon(ToolIcon("refresh"));
    refresh->setShortcut(QKeySequence::Refresh);
    open = Make(tr("&Open"), QStringLiteral("open"),
                tr("Open the file or folder\nOpen file or folder"));
    open->setIcon(ToolIcon("open"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    upload = Make(tr("&Upload..."), QStringLiteral("upload"),
                  tr("Upload selected files\nUpload files..."));
    upload->setIcon(ToolIcon("upload"));
    upload->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    download = Make(tr("&Download..."), QStringLiteral("download"),
                    tr("Download selected files and folders\nDownload..."));
    download->setIcon(ToolIcon("download"));
    // Keeping a copy on this computer: the desktop's "Save As" key (Ctrl+S
    // belongs to the framework's save).
    download->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    // Leaving the account without leaving the program.
    switchAccount = Make(tr("S&witch Account..."), QStringLiteral("switchAccount"),
                         tr("Sign in with another account\nSwitch Account"));
    signOut = Make(tr("Sign Ou&t"), QStringLiteral("signOut"),
                   tr("Sign out and forget the remembered password\nSign Out"));
    exit = Make(tr("E&xit"), QStringLiteral("exit"), tr("Quit the application\nExit"));
    exit->setShortcuts(QKeySequence::Quit);
    if (exit->shortcuts().isEmpty()) exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    up = Make(tr("Up One &Level"), QStringLiteral("up"), tr("Go to the folder above\nUp"));
    up->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Up), QKeySequence(Qt::Key_Backspace)});

    createFolder = Make(tr("Create &Folder"), QStringLiteral("createFolder"),
                        tr("Create new folder...\nCreate Folder..."));
    createFolder->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    share = Make(tr("&Share..."), QStringLiteral("share"),
                 tr("Share to others...\nShare to others..."));
    share->setIcon(ToolIcon("share"));
    share->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
    search = Make(tr("S&earch..."), QStringLiteral("search"), tr("Search...\nSearch..."));
    search->setIcon(ToolIcon("search"));
    search->setShortcuts(QKeySequence::Find);
    rename =
        Make(tr("Re&name"), QStringLiteral("rename"), tr("Rename the file/folder...\nRename..."));
    moveToTrash = Make(tr("Move to &trash"), QStringLiteral("moveToTrash"),
                       tr("Delete seleted items to trash\nDelete"));
    moveToTrash->setIcon(ToolIcon("trash"));
    moveToTrash->setShortcut(QKeySequence::Delete);
    star = Make(tr("Add star"), QStringLiteral("star"),
                tr("Star selected items \nStar selected items"));
    // The browsers' bookmark key.
    star->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    restore = Make(tr("Rest&ore"), QStringLiteral("restore"),
                   tr("Take the selected items out of the trash\nRestore"));
    deleteForever = Make(tr("Delete For&ever"), QStringLiteral("deleteForever"),
                         tr("Delete the selected items for good\nDelete Forever"));
    emptyTrash = Make(tr("Empty Trash"), QStringLiteral("emptyTrash"),
                      tr("Delete everything in the trash for good\nEmpty Trash"));

    statusBarToggle = Make(tr("&Status Bar"), QStringLiteral("statusBarToggle"),
                           tr("Show or hide the status bar\nToggle StatusBar"));
    statusBarToggle->setCheckable(true);
    statusBarToggle->setChecked(true);
    largeIcons = Make(tr("&Large Icons"), QStringLiteral("largeIcons"),
                      tr("Display items by using large icons.\nLarge Icons"));
    smallIcons = Make(tr("S&mall Icons"), QStringLiteral("smallIcons"),
                      tr("Display items by using small icons.\nSmall Icons"));
    list = Make(tr("L&ist"), QStringLiteral("list"), tr("Displays items in a list.\nList"));
    details =
        Make(tr("&Details"), QStringLiteral("details"),
             tr("Displays detailed information about each item in the window.\nChange your view"));
    m_styles = new QActionGroup(this);
    for (QAction* a : {largeIcons, smallIcons, list, details}) {
        a->setCheckable(true);
        m_styles->addAction(a);
    }
    details->setChecked(true);
    arrange = Make(tr("&Arrange Icons"), QStringLiteral("arrange"));
    // Sorting without the header's mouse clicks: one command per column.
    const char* const sortTexts[] = {QT_TR_NOOP("by &Name"), QT_TR_NOOP("by &Type"),
                                     QT_TR_NOOP("by Si&ze"), QT_TR_NOOP("by &Owner"),
                                     QT_TR_NOOP("by Mo&dified")};
    for (int column = 0; column < 5; ++column) {
        QAction* a = Make(tr(sortTexts[column]), QStringLiteral("sortBy%1").arg(column));
        connect(a, &QAction::triggered, this, [this, column] { emit SortWanted(column); });
        sortBy.push_back(a);
    }

    settings = Make(tr("&Settings..."), QStringLiteral("settings"));
    settings->setShortcuts(QKeySequence::Preferences);
    if (settings->shortcuts().isEmpty())
        settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    helpContent =
        Make(tr("&Help Content"), QStringLiteral("helpContent"), tr("Help content\nGet help"));
    helpContent->setIcon(ToolIcon("help"));
    helpContent->setShortcut(QKeySequence::HelpContents);
    checkUpdates = Make(tr("Check for &Updates"), QStringLiteral("checkUpdates"));
    moreStorage = Make(tr("Get more Google &storage"), QStringLiteral("moreStorage"));
    about = Make(tr("&About Tallowdesk..."), QStringLiteral("about"),
                 tr("Display program information, version number and copyright\nAbout"));

    nextPane = Make(tr("Next Pane"), QStringLiteral("nextPane"));
    nextPane->setShortcut(QKeySequence(Qt::Key_F6));
    previousPane = Make(tr("Previous Pane"), QStringLiteral("previousPane"));
    previousPane->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    paste = Make(tr("Paste"), QStringLiteral("paste"));
    paste->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    for (QAction* a : {nextPane, previousPane, paste}) {
        a->setShortcutContext(Qt::WindowShortcut);
        window->addAction(a);
    }

    trayOpen = Make(tr("Open"), QStringLiteral("trayOpen"));
    trayExit = Make(tr("Exit"), QStringLiteral("trayExit"));

    refreshTree = Make(tr("Refresh tree"), QStringLiteral("refreshTree"));
    treeCreateFolder = Make(tr("Create folder"), QStringLiteral("treeCreateFolder"));
    treeDownload = Make(tr("&Download"), QStringLiteral("treeDownload"));
    treeRename = Make(tr("&Rename"), QStringLiteral("treeRename"));
    treeMoveToTrash = Make(tr("Move to trash"), QStringLiteral("treeMoveToTrash"));
    treeShare = Make(tr("&Share"), QStringLiteral("treeShare"));
    shortRefreshTree = Make(tr("&Refresh tree"), QStringLiteral("shortRefreshTree"));
    shortCreateFolder = Make(tr("&Create folder"), QStringLiteral("shortCreateFolder"));
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
    QMenu* file = bar->addMenu(tr("&File"));
    file->addActions({back, up, refresh});
    file->addSeparator();
    file->addActions({open, upload, download});
    file->addSeparator();
    file->addActions({switchAccount, signOut});
    file->addSeparator();
    file->addAction(exit);
    QMenu* commands = bar->addMenu(tr("&Commands"));
    commands->addAction(createFolder);
    commands->addSeparator();
    commands->addActions({share, search, rename, moveToTrash, star});
    commands->addSeparator();
    commands->addActions({restore, deleteForever, emptyTrash});
    QMenu* view = bar->addMenu(tr("&View"));
    toolBarToggle->setText(tr("&Toolbar"));
    toolBarToggle->setStatusTip(tr("Show or hide the toolbar"));
    view->addActions({toolBarToggle, statusBarToggle});
    view->addSeparator();
    view->addActions({largeIcons, smallIcons, list, details});
    view->addSeparator();
    view->addAction(arrange);
    QMenu* sort = view->addMenu(tr("S&ort Items"));
    sort->setObjectName(QStringLiteral("sortMenu"));
    for (QAction* a : sortBy) sort->addAction(a);
    QMenu* tools = bar->addMenu(tr("&Tools"));
    tools->addAction(settings);
    QMenu* help = bar->addMenu(tr("&Help"));
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
    back->setIconText(tr("Back"));
    refresh->setIconText(tr("Refresh"));
    open->setIconText(tr("Open"));
    download->setIconText(tr("Download"));
    upload->setIconText(tr("Upload"));
    share->setIconText(tr("Share"));
    search->setIconText(tr("Search"));
    moveToTrash->setIconText(tr("MoveToTrash"));

    auto* views = new QToolButton(bar);
    views->setObjectName(QStringLiteral("viewStyleButton"));
    // The button shows the styles' own picture and picks "Details" when pressed.
    views->setIcon(ToolIcon("views"));
    views->setToolTip(tr("Change your view"));
    views->setAccessibleName(tr("Change your view"));
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
    restore->setEnabled(a.restore);
    deleteForever->setEnabled(a.deleteForever);
    emptyTrash->setEnabled(a.emptyTrash);
    refreshTree->setEnabled(!state.processing);
    shortRefreshTree->setEnabled(!state.processing);
}

void ActionHandler::LocationChanged(const std::string& url) {
    star->setText(m_star.Update(url));
}

}  // namespace tallowdesk::shell
