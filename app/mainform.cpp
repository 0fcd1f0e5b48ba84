#include "mainform.h"

#include "appearance.h"
#include "childwin.h"
#include "compilecontrol.h"
#include "documents.h"
#include "errorreport.h"
#include "filewatch.h"
#include "finddialog.h"
#include "fontsubst.h"
#include "option.h"
#include "projectfile.h"
#include "projecttree.h"
#include "recentlist.h"
#include "recovery.h"
#include "searchcontrol.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QSettings>
#include <QUrl>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QStatusTipEvent>

#include <algorithm>
#include <cmath>

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
    Docs = new TDocuments(ClientArea, StatusBar, this);
    Docs->SaveDialog = &SaveDialog;
    Docs->OnCreated = [this](TMDIChild *doc) { DocumentCreated(doc); };
    Docs->OnNamed = [this](const QString &path) { NoteRecentFile(path); };
    Docs->OnChanged = [this] { ActiveFormChange(); };
    Compiler = new TCompileControl(*Docs, *Panel1, CurrentProject,
                                   {Compile, Build, ReBuild, StopCompile, Run, DosBoxRun}, this);
    Compiler->ProjectFileName = [this] { return SaveDialog1.FileName; };
    Searcher = new TSearchControl(*Docs, *Panel1, CurrentProject, ProjFindStopItem, StatusBar, this);
    SetUpLook();
    SetUpDialogs();
    SetUpTree();
    ConnectCommands();
    SetUpWindowMenu();
    SetUpRecentLists();

    // Files dropped on the window open as from the File menu.
    setAcceptDrops(true);

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
    // A note that another part shows (a search's count, what start-up left
    // alone) is no hint: moving the pointer does not clear it.
    connect(StatusBar, &QStatusBar::messageChanged, this, [this] {
        if (!ShowingHint) HintShown = false;
    });

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

// The project tree and its context menu.
void TMainForm::SetUpTree() {
    // The project tree and its context menu. The context menu's shortcuts act
    // only while the tree has the keyboard focus; the Project menu shows the
    // same keys without taking them from the editors.
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
    K1->setShortcutContext(Qt::WidgetShortcut);
    K2->setShortcutContext(Qt::WidgetShortcut);
    connect(TreeView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { PopupMenu1->exec(TreeView1->viewport()->mapToGlobal(pos)); });
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
        {FindItem, &TMainForm::FindItemClick},
        {FindNextItem, &TMainForm::FindNextItemClick},
        {FindPrevItem, &TMainForm::FindPrevItemClick},
        {ReplaceItem, &TMainForm::ReplaceItemClick},
        {GoToLineItem, &TMainForm::GoToLineItemClick},
        {KP1, &TMainForm::ProjNewItemClick},
        {KJ1, &TMainForm::ProjOpenItemClick},
        {KE1, &TMainForm::ProjSaveItemClick},
        {K1, &TMainForm::AddFileClick},
        {K2, &TMainForm::DelFileClick},
        {AddFile, &TMainForm::AddFileClick},
        {DelFile, &TMainForm::DelFileClick},
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

    // Keys where the layout gives none.
    FileNewItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    FileOpenItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    FileCloseItem->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});
}

