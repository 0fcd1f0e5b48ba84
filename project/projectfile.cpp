#include "projectfile.h"

#include "newproj.h"
#include "projecttree.h"
#include "qverror.h"

#include "errorreport.h"
#include "safewrite.h"

#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include <sys/stat.h>

namespace project {

namespace {
const QString kProjectFilter = QStringLiteral("Quelvaneプロジェクト(*.prj)|*.prj");
}  // namespace

ReadResult ReadProjectFile(const QString &path) {
    // Only a regular file is read (a FIFO would never end, a device would never
    // stop), and no further than its size when it was opened.
    QFile file;
    qint64 size = 0;
    try {
        size = OpenRegularFile(path, file);
    } catch (const EQvError &) {
        return ReadResult{};
    }
    return ReadProject(file, size);
}

void WriteProjectFile(const QString &path, const Project &project) {
    if (project.IsEmpty()) return;
    // Everything is encoded before the file is touched: a refused label or path
    // leaves the old file as it was.
    WriteWholeFile(path, ProjectBytes(project, path));
}

void ProjOpenItemClick(Project &project, QTreeWidget *TreeView1, const std::function<void()> &ClearOutput,
                       TFileDialog &OpenDialog1, TFileDialog &SaveDialog1, QWidget *parent) {
    if (!OpenDialog1.Execute(parent)) {
        if (ClearOutput) ClearOutput();
        return;
    }
    OpenProject(project, TreeView1, OpenDialog1.FileName, ClearOutput, SaveDialog1, parent);
}

bool OpenProject(Project &project, QTreeWidget *TreeView1, const QString &fileName,
                 const std::function<void()> &ClearOutput, TFileDialog &SaveDialog1, QWidget *parent) {
    if (!CanLeaveProject(project, SaveDialog1, parent)) return false;
    // The previous project is gone from here on, whatever the file holds.
    ReadResult read = ReadProjectFile(fileName);
    project = read.status == ReadStatus::Ok ? std::move(read.project) : Project();
    ShowProject(TreeView1, project);
    if (read.status != ReadStatus::Ok) {
        // The project is empty: a Save project now must not write over the file
        // of the project that is gone.
        SaveDialog1.FileName.clear();
        return false;
    }
    SaveDialog1.FileName = fileName;
    if (ClearOutput) ClearOutput();
    return true;
}

void ProjSaveItemClick(Project &project, TFileDialog &SaveDialog1, QWidget *parent) {
    if (project.IsEmpty()) return;  // nothing to keep: no file, no dialog
    if (SaveDialog1.FileName.isEmpty()) {
        if (!SaveDialog1.Execute(parent)) return;
        if (!MayReplace(SaveDialog1.FileName, parent)) {
            // Not saved: the project still has no file of its own.
            SaveDialog1.FileName.clear();
            return;
        }
    }
    WriteProjectFile(SaveDialog1.FileName, project);
    project.Changed = false;
}

bool SaveProject(Project &project, TFileDialog &SaveDialog1, QWidget *parent) {
    return Guarded([&] { ProjSaveItemClick(project, SaveDialog1, parent); }, parent) && !project.NeedsSaving();
}

int AskSaveProject(const Project &project, QWidget *parent) {
    return AskSaveDiscardCancel(QStringLiteral("プロジェクト %1 への変更を保存しますか?").arg(project.Name()), parent);
}

bool CanLeaveProject(Project &project, TFileDialog &SaveDialog1, QWidget *parent) {
    if (!project.NeedsSaving()) return true;
    switch (AskSaveProject(project, parent)) {
    case QMessageBox::Save:
        return SaveProject(project, SaveDialog1, parent);
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void ProjNewItemClick(Project &project, QTreeWidget *TreeView1, const std::function<void()> &ClearOutput,
                      TFileDialog &SaveDialog1, QWidget *parent) {
    {
        TNewProjDlg dlg(parent);
        const int result = dlg.exec();
        if (result == QDialog::Accepted) {
            // Cancel in the question keeps everything, the Output pane too.
            if (!CanLeaveProject(project, SaveDialog1, parent)) return;
            project = Project::Named(dlg.ProjName->text());
            ShowProject(TreeView1, project);
            // A new project has no file yet: the next Save project asks where to save.
            SaveDialog1.FileName.clear();
        }
    }
    if (ClearOutput) ClearOutput();
}

bool MayReplace(const QString &path, QWidget *parent) {
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quelvane"),
                    QStringLiteral("%1 は既に存在します。\n置き換えますか?").arg(path), QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setObjectName(QStringLiteral("ReplaceQuestion"));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void SetupOpenDialog1(TFileDialog &OpenDialog1) {
    OpenDialog1.DialogKind = TFileDialog::Open;
    OpenDialog1.Title = QStringLiteral("プロジェクトを開く");
    OpenDialog1.Filter = kProjectFilter;
    OpenDialog1.DefaultExt = QStringLiteral("*.prj");
    OpenDialog1.FileMustExist = false;
    OpenDialog1.OverwritePrompt = false;
}

void SetupSaveDialog1(TFileDialog &SaveDialog1) {
    SaveDialog1.DialogKind = TFileDialog::Save;
    SaveDialog1.Title.clear();
    SaveDialog1.Filter = kProjectFilter;
    SaveDialog1.DefaultExt = QStringLiteral("*.prj");
    SaveDialog1.FileMustExist = false;
    SaveDialog1.OverwritePrompt = false;
}

}  // namespace project
