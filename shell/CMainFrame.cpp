#include "CMainFrame.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QUrl>

#include "ActionHandler.h"
#include "AppState.h"
#include "CLeftView.h"
#include "CTallowdeskView.h"
#include "ListContextMenu.h"
#include "Resources.h"
#include "TrayBalloon.h"
#include "Worker.h"
#include "dialogs/CAboutDlg.h"
#include "dialogs/CMsgDlg.h"
#include "dialogs/CSettingDlg.h"
#include "dialogs/Modality.h"
#include "dialogs/ShareDialogs.h"
#include "model/FeedCatalogue.h"
#include "service/Download.h"
#include "settings/ConfigFile.h"
#include "settings/ServiceHosts.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk::shell {

CMainFrame::CMainFrame(std::shared_ptr<AppState> state, FrameHooks hooks, QWidget* parent)
    : CMainFrame(std::move(state), std::move(hooks), CommandHooks{}, parent) {}

CMainFrame::CMainFrame(std::shared_ptr<AppState> state, FrameHooks hooks, CommandHooks commandHooks,
                       QWidget* parent)
    : QMainWindow(parent), m_state(std::move(state)), m_hooks(std::move(hooks)) {
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(QStringLiteral("Tallowdesk"));
    setWindowIcon(AppIcon());
    m_actions = new ActionHandler(this);

    auto* toolBar = addToolBar(tr("Toolbar"));
    toolBar->setObjectName(QStringLiteral("mainToolBar"));
    toolBar->setMovable(false);
    m_actions->FillToolBar(toolBar);
    m_actions->FillMenuBar(menuBar(), toolBar->toggleViewAction());

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("mainSplitter"));
    m_tree = new CLeftView(m_state, m_splitter);
    m_list = new CTallowdeskView(m_state, m_splitter);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_list);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({180, 620});
    setCentralWidget(m_splitter);
    m_tree->SetListBusyTest([list = m_list] { return list->Processing(); });

    commandHooks.search = [this] { m_actions->search->trigger(); };
    commandHooks.hideToTray = [this] { HideToTray(); };
    if (!commandHooks.transferEnded) commandHooks.transferEnded = [this] { RefreshQuota(); };
    commandHooks.locationChanged = [this] {
        m_actions->LocationChanged(m_state->navigation.Current().url);
        UpdateActions();
    };
    commandHooks.setViewStyle = [this](int id) {
        switch (id) {
            case kCmdLargeIcons:
                return m_actions->largeIcons->trigger();
            case kCmdSmallIcons:
                return m_actions->smallIcons->trigger();
            case kCmdList:
                return m_actions->list->trigger();
            default:
                return m_actions->details->trigger();
        }
    };
    m_commands = new ListCommands(m_state, m_list, m_tree, this, std::move(commandHooks));

    statusBar()->setObjectName(QStringLiteral("statusBar"));
    m_quota = new QLabel(this);
    m_quota->setObjectName(QStringLiteral("quotaLabel"));
    m_quota->setMinimumWidth(
        m_quota->fontMetrics().horizontalAdvance(QString(103, QLatin1Char(' '))));
    // The count lives in a label so that prompts shown while hovering a command
    // cover it only for as long as they last.
    m_statusText = new QLabel(tr("Ready"), this);
    m_statusText->setObjectName(QStringLiteral("statusText"));
    m_quota->setAccessibleDescription(tr("Storage used"));
    statusBar()->addWidget(m_statusText, 1);
    statusBar()->addPermanentWidget(m_quota);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(AppIcon(), this);
        m_tray->setToolTip(QStringLiteral("Tallowdesk"));
        m_tray->setContextMenu(m_actions->TrayMenu());
        connect(m_tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger) RestoreFromTray();
                });
        m_balloon = new TrayBalloon([tray = m_tray] { return tray->geometry(); },
                                    [tray = m_tray] {
                                        tray->showMessage(
                                            QStringLiteral("Tallowdesk"),
                                            tr("Tallowdesk is still running in background..."),
                                            QSystemTrayIcon::Information, 2000);
                                    },
                                    this);
    }
    resize(960, 600);
    ConnectActions();
    UpdateActions();
}

CMainFrame::~CMainFrame() {
    // Destroying the child widgets moves the focus; this frame must not hear it.
    disconnect(m_focusConnection);
}

