#include "ListCommands.h"

#include <tinyxml2.h>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>

#include "AppState.h"
#include "CLeftView.h"
#include "CTallowdeskView.h"
#include "DialogWorkers.h"
#include "DropRules.h"
#include "EntryActionWorker.h"
#include "EntryDragData.h"
#include "EntryListModel.h"
#include "ListContextMenu.h"
#include "TransferWorkers.h"
#include "Worker.h"
#include "X11DirectSave.h"
#include "dialogs/CCreateFolderDlg.h"
#include "dialogs/CExportProgressDlg.h"
#include "dialogs/CMsgDlg.h"
#include "dialogs/CProgressDlgModal.h"
#include "dialogs/CProgressDlgModeless.h"
#include "dialogs/CSearchDlg.h"
#include "dialogs/ShareDialogs.h"
#include "model/FeedCatalogue.h"
#include "service/Download.h"
#include "transfer/TransferFlags.h"
#include "transfer/TransferNames.h"

namespace tallowdesk::shell {
namespace {

constexpr int kMaxRenameChars = 127;
constexpr int kMaxTitleUnits = 260;

// Qt's own dialogs everywhere: the same on every desktop, and drivable by
// accessibility tools.
constexpr QFileDialog::Options kPickerOptions = QFileDialog::DontUseNativeDialog;

// The labels of the core's export table, marked for translation here.
[[maybe_unused]] constexpr const char* kExportLabels[] = {
    QT_TRANSLATE_NOOP("ExportFormat", "Microsoft Word"),
    QT_TRANSLATE_NOOP("ExportFormat", "HTML Format"),
    QT_TRANSLATE_NOOP("ExportFormat", "JPEG"),
    QT_TRANSLATE_NOOP("ExportFormat", "Open Document Format"),
    QT_TRANSLATE_NOOP("ExportFormat", "PDF"),
    QT_TRANSLATE_NOOP("ExportFormat", "PNG"),
    QT_TRANSLATE_NOOP("ExportFormat", "Rich Format"),
    QT_TRANSLATE_NOOP("ExportFormat", "TXT File"),
    QT_TRANSLATE_NOOP("ExportFormat", "Zip Archive"),
    QT_TRANSLATE_NOOP("ExportFormat", "PowerPoint"),
    QT_TRANSLATE_NOOP("ExportFormat", "Flash Format"),
    QT_TRANSLATE_NOOP("ExportFormat", "Microsoft Excel"),
    QT_TRANSLATE_NOOP("ExportFormat", "CSV"),
    QT_TRANSLATE_NOOP("ExportFormat", "Open Document Spreadsheet"),
    QT_TRANSLATE_NOOP("ExportFormat", "TSV"),
    QT_TRANSLATE_NOOP("ExportFormat", "SVG"),
};

CommandHooks WithDefaults(CommandHooks h) {
    if (!h.pickFolder)
        h.pickFolder = [](QWidget* parent, const QString& title) -> std::optional<QString> {
            const QString dir = QFileDialog::getExistingDirectory(
                parent, title, QString(), QFileDialog::ShowDirsOnly | kPickerOptions);
            if (dir.isEmpty()) return std::nullopt;
            return dir;
        };
    if (!h.pickFiles)
        h.pickFiles = [](QWidget* parent) {
            QFileDialog dialog(parent);
            SetUpUploadPicker(dialog);
            return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
        };
    if (!h.errorBox)
        h.errorBox = [](const QString& title, const QString& text) {
            QMessageBox::critical(nullptr, title, text);
        };
    if (!h.dragTempBase) h.dragTempBase = DragTempFolder::SystemBase();
    if (!h.openUrl) h.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    if (!h.share)
        h.share = [](QWidget* parent, const std::vector<std::shared_ptr<const DocEntry>>& entries) {
            ShowShareDialog(parent, entries);
        };
    return h;
}

CMsgDlg* ShowProcessingWindow(QWidget* parent, const QString& line) {
    auto* window = new CMsgDlg(parent);
    window->SetLine(line);
    window->ShowOverParent();
    window->repaint();
    return window;
}

}  // namespace

void SetUpUploadPicker(QFileDialog& dialog) {
    dialog.setOptions(kPickerOptions | QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // On Linux "*.*" would hide README and Makefile: the pattern that counts
    // is the last parenthesis, and only the text before it is shown.
    dialog.setNameFilter(QCoreApplication::translate("ListCommands", "All File(*.*)") +
                         QStringLiteral(" (*)"));
}

ListCommands::ListCommands(std::shared_ptr<AppState> state, CTallowdeskView* list, CLeftView* tree,
                           QWidget* window, CommandHooks hooks)
    : QObject(window),
      m_state(std::move(state)),
      m_list(list),
      m_tree(tree),
      m_window(window),
      m_hooks(WithDefaults(std::move(hooks))),
      m_dragTemp(m_hooks.dragTempBase) {
    connect(m_list, &CTallowdeskView::RenameWanted, this, &ListCommands::Rename);
    connect(m_list, &CTallowdeskView::Dropped, this, &ListCommands::Drop);
    m_list->Model()->SetDragSource([this] { return MakeDragData(); });
    m_transferWatch.setInterval(100);
    connect(&m_transferWatch, &QTimer::timeout, this, [this] {
        if (transferBusy) return;
        m_transferWatch.stop();
        emit TransferStateChanged();
    });
}

TransferProgressDlg* ListCommands::LastTransferDialog() const {
    return qobject_cast<TransferProgressDlg*>(m_lastTransfer.data());
}

std::string ListCommands::UploadTarget() const {
    const std::string& url = m_state->navigation.Current().url;
    return IsCategoryUrl(url) ? DocumentListUrl() : url;
}

void ListCommands::Open() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    const DocEntry& e = *entries.front();
    if (!e.IsFolder()) {
        if (e.alternateHref) m_hooks.openUrl(QUrl(QString::fromStdString(*e.alternateHref)));
        return;
    }
    CurrentLocation location;
    location.url = FolderContentsUrl(e);
    location.title =
        QString::fromStdString(e.title.value_or(std::string())).left(kMaxTitleUnits).toStdString();
    location.noPaging = false;
    location.isFolder = true;
    m_state->navigation.Open(location);
    m_list->RefreshList();
    if (m_hooks.locationChanged) m_hooks.locationChanged();
}

void ListCommands::CreateFolder() {
    if (m_list->Processing()) return;
    CreateFolderIn(UploadTarget());
}

void ListCommands::CreateFolderIn(std::optional<std::string> parentUrl) {
    CCreateFolderDlg dialog(m_state, std::move(parentUrl), m_list, m_tree, m_hooks.errorBox,
                            m_window);
    dialog.exec();
}

void ListCommands::Search() {
    if (m_list->Processing()) return;
    CSearchDlg dialog(m_window);
    if (dialog.exec() != QDialog::Accepted) return;
    const QString query = dialog.Query().trimmed();
    if (query.isEmpty()) return;
    m_list->BeginSearch(tr("Searching for \"%1\"...").arg(query));
    StartSearchWorker(m_state, query.toStdString(), ListViewPort(m_list), SearchPort(this));
}

void ListCommands::SearchEnded(bool failed) {
    if (failed) m_hooks.errorBox(tr("Error"), tr("Search failed."));
    m_list->EndSearch();
}

void ListCommands::StartRename() {
    m_list->EditFirstSelected();
}

void ListCommands::Rename(int row, const QString& text) {
    const DocEntryPtr entry = m_list->Model()->EntryAt(row);
    if (!entry) return;
    // Compared whole: a long title left as it was must not come back cut.
    if (text == m_list->Model()->TitleAt(row) ||
        text == m_list->Model()->index(row, 0).data(Qt::EditRole).toString())
        return;  // the same text: nothing is sent
    if (text.size() > kMaxRenameChars) {
        // Refused, not cut: the user sees why the name stays.
        m_hooks.errorBox(tr("Error"),
                         tr("A name can have at most %1 characters.").arg(kMaxRenameChars));
        return;
    }
    const QString& name = text;
    // One rename of a row at a time: two replies could come in either order
    // and leave the row showing a name the service does not have.
    if (!m_renaming.insert(entry.get()).second) return;
    CMsgDlg* processing = ShowProcessingWindow(m_list, tr(" Renaming... "));
    struct Block {
        ServiceCalls calls;
        DocEntryPtr entry;
        QString name;
        QPointer<CTallowdeskView> list;
        TreeViewPort tree;
        QPointer<QObject> processing;
        QPointer<ListCommands> commands;
    };
    StartWorker(
        std::make_unique<Block>(Block{m_state->calls, entry, name, m_list, TreeViewPort(m_tree),
                                      QPointer<QObject>(processing), QPointer<ListCommands>(this)}),
        [](Block& b) {
            bool ok = false;
            try {
                b.calls.renameEntry(b.entry->editHref.value_or(std::string()),
                                    b.name.toStdString());
                ok = true;
            } catch (...) {
                // Silent: the row keeps its old name.
            }
            notifier::Send([&] {
                if (b.commands) b.commands->m_renaming.erase(b.entry.get());
                if (auto* w = qobject_cast<QWidget*>(b.processing.data())) {
                    w->hide();
                    w->deleteLater();
                }
                if (!ok || !b.list) return;
                b.list->Model()->SetTitleOf(b.entry.get(), b.name);
            });
            if (ok && b.entry->IsFolder())
                b.tree.FolderNameChangedInList(b.name.toStdString(),
                                               b.entry->contentSrc.value_or(std::string()));
        });
}

namespace {

void StartAction(EntryAction action, const QString& line, std::vector<std::string> keys,
                 const std::shared_ptr<AppState>& state, CTallowdeskView* list, CLeftView* tree) {
    CMsgDlg* processing = ShowProcessingWindow(list, line);
    auto block = std::make_unique<EntryActionBlock>();
    block->action = action;
    block->keys = std::move(keys);
    block->calls = state->calls;
    block->state = state;
    block->list = ListViewPort(list);
    block->tree = TreeViewPort(tree);
    block->processingWindow = processing;
    StartEntryActionWorker(std::move(block));
}

}  // namespace

void ListCommands::Trash() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    std::vector<std::string> keys;
    for (const DocEntryPtr& e : entries)
        if (e->resourceId) keys.push_back(*e->resourceId);
    StartAction(EntryAction::Trash, tr(" Deleting items ..."), std::move(keys), m_state, m_list,
                m_tree);
}

