#pragma once
// The File menu's project commands and the project file on disk (its format:
// project.h).
#include "filedialog.h"

#include "project.h"

#include <QString>

class QWidget;

namespace project {

// Reads a project file (ReadProject); a FIFO or a device is not read.
ReadResult ReadProjectFile(const QString &path);

// Writes ProjectBytes through a temporary file that replaces the old one only
// when it is complete. Throws EQvError, leaving the old file as it was:
// CannotCreate, or what ProjectBytes refuses. An empty project writes nothing.
void WriteProjectFile(const QString &path, const Project &project);

// What the project commands need of the window that shows the project: its
// tree shows a project anew, its Output pane empties, the dialogs that ask for
// a project file (SaveDialog1's FileName is the project file name), and the
// parent of the questions. The main window is the one the program has.
class TProjectView {
public:
    virtual void ShowProject(const Project &project) = 0;
    virtual void ClearOutput() = 0;
    virtual TFileDialog &OpenDialog1() = 0;
    virtual TFileDialog &SaveDialog1() = 0;
    virtual QWidget *DialogParent() = 0;

protected:
    ~TProjectView() = default;
};

// The File menu's project commands change `project` and show it in `view`.
// Open project and New project ask first when the project has changes that
// would be lost (CanLeaveProject); Cancel keeps everything. An Open project that
// cannot read the chosen file leaves the project empty and forgets the project
// file name.
void ProjOpenItemClick(Project &project, TProjectView &view);
// Opens the project file fileName as Open project does once a file is chosen;
// true when the project was read.
bool OpenProject(Project &project, TProjectView &view, const QString &fileName);
// May throw EQvError (see WriteProjectFile); run it through Guarded(). A
// written project is unchanged again.
void ProjSaveItemClick(Project &project, TProjectView &view);
// Save project with its errors reported; true when the project was written.
bool SaveProject(Project &project, TProjectView &view);

// The question "プロジェクト <name> への変更を保存しますか?" with Save, Discard
// and Cancel; returns QMessageBox::Save, Discard or Cancel.
int AskSaveProject(const Project &project, QWidget *parent);
// Before the project is replaced or the program ends: true when nothing would be
// lost, or the user discards the changes, or saves them successfully; false on
// Cancel or when the save was cancelled or failed (the failure is reported).
bool CanLeaveProject(Project &project, TProjectView &view);
// Asks for a name in a fresh TNewProjDlg; on OK the project becomes one project node
// and the project starts without a file name. The Output pane is cleared either
// way, unless the question about a changed project is cancelled.
void ProjNewItemClick(Project &project, TProjectView &view);

// Before a file chosen in a save dialog is replaced: true when nothing is there
// yet, or the user answers Yes to "<path> は既に存在します。置き換えますか?"
// (No, the default, or closing the box: the old file stays and the save is
// cancelled). Save project asks it, and so do the document's save dialogs.
bool MayReplace(const QString &path, QWidget *parent);

// Titles, filter "Quelvaneプロジェクト(*.prj)|*.prj" and default extension "*.prj".
void SetupOpenDialog1(TFileDialog &OpenDialog1);
void SetupSaveDialog1(TFileDialog &SaveDialog1);

}  // namespace project
