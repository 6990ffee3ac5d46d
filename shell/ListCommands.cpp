#include "ListCommands.h"

#include <tinyxml2.h>

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QWindow>
#include <set>

#include "AppState.h"
#include "CLeftView.h"
#include "CTallowdeskView.h"
#include "DialogWorkers.h"
#include "DropRules.h"
#include "EntryActionWorker.h"
#include "EntryDragData.h"
#include "EntryListModel.h"
#include "ListContextMenu.h"
#include "Notifier.h"
#include "TransferWorkers.h"
#include "Worker.h"
#include "X11DirectSave.h"
#include "dialogs/CCreateFolderDlg.h"
#include "dialogs/CExportProgressDlg.h"
#include "dialogs/CMsgDlg.h"
#include "dialogs/CProgressDlgModal.h"
#include "dialogs/CProgressDlgModeless.h"
#include "dialogs/CSearchDlg.h"
#include "dialogs/Modality.h"
#include "dialogs/NameClashDlg.h"
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

// The boxes are owned by the main window, so that they block it and not the
// transfer windows beside it.
CommandHooks WithDefaults(CommandHooks h, QWidget* window) {
    if (!h.askClash) h.askClash = &NameClashDlg::Ask;
    if (!h.pickFolder) h.pickFolder = &PickFolder;
    if (!h.pickFiles)
        h.pickFiles = [](QWidget* parent) {
            QFileDialog dialog(parent);
            SetUpUploadPicker(dialog);
            return ExecModalToItsWindow(dialog) == QDialog::Accepted ? dialog.selectedFiles()
                                                                     : QStringList();
        };
    if (!h.errorBox)
        h.errorBox = [owner = QPointer<QWidget>(window)](const QString& title,
                                                         const QString& text) {
            ShowErrorBox(owner.data(), title, text);
        };
    if (!h.confirm)
        h.confirm = [owner = QPointer<QWidget>(window)](const QString& title, const QString& text) {
            return AskYesNo(owner.data(), title, text);
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

QString RenameFailure(const QString& oldName, const std::string& reason) {
    QString text =
        QCoreApplication::translate("ListCommands", "\"%1\" was not renamed.").arg(oldName);
    if (!reason.empty()) text += QLatin1Char('\n') + QString::fromStdString(reason);
    return text;
}

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
      m_hooks(WithDefaults(std::move(hooks), window)),
      m_dragTemp(m_hooks.dragTempBase) {
    // Before any drag: one request with a wrong time would spoil the next.
    if (X11DirectSave::Available()) m_timeGuard = std::make_unique<X11RequestTimeGuard>();
    connect(m_list, &CTallowdeskView::RenameWanted, this, &ListCommands::Rename);
    connect(m_list, &CTallowdeskView::Dropped, this, &ListCommands::Drop);
    if (m_tree) connect(m_tree, &CLeftView::Dropped, this, &ListCommands::Drop);
    connect(m_list, &CTallowdeskView::Failed, this, &ListCommands::ShowError);
    m_list->Model()->SetDragSource([this] { return MakeDragData(); });
    // A drag cancelled over a target that read the file list while hovering
    // is over: the button's release that follows the Escape must not fetch
    // the files for a drop that never comes.
    connect(m_list, &CTallowdeskView::DragEnded, this, [this] {
        if (m_handOver && !m_handOver->DropStarted()) m_handOver.reset();
    });
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

std::string ListCommands::UploadTargetTitle(const std::string& url) const {
    if (url == m_state->navigation.Current().url && m_state->navigation.Current().isFolder)
        return m_state->navigation.Current().title;
    if (const DocEntryPtr folder = m_state->folders.FindByContentSrc(url))
        return folder->title.value_or(std::string());
    return std::string(kRootFolderTitle);  // the document list: the top level
}

void ListCommands::CreateFolderIn(std::optional<std::string> parentUrl) {
    CCreateFolderDlg dialog(m_state, std::move(parentUrl), m_list, m_tree, m_hooks.errorBox,
                            m_window);
    ExecModalToItsWindow(dialog);
}

void ListCommands::Search() {
    if (m_list->Processing()) return;
    CSearchDlg dialog(m_window);
    if (ExecModalToItsWindow(dialog) != QDialog::Accepted) return;
    const QString query = dialog.Query().trimmed();
    if (query.isEmpty()) return;
    // The results are no folder of the tree: its highlight goes.
    m_tree->ClearCurrentNode();
    m_list->BeginSearch(tr("Searching for \"%1\"...").arg(query), query);
    StartSearchWorker(m_state, query.toStdString(), ListViewPort(m_list), SearchPort(this));
}

void ListCommands::SearchEnded(bool failed) {
    if (failed) m_hooks.errorBox(tr("Error"), tr("Search failed."));
    m_list->EndSearch(failed);
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
        QString oldName;
        QPointer<ListCommands> commands;
    };
    StartWorker(
        std::make_unique<Block>(Block{m_state->calls, entry, name, m_list, TreeViewPort(m_tree),
                                      QPointer<QObject>(processing), m_list->Model()->TitleAt(row),
                                      QPointer<ListCommands>(this)}),
        [](Block& b) {
            bool ok = false;
            std::string reason;
            try {
                b.calls.renameEntry(b.entry->editHref.value_or(std::string()),
                                    b.name.toStdString());
                ok = true;
            } catch (const std::exception& e) {
                reason = e.what();  // the row keeps its old name; the user is told
            }
            notifier::Send([&] {
                if (b.commands) b.commands->m_renaming.erase(b.entry.get());
                if (auto* w = qobject_cast<QWidget*>(b.processing.data())) {
                    w->hide();
                    w->deleteLater();
                }
                if (!b.list) return;
                if (!ok) {
                    b.list->CommandFailed(RenameFailure(b.oldName, reason).toStdString());
                    return;
                }
                b.list->Model()->SetTitleOf(b.entry.get(), b.name);
            });
            if (ok && b.entry->IsFolder())
                b.tree.FolderNameChangedInList(b.name.toStdString(),
                                               b.entry->contentSrc.value_or(std::string()));
        });
}

namespace {

// The keys of the entries (resource ids, or edit links when byEditLink) and
// their titles, in the same order; entries without a key are left out.
std::pair<std::vector<std::string>, std::vector<std::string>> KeysOf(
    const std::vector<DocEntryPtr>& entries, bool byEditLink) {
    std::pair<std::vector<std::string>, std::vector<std::string>> out;
    for (const DocEntryPtr& e : entries) {
        const std::optional<std::string>& key = byEditLink ? e->editHref : e->resourceId;
        if (!key) continue;
        out.first.push_back(*key);
        out.second.push_back(e->title.value_or(std::string()));
    }
    return out;
}

void StartAction(EntryAction action, const QString& line, const std::vector<DocEntryPtr>& entries,
                 const std::shared_ptr<AppState>& state, CTallowdeskView* list, CLeftView* tree,
                 bool listAgain = false) {
    const bool byEditLink = action != EntryAction::Trash && action != EntryAction::DeleteForever;
    auto [keys, titles] = KeysOf(entries, byEditLink);
    CMsgDlg* processing = ShowProcessingWindow(list, line);
    auto block = std::make_unique<EntryActionBlock>();
    block->action = action;
    block->keys = std::move(keys);
    block->titles = std::move(titles);
    if (action == EntryAction::Restore) {
        for (const DocEntryPtr& e : entries) {
            if (!e->editHref) continue;  // as KeysOf leaves it out
            std::optional<EntryActionBlock::FolderNode> node;
            if (e->IsFolder())
                node = EntryActionBlock::FolderNode{
                    e->parentHref ? *e->parentHref + "/contents" : std::string(),
                    FolderContentsUrl(*e)};
            block->folderNodes.push_back(std::move(node));
        }
    }
    block->calls = state->calls;
    block->state = state;
    block->list = ListViewPort(list);
    block->tree = TreeViewPort(tree);
    block->processingWindow = processing;
    block->listAgain = listAgain;
    StartEntryActionWorker(std::move(block));
}

}  // namespace

void ListCommands::Trash() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    StartAction(EntryAction::Trash, tr(" Deleting items ..."), entries, m_state, m_list, m_tree);
}

void ListCommands::Star() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    StartAction(EntryAction::Star, tr(" Starring ..."), entries, m_state, m_list, m_tree);
}

