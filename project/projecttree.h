#pragma once
// The project tree TreeView1: the view of a Project (project.h). Node i of the
// project is the tree's node i in depth-first order: node 0 the first top-level
// item, nodes 1..n its children from the top down. The project commands change
// the project and keep the tree in step.
#include "filedialog.h"
#include "pathext.h"
#include "project.h"

#include <QTreeWidget>
#include <functional>

class QWidget;

namespace project {

// Settings the tree needs: one column, no header, labels not editable, indent 20,
// single selection that stays highlighted without the focus, no sorting by the view
// (the order is the project's).
void SetupTree(QTreeWidget *TreeView1);

// The tree shows `project` from scratch, every node expanded, none selected.
void ShowProject(QTreeWidget *TreeView1, const Project &project);

// The number of nodes the tree shows, and the item of node i (or nullptr).
int NodeCount(const QTreeWidget *TreeView1);
QTreeWidgetItem *NodeAt(const QTreeWidget *TreeView1, int i);
// The index of the selected node, or -1.
int SelectedIndex(const QTreeWidget *TreeView1);

// Add file: asks OpenDialog for a file; a file already in the project (same path,
// exactly) is selected, any other becomes a new file node labelled with its short
// name, expanded and selected, and the project has changed.
void AddFileClick(Project &project, QTreeWidget *TreeView1, TFileDialog &OpenDialog, QWidget *parent);

// Remove file: removes the selected node, with the nodes under it, when it has a
// path whose extension is ".c" or ".h" in any letter case; otherwise nothing.
void DelFileClick(Project &project, QTreeWidget *TreeView1);

// Open from the tree: the selected node's path goes to OpenDocument.
void TreeView1DblClick(const Project &project, const QTreeWidget *TreeView1,
                       const std::function<void(const QString &path)> &OpenDocument);

using ::PathExtension;

}  // namespace project
