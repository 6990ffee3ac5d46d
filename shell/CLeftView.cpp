#include "CLeftView.h"

#include <tinyxml2.h>

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QMouseEvent>

#include "AppState.h"
#include "DropRules.h"
#include "EntryActionWorker.h"
#include "ListCommands.h"
#include "Resources.h"
#include "VisibleText.h"
#include "Worker.h"
#include "model/FeedCatalogue.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk::shell {
namespace {

std::vector<QIcon> TreeImages() {
    std::vector<QIcon> images;
    for (int i = 0; i <= kPlaceholderImage; ++i) images.push_back(TreeImage(i));
    return images;
}

// Parses each folder of the feed into the folder list and has the tree
// insert it under parent (sent: the strings live on this stack).
void AddFolders(const tinyxml2::XMLDocument& doc, TreeNodeId parent, FolderList& folders,
                const TreeViewPort& tree) {
    const tinyxml2::XMLElement* feed = doc.FirstChildElement("feed");
    if (!feed) return;
    for (const tinyxml2::XMLElement* e = feed->FirstChildElement("entry"); e;
         e = e->NextSiblingElement("entry")) {
        auto entry = std::make_shared<const DocEntry>(ParseEntry(*e));
        folders.Append(entry);
        const std::string title = entry->title.value_or(std::string());
        const std::string url = FolderContentsUrl(*entry);
        tree.AddFolderToTreeView(FolderNodeBlock{parent, title, url});
    }
}

struct TreeBlock {
    std::shared_ptr<AppState> state;
    ServiceCalls calls;
    TreeViewPort tree;
    std::string url;
    TreeNodeId node = kTreeRoot;
};

// A failure is shown on the node, which reads again when asked.
void FolderLoader(TreeBlock& b) {
    tinyxml2::XMLDocument doc;
    try {
        b.calls.getFeed(FolderLoaderUrl(b.url), doc);
    } catch (const std::exception& e) {
        b.state->treeBusy.store(false);
        b.tree.FolderLoadFailed(b.node, e.what());
        return;
    } catch (...) {
        b.state->treeBusy.store(false);
        b.tree.FolderLoadFailed(b.node, std::string());
        return;
    }
    if (b.node != kTreeRoot) b.tree.DeleteChildren(b.node);
    AddFolders(doc, b.node, b.state->folders, b.tree);
    b.tree.ChangeItemIcon(b.node, kFolderImage);
    b.state->treeBusy.store(false);
}

void TreeRefresher(TreeBlock& b) {
    tinyxml2::XMLDocument doc;
    std::optional<std::string> error;
    try {
        b.calls.getFeed(RootSubFoldersUrl(), doc);
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error =
            QCoreApplication::translate("CLeftView", "Refreshing failed, please try again later")
                .toStdString();
    }
    b.tree.DeleteNode(b.node);
    if (error) {
        b.tree.TreeRefreshFailed(*error);
        b.state->treeBusy.store(false);
        return;
    }
    b.tree.AddGeneralCategories();
    AddFolders(doc, kTreeRoot, b.state->folders, b.tree);
    b.state->treeBusy.store(false);
}

}  // namespace

std::string FolderLoaderUrl(const std::string& contentsUrl) {
    if (!contentsUrl.empty() && contentsUrl.back() == '/') return contentsUrl + "-/folder";
    return contentsUrl + "/-/folder";
}

CLeftView::CLeftView(std::shared_ptr<AppState> state, QWidget* parent)
    : QTreeView(parent), m_state(std::move(state)) {
    setObjectName(QStringLiteral("folderTree"));
    setAccessibleName(tr("Folders"));
    m_model = new FolderTreeModel(this);
    m_model->SetImages(TreeImages());
    setModel(m_model);
    setHeaderHidden(true);
    // Long names scroll sideways instead of being cut.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QTreeView::expanded, this, &CLeftView::OnExpanded);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { OnCurrentChanged(current); });
    connect(m_model, &FolderTreeModel::RenameRequested, this, &CLeftView::OnRenameRequested);
    // Files dropped on a folder node go into that folder; drops are judged
    // here, not by the model.
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
}

