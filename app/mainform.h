#pragma once
// The main frame window: menus, tool buttons, status line, the project tree pane,
// the Output pane and the editor document windows in its client area. It wires
// the menus to the parts that do the work: the documents (documents.h), the
// compile (compilecontrol.h), the search in the project (searchcontrol.h) and
// the project (project.h, projectfile.h).
#include "ui_mainform.h"

#include "filedialog.h"
#include "outputpane.h"
#include "project.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class TCompileControl;
class TDocuments;
class TMDIChild;
class TRichEdit;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QMimeData;
class TRecentList;
class TRecovery;
class TFindDialog;
class TSearchControl;
class QLabel;
class QMenu;

class TMainForm : public QMainWindow, public Ui::TMainForm {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // The panes' sizes in the layout; the user may drag them to other sizes.
    static constexpr int TreeWidth = 137;
    static constexpr int OutputHeight = 112;

    // Components owned by the main window.
    // Every file dialog of the window asks through prompt (see TFileDialog::Prompt).
    void SetFilePrompt(const std::function<bool(TFileDialog &)> &prompt);
    TFileDialog OpenDialog{TFileDialog::Open};
    TFileDialog SaveDialog{TFileDialog::Save};
    TFileDialog OpenDialog1{TFileDialog::Open};
    TFileDialog SaveDialog1{TFileDialog::Save};
    QMenu *PopupMenu1 = nullptr;
    QAction *AddFile = nullptr;
    QAction *DelFile = nullptr;
    // The project that the tree shows and Compile, Build and the search read.
    project::Project CurrentProject;
    TDocuments *Docs = nullptr;
    TCompileControl *Compiler = nullptr;
    TSearchControl *Searcher = nullptr;
    // Keeps unsaved edits on disk; set up by the program at start-up (none in
    // a main window made without it).
    std::unique_ptr<TRecovery> Recovery;

    // Documents, most recently activated first.
    int MDIChildCount() const;
    TMDIChild *MDIChildren(int i) const;
    TMDIChild *ActiveMDIChild() const;

    void OpenDocument(const QString &path);
    void UpdateMenuItems();

    // The status line's text (the current long hint).
    QString StatusText() const;
    // The lasting field at the right of the status line: "行 N, 桁 M" of the
    // active document's caret (1-based; a full-width character takes two
    // columns), empty without a document.
    QLabel *CaretField = nullptr;
    void UpdateCaretField();

    // The line-number margin of every editor, off at first; checked in the
    // Window menu.
    QAction *LineNumbersItem = nullptr;
    void LineNumbersItemClick();
    // The next and the previous document window (Ctrl+Tab, Ctrl+Shift+Tab),
    // in the order of their last activation, as the window list shows them;
    // held Ctrl goes on through that order (TDocuments::StepWindow).
    QAction *NextWindowItem = nullptr;
    QAction *PrevWindowItem = nullptr;

    // Files and projects opened or saved lately, offered in the File menu's
    // two submenus.
    TRecentList *RecentFiles = nullptr;
    TRecentList *RecentProjects = nullptr;
    void NoteRecentFile(const QString &path);
    void NoteRecentProject(const QString &path);

    // Files given from outside (command line, dropped on the window): each
    // opens as a document, a ".prj" file as the project.
    void OpenFiles(const QStringList &paths);
    // The files among the program's arguments: all but options ("-x"); "--"
    // ends the options.
    static QStringList ArgumentFiles(const QStringList &arguments);
    // The files of a drag: its URLs when every one is a local file, else none.
    static QStringList LocalFiles(const QMimeData *mime);
    void OpenProject(const QString &path);

    // What the window remembers between runs (QSettings in the user's
    // configuration folder): geometry and state, the panes' sizes, whether the
    // document windows are maximised, the recent lists and the line-number
    // switch. A window that never read them writes nothing either.
    void RestoreSettings();
    void SaveSettings();

    // Document commands.
    void FileNewItemClick();
    void FileOpenItemClick();
    void FileCloseItemClick();
    void FileSaveItemClick();
    void FileSaveAsItemClick();
    // すべて保存 (Ctrl+Shift+S): every changed document (TDocuments::SaveAll).
    void FileSaveAllItemClick();
    void FileExitItemClick();
    void UndoItemClick();
    void RedoItemClick();
    void CutItemClick();
    void CopyItemClick();
    void PasteItemClick();
    void HelpAboutItemClick();

    // Find, replace and go to line in the active document. The find/replace
    // dialog is non-modal and made at its first use.
    void FindItemClick();
    void FindNextItemClick();
    void FindPrevItemClick();
    void ReplaceItemClick();
    void GoToLineItemClick();
    TFindDialog *FindDialog = nullptr;

    // Window arrangement.
    void WindowCascadeItemClick();
    void WindowTileItemClick();
    void WindowArrangeItemClick();
    void WindowMinimizeItemClick();

    // Project.
    void ProjNewItemClick();
    void ProjOpenItemClick();
    void ProjSaveItemClick();
    void AddFileClick();
    void DelFileClick();
    void TreeView1DblClick();

    // The build settings dialog.
    void ProjOptClick();

    // Asks whether to save changed documents and a changed project before the
    // main window closes: save / discard / cancel.
    bool CanClose();

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    static bool AcceptAsCopy(QDropEvent *event);
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SetUpLook();
    void SetUpDialogs();
    void SetUpTree();
    void ConnectCommands();
    void SetUpWindowMenu();
    void SetUpRecentLists();
    void FormCreate();
    void FormDestroy();
    // A hint in the status line; an empty one clears only a hint, never a
    // note that another part put there (such a note stays until something
    // else is shown).
    void ShowHint(const QString &longHint);
    bool HintShown = false;  // the status line shows a hint
    bool ShowingHint = false;
    void ActiveFormChange();
    void DocumentCreated(TMDIChild *doc);
    void WriteRecent();
    bool Remembering = false;
    QPointer<TRichEdit> WatchedEditor;

};