// The caret field, the Window menu's additions and its window list.
void TMainForm::SetUpWindowMenu() {
    // The caret's line and column, at the right of the status line.
    CaretField = new QLabel(StatusBar);
    CaretField->setObjectName(QStringLiteral("CaretField"));
    CaretField->setMinimumWidth(QFontMetrics(StatusBar->font()).horizontalAdvance(QStringLiteral("行 99999, 桁 9999")) + 8);
    StatusBar->addPermanentWidget(CaretField);

    // The Window menu: the line-number switch and the moves between documents,
    // then the window list.
    Window1->addSeparator();
    LineNumbersItem = Window1->addAction(QStringLiteral("行番号を表示(&L)"));
    LineNumbersItem->setObjectName(QStringLiteral("LineNumbersItem"));
    LineNumbersItem->setStatusTip(QStringLiteral("ｴﾃﾞｨﾀの左端に行番号を表示する"));
    LineNumbersItem->setCheckable(true);
    connect(LineNumbersItem, &QAction::triggered, this, guard(this, &TMainForm::LineNumbersItemClick));
    NextWindowItem = Window1->addAction(QStringLiteral("次のｳｨﾝﾄﾞｳ(&N)"));
    NextWindowItem->setObjectName(QStringLiteral("NextWindowItem"));
    NextWindowItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab));
    NextWindowItem->setStatusTip(QStringLiteral("次のｳｨﾝﾄﾞｳに切り替える"));
    connect(NextWindowItem, &QAction::triggered, this, [this] { Docs->StepWindow(1); });
    PrevWindowItem = Window1->addAction(QStringLiteral("前のｳｨﾝﾄﾞｳ(&P)"));
    PrevWindowItem->setObjectName(QStringLiteral("PrevWindowItem"));
    PrevWindowItem->setStatusTip(QStringLiteral("前のｳｨﾝﾄﾞｳに切り替える"));
    // X delivers Shift+Tab as Backtab.
    PrevWindowItem->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)});
    connect(PrevWindowItem, &QAction::triggered, this, [this] { Docs->StepWindow(-1); });

    // The window-list menu: one entry per open document window.
    connect(Window1, &QMenu::aboutToShow, this, [this] {
        for (QAction *a : Window1->actions())
            if (a->property("windowEntry").toBool()) {
                Window1->removeAction(a);
                a->deleteLater();
            }
        // Most recently activated first, the order Ctrl+Tab goes through.
        int number = 0;
        for (int i = 0; i < MDIChildCount(); ++i) {
            QMdiSubWindow *w = MDIChildren(i);
            if (number == 0) Window1->addSeparator()->setProperty("windowEntry", true);
            QAction *a = Window1->addAction(QStringLiteral("&%1 %2").arg(++number).arg(w->windowTitle()));
            a->setProperty("windowEntry", true);
            a->setCheckable(true);
            a->setChecked(w == ClientArea->currentSubWindow());
            connect(a, &QAction::triggered, this, [this, w = QPointer<QMdiSubWindow>(w)] {
                if (!w) return;
                if (w->isMinimized()) w->showNormal();
                ClientArea->setActiveSubWindow(w);
            });
        }
    });
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
    RecentFiles->OnChanged = RecentProjects->OnChanged = [this] { WriteRecent(); };
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
    // The caret field follows the active document's control.
    TRichEdit *editor = ActiveMDIChild() ? ActiveMDIChild()->RichEdit1 : nullptr;
    if (editor != WatchedEditor) {
        if (WatchedEditor) WatchedEditor->disconnect(this);
        WatchedEditor = editor;
        if (editor) {
            connect(editor, &TRichEdit::cursorPositionChanged, this, &TMainForm::UpdateCaretField);
            connect(editor, &TRichEdit::textChanged, this, &TMainForm::UpdateCaretField);
            connect(editor, &TRichEdit::undoAvailable, this, &TMainForm::UpdateMenuItems);
            connect(editor, &TRichEdit::redoAvailable, this, &TMainForm::UpdateMenuItems);
        }
    }
    UpdateCaretField();
}

void TMainForm::UpdateCaretField() {
    const TMDIChild *doc = ActiveMDIChild();
    if (!doc) {
        CaretField->clear();
        return;
    }
    const TRichEdit *editor = doc->RichEdit1;
    const int caret = editor->Caret();
    CaretField->setText(QStringLiteral("行 %1, 桁 %2").arg(editor->Text()->LineOf(caret) + 1).arg(editor->ColumnOf(caret) + 1));
}

QString TMainForm::StatusText() const { return StatusBar->currentMessage(); }

void TMainForm::ShowHint(const QString &longHint) {
    if (longHint.isEmpty() && !HintShown) return;
    ShowingHint = true;
    StatusBar->showMessage(longHint);
    ShowingHint = false;
    HintShown = !longHint.isEmpty();
}