void CLeftView::HandleDrag(QDropEvent* event) {
    const TreeNodeId node = m_model->NodeAt(indexAt(event->position().toPoint()));
    const FolderTreeModel::Kind kind = m_model->KindOf(node);
    const std::string url = node == kTreeRoot ? std::string() : m_model->UrlOf(node);
    DropOffer offer =
        DropOfferFrom(event->mimeData(), m_listBusy && m_listBusy(), transferBusy.load());
    offer.placeTakesFiles =
        node != kTreeRoot && kind == FolderTreeModel::Kind::Folder && !url.empty();
    if (!AcceptsDrop(offer)) {
        m_model->SetDropNode(kTreeRoot);
        if (node != kTreeRoot && kind == FolderTreeModel::Kind::Category && !offer.urls.isEmpty())
            emit StatusTextChanged(RefusedDropText(m_model->TextOf(node)));
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (event->type() != QEvent::Drop) {
        m_model->SetDropNode(node);
        return;
    }
    m_model->SetDropNode(kTreeRoot);
    emit Dropped(event->mimeData(), QString::fromStdString(url));
}

void CLeftView::dragEnterEvent(QDragEnterEvent* event) {
    HandleDrag(event);
}

void CLeftView::dragMoveEvent(QDragMoveEvent* event) {
    HandleDrag(event);
}

void CLeftView::dragLeaveEvent(QDragLeaveEvent* event) {
    m_model->SetDropNode(kTreeRoot);
    event->accept();
}

void CLeftView::dropEvent(QDropEvent* event) {
    HandleDrag(event);
}

void CLeftView::SetUp() {
    m_model->AddCategories(CategoryTable());
    StartFolderLoader(RootFolderUrl(), kTreeRoot);
    m_contextNode = kTreeRoot;
}

void CLeftView::StartFolderLoader(const std::string& url, TreeNodeId node) {
    StartWorker(std::make_unique<TreeBlock>(
                    TreeBlock{m_state, m_state->calls, TreeViewPort(this), url, node}),
                FolderLoader);
}

void CLeftView::OnExpanded(const QModelIndex& index) {
    if (m_refreshing) return;
    const TreeNodeId node = m_model->NodeAt(index);
    if (!m_model->MarkExpanded(node)) return;
    const std::string url = m_model->UrlOf(node);
    if (m_model->KindOf(node) != FolderTreeModel::Kind::Folder || url.empty()) return;
    // A folder whose read failed reads again on its next expansion.
    if (m_failedLoads.erase(node) != 0) {
        ReadAgain(node);
        return;
    }
    StartFolderLoader(url, node);
}

void CLeftView::focusInEvent(QFocusEvent* event) {
    // Given the focus with no current node, the view makes its first node
    // current; that is no choice of the user and must not change the list.
    // It is taken back, so that choosing that node later still counts.
    const bool hadCurrent = currentIndex().isValid();
    m_takingFocus = true;
    QTreeView::focusInEvent(event);
    if (!hadCurrent) selectionModel()->clearCurrentIndex();
    m_takingFocus = false;
}

void CLeftView::OnCurrentChanged(const QModelIndex& current) {
    if (m_refreshing || m_takingFocus || !current.isValid()) return;
    const TreeNodeId node = m_model->NodeAt(current);
    emit NodeSelected(m_model->ImageOf(node) == kPlaceholderImage,
                      m_model->TextOf(node).toStdString(), m_model->UrlOf(node));
}

void CLeftView::ClearCurrentNode() {
    selectionModel()->clearSelection();
    selectionModel()->clearCurrentIndex();  // an invalid current lists nothing
}

bool CLeftView::ContextNodeIsFolder() const {
    return m_model->KindOf(m_contextNode) == FolderTreeModel::Kind::Folder &&
           m_model->Exists(m_contextNode);
}

void CLeftView::contextMenuEvent(QContextMenuEvent* event) {
    if (m_listBusy && m_listBusy()) return;
    m_contextNode = m_model->NodeAt(indexAt(event->pos()));
    const bool onFolder = m_contextNode != kTreeRoot &&
                          m_model->KindOf(m_contextNode) != FolderTreeModel::Kind::Category;
    emit ContextMenuWanted(onFolder, event->globalPos());
}

void CLeftView::mousePressEvent(QMouseEvent* event) {
    // A right click names the node for the menu; it does not select it (that
    // would list its contents and keep the menu away while listing).
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

DocEntryPtr CLeftView::ContextFolderEntry() const {
    if (!ContextNodeIsFolder()) return nullptr;
    return FolderEntryOf(m_contextNode);
}

DocEntryPtr CLeftView::FolderEntryOf(TreeNodeId node) const {
    const std::string url = m_model->UrlOf(node);
    return url.empty() ? nullptr : m_state->folders.FindByContentSrc(url);
}

void CLeftView::RefreshTree() {
    if ((m_listBusy && m_listBusy()) || m_state->treeBusy.exchange(true)) return;
    m_refreshing = true;
    ClearEntryList(m_state->folders);
    m_model->Clear();
    m_failedLoads.clear();
    m_rootFailure = kTreeRoot;
    m_refreshing = false;
    const TreeNodeId placeholder = m_model->AddPlaceholder(kTreeRoot, tr("Refreshing the tree..."));
    StartWorker(std::make_unique<TreeBlock>(
                    TreeBlock{m_state, m_state->calls, TreeViewPort(this), {}, placeholder}),
                TreeRefresher);
    m_contextNode = kTreeRoot;
}

void CLeftView::RenameContextNode() {
    if (m_contextNode == kTreeRoot || IsCategoryUrl(m_model->UrlOf(m_contextNode))) return;
    const QModelIndex index = m_model->IndexOf(m_contextNode);
    if (!index.isValid()) return;
    // Only the label is edited: making the node current would list the folder.
    edit(index);
}

void CLeftView::OnRenameRequested(TreeNodeId node, const QString& title) {
    const QString old = m_model->TextOf(node);
    // The editor starts from the shown text, control characters made visible.
    if (title.isEmpty() || title == old || title == VisibleText(old)) return;
    const std::string url = m_model->UrlOf(node);
    if (IsCategoryUrl(url)) return;
    const DocEntryPtr entry = FolderEntryOf(node);
    if (!entry) {
        // Built from a short id, not read from the service: nothing to ask it.
        FolderRenameFinished(node, title.toStdString());
        return;
    }
    struct Block {
        ServiceCalls calls;
        TreeViewPort tree;
        TreeNodeId node;
        std::string editHref;
        std::string title;
        std::string oldTitle;
    };
    StartWorker(
        std::make_unique<Block>(Block{m_state->calls, TreeViewPort(this), node,
                                      entry->editHref.value_or(std::string()), title.toStdString(),
                                      old.toStdString()}),
        [](Block& b) {
            std::optional<std::string> done;
            try {
                b.calls.renameEntry(b.editHref, b.title);
                done = b.title;
            } catch (const std::exception& e) {
                // The label keeps its old text; the user is told why.
                b.tree.FolderCommandFailed(
                    RenameFailure(QString::fromStdString(b.oldTitle), e.what()).toStdString());
            }
            b.tree.FolderRenameFinished(b.node, done);
        });
}

void CLeftView::FolderRenameFinished(TreeNodeId node, std::optional<std::string> title) {
    if (node == kTreeRoot || !title || !m_model->Exists(node)) return;
    m_model->SetText(node, QString::fromStdString(*title));
    emit FolderRenamed(*title, m_model->UrlOf(node));
}

void CLeftView::TrashContextNode() {
    if (m_contextNode == kTreeRoot || IsCategoryUrl(m_model->UrlOf(m_contextNode))) return;
    const DocEntryPtr entry = FolderEntryOf(m_contextNode);
    if (!entry || !entry->resourceId) return;
    struct Block {
        ServiceCalls calls;
        TreeViewPort tree;
        std::string resourceId;
        std::string title;
    };
    StartWorker(
        std::make_unique<Block>(Block{m_state->calls, TreeViewPort(this), *entry->resourceId,
                                      entry->title.value_or(std::string())}),
        [](Block& b) {
            try {
                b.calls.trashEntry(b.resourceId);
            } catch (const std::exception& e) {
                // Nothing changes; the user is told why.
                b.tree.FolderCommandFailed(EntryActionFailure(EntryAction::Trash,
                                                              QString::fromStdString(b.title),
                                                              e.what())
                                               .toStdString());
                return;
            }
            b.tree.FolderTrashed(b.resourceId);
        });
}

void CLeftView::FolderTrashed(const std::string& resourceId) {
    DeleteItemByResourceId(resourceId);
    emit FolderRemoved(resourceId);
}

void CLeftView::FolderRestored(const std::string& parentUrl, const std::string& title,
                               const std::string& url) {
    if (m_model->FindByUrl(url) != kTreeRoot) return;  // shown already
    AddFolderUnder(parentUrl, title, url);
}

void CLeftView::AddFolderUnder(const std::string& parentUrl, const std::string& title,
                               const std::string& url) {
    // The Root Folder has no node: its folders are the top level.
    const bool top = parentUrl.empty() || parentUrl == RootFolderUrl();
    const TreeNodeId parent = top ? kTreeRoot : m_model->FindByUrl(parentUrl);
    if (!top && parent == kTreeRoot) return;  // shown once its parent is read
    AddFolderToTreeView(FolderNodeBlock{parent, title, url});
}

void CLeftView::ExpandNodeOfUrl(const std::string& url) {
    const TreeNodeId node = m_model->FindByUrl(url);
    if (node != kTreeRoot) expand(m_model->IndexOf(node));
}

void CLeftView::SelectNodeOfUrl(const std::string& url) {
    const TreeNodeId node = m_model->FindByUrl(url);
    if (node == kTreeRoot) {
        // Also forget the current node, so that choosing it again counts.
        selectionModel()->clear();
        return;
    }
    const QModelIndex index = m_model->IndexOf(node);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

void CLeftView::SelectParentOfUrl(const std::string& url) {
    const TreeNodeId node = m_model->FindByUrl(url);
    if (node == kTreeRoot) return;
    const QModelIndex parent = m_model->IndexOf(node).parent();
    if (!parent.isValid()) return;  // a top-level folder or a category
    selectionModel()->setCurrentIndex(parent, QItemSelectionModel::ClearAndSelect);
    scrollTo(parent);
}

void CLeftView::AddFolderToTreeView(const FolderNodeBlock& block) {
    if (block.parent != kTreeRoot && !m_model->Exists(block.parent)) return;
    m_model->AddFolder(block.parent, QString::fromStdString(block.title), block.url);
}

void CLeftView::DeleteChildren(TreeNodeId node) {
    m_model->DeleteChildren(node);
}

void CLeftView::ChangeItemIcon(TreeNodeId node, int image) {
    if (node != kTreeRoot) m_model->SetImage(node, image, image);
}

void CLeftView::DeleteItemByResourceId(const std::string& resourceId) {
    const DocEntryPtr entry = m_state->folders.FindByResourceId(resourceId);
    if (!entry) return;
    const TreeNodeId node = m_model->FindByUrl(FolderContentsUrl(*entry));
    if (node != kTreeRoot) m_model->DeleteNode(node);
}

void CLeftView::DeleteItemByEditLink(const std::string& editHref) {
    const DocEntryPtr entry = m_state->folders.FindByEditHref(editHref);
    if (!entry) return;
    const TreeNodeId node = m_model->FindByUrl(FolderContentsUrl(*entry));
    if (node != kTreeRoot) m_model->DeleteNode(node);
}

void CLeftView::FolderNameChangedInList(const std::string& title, const std::string& url) {
    const TreeNodeId node = m_model->FindByUrl(url);
    if (node != kTreeRoot) m_model->SetText(node, QString::fromStdString(title));
}

void CLeftView::AddGeneralCategories() {
    m_model->AddCategories(CategoryTable());
}

void CLeftView::DeleteNode(TreeNodeId node) {
    m_model->DeleteNode(node);
}

void CLeftView::TreeRefreshFailed(const std::string& message) {
    emit ErrorMessage(QString::fromStdString(message));
}

void CLeftView::FolderCommandFailed(const std::string& text) {
    emit ErrorMessage(QString::fromStdString(text));
}

namespace {

QString LoadFailureText(const std::string& reason) {
    return CLeftView::tr("Not read (%1). Expand again or press F5.")
        .arg(reason.empty() ? CLeftView::tr("no reason given") : QString::fromStdString(reason));
}

}  // namespace

void CLeftView::FolderLoadFailed(TreeNodeId node, const std::string& reason) {
    if (node == kTreeRoot) {
        // The top level: one line in place of the folders, until read again.
        if (m_rootFailure != kTreeRoot) m_model->DeleteNode(m_rootFailure);
        m_rootFailure = m_model->AddPlaceholder(kTreeRoot, LoadFailureText(reason));
        return;
    }
    if (!m_model->Exists(node)) return;
    const QModelIndex index = m_model->IndexOf(node);
    const TreeNodeId placeholder = m_model->NodeAt(m_model->index(0, 0, index));
    if (placeholder != kTreeRoot && m_model->ImageOf(placeholder) == kPlaceholderImage)
        m_model->SetText(placeholder, LoadFailureText(reason));
    m_model->ClearExpanded(node);
    m_failedLoads.insert(node);
}

void CLeftView::RetryFailedLoads() {
    if (m_rootFailure != kTreeRoot) {
        m_model->DeleteNode(m_rootFailure);
        m_rootFailure = kTreeRoot;
        StartFolderLoader(RootFolderUrl(), kTreeRoot);
    }
    const std::set<TreeNodeId> failed = std::exchange(m_failedLoads, {});
    for (const TreeNodeId node : failed) {
        if (!m_model->Exists(node) || !m_model->MarkExpanded(node)) continue;
        ReadAgain(node);
    }
}

void CLeftView::ReadAgain(TreeNodeId node) {
    const QModelIndex index = m_model->IndexOf(node);
    const TreeNodeId placeholder = m_model->NodeAt(m_model->index(0, 0, index));
    if (placeholder != kTreeRoot && m_model->ImageOf(placeholder) == kPlaceholderImage)
        m_model->SetText(placeholder, FolderTreeModel::tr("loading items..."));
    StartFolderLoader(m_model->UrlOf(node), node);
}

}  // namespace tallowdesk::shell