void CMainFrame::ConnectActions() {
    ActionHandler* a = m_actions;
    connect(a->back, &QAction::triggered, this, &CMainFrame::GoBack);
    connect(a->refresh, &QAction::triggered, m_list, &CTallowdeskView::RefreshList);
    // Folders the tree could not read are read again with the list.
    connect(a->refresh, &QAction::triggered, m_tree, &CLeftView::RetryFailedLoads);
    connect(a->exit, &QAction::triggered, this, &CMainFrame::Exit);
    connect(a->trayExit, &QAction::triggered, this, &CMainFrame::Exit);
    connect(a->signOut, &QAction::triggered, this,
            [this] { RequestSessionEnd(SessionEndKind::SignOut); });
    connect(a->switchAccount, &QAction::triggered, this,
            [this] { RequestSessionEnd(SessionEndKind::SwitchAccount); });
    connect(a->trayOpen, &QAction::triggered, this, &CMainFrame::RestoreFromTray);
    connect(a->statusBarToggle, &QAction::toggled, statusBar(), &QWidget::setVisible);
    connect(a->largeIcons, &QAction::triggered, this,
            [this] { m_list->SetStyle(ListStyle::LargeIcons); });
    connect(a->smallIcons, &QAction::triggered, this,
            [this] { m_list->SetStyle(ListStyle::SmallIcons); });
    connect(a->list, &QAction::triggered, this, [this] { m_list->SetStyle(ListStyle::List); });
    connect(a->details, &QAction::triggered, this,
            [this] { m_list->SetStyle(ListStyle::Details); });
    connect(a->nextPane, &QAction::triggered, this, &CMainFrame::SwitchPane);
    connect(a->previousPane, &QAction::triggered, this, &CMainFrame::SwitchPane);
    connect(a->helpContent, &QAction::triggered, this, [] {
        QDesktopServices::openUrl(QUrl(QStringLiteral("http://%1/quick-start-guide.html")
                                           .arg(QString::fromStdString(Hosts().homeHost))));
    });
    connect(a->moreStorage, &QAction::triggered, this, [] {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(
            AccountsPageUrl(Hosts().accountsHost, "/accounts/PurchaseStorage"))));
    });
    connect(a->about, &QAction::triggered, this, &CMainFrame::ShowAbout);
    connect(a, &ActionHandler::NotAvailableYet, this, &CMainFrame::NotAvailableYet);
    connect(a->settings, &QAction::triggered, this, [this] {
        if (m_hooks.showSettings) return m_hooks.showSettings();
        CSettingDlg dialog(ConfigFile::DefaultPath(), this);
        ExecModalToItsWindow(dialog);
    });
    if (m_hooks.checkForUpdates) {
        a->checkUpdates->disconnect(a);
        connect(a->checkUpdates, &QAction::triggered, this, [this] { m_hooks.checkForUpdates(); });
    }

    // Folder tree.
    connect(a->refreshTree, &QAction::triggered, m_tree, &CLeftView::RefreshTree);
    connect(a->treeRename, &QAction::triggered, m_tree, &CLeftView::RenameContextNode);
    connect(a->treeMoveToTrash, &QAction::triggered, m_tree, &CLeftView::TrashContextNode);
    connect(a->treeCreateFolder, &QAction::triggered, this, [this] {
        // Into the folder clicked on; from a category or empty space, the root.
        const bool folder = m_tree->ContextNodeIsFolder();
        m_commands->CreateFolderIn(folder ? m_tree->Model()->UrlOf(m_tree->ContextNode())
                                          : DocumentListUrl());
    });
    connect(a->treeDownload, &QAction::triggered, this, [this] {
        if (!m_tree->ContextNodeIsFolder()) return;
        std::vector<FolderItem> items;
        if (const DocEntryPtr e = m_tree->ContextFolderEntry())
            items.push_back(FolderItem{FolderContentsUrl(*e), e->title.value_or(std::string()),
                                       e->kind, e->QuotaBytes()});
        m_commands->DownloadItems(std::move(items));
    });
    connect(a->treeShare, &QAction::triggered, this, [this] {
        if (const DocEntryPtr e = m_tree->ContextFolderEntry()) ShowShareDialog(this, {e});
    });
    connect(m_tree, &CLeftView::NodeSelected, this, &CMainFrame::OnNodeSelected);
    connect(m_tree, &CLeftView::ContextMenuWanted, this, [this](bool onFolder, const QPoint& pos) {
        UpdateActions();
        (onFolder ? m_actions->TreeFolderMenu() : m_actions->TreeShortMenu())->popup(pos);
    });
    connect(m_tree, &CLeftView::FolderRenamed, m_list, &CTallowdeskView::FolderNameChangedInTree);
    connect(m_tree, &CLeftView::FolderRemoved, m_list, &CTallowdeskView::DeleteItemByResourceId);
    // One error box for the tree and the list (the commands' hook).
    connect(m_tree, &CLeftView::ErrorMessage, m_commands, &ListCommands::ShowError);
    connect(m_tree, &CLeftView::StatusTextChanged, this,
            [this](const QString& text) { SetStatusText(text); });

    // Entry list.
    connect(m_list, &CTallowdeskView::StatusTextChanged, this,
            [this](const QString& text) { SetStatusText(text); });
    connect(m_list, &CTallowdeskView::ProcessingChanged, this, &CMainFrame::UpdateActions);
    connect(m_list, &CTallowdeskView::SelectionChanged, this, &CMainFrame::UpdateActions);
    connect(m_list, &CTallowdeskView::ActivatedRow, a->open, &QAction::trigger);
    connect(m_list, &CTallowdeskView::ExpandTreeNode, m_tree, &CLeftView::ExpandNodeOfUrl);
    connect(m_list, &CTallowdeskView::SelectTreeNode, m_tree, &CLeftView::SelectNodeOfUrl);
    connect(m_list, &CTallowdeskView::ContextMenuWanted, this, [this](const QPoint& pos) {
        UpdateActions();
        m_commands->ContextMenu()->exec(pos);  // built afresh each time
    });

    // List commands.
    ListCommands* c = m_commands;
    connect(a->open, &QAction::triggered, c, &ListCommands::Open);
    connect(a->createFolder, &QAction::triggered, c, &ListCommands::CreateFolder);
    connect(a->rename, &QAction::triggered, c, &ListCommands::StartRename);
    connect(a->moveToTrash, &QAction::triggered, this, [this] {
        // The Delete key reaches here from either pane; the tree has its own.
        if (!m_treeActive) m_commands->Trash();
    });
    connect(a->star, &QAction::triggered, this, [this] {
        if (m_actions->StarMeansUnstar())
            m_commands->Unstar();
        else
            m_commands->Star();
    });
    connect(a->restore, &QAction::triggered, c, &ListCommands::Restore);
    connect(a->deleteForever, &QAction::triggered, c, &ListCommands::DeleteForever);
    connect(a->emptyTrash, &QAction::triggered, c, &ListCommands::EmptyTrash);
    connect(a->share, &QAction::triggered, c, &ListCommands::Share);
    connect(a->download, &QAction::triggered, c, &ListCommands::Download);
    connect(a->upload, &QAction::triggered, c, &ListCommands::Upload);
    connect(a->paste, &QAction::triggered, c, &ListCommands::Paste);
    connect(a->search, &QAction::triggered, c, &ListCommands::Search);
    connect(c, &ListCommands::TransferStateChanged, this, &CMainFrame::UpdateActions);

    m_focusConnection =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (now == m_tree)
                m_treeActive = true;
            else if (now && m_list->isAncestorOf(now))
                m_treeActive = false;
            UpdateActions();
        });
    connect(a->arrange, &QAction::triggered, m_list, &CTallowdeskView::ArrangeIcons);
    connect(a, &ActionHandler::SortWanted, m_list, &CTallowdeskView::SortByColumn);
    connect(a->up, &QAction::triggered, this,
            [this] { m_tree->SelectParentOfUrl(m_state->navigation.Current().url); });
    for (QMenu* menu : menuBar()->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateActions);
}