bool TMainForm::event(QEvent *e) {
    switch (e->type()) {
    case QEvent::StatusTip:
        ShowHint(static_cast<QStatusTipEvent *>(e)->tip());
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
            ShowHint(QString());
        break;
    case QEvent::KeyRelease:
        // Ctrl let go ends a walk through the windows with Ctrl+Tab.
        if (Docs && Docs->Stepping() && static_cast<QKeyEvent *>(e)->key() == Qt::Key_Control) Docs->EndStepping();
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        // Files dragged from outside open wherever they are dropped on the
        // window, an editor included (which would otherwise take their names
        // as text).
        if (auto *w = qobject_cast<QWidget *>(watched); w && w->window() == this && w != this) {
            auto *drag = static_cast<QDropEvent *>(e);
            if (!LocalFiles(drag->mimeData()).isEmpty()) {
                if (e->type() == QEvent::Drop)
                    dropEvent(drag);
                else
                    AcceptAsCopy(drag);
                return true;
            }
        }
        break;
    case QEvent::MouseButtonDblClick:
        // The tree's double-click reaches this filter alone: a second filter
        // on its viewport would open the document twice.
        if (watched == TreeView1->viewport()) Guarded([this] { TreeView1DblClick(); }, this);
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
    doc->RichEdit1->SetLineNumbers(LineNumbersItem->isChecked());
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
    bool saveProject = false;
    if (CurrentProject.NeedsSaving()) {
        switch (project::AskSaveProject(CurrentProject, this)) {
        case QMessageBox::Save:
            saveProject = true;
            break;
        case QMessageBox::Discard:
            break;
        default:
            return false;
        }
    }
    for (TMDIChild *doc : std::as_const(toSave))
        if (!Docs->SaveDocument(*doc)) return false;
    if (saveProject && !project::SaveProject(CurrentProject, SaveDialog1, this)) return false;
    return true;
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

void TMainForm::ProjNewItemClick() {
    project::ProjNewItemClick(CurrentProject, TreeView1, [this] { Output->clear(); }, SaveDialog1, this);
}
void TMainForm::ProjOpenItemClick() {
    project::ProjOpenItemClick(CurrentProject, TreeView1, [this] { Output->clear(); }, OpenDialog1, SaveDialog1, this);
    if (!SaveDialog1.FileName.isEmpty()) NoteRecentProject(SaveDialog1.FileName);
}
void TMainForm::ProjSaveItemClick() {
    project::ProjSaveItemClick(CurrentProject, SaveDialog1, this);
    if (!SaveDialog1.FileName.isEmpty() && QFileInfo::exists(SaveDialog1.FileName)) NoteRecentProject(SaveDialog1.FileName);
}
void TMainForm::OpenProject(const QString &path) {
    if (project::OpenProject(CurrentProject, TreeView1, path, [this] { Output->clear(); }, SaveDialog1, this))
        NoteRecentProject(path);
}
void TMainForm::AddFileClick() { project::AddFileClick(CurrentProject, TreeView1, OpenDialog, this); }
void TMainForm::DelFileClick() { project::DelFileClick(CurrentProject, TreeView1); }
void TMainForm::TreeView1DblClick() {
    project::TreeView1DblClick(CurrentProject, TreeView1, [this](const QString &path) { OpenDocument(path); });
}
void TMainForm::ProjOptClick() { ::ProjOptClick(this); }

// ---- Find, replace and go to line --------------------------------------------

namespace {
void ShowFindDialog(TMainForm *form, bool replace) {
    if (!form->FindDialog) {
        form->FindDialog = new TFindDialog(form);
        form->FindDialog->Target = [form]() -> TRichEdit * {
            TMDIChild *doc = form->ActiveMDIChild();
            return doc ? doc->RichEdit1 : nullptr;
        };
        // F3 and Shift+F3 work in the dialog too.
        form->FindDialog->addAction(form->FindNextItem);
        form->FindDialog->addAction(form->FindPrevItem);
        QObject::connect(form->FindDialog, &TFindDialog::Note, form->StatusBar,
                         [form](const QString &text) { form->StatusBar->showMessage(text); });
    }
    form->FindDialog->ShowFor(replace);
}
}  // namespace

void TMainForm::FindItemClick() {
    if (ActiveMDIChild()) ShowFindDialog(this, false);
}

void TMainForm::ReplaceItemClick() {
    if (ActiveMDIChild()) ShowFindDialog(this, true);
}

void TMainForm::FindNextItemClick() {
    if (!ActiveMDIChild()) return;
    if (!FindDialog || FindDialog->FindText->text().isEmpty()) return ShowFindDialog(this, false);
    FindDialog->FindAgain(false);
}

void TMainForm::FindPrevItemClick() {
    if (!ActiveMDIChild()) return;
    if (!FindDialog || FindDialog->FindText->text().isEmpty()) return ShowFindDialog(this, false);
    FindDialog->FindAgain(true);
}

void TMainForm::GoToLineItemClick() {
    TMDIChild *doc = ActiveMDIChild();
    if (!doc) return;
    const TTextStore *text = doc->RichEdit1->Text();
    const int n = TGoToLineDialog::Ask(this, text->LineCount(), text->LineOf(doc->RichEdit1->Caret()) + 1);
    for (int i = 0; n > 0 && i < MDIChildCount(); ++i)  // unless it closed meanwhile
        if (MDIChildren(i) == doc) return GoToLine(doc, n);
}

// ---- Line numbers, recent files, opening from outside, settings ---------------

namespace {
// The user's settings file: Quelvane/quelvane.conf in the configuration folder.
std::unique_ptr<QSettings> Settings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quelvane"),
                                       QStringLiteral("quelvane"));
}
}  // namespace

