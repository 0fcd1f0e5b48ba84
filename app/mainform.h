#pragma once
// The main frame window: menus, tool buttons, status line, the project tree pane,
// the Output pane and the editor document windows in its client area. It wires
// the menus to the parts that do the work: the documents (documents.h), the
// compile (compilecontrol.h), the search in the project (searchcontrol.h), the
// project pane (projectcontrol.h), find and go to line (findcontrol.h), the
// status line (statusline.h), the Window menu (windowmenu.h), files from
// outside (filedrop.h) and what it remembers (windowsettings.h). Its own part
// is small: the enabled states of the document commands, the questions
// before it closes, and which part a file from outside goes to.
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
class TFileDrop;
class TFindControl;
class TMDIChild;
class TProjectControl;
class TRichEdit;
class TRecentList;
class TRecovery;
class TSearchControl;
class TStatusLine;
class TWindowMenu;
class TWindowSettings;

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
    // The project that the tree shows and Compile, Build and the search read.
    project::Project CurrentProject;
    TDocuments *Docs = nullptr;
    TCompileControl *Compiler = nullptr;
    TSearchControl *Searcher = nullptr;
    TProjectControl *ProjectPane = nullptr;
    TFindControl *Finder = nullptr;
    TStatusLine *Status = nullptr;
    TWindowMenu *WindowMenu = nullptr;
    TFileDrop *Drops = nullptr;
    // Keeps unsaved edits on disk; set up by the program at start-up (none in
    // a main window made without it).
    std::unique_ptr<TRecovery> Recovery;

    // Documents, most recently activated first.
    int MDIChildCount() const;
    TMDIChild *MDIChildren(int i) const;
    TMDIChild *ActiveMDIChild() const;

    void OpenDocument(const QString &path);
    void UpdateMenuItems();

    // The status line's text (the current long hint, or a note).
    QString StatusText() const;

    // Files and projects opened or saved lately, offered in the File menu's
    // two submenus.
    TRecentList *RecentFiles = nullptr;
    TRecentList *RecentProjects = nullptr;

    // Files given from outside (command line, dropped on the window): each
    // opens as a document, a ".prj" file as the project.
    void OpenFiles(const QStringList &paths);
    void OpenProject(const QString &path);

    // What the window remembers between runs (windowsettings.h).
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
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SetUpLook();
    void SetUpDialogs();
    void ConnectCommands();
    void SetUpRecentLists();
    void FormCreate();
    void FormDestroy();
    void ActiveFormChange();
    void DocumentCreated(TMDIChild *doc);
    std::unique_ptr<TWindowSettings> Remembered;
    QPointer<TRichEdit> WatchedEditor;
};
