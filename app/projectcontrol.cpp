#include "projectcontrol.h"

#include "errorreport.h"
#include "outputpane.h"
#include "projecttree.h"

#include <QAction>
#include <QEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QTreeWidget>

TProjectControl::TProjectControl(project::Project &project, QTreeWidget *tree, TOutputList *output, TDialogs dialogs,
                                 QWidget *window)
    : QObject(window), Project(project), TreeView1(tree), Output(output), Dialogs(dialogs), Window(window) {
    // The context menu's shortcuts act only while the tree has the keyboard
    // focus; the Project menu shows the same keys without taking them from
    // the editors.
    project::SetupTree(TreeView1);
    PopupMenu1 = new QMenu(TreeView1);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    AddFile = PopupMenu1->addAction(QStringLiteral("プロジェクトにファイルを追加"));
    AddFile->setObjectName(QStringLiteral("AddFile"));
    AddFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    DelFile = PopupMenu1->addAction(QStringLiteral("プロジェクトからファイル削除"));
    DelFile->setObjectName(QStringLiteral("DelFile"));
    DelFile->setShortcut(QKeySequence(Qt::Key_Delete));
    for (QAction *a : {AddFile, DelFile}) {
        a->setShortcutContext(Qt::WidgetShortcut);
        TreeView1->addAction(a);
    }
    connect(TreeView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->exec(TreeView1->viewport()->mapToGlobal(pos)); });
    // A double-click anywhere in the tree, on a node or beside the nodes,
    // acts on the selected node.
    TreeView1->viewport()->installEventFilter(this);
}

bool TProjectControl::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseButtonDblClick && watched == TreeView1->viewport())
        Guarded([this] { TreeView1DblClick(); }, Window);
    return QObject::eventFilter(watched, event);
}

void TProjectControl::ShowProject(const project::Project &project) { project::ShowProject(TreeView1, project); }

void TProjectControl::ClearOutput() { Output->clear(); }

void TProjectControl::NoteName() {
    if (OnNamed && !Dialogs.Save1.FileName.isEmpty()) OnNamed(Dialogs.Save1.FileName);
}

void TProjectControl::ProjNewItemClick() { project::ProjNewItemClick(Project, *this); }

void TProjectControl::ProjOpenItemClick() {
    project::ProjOpenItemClick(Project, *this);
    NoteName();
}

void TProjectControl::ProjSaveItemClick() {
    project::ProjSaveItemClick(Project, *this);
    if (QFileInfo::exists(Dialogs.Save1.FileName)) NoteName();
}

void TProjectControl::OpenProject(const QString &path) {
    if (project::OpenProject(Project, *this, path) && OnNamed) OnNamed(path);
}

void TProjectControl::AddFileClick() { project::AddFileClick(Project, TreeView1, Dialogs.Open, Window); }

void TProjectControl::DelFileClick() { project::DelFileClick(Project, TreeView1); }

void TProjectControl::TreeView1DblClick() { project::TreeView1DblClick(Project, TreeView1, OnOpenDocument); }

int TProjectControl::AskBeforeClosing() {
    if (!Project.NeedsSaving()) return QMessageBox::Discard;
    const int answer = project::AskSaveProject(Project, Window);
    return answer == QMessageBox::Save || answer == QMessageBox::Discard ? answer : QMessageBox::Cancel;
}

bool TProjectControl::Save() { return project::SaveProject(Project, *this); }
