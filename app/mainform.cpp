#include "mainform.h"

#include "appearance.h"
#include "childwin.h"
#include "compilecontrol.h"
#include "documents.h"
#include "errorreport.h"
#include "filedrop.h"
#include "filewatch.h"
#include "findcontrol.h"
#include "fontsubst.h"
#include "option.h"
#include "projectcontrol.h"
#include "recentlist.h"
#include "recovery.h"
#include "searchcontrol.h"
#include "statusline.h"
#include "windowmenu.h"
#include "windowsettings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QStatusTipEvent>

namespace {

QFont pixelFont(const QString &family, int pixels) {
    QFont f(family);
    f.setPixelSize(pixels);
    return f;
}

// Runs a handler; an error it raises goes to the application's error report.
template <class F>
auto guard(TMainForm *form, F handler) {
    return [form, handler] { Guarded([&] { (form->*handler)(); }, form); };
}
template <class T>
std::function<void()> guard(QWidget *window, T *object, void (T::*handler)()) {
    return [window, object, handler] { Guarded([&] { (object->*handler)(); }, window); };
}

}  // namespace

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent) {
    qvfonts::InstallSubstitutes();
    setupUi(this);
    setFont(pixelFont(QStringLiteral("ＭＳ Ｐゴシック"), 12));
    Panel1->Setup();
    Status = new TStatusLine(StatusBar);
    Docs = new TDocuments(ClientArea, StatusBar, this);
    Docs->SaveDialog = &SaveDialog;
    Docs->OnCreated = [this](TMDIChild *doc) { DocumentCreated(doc); };
    Docs->OnNamed = [this](const QString &path) { RecentFiles->Note(path); };
    Docs->OnChanged = [this] { ActiveFormChange(); };
    Compiler = new TCompileControl(*Docs, *Panel1, CurrentProject,
                                   {Compile, Build, ReBuild, StopCompile, Run, DosBoxRun}, this);
    Compiler->ProjectFileName = [this] { return SaveDialog1.FileName; };
    Searcher = new TSearchControl(*Docs, *Panel1, CurrentProject, ProjFindStopItem, StatusBar, this);
    ProjectPane = new TProjectControl(CurrentProject, TreeView1, Output, {OpenDialog, OpenDialog1, SaveDialog1}, this);
    ProjectPane->OnOpenDocument = [this](const QString &path) { OpenDocument(path); };
    ProjectPane->OnNamed = [this](const QString &path) { RecentProjects->Note(path); };
    Finder = new TFindControl(*Docs, FindNextItem, FindPrevItem, StatusBar, this);
    WindowMenu = new TWindowMenu(Window1, *Docs, ClientArea, this);
    WindowMenu->OnLineNumbers = [this](bool shown) { Remembered->WriteLineNumbers(shown); };
    // Files dropped on the window open as from the File menu.
    Drops = new TFileDrop(this, [this](const QStringList &paths) { OpenFiles(paths); });
    SetUpLook();
    SetUpDialogs();
    ConnectCommands();
    SetUpRecentLists();
    Remembered = std::make_unique<TWindowSettings>(TWindowSettings::TParts{
        this, TreeSplitter, PaneSplitter, Docs, RecentFiles, RecentProjects, WindowMenu->LineNumbersItem});

    // Half-width katakana captions set close, in the menu bar and the menus.
    QStyle *kana = appearance::KanaMarkStyle(this);
    MainMenu1->setStyle(kana);
    for (QMenu *menu : findChildren<QMenu *>()) menu->setStyle(kana);

    FormCreate();
}