void ListCommands::Unstar() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    StartAction(EntryAction::Unstar, tr(" UnStarring ..."), entries, m_state, m_list, m_tree);
}

void ListCommands::Restore() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    StartAction(EntryAction::Restore, tr(" Restoring items ..."), entries, m_state, m_list, m_tree);
}

namespace {

std::string TrashUrl() {
    for (const Category& c : CategoryTable())
        if (c.label == " Trash") return c.url;
    return {};
}

QString DeleteQuestion(const std::vector<DocEntryPtr>& entries) {
    if (entries.size() == 1)
        return ListCommands::tr("Delete \"%1\" forever? It cannot be brought back.")
            .arg(QString::fromStdString(entries.front()->title.value_or(std::string())));
    return ListCommands::tr("Delete these %1 items forever? They cannot be brought back.")
        .arg(entries.size());
}

}  // namespace

void ListCommands::DeleteForever() {
    const std::vector<DocEntryPtr> entries = m_list->SelectedEntries();
    if (entries.empty()) return;
    if (!m_hooks.confirm(tr("Delete Forever"), DeleteQuestion(entries))) return;
    StartAction(EntryAction::DeleteForever, tr(" Deleting items ..."), entries, m_state, m_list,
                m_tree);
}

void ListCommands::EmptyTrash() {
    if (m_list->Processing() || m_state->navigation.Current().url != TrashUrl()) return;
    std::vector<DocEntryPtr> rows;
    for (int row = 0; row < m_list->Model()->rowCount(); ++row)
        if (DocEntryPtr e = m_list->Model()->EntryAt(row)) rows.push_back(std::move(e));
    if (rows.empty()) return;
    if (!m_hooks.confirm(tr("Empty Trash"),
                         tr("Delete all %1 items in the Trash forever? They cannot be brought "
                            "back.")
                             .arg(rows.size())))
        return;
    // What lies in a trashed folder goes with it: asking for it again would
    // only be answered "not found".
    // A parent link ends in the folder's resource id, its colon escaped.
    std::set<std::string> folders;
    for (const DocEntryPtr& e : rows) {
        if (!e->IsFolder() || !e->resourceId) continue;
        std::string id = *e->resourceId;
        if (const auto colon = id.find(':'); colon != std::string::npos)
            id.replace(colon, 1, "%3A");
        folders.insert("/" + id);
    }
    const auto inTrashedFolder = [&folders](const DocEntry& e) {
        if (!e.parentHref) return false;
        const std::string& href = *e.parentHref;
        const auto slash = href.rfind('/');
        return slash != std::string::npos && folders.count(href.substr(slash)) != 0;
    };
    std::vector<DocEntryPtr> entries;
    for (const DocEntryPtr& e : rows)
        if (!inTrashedFolder(*e)) entries.push_back(e);
    StartAction(EntryAction::DeleteForever, tr(" Deleting items ..."), entries, m_state, m_list,
                m_tree, true);
}