void ListCommands::Star() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    std::vector<std::string> keys;
    for (const DocEntryPtr& e : entries)
        if (e->editHref) keys.push_back(*e->editHref);
    StartAction(EntryAction::Star, tr(" Starring ..."), std::move(keys), m_state, m_list, m_tree);
}

void ListCommands::Unstar() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    std::vector<std::string> keys;
    for (const DocEntryPtr& e : entries)
        if (e->editHref) keys.push_back(*e->editHref);
    StartAction(EntryAction::Unstar, tr(" UnStarring ..."), std::move(keys), m_state, m_list,
                m_tree);
}

void ListCommands::Share() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    m_hooks.share(m_window, entries);
}

void ListCommands::ConnectTransferDialog(TransferProgressDlg* dialog) {
    connect(dialog, &TransferProgressDlg::BackgroundRequested, this, [this] {
        if (m_hooks.hideToTray) m_hooks.hideToTray();
    });
    connect(dialog, &TransferProgressDlg::TransferEnded, this, [this] {
        if (m_hooks.transferEnded) m_hooks.transferEnded();
    });
}

TransferProgressDlg* ListCommands::ShowTransferDialog() {
    auto* dialog = new CProgressDlgModeless(m_window);
    ConnectTransferDialog(dialog);
    m_lastTransfer = dialog;
    dialog->show();
    return dialog;
}

