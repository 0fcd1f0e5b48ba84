#pragma once
// The project as a value: its nodes, the codes its file uses and whether it
// changed. The tree pane shows it (projecttree.h); Compile, Build, project
// search and the project file read it. QtCore only.
//
// Nodes are numbered depth first: node 0 is the first node, at the top level
// (the project node, with a name and no path, or the file added to an empty
// project, with a path); nodes 1..n are its children from the top down, each
// with a path.
//
// Order: before a node is created the nodes already there are sorted by label
// (case-sensitive, ascending, ties keeping their order), then a file node goes
// first under the first node. So the file node created last stands first and the
// others follow in order: B.C, A.C, C.C show as C.C, A.C, B.C.
//
// The project file (.prj): Shift-JIS text lines
//   #QV:1
//   <project name>            the label of node 0
//   <label>                   then two lines for each node 1, 2, ... in index order
//   <path>
// written with CR LF line ends. The reader drops every CR byte and stops at a
// byte 26 (Ctrl-Z), so CR LF and LF files read alike. Lines are read whole, of
// any length. Bytes that are not valid Shift-JIS are kept as escaped bytes (see
// sjis.h) and written back as they came.
#include "sjis.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

namespace project {

struct Node {
    QString Label;
    QString Path;
    bool HasPath = false;
    friend bool operator==(const Node &a, const Node &b) {
        return a.Label == b.Label && a.HasPath == b.HasPath && (!a.HasPath || a.Path == b.Path);
    }
};

class Project {
public:
    // The nodes in index order.
    QList<Node> Nodes;
    // The codes that the project file uses for characters with more than one
    // Shift-JIS code, so that Save project writes them back the same way; empty
    // for a new project. Lines of the file that write a character with a code
    // other than the file's choice for it: the label or path and its bytes,
    // written back as they were while the text stays the same.
    sjis::CodeChoice Codes;
    QHash<QString, QByteArray> Lines;
    // Add file or Remove file changed it since it was created, opened or saved.
    bool Changed = false;

    int Count() const { return int(Nodes.size()); }
    bool IsEmpty() const { return Nodes.isEmpty(); }
    // Node 0's label; empty without a node.
    QString Name() const { return Nodes.isEmpty() ? QString() : Nodes.first().Label; }
    // The paths of the file nodes (1..n), in index order.
    QStringList FilePaths() const;
    // The first node whose path equals `path` exactly, or -1.
    int IndexOfPath(const QString &path) const;
    // Changes that a save would keep: it changed, and it is not empty.
    bool NeedsSaving() const { return Changed && !Nodes.isEmpty(); }

    // A project with the one node `name`, no path, unchanged, no codes.
    static Project Named(const QString &name);
    // Creates a file node as the first child of the first node (as the first
    // node itself when there is none), after the sort; its index, 1 (or 0).
    // `sortedTo` gets where the sort moved the node that stood first under the
    // first node (-1: it stayed), for a view that follows.
    int AddFile(const QString &label, const QString &path, int *sortedTo = nullptr);
    // Removes node i with the nodes under it (node 0 takes every node along).
    // Nothing for an index out of range.
    void RemoveNode(int i);
};

// Sorts siblings 1..n the way creating a node does; only the node at index 1
// can be out of place. The index it moved to, or -1 when it stayed.
int PlaceFirstChild(QList<Node> &nodes);

// ---- The project file --------------------------------------------------------

enum class ReadStatus {
    Ok,
    CannotOpen,  // the file cannot be opened for reading
    Empty,       // no first line
    BadMagic,    // the first line is not "#QV:1" followed by a newline
    NoName,      // no second line
};

struct ReadResult {
    ReadStatus status = ReadStatus::CannotOpen;
    Project project;            // complete only when status is Ok; unchanged
    bool droppedLabel = false;  // the file ended after a label line; that label was left out
};

// The magic first line, without its newline.
inline constexpr char ProjectMagic[] = "#QV:1";

// Reads the lines of a project from `in`, no further than `size` bytes. The
// first line is checked before the rest is read. File nodes are created in the
// file's order, each as the first child of the first node.
ReadResult ReadProject(QIODevice &in, qint64 size);
ReadResult ReadProjectBytes(const QByteArray &bytes);

// The bytes of the project file: node 0's label as the name, then the label and
// path of node 1 .. count-1. Throws EQvError for a label or path that Shift-JIS
// cannot hold or that holds a line break or a byte 26 (the message names it and
// `fileName`). An empty project has no bytes.
QByteArray ProjectBytes(const Project &project, const QString &fileName);

}  // namespace project