void CMainFrame::Start() {
    m_tree->SetUp();
    m_actions->LocationChanged(m_state->navigation.Current().url);
    m_list->RefreshList();
    m_list->UpdateStatusText();
    // After signing in the user is on the list, not on the first toolbar button.
    m_list->ActiveView()->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::SetStatusText(const QString& text) {
    if (text == m_statusText->text()) return;
    m_statusText->setText(text);
    // Screen readers follow the count ("2 items selected") as it changes.
    QAccessibleEvent event(m_statusText, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

QString CMainFrame::StatusText() const {
    return m_statusText->text();
}

void CMainFrame::UpdateActions() {
    FrameState s;
    s.processing = m_list->Processing();
    s.transferBusy = transferBusy.load();
    s.historySize = m_state->navigation.History().Size();
    s.currentUrl = m_state->navigation.Current().url;
    s.selectedRows = m_list->SelectedCount();
    s.treeActive = m_treeActive;
    s.iconStyle =
        m_list->Style() == ListStyle::LargeIcons || m_list->Style() == ListStyle::SmallIcons;
    m_actions->Apply(s);
}

void CMainFrame::OnNodeSelected(bool isPlaceholder, const std::string& label,
                                const std::string& url) {
    if (!m_state->navigation.SelectNode(isPlaceholder, label, url)) return;
    m_actions->LocationChanged(url);
    m_list->RefreshList();
    UpdateActions();
}

void CMainFrame::GoBack() {
    if (!m_state->navigation.GoBack()) return;
    m_actions->LocationChanged(m_state->navigation.Current().url);
    m_list->RefreshList();
    UpdateActions();
}

void CMainFrame::SwitchPane() {
    if (m_tree->hasFocus())
        m_list->ActiveView()->setFocus(Qt::OtherFocusReason);
    else
        m_tree->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_exiting) {
        event->accept();
        return;
    }
    event->ignore();
    HideToTray();
}

void CMainFrame::HideToTray() {
    if (!m_tray) {
        // Without a tray there would be no way back: only minimise.
        showMinimized();
        return;
    }
    showMinimized();
    hide();
    m_tray->show();
    m_balloon->Request();  // once the tray has placed the icon
}

void CMainFrame::RestoreFromTray() {
    if (m_balloon) m_balloon->Cancel();
    if (m_tray) m_tray->hide();
    showNormal();
    raise();
    activateWindow();
}

void CMainFrame::Exit() {
    // A running transfer stops at its next chunk; its thread is not waited
    // for, so its hidden partial file goes now.
    transferCancel.store(true);
    RemoveUnfinishedDownloads();
    if (m_tray) m_tray->hide();
    m_exiting = true;
    QCoreApplication::exit(0);
}

void CMainFrame::RequestSessionEnd(SessionEndKind kind) {
    const QString refusal =
        SessionEndRefusal(kind, SessionActivity{transferBusy.load(), exportsRunning.load()});
    if (!refusal.isEmpty()) {
        m_commands->ShowError(refusal);
        return;
    }
    emit SessionEndWanted(kind);
}

void CMainFrame::StopWorkers() {
    m_state->ended->store(true);
}

bool CMainFrame::WorkersStopped() const {
    return !m_state->listing.Busy() && !m_state->treeBusy.load();
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_list->Processing()) m_list->ProcessingWindow()->ShowOverParent();
    RefreshQuota();
}

void CMainFrame::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    RefreshQuota();
}