void TMainForm::LineNumbersItemClick() {
    const bool shown = LineNumbersItem->isChecked();
    for (int i = 0; i < MDIChildCount(); ++i) MDIChildren(i)->RichEdit1->SetLineNumbers(shown);
    if (Remembering) Settings()->setValue(QStringLiteral("editor/lineNumbers"), shown);
}

void TMainForm::NoteRecentFile(const QString &path) { RecentFiles->Note(path); }
void TMainForm::NoteRecentProject(const QString &path) { RecentProjects->Note(path); }

void TMainForm::WriteRecent() {
    if (!Remembering) return;
    const auto settings = Settings();
    settings->setValue(QStringLiteral("recent/files"), RecentFiles->Paths());
    settings->setValue(QStringLiteral("recent/projects"), RecentProjects->Paths());
}

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

QStringList TMainForm::ArgumentFiles(const QStringList &arguments) {
    QStringList files;
    bool options = true;
    for (const QString &arg : arguments) {
        if (options && arg == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && arg.size() > 1 && arg.startsWith(QLatin1Char('-'))) continue;
        files << arg;
    }
    return files;
}

QStringList TMainForm::LocalFiles(const QMimeData *mime) {
    QStringList paths;
    const QList<QUrl> urls = mime ? mime->urls() : QList<QUrl>();
    for (const QUrl &url : urls) {
        if (!url.isLocalFile()) return {};
        paths << url.toLocalFile();
    }
    return paths;
}

bool TMainForm::AcceptAsCopy(QDropEvent *event) {
    // Opening a file takes nothing from where it came from: the drop is a copy,
    // whatever the source proposed, so that it never deletes its files after a
    // move. A source that offers no copy is refused.
    if (!(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void TMainForm::dragEnterEvent(QDragEnterEvent *event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) AcceptAsCopy(event);
}

void TMainForm::dragMoveEvent(QDragMoveEvent *event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) AcceptAsCopy(event);
}

void TMainForm::dropEvent(QDropEvent *event) {
    const QStringList paths = LocalFiles(event->mimeData());
    if (paths.isEmpty() || !AcceptAsCopy(event)) return;
    OpenFiles(paths);
}

void TMainForm::RestoreSettings() {
    Remembering = true;
    const auto owned = Settings();
    QSettings &settings = *owned;
    if (settings.contains(QStringLiteral("window/geometry"))) {
        restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
        restoreState(settings.value(QStringLiteral("window/state")).toByteArray());
        TreeSplitter->restoreState(settings.value(QStringLiteral("window/tree")).toByteArray());
        PaneSplitter->restoreState(settings.value(QStringLiteral("window/panes")).toByteArray());
    }
    Docs->SetMaximized(settings.value(QStringLiteral("window/documentsMaximized"), false).toBool());
    RecentFiles->SetPaths(settings.value(QStringLiteral("recent/files")).toStringList());
    RecentProjects->SetPaths(settings.value(QStringLiteral("recent/projects")).toStringList());
    LineNumbersItem->setChecked(settings.value(QStringLiteral("editor/lineNumbers"), false).toBool());
    for (int i = 0; i < MDIChildCount(); ++i) MDIChildren(i)->RichEdit1->SetLineNumbers(LineNumbersItem->isChecked());
}

void TMainForm::SaveSettings() {
    if (!Remembering) return;
    const auto owned = Settings();
    QSettings &settings = *owned;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("window/state"), saveState());
    settings.setValue(QStringLiteral("window/tree"), TreeSplitter->saveState());
    settings.setValue(QStringLiteral("window/panes"), PaneSplitter->saveState());
    settings.setValue(QStringLiteral("window/documentsMaximized"), Docs->Maximized());
    settings.setValue(QStringLiteral("editor/lineNumbers"), LineNumbersItem->isChecked());
    WriteRecent();
}
