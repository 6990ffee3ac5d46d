#include "FolderTreeModel.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPalette>
#include <iterator>

#include "VisibleText.h"

namespace tallowdesk::shell {
namespace {

// The category labels of the core's table, marked for translation here: the
// nodes keep the label itself, which navigation compares; only the shown
// text is translated.
[[maybe_unused]] constexpr const char* kCategoryLabels[] = {
    QT_TRANSLATE_NOOP("FeedCatalogue", " Latest 100 items"),
    QT_TRANSLATE_NOOP("FeedCatalogue", " All items(folders included)"),
    QT_TRANSLATE_NOOP("FeedCatalogue", " Owned by me"),
    QT_TRANSLATE_NOOP("FeedCatalogue", " Shared with me"),
    QT_TRANSLATE_NOOP("FeedCatalogue", " Starred"),
    QT_TRANSLATE_NOOP("FeedCatalogue", " Trash"),
    QT_TRANSLATE_NOOP("FeedCatalogue", " Documents"),
    QT_TRANSLATE_NOOP("FeedCatalogue", " Presentations"),
    QT_TRANSLATE_NOOP("FeedCatalogue", " Spreadsheets"),
    QT_TRANSLATE_NOOP("FeedCatalogue", " Drawings"),
};

}  // namespace

struct FolderTreeModel::Node {
    TreeNodeId id = kTreeRoot;
    Kind kind = Kind::Folder;
    QString text;
    std::string url;
    int image = kFolderImage;
    int selectedImage = kFolderOpenImage;
    bool expandedOnce = false;
    Node* parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;

    int Row() const {
        if (!parent) return 0;
        for (std::size_t i = 0; i < parent->children.size(); ++i)
            if (parent->children[i].get() == this) return static_cast<int>(i);
        return -1;
    }
};

FolderTreeModel::FolderTreeModel(QObject* parent)
    : QAbstractItemModel(parent), m_root(std::make_unique<Node>()) {}

FolderTreeModel::~FolderTreeModel() = default;

FolderTreeModel::Node* FolderTreeModel::Find(TreeNodeId id) const {
    if (id == kTreeRoot) return m_root.get();
    const auto it = m_nodes.find(id);
    return it == m_nodes.end() ? nullptr : it->second;
}

FolderTreeModel::Node* FolderTreeModel::NodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : m_root.get();
}