void ListCommands::WatchTransfer() {
    emit TransferStateChanged();
    m_transferWatch.start();
}

void ListCommands::Download() {
    if (transferBusy) return;
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    std::vector<FolderItem> items;
    for (const DocEntryPtr& e : entries)
        items.push_back(FolderItem{e->contentSrc.value_or(std::string()),
                                   e->title.value_or(std::string()), e->kind, e->QuotaBytes()});
    DownloadItems(std::move(items));
}

void ListCommands::DownloadItems(std::vector<FolderItem> items) {
    if (transferBusy) return;
    transferCancel = false;
    const std::optional<QString> dest = m_hooks.pickFolder(m_list, tr("Select the folder:"));
    if (!dest) return;
    // Claimed here so that no second transfer starts before the loop runs.
    bool idle = false;
    if (!transferBusy.compare_exchange_strong(idle, true)) return;
    StartDownloadWorker(std::move(items), dest->toStdString(), m_state->calls.transferOps,
                        ShowTransferDialog());
    WatchTransfer();
}

void ListCommands::Export(int commandId) {
    // The export window clears the cancel flag when its transfer starts.
    const ExportFormat* format = nullptr;
    for (const ExportFormat& f : ExportTable())
        if (f.commandId == commandId) format = &f;
    if (!format) return;
    const std::optional<QString> dest =
        m_hooks.pickFolder(m_list, tr("Select the  folder to save to:"));
    if (!dest) return;
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    const DocEntry& e = *entries.front();
    ExportRequest request{e.contentSrc.value_or(std::string()), e.title.value_or(std::string()),
                          std::string(format->kind), std::string(format->value),
                          dest->toStdString()};
    CExportProgressDlg dialog(std::move(request), m_state->calls.transferOps, m_window);
    dialog.exec();
}

