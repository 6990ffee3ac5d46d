#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <QString>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "UiMessages.h"
#include "model/FeedCatalogue.h"

namespace tallowdesk::shell {

// Images of the folder tree strip: 0-9 the categories in table order.
enum TreeImage : int { kFolderImage = 10, kFolderOpenImage = 11, kPlaceholderImage = 12 };

// The icon-theme name of a tree image; empty for an unknown image.
QString TreeImageThemeName(int image);

// The folder tree's nodes: fixed categories, folders read lazily (each new
// folder gets a "loading items..." placeholder child until its sub-folders
// were read) and placeholders. Nodes are known to workers by id. A folder
// node owns a copy of its contents URL. UI thread only.
class FolderTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum class Kind { Category, Folder, Placeholder };

    explicit FolderTreeModel(QObject* parent = nullptr);
    ~FolderTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void SetImages(std::vector<QIcon> images) {
        m_images = std::move(images);
        m_composed.clear();
    }

    void AddCategories(const std::vector<Category>& table);
    // Inserted in name order after the categories, with its placeholder child.
    TreeNodeId AddFolder(TreeNodeId parent, const QString& title, const std::string& url);
    TreeNodeId AddPlaceholder(TreeNodeId parent, const QString& text);
    void DeleteChildren(TreeNodeId node);
    void DeleteNode(TreeNodeId node);
    void Clear();
    void SetImage(TreeNodeId node, int normal, int selected);
    void SetText(TreeNodeId node, const QString& text);

    // Depth-first, first match; kTreeRoot when none.
    TreeNodeId FindByUrl(const std::string& url) const;
    QModelIndex IndexOf(TreeNodeId node) const;
    TreeNodeId NodeAt(const QModelIndex& index) const;  // kTreeRoot for invalid
    bool Exists(TreeNodeId node) const { return m_nodes.count(node) != 0; }

    Kind KindOf(TreeNodeId node) const;
    QString TextOf(TreeNodeId node) const;
    std::string UrlOf(TreeNodeId node) const;
    int ImageOf(TreeNodeId node) const;
    // True the first time it is asked for a node.
    bool MarkExpanded(TreeNodeId node);
    // Its next expansion reads it again (a read that failed).
    void ClearExpanded(TreeNodeId node);
    // The folder a drag is over, drawn highlighted (kTreeRoot: none).
    void SetDropNode(TreeNodeId node);
    TreeNodeId DropNode() const { return m_dropNode; }

signals:
    // The user finished editing a folder label; nothing has changed yet.
    void RenameRequested(TreeNodeId node, const QString& newTitle);

private:
    struct Node;
    Node* Find(TreeNodeId id) const;
    Node* NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOf(const Node* node) const;
    TreeNodeId Insert(Node* parent, int row, std::unique_ptr<Node> node);
    void Forget(const Node& node);

    std::unique_ptr<Node> m_root;
    std::unordered_map<TreeNodeId, Node*> m_nodes;
    TreeNodeId m_nextId = 1;
    TreeNodeId m_dropNode = kTreeRoot;
    QIcon Image(int normal, int selected) const;

    std::vector<QIcon> m_images;
    mutable std::map<std::pair<int, int>, QIcon> m_composed;
};

}  // namespace tallowdesk::shell