QModelIndex FolderTreeModel::IndexOf(const Node* node) const {
    if (!node || node == m_root.get()) return {};
    return createIndex(node->Row(), 0, node);
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    const Node* p = NodeOf(parent);
    if (static_cast<std::size_t>(row) >= p->children.size()) return {};
    return createIndex(row, 0, p->children[static_cast<std::size_t>(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    return IndexOf(NodeOf(child)->parent);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    return static_cast<int>(NodeOf(parent)->children.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
    const Node* n = NodeOf(index);
    switch (role) {
        case Qt::DisplayRole:
            if (n->kind == Kind::Category)
                return QCoreApplication::translate("FeedCatalogue", n->text.toUtf8().constData());
            return VisibleText(n->text);
        case Qt::EditRole:
            return VisibleText(n->text);
        case Qt::AccessibleTextRole:
            // The leading blank of the category labels sorts them first; read
            // aloud it is noise.
            return data(index, Qt::DisplayRole).toString().trimmed();
        case Qt::DecorationRole:
            return Image(n->image, n->selectedImage);
        case Qt::BackgroundRole:
            return n->id == m_dropNode && n->id != kTreeRoot
                       ? QVariant(QGuiApplication::palette().highlight())
                       : QVariant();
        case Qt::ForegroundRole:
            return n->id == m_dropNode && n->id != kTreeRoot
                       ? QVariant(QGuiApplication::palette().highlightedText())
                       : QVariant();
        default:
            return {};
    }
}

void FolderTreeModel::SetDropNode(TreeNodeId node) {
    if (node == m_dropNode) return;
    const TreeNodeId old = m_dropNode;
    m_dropNode = Exists(node) ? node : kTreeRoot;
    for (const TreeNodeId n : {old, m_dropNode}) {
        if (n == kTreeRoot || !Exists(n)) continue;
        const QModelIndex at = IndexOf(n);
        emit dataChanged(at, at, {Qt::BackgroundRole, Qt::ForegroundRole});
    }
}

QString TreeImageThemeName(int image) {
    // Categories in table order, then folder, open folder, placeholder.
    static const char* const kNames[] = {"document-open-recent",
                                         "folder-documents",
                                         "avatar-default",
                                         "emblem-shared",
                                         "starred",
                                         "user-trash",
                                         "x-office-document",
                                         "x-office-presentation",
                                         "x-office-spreadsheet",
                                         "x-office-drawing",
                                         "folder",
                                         "folder-open",
                                         "image-loading"};
    if (image < 0 || image >= static_cast<int>(std::size(kNames))) return {};
    return QString::fromLatin1(kNames[image]);
}

QIcon FolderTreeModel::Image(int normal, int selected) const {
    const auto n = static_cast<std::size_t>(normal);
    const auto sel = static_cast<std::size_t>(selected);
    if (normal < 0 || n >= m_images.size()) return {};
    if (selected == normal || selected < 0 || sel >= m_images.size()) return m_images[n];
    // Composed once per pair: a themed icon offers many sizes, and the view
    // asks for decorations on every paint.
    QIcon& icon = m_composed[{normal, selected}];
    if (icon.isNull()) {
        for (const int side : {16, 22, 24, 32}) {
            const QSize size(side, side);
            icon.addPixmap(m_images[n].pixmap(size), QIcon::Normal);
            icon.addPixmap(m_images[sel].pixmap(size), QIcon::Selected);
        }
    }
    return icon;
}

bool FolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid)) return false;
    const Node* n = NodeOf(index);
    if (n->kind != Kind::Folder) return false;
    // The label changes only once the service has accepted the new name.
    emit RenameRequested(n->id, value.toString());
    return false;
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (NodeOf(index)->kind == Kind::Folder) f |= Qt::ItemIsEditable;
    return f;
}

TreeNodeId FolderTreeModel::Insert(Node* parent, int row, std::unique_ptr<Node> node) {
    node->id = m_nextId++;
    node->parent = parent;
    const TreeNodeId id = node->id;
    beginInsertRows(IndexOf(parent), row, row);
    m_nodes[id] = node.get();
    parent->children.insert(parent->children.begin() + row, std::move(node));
    endInsertRows();
    return id;
}

void FolderTreeModel::AddCategories(const std::vector<Category>& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        auto node = std::make_unique<Node>();
        node->kind = Kind::Category;
        node->text = QString::fromStdString(table[i].label);
        node->url = table[i].url;
        node->image = node->selectedImage = static_cast<int>(i);
        Insert(m_root.get(), rowCount(), std::move(node));
    }
}

TreeNodeId FolderTreeModel::AddFolder(TreeNodeId parentId, const QString& title,
                                      const std::string& url) {
    Node* parent = Find(parentId);
    if (!parent) return kTreeRoot;
    // Categories stay on top; folders go in name order among themselves.
    int row = 0;
    const int count = static_cast<int>(parent->children.size());
    while (row < count && parent->children[static_cast<std::size_t>(row)]->kind == Kind::Category)
        ++row;
    while (row < count) {
        const Node& sibling = *parent->children[static_cast<std::size_t>(row)];
        if (QString::localeAwareCompare(sibling.text.toCaseFolded(), title.toCaseFolded()) > 0)
            break;
        ++row;
    }
    auto node = std::make_unique<Node>();
    node->kind = Kind::Folder;
    node->text = title;
    node->url = url;
    const TreeNodeId id = Insert(parent, row, std::move(node));
    AddPlaceholder(id, tr("loading items..."));
    return id;
}