void ListCommands::Upload() {
    if (transferBusy) return;
    transferCancel = false;
    const QStringList files = m_hooks.pickFiles(m_list);
    if (files.isEmpty()) return;
    std::vector<UploadSource> sources;
    for (const QString& f : files) sources.push_back(UploadSource{f.toStdString(), false});
    StartUpload(std::move(sources));
}

bool ListCommands::ClipboardHasFiles() const {
    return !LocalFilesOf(QGuiApplication::clipboard()->mimeData()).isEmpty();
}

void ListCommands::Paste() {
    if (transferBusy) return;
    transferCancel = false;
    std::vector<UploadSource> sources =
        UploadSourcesOf(LocalFilesOf(QGuiApplication::clipboard()->mimeData()));
    if (sources.empty()) return;  // nothing that can be read: no empty progress window
    StartUpload(std::move(sources));
}

void ListCommands::Drop(const QMimeData* data) {
    if (transferBusy) return;
    transferCancel = false;
    std::vector<UploadSource> sources = UploadSourcesOf(LocalFilesOf(data));
    if (!sources.empty()) StartUpload(std::move(sources));
}

QMimeData* ListCommands::MakeDragData() {
    // Checked first: a Cancel of the running transfer must not be undone.
    if (transferBusy) return nullptr;  // the drop could not download
    transferCancel = false;
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return nullptr;
    if (X11DirectSave::Available()) return MakeDirectSaveData(entries);
    const std::optional<std::filesystem::path> folder = m_dragTemp.Prepare();
    if (!folder) {
        m_hooks.errorBox(tr("Error"),
                         QCoreApplication::translate("DragTempFolder", kTempPathFailedText));
        return nullptr;
    }
    std::vector<FolderItem> items;
    QStringList paths;
    for (const DocEntryPtr& e : entries) {
        FolderItem item{e->contentSrc.value_or(std::string()), e->title.value_or(std::string()),
                        e->kind, e->QuotaBytes()};
        // The names the download worker writes.
        const std::filesystem::path path = e->IsFolder()
                                               ? JoinLocalPath(*folder, SafeFileName(item.title))
                                               : DownloadPath(*folder, item.title, item.kind);
        paths << QString::fromStdString(path.string());
        items.push_back(std::move(item));
    }
    auto fetch = [items = std::move(items), dest = *folder, makeOps = m_state->calls.transferOps,
                  window = QPointer<QWidget>(m_window), self = QPointer<ListCommands>(this)] {
        bool idle = false;
        if (!transferBusy.compare_exchange_strong(idle, true)) return;
        CProgressDlgModal dialog(items, dest, makeOps, window);
        // Background and the quota at the end, as for every other transfer.
        if (self) self->ConnectTransferDialog(&dialog);
        dialog.exec();
    };
    return new EntryDragData(paths, std::move(fetch));
}