// Hints, glyphs and the panes' first sizes.
void TMainForm::SetUpLook() {
    // Top-level menus show their hints while highlighted.
    for (QMenu *menu : {File1, Edit1, Proj, Window1, Help1}) menu->menuAction()->setStatusTip(menu->statusTip());

    // Tool buttons: the program's own glyphs, greyed when disabled; the short hint
    // as tip, the long one for the status line.
    const std::pair<QToolButton *, const char *> glyphs[] = {
        {OpenBtn, "open"}, {SaveBtn, "save"},   {CutBtn, "cut"},
        {CopyBtn, "copy"}, {PasteBtn, "paste"}, {ExitBtn, "exit"}, {RunBtn, "run"},
    };
    for (const auto &[button, name] : glyphs) button->setIcon(appearance::ToolGlyph(QString::fromLatin1(name)));
    setWindowIcon(appearance::ProgramIcon());

    // The project tree and the Output pane start at their layout sizes (137 wide,
    // 112 high) and keep them when the window is resized; the user drags the
    // borders between the panes to change them.
    TreeSplitter->setStretchFactor(0, 0);
    TreeSplitter->setStretchFactor(1, 1);
    TreeSplitter->setSizes({TreeWidth, width() - TreeWidth});
    PaneSplitter->setStretchFactor(0, 1);
    PaneSplitter->setStretchFactor(1, 0);
    PaneSplitter->setSizes({height() - OutputHeight, OutputHeight});
}

// The file dialogs of documents and projects.
void TMainForm::SetUpDialogs() {
    // File dialogs for documents.
    const QString cFilter = QStringLiteral("Cソースファイル(*.c)|*.c|Cヘッダファイル(*.h)|*.h|すべてのファイル(*.*)|*.*");
    OpenDialog.Title = QStringLiteral("ファイル読み込み");
    OpenDialog.DefaultExt = QStringLiteral("*.c");
    OpenDialog.Filter = cFilter;
    OpenDialog.FileMustExist = true;
    SaveDialog.Title = QStringLiteral("ファイル保存");
    SaveDialog.DefaultExt = QStringLiteral("*.c");
    SaveDialog.Filter = cFilter;
    // The question before an existing file is replaced comes after the dialog
    // (project::MayReplace), where No cancels the save.
    SaveDialog.OverwritePrompt = false;
    SaveDialog.FileName = QStringLiteral("noname");
    project::SetupOpenDialog1(OpenDialog1);
    project::SetupSaveDialog1(SaveDialog1);
}