TreeNodeId FolderTreeModel::AddPlaceholder(TreeNodeId parentId, const QString& text) {
    Node* parent = Find(parentId);
    if (!parent) return kTreeRoot;
    auto node = std::make_unique<Node>();
    node->kind = Kind::Placeholder;
    node->text = text;
    node->image = node->selectedImage = kPlaceholderImage;
    return Insert(parent, rowCount(IndexOf(parent)), std::move(node));
}

void FolderTreeModel::Forget(const Node& node) {
    for (const auto& child : node.children) Forget(*child);
    if (node.id == m_dropNode) m_dropNode = kTreeRoot;
    m_nodes.erase(node.id);
}

void FolderTreeModel::DeleteChildren(TreeNodeId id) {
    Node* node = Find(id);
    if (!node || node->children.empty()) return;
    beginRemoveRows(IndexOf(node), 0, static_cast<int>(node->children.size()) - 1);
    for (const auto& child : node->children) Forget(*child);
    node->children.clear();
    endRemoveRows();
}

void FolderTreeModel::DeleteNode(TreeNodeId id) {
    Node* node = Find(id);
    if (!node || node == m_root.get()) return;
    Node* parent = node->parent;
    const int row = node->Row();
    beginRemoveRows(IndexOf(parent), row, row);
    Forget(*node);
    parent->children.erase(parent->children.begin() + row);
    endRemoveRows();
}

void FolderTreeModel::Clear() {
    beginResetModel();
    m_root->children.clear();
    m_nodes.clear();
    endResetModel();
}

void FolderTreeModel::SetImage(TreeNodeId id, int normal, int selected) {
    Node* node = Find(id);
    if (!node || node == m_root.get()) return;
    node->image = normal;
    node->selectedImage = selected;
    const QModelIndex i = IndexOf(node);
    emit dataChanged(i, i, {Qt::DecorationRole});
}

void FolderTreeModel::SetText(TreeNodeId id, const QString& text) {
    Node* node = Find(id);
    if (!node || node == m_root.get()) return;
    node->text = text;
    const QModelIndex i = IndexOf(node);
    emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
}

TreeNodeId FolderTreeModel::FindByUrl(const std::string& url) const {
    std::vector<const Node*> stack;
    for (auto it = m_root->children.rbegin(); it != m_root->children.rend(); ++it)
        stack.push_back(it->get());
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (n->kind != Kind::Placeholder && n->url == url) return n->id;
        for (auto it = n->children.rbegin(); it != n->children.rend(); ++it)
            stack.push_back(it->get());
    }
    return kTreeRoot;
}

QModelIndex FolderTreeModel::IndexOf(TreeNodeId id) const {
    return id == kTreeRoot ? QModelIndex() : IndexOf(Find(id));
}

TreeNodeId FolderTreeModel::NodeAt(const QModelIndex& index) const {
    return index.isValid() && index.model() == this ? NodeOf(index)->id : kTreeRoot;
}

FolderTreeModel::Kind FolderTreeModel::KindOf(TreeNodeId id) const {
    const Node* n = Find(id);
    return n ? n->kind : Kind::Placeholder;
}

QString FolderTreeModel::TextOf(TreeNodeId id) const {
    const Node* n = Find(id);
    return n ? n->text : QString();
}

std::string FolderTreeModel::UrlOf(TreeNodeId id) const {
    const Node* n = Find(id);
    return n ? n->url : std::string();
}

int FolderTreeModel::ImageOf(TreeNodeId id) const {
    const Node* n = Find(id);
    return n ? n->image : -1;
}

bool FolderTreeModel::MarkExpanded(TreeNodeId id) {
    Node* n = Find(id);
    if (!n || n->expandedOnce) return false;
    n->expandedOnce = true;
    return true;
}

void FolderTreeModel::ClearExpanded(TreeNodeId id) {
    if (Node* n = Find(id)) n->expandedOnce = false;
}

}  // namespace tallowdesk::shell
