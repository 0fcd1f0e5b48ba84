#pragma once
// The project file (.prj): Shift-JIS text lines
//   #QV:1
//   <project name>            the label of node 0
//   <label>                   then two lines for each node 1, 2, ... in index order
//   <path>
// written with CR LF line ends. The reader drops every CR byte and stops at a
// byte 26 (Ctrl-Z), so CR LF and LF files read alike. Lines are read whole, of
// any length. Bytes that are not valid Shift-JIS are kept as escaped bytes (see
// sjis.h) and written back as they came.
#include "filedialog.h"

#include <QList>
#include <QPair>
#include <QString>
#include <functional>

#include "sjis.h"

class QTreeWidget;
class QWidget;

namespace project {

struct ProjectData {
    QString name;
    QList<QPair<QString, QString>> files;  // (label, path), in the order of the file
    sjis::CodeChoice codes;                 // the file's codes for characters with more than one
    QHash<QString, QByteArray> lines;       // lines that use another code as well, and their bytes
};

enum class ReadStatus {
    Ok,
    CannotOpen,  // the file cannot be opened for reading
    Empty,       // no first line
    BadMagic,    // the first line is not "#QV:1" followed by a newline
    NoName,      // no second line
};

struct ReadResult {
    ReadStatus status = ReadStatus::CannotOpen;
    ProjectData data;           // complete only when status is Ok
    bool droppedLabel = false;  // the file ended after a label line; that label was left out
};

// The magic first line, without its newline.
inline constexpr char ProjectMagic[] = "#QV:1";

// Reads a project file. The first line is checked before the rest is read.
ReadResult ReadProjectFile(const QString &path);

// Writes node 0's label as the name, then the label and path of node 1 .. count-1,
// through a temporary file that replaces the old one only when it is complete.
// Throws EQvError, leaving the old file as it was: CannotCreate, or a label or
// path that Shift-JIS cannot hold or that holds a line break or a byte 26 (the
// message names it). An empty tree writes nothing.
void WriteProjectFile(const QString &path, const QTreeWidget *TreeView1);

// Builds the tree of a project that has been read: ClearProject, the project node,
// then each file node as the first child of the first node, as Open project does.
void BuildProjectTree(QTreeWidget *TreeView1, const ProjectData &data);

// The File menu's project commands. The project file name is SaveDialog1.FileName;
// ClearOutput (may be unset) empties the Output pane.
// Open project and New project ask first when the project has changes that
// would be lost (CanLeaveProject); Cancel keeps everything. An Open project that
// cannot read the chosen file leaves the tree empty and forgets the project
// file name.
void ProjOpenItemClick(QTreeWidget *TreeView1, const std::function<void()> &ClearOutput, TFileDialog &OpenDialog1,
                       TFileDialog &SaveDialog1, QWidget *parent);
// Opens the project file fileName as Open project does once a file is chosen;
// true when the project was read.
bool OpenProject(QTreeWidget *TreeView1, const QString &fileName, const std::function<void()> &ClearOutput,
                 TFileDialog &SaveDialog1, QWidget *parent);
// May throw EQvError (see WriteProjectFile); run it through Guarded(). A
// written project is unchanged again.
void ProjSaveItemClick(QTreeWidget *TreeView1, TFileDialog &SaveDialog1, QWidget *parent);
// Save project with its errors reported; true when the project was written.
bool SaveProject(QTreeWidget *TreeView1, TFileDialog &SaveDialog1, QWidget *parent);

// The project has changes that a save would keep: its tree changed since it was
// created, opened or saved, and it is not empty.
bool ProjectNeedsSaving(const QTreeWidget *TreeView1);
// The question "プロジェクト <name> への変更を保存しますか?" with Save, Discard
// and Cancel; returns QMessageBox::Save, Discard or Cancel.
int AskSaveProject(const QTreeWidget *TreeView1, QWidget *parent);
// Before the project is replaced or the program ends: true when nothing would be
// lost, or the user discards the changes, or saves them successfully; false on
// Cancel or when the save was cancelled or failed (the failure is reported).
bool CanLeaveProject(QTreeWidget *TreeView1, TFileDialog &SaveDialog1, QWidget *parent);
// Asks for a name in a fresh TNewProjDlg; on OK the tree becomes one project node
// and the project starts without a file name. The Output pane is cleared either
// way, unless the question about a changed project is cancelled.
void ProjNewItemClick(QTreeWidget *TreeView1, const std::function<void()> &ClearOutput, TFileDialog &SaveDialog1,
                      QWidget *parent);

// Before a file chosen in a save dialog is replaced: true when nothing is there
// yet, or the user answers Yes to "<path> は既に存在します。置き換えますか?"
// (No, the default, or closing the box: the old file stays and the save is
// cancelled). Save project asks it, and so do the document's save dialogs.
bool MayReplace(const QString &path, QWidget *parent);

// Titles, filter "Quelvaneプロジェクト(*.prj)|*.prj" and default extension "*.prj".
void SetupOpenDialog1(TFileDialog &OpenDialog1);
void SetupSaveDialog1(TFileDialog &SaveDialog1);

}  // namespace project
