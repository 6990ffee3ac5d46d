#pragma once

#include <QTreeView>

class QMimeData;
#include <functional>
#include <memory>
#include <set>

#include "FolderTreeModel.h"
#include "UiMessages.h"

namespace tallowdesk::shell {

struct AppState;

// The left pane: categories and folders. Owns the tree model; starts the
// folder loader on a folder's first expansion and the tree refresh, renames
// and trashes folders on workers, and receives the tree workers' messages.
// Selecting a node asks for a location change (the frame decides). UI thread.
class CLeftView : public QTreeView, public TreeViewMessages {
    Q_OBJECT
public:
    CLeftView(std::shared_ptr<AppState> state, QWidget* parent = nullptr);

    FolderTreeModel* Model() const { return m_model; }
    // Whether the entry list is busy listing; commands here wait for it.
    void SetListBusyTest(std::function<bool()> test) { m_listBusy = std::move(test); }

    // Categories and the top-level folders (once, when the window is made).
    void SetUp();
    // Node under the last context-menu click (kTreeRoot for none).
    TreeNodeId ContextNode() const { return m_contextNode; }
    bool ContextNodeIsFolder() const;
    // The folder record of the context node; null for categories and for
    // folders known only by their URL.
    DocEntryPtr ContextFolderEntry() const;

    // Commands of the tree's context menu.
    void RefreshTree();
    void RenameContextNode();
    void TrashContextNode();

    // A folder made by an upload: under the node of parentUrl (the root for
    // an empty one); nothing when that node is not in the tree.
    void AddFolderUnder(const std::string& parentUrl, const std::string& title,
                        const std::string& url);

    void ExpandNodeOfUrl(const std::string& url);
    void SelectNodeOfUrl(const std::string& url);
    // No node highlighted (the list shows something no node stands for);
    // choosing any node afterwards still lists it.
    void ClearCurrentNode();
    // Lists the folder above the one of url, when the tree holds one.
    void SelectParentOfUrl(const std::string& url);

    // TreeViewMessages, delivered through a TreeViewPort.
    void AddFolderToTreeView(const FolderNodeBlock& block) override;
    void DeleteChildren(TreeNodeId node) override;
    void ChangeItemIcon(TreeNodeId node, int image) override;
    void DeleteItemByResourceId(const std::string& resourceId) override;
    void DeleteItemByEditLink(const std::string& editHref) override;
    void FolderNameChangedInList(const std::string& title, const std::string& url) override;
    void AddGeneralCategories() override;
    void DeleteNode(TreeNodeId node) override;
    void FolderRenameFinished(TreeNodeId node, std::optional<std::string> title) override;
    void FolderTrashed(const std::string& resourceId) override;
    void FolderRestored(const std::string& parentUrl, const std::string& title,
                        const std::string& url) override;
    void TreeRefreshFailed(const std::string& message) override;
    void FolderLoadFailed(TreeNodeId node, const std::string& reason) override;
    void FolderCommandFailed(const std::string& text) override;

    // Reads again every folder whose read failed (Refresh, F5).
    void RetryFailedLoads();

signals:
    void NodeSelected(bool isPlaceholder, const std::string& label, const std::string& url);
    // The menu for a folder node, or the short one (empty space, category).
    void ContextMenuWanted(bool onFolder, const QPoint& globalPos);
    // Tell the entry list: a folder got a new name / went to the trash.
    void FolderRenamed(const std::string& title, const std::string& url);
    void FolderRemoved(const std::string& resourceId);
    void ErrorMessage(const QString& text);
    // Files from outside were dropped on the folder node of folderUrl (its
    // contents feed); the drop was taken.
    void Dropped(const QMimeData* data, const QString& folderUrl);
    // A drag over a node that holds no files: why it is refused.
    void StatusTextChanged(const QString& text);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Judges a drag over the node under the pointer: a folder node takes
    // the drop (and is highlighted), a category refuses it.
    void HandleDrag(QDropEvent* event);
    void StartFolderLoader(const std::string& url, TreeNodeId node);
    void ReadAgain(TreeNodeId node);
    void OnExpanded(const QModelIndex& index);
    void OnCurrentChanged(const QModelIndex& current);
    bool m_takingFocus = false;  // the view picks a current node on its own
    void OnRenameRequested(TreeNodeId node, const QString& title);
    DocEntryPtr FolderEntryOf(TreeNodeId node) const;

    std::shared_ptr<AppState> m_state;
    FolderTreeModel* m_model;
    std::function<bool()> m_listBusy;
    bool m_refreshing = false;
    TreeNodeId m_contextNode = kTreeRoot;
    // Folders whose read failed, and the node telling that the top level
    // could not be read.
    std::set<TreeNodeId> m_failedLoads;
    TreeNodeId m_rootFailure = kTreeRoot;
};

// The feed of a folder's sub-folders.
std::string FolderLoaderUrl(const std::string& contentsUrl);

}  // namespace tallowdesk::shell