void CMainFrame::RefreshQuota() {
    if (!m_state->calls.quotaText) return;
    struct Block {
        std::function<std::optional<std::string>()> quota;
        QPointer<CMainFrame> frame;
        int request;
    };
    // Reads overlap (a show, then the end of the cookie sign-in): only the
    // last one asked for may write, or a read made before the session
    // cookies existed could blank the sentence after the right one.
    const int request = ++m_quotaRequests;
    StartWorker(std::make_unique<Block>(Block{m_state->calls.quotaText, this, request}),
                [](Block& b) {
                    std::optional<std::string> text;
                    try {
                        text = b.quota();
                    } catch (...) {
                        return;  // quota failures are silent and keep what is shown
                    }
                    // A page without the sentence leaves the part empty, as a zeroed
                    // buffer would.
                    notifier::Post([frame = b.frame, request = b.request,
                                    text = QString::fromStdString(text.value_or(""))] {
                        if (frame && request == frame->m_quotaRequests)
                            frame->m_quota->setText(text.left(kQuotaTextLimit));
                    });
                });
}

void CMainFrame::ShowAbout() {
    CAboutDlg about(m_state->calls.quotaText, this);
    ExecModalToItsWindow(about);
}

void CMainFrame::NotAvailableYet(const QString& command) {
    statusBar()->showMessage(tr("\"%1\" is not available in this version yet.").arg(command), 5000);
}

}  // namespace tallowdesk::shell
