#include "projecttree.h"

#include "pathext.h"  // ShortName

#include <QPalette>

namespace project {

namespace {

constexpr char kChangedProperty[] = "projectChanged";

// Labels are ordered case-sensitively by UTF-16 code unit: for the text a project
// holds that is code point order, the byte order of the Linux file names.
int CompareLabels(const QString &a, const QString &b) { return QString::compare(a, b, Qt::CaseSensitive); }

QTreeWidgetItem *SelectedNode(const QTreeWidget *tree) {
    const QList<QTreeWidgetItem *> sel = tree->selectedItems();
    return sel.isEmpty() ? nullptr : sel.first();
}

// Siblings stay sorted by label from index 1 on; only the node created last, at
// index 0, can be out of place. Moving it to the first place among the rest whose
// label is not smaller is exactly what a stable sort of the whole list would do,
// at the cost of one binary search.
void PlaceFirstChild(QTreeWidgetItem *parent) {
    const int n = parent->childCount();
    if (n < 2) return;
    QTreeWidgetItem *first = parent->child(0);
    const QString label = first->text(0);
    int lo = 1, hi = n;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (CompareLabels(parent->child(mid)->text(0), label) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    const int pos = lo - 1;  // its index once it has been taken out
    if (pos == 0) return;
    parent->takeChild(0);
    parent->insertChild(pos, first);
}

// Before a node is created, the nodes already in the tree are put in order. Only
// the first node has children, and the top level holds that one node in every
// tree the project commands build (each starts with ClearProject).
void SortNodes(QTreeWidget *tree) {
    if (tree->topLevelItemCount()) PlaceFirstChild(tree->topLevelItem(0));
}

QTreeWidgetItem *NewNode(const QString &label) {
    auto *node = new QTreeWidgetItem(QStringList{label});
    node->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return node;
}

}  // namespace

void ExpandAll(QTreeWidget *TreeView1) {
    // Only top-level nodes have children; expanding one that already is costs
    // nothing, where QTreeView::expandAll() lays out every row again.
    for (int i = 0; i < TreeView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem *top = TreeView1->topLevelItem(i);
        if (top->childCount() && !top->isExpanded()) top->setExpanded(true);
    }
}

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

void ClearProject(QTreeWidget *TreeView1) {
    TreeView1->clear();
    TreeView1->setCurrentItem(nullptr);
    SetProjectChanged(TreeView1, false);
    SetProjectCodes(TreeView1, sjis::CodeChoice());
}

namespace {
// The project file's codes, kept with the tree.
class TCodesHolder : public QObject {
public:
    TCodesHolder(QObject *tree, const sjis::CodeChoice &codes, const QHash<QString, QByteArray> &lines)
        : QObject(tree), Codes(codes), Lines(lines) {
        setObjectName(QStringLiteral("qv-project-codes"));
    }
    sjis::CodeChoice Codes;
    QHash<QString, QByteArray> Lines;
};

TCodesHolder *CodesOf(const QTreeWidget *TreeView1) {
    return TreeView1->findChild<TCodesHolder *>(QStringLiteral("qv-project-codes"), Qt::FindDirectChildrenOnly);
}
}  // namespace

sjis::CodeChoice ProjectCodes(const QTreeWidget *TreeView1) {
    const TCodesHolder *h = CodesOf(TreeView1);
    return h ? h->Codes : sjis::CodeChoice();
}

QHash<QString, QByteArray> ProjectLineBytes(const QTreeWidget *TreeView1) {
    const TCodesHolder *h = CodesOf(TreeView1);
    return h ? h->Lines : QHash<QString, QByteArray>();
}

void SetProjectCodes(QTreeWidget *TreeView1, const sjis::CodeChoice &codes, const QHash<QString, QByteArray> &lines) {
    delete CodesOf(TreeView1);
    if (!codes.isEmpty() || !lines.isEmpty()) new TCodesHolder(TreeView1, codes, lines);
}

// The flag lives on the tree, which is all there is of a project.
bool ProjectChanged(const QTreeWidget *TreeView1) { return TreeView1->property(kChangedProperty).toBool(); }

void SetProjectChanged(QTreeWidget *TreeView1, bool changed) { TreeView1->setProperty(kChangedProperty, changed); }

QTreeWidgetItem *CreateProjectNode(QTreeWidget *TreeView1, const QString &label) {
    SortNodes(TreeView1);
    QTreeWidgetItem *node = NewNode(label);
    TreeView1->addTopLevelItem(node);
    return node;
}

QTreeWidgetItem *CreateFileNode(QTreeWidget *TreeView1, const QString &label, const QString &path) {
    SortNodes(TreeView1);
    QTreeWidgetItem *node = NewNode(label);
    SetNodePath(node, path);
    if (TreeView1->topLevelItemCount() == 0)
        TreeView1->insertTopLevelItem(0, node);
    else
        TreeView1->topLevelItem(0)->insertChild(0, node);
    return node;
}

void AddFileClick(QTreeWidget *TreeView1, TFileDialog &OpenDialog, QWidget *parent) {
    if (!OpenDialog.Execute(parent)) return;
    const QString chosen = OpenDialog.FileName;
    // Paths name the same file only when they are equal: Linux file names are
    // case-sensitive, so a.c and A.c are two files.
    const int count = NodeCount(TreeView1);
    for (int i = 0; i < count; ++i) {
        QTreeWidgetItem *node = NodeAt(TreeView1, i);
        if (HasPath(node) && NodePath(node) == chosen) {
            TreeView1->setCurrentItem(node);
            return;
        }
    }
    QTreeWidgetItem *node = CreateFileNode(TreeView1, ShortName(chosen), chosen);
    SetProjectChanged(TreeView1, true);
    ExpandAll(TreeView1);
    TreeView1->setCurrentItem(node);
}

void DelFileClick(QTreeWidget *TreeView1) {
    QTreeWidgetItem *node = SelectedNode(TreeView1);
    if (!node || !HasPath(node)) return;
    const QString ext = PathExtension(NodePath(node));
    if (ext.compare(QLatin1String(".c"), Qt::CaseInsensitive) != 0 &&
        ext.compare(QLatin1String(".h"), Qt::CaseInsensitive) != 0)
        return;
    delete node;  // the nodes under it, and every path, go with it
    SetProjectChanged(TreeView1, true);
}

void TreeView1DblClick(QTreeWidget *TreeView1, const std::function<void(const QString &path)> &OpenDocument) {
    const QTreeWidgetItem *node = SelectedNode(TreeView1);
    if (!node || !HasPath(node) || !OpenDocument) return;
    const QString path = NodePath(node);  // a copy: the node may go while the document opens
    OpenDocument(path);
}

}  // namespace project
