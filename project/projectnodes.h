#pragma once
// The project is the nodes of the tree control TreeView1, numbered depth first:
// node 0 is the first top-level node, nodes 1..n its children from the top down.
// A node's path is stored in the item's data (column 0, PathRole); a node has a
// path exactly when that data is valid.
#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace project {

constexpr int PathRole = Qt::UserRole + 1;

inline int NodeCount(const QTreeWidget *tree) {
    const QTreeWidgetItem *first = tree->topLevelItemCount() ? tree->topLevelItem(0) : nullptr;
    return first ? 1 + first->childCount() : 0;
}

// The node at index i (0 <= i < NodeCount), or nullptr.
inline QTreeWidgetItem *NodeAt(const QTreeWidget *tree, int i) {
    if (i < 0 || tree->topLevelItemCount() == 0) return nullptr;
    QTreeWidgetItem *first = tree->topLevelItem(0);
    if (i == 0) return first;
    return i - 1 < first->childCount() ? first->child(i - 1) : nullptr;
}

inline bool HasPath(const QTreeWidgetItem *node) { return node && node->data(0, PathRole).isValid(); }
inline QString NodePath(const QTreeWidgetItem *node) {
    return node ? node->data(0, PathRole).toString() : QString();
}
// The paths of the file nodes (1..n) that have one, in index order; the
// project node's path, if any, is not among them.
inline QStringList FilePaths(const QTreeWidget *tree) {
    QStringList paths;
    for (int i = 1; i < NodeCount(tree); ++i) {
        const QTreeWidgetItem *node = NodeAt(tree, i);
        if (HasPath(node)) paths.append(NodePath(node));
    }
    return paths;
}
inline void SetNodePath(QTreeWidgetItem *node, const QString &path) { node->setData(0, PathRole, path); }
inline void ClearNodePath(QTreeWidgetItem *node) { node->setData(0, PathRole, QVariant()); }

}  // namespace project
