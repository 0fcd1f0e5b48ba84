#pragma once
// The project tree TreeView1: a project node (node 0, top level, no path) and
// its file nodes (children, each with a full path). See projectnodes.h for how
// nodes are numbered and how a path is stored.
//
// Order: before a node is created the nodes already there are sorted by label
// (case-sensitive, ascending, ties keeping their order), then a file node goes
// first under the first node. So the file node created last stands first and the
// others follow in order: B.C, A.C, C.C show as C.C, A.C, B.C.
#include "pathext.h"
#include "filedialog.h"
#include "projectnodes.h"
#include "sjis.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <functional>

class QWidget;

namespace project {

// Settings the tree needs: one column, no header, labels not editable, indent 20,
// single selection that stays highlighted without the focus, no sorting by the view
// (the order is kept by CreateProjectNode/CreateFileNode).
void SetupTree(QTreeWidget *TreeView1);

// Removes every node (and with it every path). Afterwards there is no node and
// no selected node, and the project is unchanged.
void ClearProject(QTreeWidget *TreeView1);

// Whether the project's tree changed (Add file, Remove file) since the project
// was created, opened or saved.
bool ProjectChanged(const QTreeWidget *TreeView1);
void SetProjectChanged(QTreeWidget *TreeView1, bool changed);

// The codes that the project file uses for characters with more than one
// Shift-JIS code, so that Save project writes them back the same way; empty
// for a new project. ClearProject forgets them.
// Lines of the file that write a character with a code other than the file's
// choice for it (a file using two codes for one character): the label or path
// and its bytes, written back as they were while the text stays the same.
sjis::CodeChoice ProjectCodes(const QTreeWidget *TreeView1);
QHash<QString, QByteArray> ProjectLineBytes(const QTreeWidget *TreeView1);
void SetProjectCodes(QTreeWidget *TreeView1, const sjis::CodeChoice &codes,
                     const QHash<QString, QByteArray> &lines = {});

// A top-level node with the label and no path, after the existing top-level nodes.
QTreeWidgetItem *CreateProjectNode(QTreeWidget *TreeView1, const QString &label);

// A node with the label and the path, as the first child of the first node, or as
// the first top-level node when the tree is empty.
QTreeWidgetItem *CreateFileNode(QTreeWidget *TreeView1, const QString &label, const QString &path);

// Add file: asks OpenDialog for a file; a file already in the tree (same path,
// exactly) is selected, any other becomes a new file node labelled with its short
// name, expanded and selected.
void AddFileClick(QTreeWidget *TreeView1, TFileDialog &OpenDialog, QWidget *parent);

// Remove file: removes the selected node, with the nodes under it, when it has a
// path whose extension is ".c" or ".h" in any letter case; otherwise nothing.
void DelFileClick(QTreeWidget *TreeView1);

// Open from the tree: the selected node's path goes to OpenDocument.
void TreeView1DblClick(QTreeWidget *TreeView1, const std::function<void(const QString &path)> &OpenDocument);

// Expands every node (the tree has children only at the top level).
void ExpandAll(QTreeWidget *TreeView1);

using ::PathExtension;

}  // namespace project