// Menu entries, tool buttons and keys to their handlers.
void TMainForm::ConnectCommands() {
    // Commands.
    const std::pair<QAction *, void (TMainForm::*)()> commands[] = {
        {FileNewItem, &TMainForm::FileNewItemClick},
        {FileOpenItem, &TMainForm::FileOpenItemClick},
        {FileCloseItem, &TMainForm::FileCloseItemClick},
        {FileSaveItem, &TMainForm::FileSaveItemClick},
        {FileSaveAsItem, &TMainForm::FileSaveAsItemClick},
        {FileSaveAllItem, &TMainForm::FileSaveAllItemClick},
        {FileExitItem, &TMainForm::FileExitItemClick},
        {ProjNewItem, &TMainForm::ProjNewItemClick},
        {ProjOpenItem, &TMainForm::ProjOpenItemClick},
        {ProjSaveItem, &TMainForm::ProjSaveItemClick},
        {UndoItem, &TMainForm::UndoItemClick},
        {RedoItem, &TMainForm::RedoItemClick},
        {CutItem, &TMainForm::CutItemClick},
        {CopyItem, &TMainForm::CopyItemClick},
        {PasteItem, &TMainForm::PasteItemClick},
        {KP1, &TMainForm::ProjNewItemClick},
        {KJ1, &TMainForm::ProjOpenItemClick},
        {KE1, &TMainForm::ProjSaveItemClick},
        {K1, &TMainForm::AddFileClick},
        {K2, &TMainForm::DelFileClick},
        {ProjectPane->AddFile, &TMainForm::AddFileClick},
        {ProjectPane->DelFile, &TMainForm::DelFileClick},
        {ProjOpt, &TMainForm::ProjOptClick},
        {WindowCascadeItem, &TMainForm::WindowCascadeItemClick},
        {WindowTileItem, &TMainForm::WindowTileItemClick},
        {WindowArrangeItem, &TMainForm::WindowArrangeItemClick},
        {WindowMinimizeItem, &TMainForm::WindowMinimizeItemClick},
        {HelpAboutItem, &TMainForm::HelpAboutItemClick},
    };
    for (const auto &[action, handler] : commands) connect(action, &QAction::triggered, this, guard(this, handler));
    const std::pair<QAction *, std::function<void()>> controlled[] = {
        {Compile, guard(this, Compiler, &TCompileControl::CompileClick)},
        {Build, guard(this, Compiler, &TCompileControl::BuildClick)},
        {ReBuild, guard(this, Compiler, &TCompileControl::ReBuildClick)},
        {StopCompile, guard(this, Compiler, &TCompileControl::StopCompileClick)},
        {Run, guard(this, Compiler, &TCompileControl::RunClick)},
        {DosBoxRun, guard(this, Compiler, &TCompileControl::DosBoxRunClick)},
        {NextMessageItem, guard(this, Compiler, &TCompileControl::NextMessageClick)},
        {PrevMessageItem, guard(this, Compiler, &TCompileControl::PrevMessageClick)},
        {ProjFindItem, guard(this, Searcher, &TSearchControl::ProjFindItemClick)},
        {ProjFindStopItem, guard(this, Searcher, &TSearchControl::ProjFindStopItemClick)},
        {FindItem, guard(this, Finder, &TFindControl::FindItemClick)},
        {FindNextItem, guard(this, Finder, &TFindControl::FindNextItemClick)},
        {FindPrevItem, guard(this, Finder, &TFindControl::FindPrevItemClick)},
        {ReplaceItem, guard(this, Finder, &TFindControl::ReplaceItemClick)},
        {GoToLineItem, guard(this, Finder, &TFindControl::GoToLineItemClick)},
    };
    for (const auto &[action, handler] : controlled) connect(action, &QAction::triggered, this, handler);
    const std::pair<QToolButton *, void (TMainForm::*)()> buttons[] = {
        {OpenBtn, &TMainForm::FileOpenItemClick}, {SaveBtn, &TMainForm::FileSaveItemClick},
        {CutBtn, &TMainForm::CutItemClick},       {CopyBtn, &TMainForm::CopyItemClick},
        {PasteBtn, &TMainForm::PasteItemClick},   {ExitBtn, &TMainForm::FileExitItemClick},
    };
    for (const auto &[button, handler] : buttons) connect(button, &QToolButton::clicked, this, guard(this, handler));
    // The run button is the Run entry's: on and off with it.
    connect(RunBtn, &QToolButton::clicked, Run, &QAction::trigger);
    connect(Run, &QAction::enabledChanged, RunBtn, &QWidget::setEnabled);

    // Keys where the layout gives none. The Project menu shows the tree's keys
    // without taking them from the editors.
    K1->setShortcutContext(Qt::WidgetShortcut);
    K2->setShortcutContext(Qt::WidgetShortcut);
    FileNewItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    FileOpenItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    FileCloseItem->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});
}

// The File menu's recent lists.
void TMainForm::SetUpRecentLists() {
    // The recent lists, before the exit entry.
    auto *filesMenu = new QMenu(QStringLiteral("最近使ったファイル(&F)"), File1);
    filesMenu->setObjectName(QStringLiteral("RecentFilesMenu"));
    filesMenu->menuAction()->setStatusTip(QStringLiteral("最近使ったﾌｧｲﾙを開く"));
    auto *projectsMenu = new QMenu(QStringLiteral("最近使ったプロジェクト(&R)"), File1);
    projectsMenu->setObjectName(QStringLiteral("RecentProjectsMenu"));
    projectsMenu->menuAction()->setStatusTip(QStringLiteral("最近使ったﾌﾟﾛｼﾞｪｸﾄを開く"));
    File1->insertMenu(FileExitItem, filesMenu);
    File1->insertMenu(FileExitItem, projectsMenu);
    File1->insertSeparator(FileExitItem);
    RecentFiles = new TRecentList(filesMenu, [this](const QString &path) { OpenDocument(path); }, this);
    RecentProjects = new TRecentList(projectsMenu, [this](const QString &path) { OpenProject(path); }, this);
    RecentFiles->OnChanged = RecentProjects->OnChanged = [this] { Remembered->WriteRecent(); };
}

TMainForm::~TMainForm() {
    // Before the documents go: a window destroyed with the main window was not
    // discarded by the user, so its recovery file stays.
    Recovery.reset();
    FormDestroy();
    delete Compiler;  // ends a running compile before the handlers go away
    Compiler = nullptr;
    delete Docs;
    Docs = nullptr;
    if (WatchedEditor) WatchedEditor->disconnect(this);
}

void TMainForm::FormCreate() {
    // The hint handler and the active-window-change handler.
    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, [this] { UpdateMenuItems(); });
}

