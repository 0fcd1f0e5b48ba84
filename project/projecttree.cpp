#include "projecttree.h"

#include "pathext.h"  // ShortName

#include <QPalette>

namespace project {

namespace {

QTreeWidgetItem *NewItem(const Node &node) {
    auto *item = new QTreeWidgetItem(QStringList{node.Label});
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

// Only the top-level item has children; expanding one that already is costs
// nothing, where QTreeView::expandAll() lays out every row again.
void ExpandAll(QTreeWidget *TreeView1) {
    for (int i = 0; i < TreeView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem *top = TreeView1->topLevelItem(i);
        if (top->childCount() && !top->isExpanded()) top->setExpanded(true);
    }
}

}  // namespace

void SetupTree(QTreeWidget *TreeView1) {
    TreeView1->setColumnCount(1);
    TreeView1->setHeaderHidden(true);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setIndentation(20);
    TreeView1->setSortingEnabled(false);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    TreeView1->setUniformRowHeights(true);
    // The selected node keeps its highlight when the tree loses the focus.
    QPalette pal = TreeView1->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    TreeView1->setPalette(pal);
}

void ShowProject(QTreeWidget *TreeView1, const Project &project) {
    TreeView1->clear();
    TreeView1->setCurrentItem(nullptr);
    if (project.IsEmpty()) return;
    QTreeWidgetItem *top = NewItem(project.Nodes[0]);
    QList<QTreeWidgetItem *> children;
    children.reserve(project.Count() - 1);
    for (int i = 1; i < project.Count(); ++i) children.append(NewItem(project.Nodes[i]));
    top->addChildren(children);
    TreeView1->addTopLevelItem(top);
    ExpandAll(TreeView1);
}

int NodeCount(const QTreeWidget *TreeView1) {
    const QTreeWidgetItem *first = TreeView1->topLevelItemCount() ? TreeView1->topLevelItem(0) : nullptr;
    return first ? 1 + first->childCount() : 0;
}

QTreeWidgetItem *NodeAt(const QTreeWidget *TreeView1, int i) {
    if (i < 0 || TreeView1->topLevelItemCount() == 0) return nullptr;
    QTreeWidgetItem *first = TreeView1->topLevelItem(0);
    if (i == 0) return first;
    return i - 1 < first->childCount() ? first->child(i - 1) : nullptr;
}

int SelectedIndex(const QTreeWidget *TreeView1) {
    const QList<QTreeWidgetItem *> sel = TreeView1->selectedItems();
    if (sel.isEmpty()) return -1;
    const QTreeWidgetItem *item = sel.first();
    if (!item->parent()) return TreeView1->indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(item)) == 0 ? 0 : -1;
    return item->parent() == NodeAt(TreeView1, 0) ? 1 + item->parent()->indexOfChild(const_cast<QTreeWidgetItem *>(item))
                                                  : -1;
}

void AddFileClick(Project &project, QTreeWidget *TreeView1, TFileDialog &OpenDialog, QWidget *parent) {
    if (!OpenDialog.Execute(parent)) return;
    const QString chosen = OpenDialog.FileName;
    if (const int known = project.IndexOfPath(chosen); known >= 0) {
        TreeView1->setCurrentItem(NodeAt(TreeView1, known));
        return;
    }
    int sortedTo = -1;
    const int at = project.AddFile(ShortName(chosen), chosen, &sortedTo);
    project.Changed = true;
    // The tree follows: the same move of the node that stood first, then the new node.
    QTreeWidgetItem *item = NewItem(project.Nodes[at]);
    if (at == 0) {
        TreeView1->insertTopLevelItem(0, item);
    } else {
        QTreeWidgetItem *top = NodeAt(TreeView1, 0);
        if (sortedTo > 0) top->insertChild(sortedTo - 1, top->takeChild(0));
        top->insertChild(0, item);
    }
    ExpandAll(TreeView1);
    TreeView1->setCurrentItem(item);
}

void DelFileClick(Project &project, QTreeWidget *TreeView1) {
    const int i = SelectedIndex(TreeView1);
    if (i < 0 || i >= project.Count() || !project.Nodes[i].HasPath) return;
    const QString ext = PathExtension(project.Nodes[i].Path);
    if (ext.compare(QLatin1String(".c"), Qt::CaseInsensitive) != 0 &&
        ext.compare(QLatin1String(".h"), Qt::CaseInsensitive) != 0)
        return;
    project.RemoveNode(i);
    delete NodeAt(TreeView1, i);  // the nodes under it go with it
    project.Changed = true;
}

void TreeView1DblClick(const Project &project, const QTreeWidget *TreeView1,
                       const std::function<void(const QString &path)> &OpenDocument) {
    const int i = SelectedIndex(TreeView1);
    if (i < 0 || i >= project.Count() || !project.Nodes[i].HasPath || !OpenDocument) return;
    const QString path = project.Nodes[i].Path;  // a copy: the node may go while the document opens
    OpenDocument(path);
}

}  // namespace project
