#pragma once
// The project pane: the tree `TreeView1` that shows the main window's project,
// its context menu `PopupMenu1` (`AddFile`, `DelFile`), and the project
// commands of the File and Project menus (projectfile.h, projecttree.h). To
// those commands it is the window (project::TProjectView): its tree shows the
// project, the Output list empties, and the project file's dialogs ask.
// It calls down into project/ and the Output list, and up through its two
// callbacks only.
#include "projectfile.h"

#include <QObject>

#include <functional>

class QAction;
class QMenu;
class QTreeWidget;
class TOutputList;

class TProjectControl : public QObject, public project::TProjectView {
    Q_OBJECT
public:
    // The main window's dialogs: the one that Open and Add file share, and
    // the project file's two.
    struct TDialogs {
        TFileDialog &Open, &Open1, &Save1;
    };
    TProjectControl(project::Project &project, QTreeWidget *tree, TOutputList *output, TDialogs dialogs,
                    QWidget *window);

    QMenu *PopupMenu1 = nullptr;
    QAction *AddFile = nullptr;
    QAction *DelFile = nullptr;

    // A file of the project to open (the tree's double-click).
    std::function<void(const QString &path)> OnOpenDocument;
    // A project file was opened or saved under its name.
    std::function<void(const QString &path)> OnNamed;

    void ProjNewItemClick();
    void ProjOpenItemClick();
    void ProjSaveItemClick();
    void OpenProject(const QString &path);
    void AddFileClick();
    void DelFileClick();
    void TreeView1DblClick();

    // Before the main window closes: Save, Discard or Cancel for a project
    // with changes that would be lost (asked), Discard for any other.
    int AskBeforeClosing();
    // Save project, its errors reported: true when the project was written.
    bool Save();

    void ShowProject(const project::Project &project) override;
    void ClearOutput() override;
    TFileDialog &OpenDialog1() override { return Dialogs.Open1; }
    TFileDialog &SaveDialog1() override { return Dialogs.Save1; }
    QWidget *DialogParent() override { return Window; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void NoteName();

    project::Project &Project;
    QTreeWidget *const TreeView1;
    TOutputList *const Output;
    TDialogs Dialogs;
    QWidget *const Window;
};