void TMainForm::FormDestroy() {
    qApp->removeEventFilter(this);
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
}

int TMainForm::MDIChildCount() const { return Docs ? Docs->MDIChildCount() : 0; }
TMDIChild *TMainForm::MDIChildren(int i) const { return Docs ? Docs->MDIChildren(i) : nullptr; }
TMDIChild *TMainForm::ActiveMDIChild() const { return Docs ? Docs->ActiveMDIChild() : nullptr; }
void TMainForm::OpenDocument(const QString &path) { Docs->OpenDocument(path); }

void TMainForm::UpdateMenuItems() {
    const bool any = MDIChildCount() > 0;
    for (QAction *a : {FileCloseItem, FileSaveItem, FileSaveAsItem, FileSaveAllItem, CutItem, CopyItem, PasteItem,
                       WindowCascadeItem, WindowTileItem, WindowArrangeItem, WindowMinimizeItem, FindItem,
                       FindNextItem, FindPrevItem, ReplaceItem, GoToLineItem})
        a->setEnabled(any);
    for (QToolButton *b : {SaveBtn, CutBtn, CopyBtn, PasteBtn}) b->setEnabled(any);
    const TMDIChild *active = ActiveMDIChild();
    UndoItem->setEnabled(active && active->RichEdit1->isUndoAvailable());
    RedoItem->setEnabled(active && active->RichEdit1->isRedoAvailable());
}

void TMainForm::ActiveFormChange() {
    UpdateMenuItems();
    // The undo and redo entries and the caret field follow the active document's control.
    TRichEdit *editor = ActiveMDIChild() ? ActiveMDIChild()->RichEdit1 : nullptr;
    if (editor != WatchedEditor) {
        if (WatchedEditor) WatchedEditor->disconnect(this);
        WatchedEditor = editor;
        if (editor) {
            connect(editor, &TRichEdit::undoAvailable, this, &TMainForm::UpdateMenuItems);
            connect(editor, &TRichEdit::redoAvailable, this, &TMainForm::UpdateMenuItems);
        }
    }
    Status->Follow(editor);
}

QString TMainForm::StatusText() const { return Status->Text(); }

bool TMainForm::event(QEvent *e) {
    switch (e->type()) {
    case QEvent::StatusTip:
        Status->ShowHint(static_cast<QStatusTipEvent *>(e)->tip());
        return true;
    case QEvent::WindowActivate:
        // Back from another program: the documents' files may have changed.
        if (Docs) Docs->Files->CheckSoon();
        break;
    case QEvent::WindowDeactivate:
        if (Docs) Docs->EndStepping();
        break;
    default:
        break;
    }
    return QMainWindow::event(e);
}

bool TMainForm::eventFilter(QObject *watched, QEvent *e) {
    switch (e->type()) {
    case QEvent::Enter:
        // Pointing at a control shows its status tip in the status line (Qt
        // sends it as a QStatusTipEvent, see event()); pointing at a control of
        // this window that has none, a tool button among them, clears the line.
        if (auto *w = qobject_cast<QWidget *>(watched); w && w->window() == this && w->statusTip().isEmpty())
            Status->ShowHint(QString());
        break;
    case QEvent::KeyRelease:
        // Ctrl let go ends a walk through the windows with Ctrl+Tab.
        if (Docs && Docs->Stepping() && static_cast<QKeyEvent *>(e)->key() == Qt::Key_Control) Docs->EndStepping();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, e);
}

// ---- Documents ------------------------------------------------------------

void TMainForm::DocumentCreated(TMDIChild *doc) {
    // The window's own menu would take the File menu's close keys.
    if (QMenu *own = doc->systemMenu())
        for (QAction *a : own->actions())
            for (const QKeySequence &key : FileCloseItem->shortcuts())
                if (a->shortcuts().contains(key)) a->setShortcuts({});
    if (Recovery) Recovery->Watch(doc);
    doc->RichEdit1->SetLineNumbers(WindowMenu->LineNumbersItem->isChecked());
}

void TMainForm::FileNewItemClick() { OpenDocument(QStringLiteral("NONAME%1").arg(MDIChildCount() + 1)); }

