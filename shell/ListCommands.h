#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "DialogMessages.h"
#include "DragTempFolder.h"
#include "model/DocEntry.h"
#include "model/FeedCatalogue.h"
#include "transfer/NameClash.h"
#include "transfer/UploadSource.h"

class QFileDialog;
class QMenu;
class QMimeData;
class QWidget;

namespace tallowdesk::shell {

class CLeftView;
class CTallowdeskView;
class TransferProgressDlg;
class X11UriListHandOver;
class X11RequestTimeGuard;
struct AppState;

// What the commands ask of the desktop and of other parts of the window.
// Each has a working default; tests replace the pickers.
struct CommandHooks {
    // The folder picker with its title; nothing when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const QString& title)> pickFolder;
    // The multi-file picker; empty when cancelled.
    std::function<QStringList(QWidget* parent)> pickFiles;
    // An error box (title, text); a critical QMessageBox without owner by default.
    std::function<void(const QString& title, const QString& text)> errorBox;
    // A yes/no question (title, text) before what cannot be undone; a
    // QMessageBox with No as the default button by default.
    std::function<bool(const QString& title, const QString& text)> confirm;
    // Where rows dragged out of the list are downloaded; the user's runtime
    // or temporary folder by default.
    std::optional<std::filesystem::path> dragTempBase;
    std::function<void(const QUrl&)> openUrl;
    std::function<void(QWidget* parent, const std::vector<std::shared_ptr<const DocEntry>>&)> share;
    // Owned by the frame.
    std::function<void()> search;
    std::function<void()> hideToTray;
    std::function<void()> transferEnded;    // the quota may have changed
    std::function<void()> locationChanged;  // a folder was opened from the list
    std::function<void(int viewCommand)> setViewStyle;
    // What to do with a name already taken by a download; the clash dialog
    // by default. Called on the UI thread.
    std::function<ClashAnswer(QWidget* parent, const ClashQuestion&)> askClash;
};

// Sets up the Upload command's file picker: several existing files, and the
// one filter "All File(*.*)" that lists every file, names without a dot too.
void SetUpUploadPicker(QFileDialog& dialog);

// The commands on the rows of the entry list: open, create folder, rename,
// move to trash, star, unstar, share, download, export, upload, paste, and
// the list's context menu, built afresh each time. Starts the workers and
// shows their processing and progress windows; never waits for the network.
// UI thread.
// A failed rename's message: the old name, then the reason.
QString RenameFailure(const QString& oldName, const std::string& reason);

class ListCommands : public QObject, public SearchMessages {
    Q_OBJECT
public:
    ListCommands(std::shared_ptr<AppState> state, CTallowdeskView* list, CLeftView* tree,
                 QWidget* window, CommandHooks hooks = {});
    ~ListCommands() override;

    void Open();
    // Opens the create-folder dialog for the folder the list shows (the
    // root when a category is shown).
    void CreateFolder();
    // The same for the folder whose feed is parentUrl (nothing: the root).
    void CreateFolderIn(std::optional<std::string> parentUrl);
    // Asks for words and lists what the service finds for them, without
    // leaving the location shown.
    void Search();
    void SearchEnded(bool failed) override;
    // Starts editing the first selected row's name; Rename follows.
    void StartRename();
    void Rename(int row, const QString& text);
    void Trash();
    void Star();
    void Unstar();
    // The Trash's commands: back into the folders, gone for good (asked
    // first), and everything the Trash lists gone for good (asked first).
    void Restore();
    void DeleteForever();
    void EmptyTrash();
    // A command failed: the error box, titled "Error".
    void ShowError(const QString& text);
    void Share();
    void Download();
    // Asks for a destination, then downloads the items (the tree's Download).
    void DownloadItems(std::vector<FolderItem> items);
    // One of the export menu items (its command identifier).
    void Export(int commandId);
    void Upload();
    void Paste();
    // Files dropped on the list from outside (the view has judged the
    // drop); folderUrl: the folder row dropped on, empty for the place shown.
    void Drop(const QMimeData* data, const QString& folderUrl = {});
    // Shared by Upload, Paste and drops; each of details becomes a line of
    // the transfer's details (what could not be taken).
    void StartUpload(std::vector<UploadSource> sources, const QStringList& details = {},
                     const std::string& target = {});
    // The data of a drag of the selected rows, or null when no drag may
    // start (no rows, a transfer runs, or no temporary folder: told then).
    QMimeData* MakeDragData();
    QMimeData* MakeDirectSaveData(const std::vector<DocEntryPtr>& entries);

    // The context menu for the list as it is now (the caller shows it).
    std::unique_ptr<QMenu> ContextMenu();
    // Runs the command with this identifier (a context-menu item).
    void Run(int commandId);

    // The progress window of the last download or upload, while it is open.
    TransferProgressDlg* LastTransferDialog() const;
    // Where uploads go for the location shown: the folder itself, or the
    // document list when a category is shown.
    std::string UploadTarget() const;

signals:
    // A transfer started or ended: availability may change.
    void TransferStateChanged();

private:
    TransferProgressDlg* ShowTransferDialog();
    // The download worker's way to ask about a taken name: it waits while the
    // user answers over the progress window.
    ClashAsker ClashQuestionsOver(TransferProgressDlg* dialog) const;
    // The name the user knows the upload target by, for the name questions.
    std::string UploadTargetTitle(const std::string& url) const;
    // Background and the end of the transfer reach the frame.
    void ConnectTransferDialog(TransferProgressDlg* dialog);
    void WatchTransfer();
    bool ClipboardHasFiles() const;

    std::shared_ptr<AppState> m_state;
    CTallowdeskView* m_list;
    CLeftView* m_tree;
    QWidget* m_window;
    CommandHooks m_hooks;
    QPointer<QObject> m_lastTransfer;  // a TransferProgressDlg
    DragTempFolder m_dragTemp;
    QTimer m_transferWatch;
    std::unique_ptr<X11UriListHandOver> m_handOver;  // the last drag out's file list
    QList<QPointer<QObject>> m_transferDialogs;      // open progress windows
    std::unique_ptr<X11RequestTimeGuard> m_timeGuard;
    std::set<const DocEntry*> m_renaming;  // rows whose rename is on its way
};

}  // namespace tallowdesk::shell