void ListCommands::ShowError(const QString& text) {
    m_hooks.errorBox(tr("Error"), text);
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

ListCommands::~ListCommands() {
    // The progress windows have no parent (below): they go with the commands.
    for (const QPointer<QObject>& dialog : m_transferDialogs) delete dialog.data();
}

TransferProgressDlg* ListCommands::ShowTransferDialog() {
    // A window of its own, not owned by the main window: a dialog modal to
    // the main window (an export, a message box, a picker) must not block
    // its Cancel. It still opens over the main window.
    auto* dialog = new CProgressDlgModeless(nullptr);
    m_transferDialogs.removeAll(nullptr);
    m_transferDialogs.append(dialog);
    ConnectTransferDialog(dialog);
    m_lastTransfer = dialog;
    dialog->adjustSize();
    if (m_window && m_window->isVisible()) {
        QRect frame = dialog->frameGeometry();
        frame.moveCenter(m_window->frameGeometry().center());
        dialog->move(frame.topLeft());
    }
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
    TransferProgressDlg* dialog = ShowTransferDialog();
    StartDownloadWorker(std::move(items), dest->toStdString(), m_state->calls.transferOps, dialog,
                        ClashQuestionsOver(dialog));
    WatchTransfer();
}

ClashAsker ListCommands::ClashQuestionsOver(TransferProgressDlg* dialog) const {
    return [ask = m_hooks.askClash, over = QPointer<QWidget>(dialog)](const ClashQuestion& q) {
        // After Cancel nothing more is asked; the loop stops at its next item.
        ClashAnswer answer{ClashChoice::Skip, true};
        notifier::Send([&] {
            if (!transferCancel) answer = ask(over.data(), q);
        });
        return answer;
    };
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
    ExecModalToItsWindow(dialog);
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
    // A category holds no files of its own: what is pasted would land
    // where the user does not see it.
    if (IsCategoryUrl(m_state->navigation.Current().url)) {
        m_hooks.errorBox(
            tr("Paste"),
            tr("Files cannot be pasted into \"%1\": it holds no files of its own. "
               "Open a folder first.")
                .arg(QString::fromStdString(m_state->navigation.Current().title).trimmed()));
        return;
    }
    transferCancel = false;
    CollectedFiles collected = CollectDroppedFiles(QGuiApplication::clipboard()->mimeData());
    // Nothing at all: no empty progress window.
    if (collected.sources.empty() && collected.unusable.isEmpty()) return;
    StartUpload(std::move(collected.sources), collected.unusable);
}

void ListCommands::Drop(const QMimeData* data, const QString& folderUrl) {
    if (transferBusy) return;
    transferCancel = false;
    CollectedFiles collected = CollectDroppedFiles(data);
    if (collected.sources.empty() && collected.unusable.isEmpty()) return;
    StartUpload(std::move(collected.sources), collected.unusable, folderUrl.toStdString());
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
    // A held list of the last drag is refused: that drag is over.
    m_handOver.reset();
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
    save.saveInto = [this, items](const QString& folder) {
        bool idle = false;
        if (!transferBusy.compare_exchange_strong(idle, true)) return false;
        transferCancel = false;
        // Started from the event loop, not inside the target's data request.
        QTimer::singleShot(0, this, [this, items, dest = folder.toStdString()] {
            TransferProgressDlg* dialog = ShowTransferDialog();
            StartDownloadWorker(items, dest, m_state->calls.transferOps, dialog,
                                ClashQuestionsOver(dialog));
            WatchTransfer();
        });
        return true;
    };
    // Targets that only take a file list get the rows from the temporary
    // folder, once they are downloaded there after the drop. Without that
    // folder only direct save is offered.
    if (const std::optional<std::filesystem::path> temp = m_dragTemp.Prepare()) {
        QStringList paths;
        QByteArray hoverList;
        for (const FolderItem& item : items) {
            const std::filesystem::path path = item.kind == "folder"
                                                   ? JoinLocalPath(*temp, SafeFileName(item.title))
                                                   : DownloadPath(*temp, item.title, item.kind);
            paths << QString::fromStdString(path.string());
            hoverList += QUrl::fromLocalFile(paths.back()).toEncoded() + "\r\n";
        }
        auto fetch = [self = QPointer<ListCommands>(this), items, dest = *temp, paths] {
            if (!self || !self->m_handOver) return;
            X11UriListHandOver* handOver = self->m_handOver.get();
            bool idle = false;
            if (!transferBusy.compare_exchange_strong(idle, true)) {
                handOver->Answer(QByteArray());  // a transfer runs: refused
                return;
            }
            transferCancel = false;
            TransferProgressDlg* dialog = self->ShowTransferDialog();
            connect(dialog, &TransferProgressDlg::TransferEnded, self.data(),
                    [self, handOver, paths] {
                        if (!self || self->m_handOver.get() != handOver) return;
                        // Only what is complete: a failed or cancelled row is
                        // left out, never handed over as a path to nothing.
                        QByteArray list;
                        for (const QString& p : paths)
                            if (QFileInfo::exists(p))
                                list += QUrl::fromLocalFile(p).toEncoded() + "\r\n";
                        handOver->Answer(list);
                    });
            StartDownloadWorker(items, dest, self->m_state->calls.transferOps, dialog);
            self->WatchTransfer();
        };
        // The release that waited for the files goes on as Qt's drag loop
        // takes it: a button release sends the drop, Escape cancels it.
        auto release = [window = QPointer<QWidget>(m_window)](bool drop) {
            QWindow* handle = window ? window->window()->windowHandle() : nullptr;
            if (!handle) return;
            if (drop) {
                const QPointF global = QCursor::pos();
                QMouseEvent up(QEvent::MouseButtonRelease, handle->mapFromGlobal(global), global,
                               Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
                QCoreApplication::sendEvent(handle, &up);
            } else {
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(handle, &escape);
            }
        };
        m_handOver =
            std::make_unique<X11UriListHandOver>(std::move(fetch), std::move(release), hoverList);
        save.uriList = [self = QPointer<ListCommands>(this), hoverList]() -> QByteArray {
            if (!self || !self->m_handOver) return {};
            if (const std::optional<QByteArray> given = self->m_handOver->Given()) return *given;
            // Dropped but not complete yet: nothing rather than paths to nothing.
            if (self->m_handOver->Pending()) return {};
            return hoverList;
        };
    }
    auto* data = new EntryDragData(std::move(save));
    // The drag selection gets its owner when the drag loop starts: name the
    // file from inside that loop, long before any drop.
    QTimer::singleShot(0, data, [offered] { X11DirectSave::OfferName(offered); });
    return data;
}

void ListCommands::StartUpload(std::vector<UploadSource> sources, const QStringList& details,
                               const std::string& target) {
    bool idle = false;
    if (!transferBusy.compare_exchange_strong(idle, true)) return;
    UploadWindows windows{m_state, ListViewPort(m_list), m_tree};
    TransferProgressDlg* dialog = ShowTransferDialog();
    for (const QString& line : details) dialog->AddTransferDetail(line);
    const std::string url = target.empty() ? UploadTarget() : target;
    StartUploadWorkers(std::move(sources), url, m_state->calls.transferOps, dialog,
                       std::move(windows), ClashQuestionsOver(dialog), UploadTargetTitle(url));
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
        case kCmdRestore:
            return Restore();
        case kCmdDeleteForever:
            return DeleteForever();
        case kCmdEmptyTrash:
            return EmptyTrash();
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