void TMainForm::FileOpenItemClick() {
    if (OpenDialog.Execute(this)) OpenDocument(OpenDialog.FileName);
}

void TMainForm::FileCloseItemClick() {
    if (TMDIChild *doc = ActiveMDIChild()) doc->close();
}

void TMainForm::FileSaveItemClick() { Docs->Save(); }

void TMainForm::FileSaveAsItemClick() { Docs->SaveAs(); }

void TMainForm::FileSaveAllItemClick() { Docs->SaveAll(); }

void TMainForm::FileExitItemClick() { close(); }

bool TMainForm::CanClose() {
    QList<TMDIChild *> toSave;
    if (!Docs->AskChanged(toSave)) return false;
    // The project is asked about before anything is saved: Cancel keeps everything.
    const int project = ProjectPane->AskBeforeClosing();
    if (project == QMessageBox::Cancel) return false;
    for (TMDIChild *doc : std::as_const(toSave))
        if (!Docs->SaveDocument(*doc)) return false;
    return project != QMessageBox::Save || ProjectPane->Save();
}

void TMainForm::closeEvent(QCloseEvent *event) {
    if (!CanClose()) {
        event->ignore();
        return;
    }
    // Every changed document has been saved or discarded.
    if (Recovery) Recovery->DropAll();
    SaveSettings();
    event->accept();
}

void TMainForm::SetFilePrompt(const std::function<bool(TFileDialog &)> &prompt) {
    for (TFileDialog *d : {&OpenDialog, &SaveDialog, &OpenDialog1, &SaveDialog1}) d->Prompt = prompt;
}

void TMainForm::UndoItemClick() {
    if (TMDIChild *doc = ActiveMDIChild()) doc->Undo();
}
void TMainForm::RedoItemClick() {
    if (TMDIChild *doc = ActiveMDIChild()) doc->Redo();
}
void TMainForm::CutItemClick() {
    if (TMDIChild *doc = ActiveMDIChild()) doc->RichEdit1->cut();
}
void TMainForm::CopyItemClick() {
    if (TMDIChild *doc = ActiveMDIChild()) doc->RichEdit1->copy();
}
void TMainForm::PasteItemClick() {
    if (TMDIChild *doc = ActiveMDIChild()) doc->RichEdit1->paste();
}

void TMainForm::HelpAboutItemClick() {
    QMessageBox::about(this, QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"),
                       QStringLiteral("Quelvane %1\nC プログラムのための小さな統合開発環境").arg(QStringLiteral("0.1")));
}

// ---- Window arrangement ---------------------------------------------------

void TMainForm::WindowCascadeItemClick() { ClientArea->cascadeSubWindows(); }

void TMainForm::WindowTileItemClick() { Docs->Tile(); }
void TMainForm::WindowArrangeItemClick() { Docs->ArrangeIcons(); }
void TMainForm::WindowMinimizeItemClick() { Docs->MinimizeAll(); }

// ---- Project --------------------------------------------------------------

void TMainForm::ProjNewItemClick() { ProjectPane->ProjNewItemClick(); }
void TMainForm::ProjOpenItemClick() { ProjectPane->ProjOpenItemClick(); }
void TMainForm::ProjSaveItemClick() { ProjectPane->ProjSaveItemClick(); }
void TMainForm::OpenProject(const QString &path) { ProjectPane->OpenProject(path); }
void TMainForm::AddFileClick() { ProjectPane->AddFileClick(); }
void TMainForm::DelFileClick() { ProjectPane->DelFileClick(); }
void TMainForm::TreeView1DblClick() { ProjectPane->TreeView1DblClick(); }
void TMainForm::ProjOptClick() { ::ProjOptClick(this); }

// ---- Files from outside, settings ------------------------------------------

void TMainForm::OpenFiles(const QStringList &paths) {
    for (const QString &given : paths) {
        const QString path = QFileInfo(given).absoluteFilePath();
        Guarded(
            [&] {
                if (QFileInfo(path).suffix().compare(QLatin1String("prj"), Qt::CaseInsensitive) == 0)
                    OpenProject(path);
                else
                    OpenDocument(path);
            },
            this);
    }
}

void TMainForm::RestoreSettings() { Remembered->Restore(); }
void TMainForm::SaveSettings() { Remembered->Save(); }