QMimeData* ListCommands::MakeDirectSaveData(const std::vector<DocEntryPtr>& entries) {
    std::vector<FolderItem> items;
    for (const DocEntryPtr& e : entries)
        items.push_back(FolderItem{e->contentSrc.value_or(std::string()),
                                   e->title.value_or(std::string()), e->kind, e->QuotaBytes()});
    // The target shows this name; the download worker writes the rows under
    // their own names into the folder the target gives.
    const FolderItem& first = items.front();
    const std::filesystem::path name =
        entries.front()->IsFolder()
            ? std::filesystem::path(SafeFileName(first.title))
            : DownloadPath(std::filesystem::path(), first.title, first.kind);
    // With its NUL: pcmanfm reads the name as a C string.
    QByteArray offered = QByteArray::fromStdString(name.filename().string());
    offered.append('\0');
    EntryDragData::DirectSave save;
    save.destination = [] { return X11DirectSave::Destination(); };
    save.saveInto = [this, items = std::move(items)](const QString& folder) {
        bool idle = false;
        if (!transferBusy.compare_exchange_strong(idle, true)) return false;
        transferCancel = false;
        // Started from the event loop, not inside the target's data request.
        QTimer::singleShot(0, this, [this, items, dest = folder.toStdString()] {
            StartDownloadWorker(items, dest, m_state->calls.transferOps, ShowTransferDialog());
            WatchTransfer();
        });
        return true;
    };
    auto* data = new EntryDragData(std::move(save));
    // The drag selection gets its owner when the drag loop starts: name the
    // file from inside that loop, long before any drop.
    QTimer::singleShot(0, data, [offered] { X11DirectSave::OfferName(offered); });
    return data;
}

void ListCommands::StartUpload(std::vector<UploadSource> sources) {
    bool idle = false;
    if (!transferBusy.compare_exchange_strong(idle, true)) return;
    UploadWindows windows{m_state, ListViewPort(m_list), m_tree};
    StartUploadWorkers(std::move(sources), UploadTarget(), m_state->calls.transferOps,
                       ShowTransferDialog(), std::move(windows));
    WatchTransfer();
}

std::unique_ptr<QMenu> ListCommands::ContextMenu() {
    ContextMenuState s;
    s.selected = m_list->SelectedCount();
    s.transferBusy = transferBusy;
    s.currentTitle = m_state->navigation.Current().title;
    s.currentUrl = m_state->navigation.Current().url;
    s.isFolder = m_state->navigation.Current().isFolder;
    if (s.selected == 1) s.firstType = m_list->SelectedEntries().front()->kind;
    s.clipboardHasFiles = ClipboardHasFiles();

    auto menu = std::make_unique<QMenu>();
    menu->setObjectName(QStringLiteral("listContextMenu"));
    QMenu* raw = menu.get();
    const auto add = [this](QMenu* to, const QString& text, int id) {
        QAction* action = to->addAction(text);
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { Run(id); });
        return action;
    };
    for (const ContextMenuItem& item : ContextMenuItems(s)) {
        switch (item.kind) {
            case ContextMenuItem::Kind::Separator:
                raw->addSeparator();
                break;
            case ContextMenuItem::Kind::Command:
                add(raw, item.text, item.id);
                break;
            case ContextMenuItem::Kind::Submenu: {
                QMenu* sub = raw->addMenu(item.text);
                if (item.submenu == "VIEWS") {
                    add(sub, tr("Large Icons"), kCmdLargeIcons);
                    add(sub, tr("Small Icons"), kCmdSmallIcons);
                    add(sub, tr("List"), kCmdList);
                    add(sub, tr("Details"), kCmdDetails);
                } else {
                    for (const ExportFormat& f : ExportTable())
                        if (f.menu == item.submenu)
                            add(sub,
                                QCoreApplication::translate("ExportFormat",
                                                            std::string(f.label).c_str()),
                                f.commandId);
                }
                break;
            }
        }
    }
    return menu;
}

void ListCommands::Run(int id) {
    switch (id) {
        case kCmdOpen:
            return Open();
        case kCmdCreateFolder:
            return CreateFolder();
        case kCmdRename:
            return StartRename();
        case kCmdMoveToTrash:
            return Trash();
        case kCmdStar:
            return Star();
        case kCmdUnstar:
            return Unstar();
        case kCmdShare:
            return Share();
        case kCmdDownload:
            return Download();
        case kCmdUpload:
            return Upload();
        case kCmdPaste:
            return Paste();
        case kCmdRefresh:
            if (!m_list->Processing()) m_list->RefreshList();
            return;
        case kCmdSearch:
            if (m_hooks.search) m_hooks.search();
            return;
        case kCmdLargeIcons:
        case kCmdSmallIcons:
        case kCmdList:
        case kCmdDetails:
            if (m_hooks.setViewStyle) m_hooks.setViewStyle(id);
            return;
        default:
            Export(id);
    }
}

}  // namespace tallowdesk::shell
