#include "projectfile.h"

#include "newproj.h"
#include "qverror.h"

#include "errorreport.h"
#include "safewrite.h"

#include <QFile>
#include <QMessageBox>
#include <QPushButton>

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

void ProjOpenItemClick(Project &project, TProjectView &view) {
    if (!view.OpenDialog1().Execute(view.DialogParent())) {
        view.ClearOutput();
        return;
    }
    OpenProject(project, view, view.OpenDialog1().FileName);
}

bool OpenProject(Project &project, TProjectView &view, const QString &fileName) {
    if (!CanLeaveProject(project, view)) return false;
    // The previous project is gone from here on, whatever the file holds.
    ReadResult read = ReadProjectFile(fileName);
    project = read.status == ReadStatus::Ok ? std::move(read.project) : Project();
    view.ShowProject(project);
    if (read.status != ReadStatus::Ok) {
        // The project is empty: a Save project now must not write over the file
        // of the project that is gone.
        view.SaveDialog1().FileName.clear();
        return false;
    }
    view.SaveDialog1().FileName = fileName;
    view.ClearOutput();
    return true;
}

void ProjSaveItemClick(Project &project, TProjectView &view) {
    if (project.IsEmpty()) return;  // nothing to keep: no file, no dialog
    TFileDialog &SaveDialog1 = view.SaveDialog1();
    if (SaveDialog1.FileName.isEmpty()) {
        if (!SaveDialog1.Execute(view.DialogParent())) return;
        if (!MayReplace(SaveDialog1.FileName, view.DialogParent())) {
            // Not saved: the project still has no file of its own.
            SaveDialog1.FileName.clear();
            return;
        }
    }
    WriteProjectFile(SaveDialog1.FileName, project);
    project.Changed = false;
}

bool SaveProject(Project &project, TProjectView &view) {
    return Guarded([&] { ProjSaveItemClick(project, view); }, view.DialogParent()) && !project.NeedsSaving();
}

int AskSaveProject(const Project &project, QWidget *parent) {
    return AskSaveDiscardCancel(QStringLiteral("プロジェクト %1 への変更を保存しますか?").arg(project.Name()), parent);
}

bool CanLeaveProject(Project &project, TProjectView &view) {
    if (!project.NeedsSaving()) return true;
    switch (AskSaveProject(project, view.DialogParent())) {
    case QMessageBox::Save:
        return SaveProject(project, view);
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void ProjNewItemClick(Project &project, TProjectView &view) {
    {
        TNewProjDlg dlg(view.DialogParent());
        const int result = dlg.exec();
        if (result == QDialog::Accepted) {
            // Cancel in the question keeps everything, the Output pane too.
            if (!CanLeaveProject(project, view)) return;
            project = Project::Named(dlg.ProjName->text());
            view.ShowProject(project);
            // A new project has no file yet: the next Save project asks where to save.
            view.SaveDialog1().FileName.clear();
        }
    }
    view.ClearOutput();
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
