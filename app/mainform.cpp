#include "mainform.h"

#include "appearance.h"
#include "buildrun.h"
#include "childwin.h"
#include "compile.h"
#include "errorreport.h"
#include "finddialog.h"
#include "fontsubst.h"
#include "option.h"
#include "projectfile.h"
#include "projectnodes.h"
#include "projectsearch.h"
#include "projecttree.h"
#include "recovery.h"
#include "tdoscmd.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
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

}  // namespace

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent) {
    qvfonts::InstallSubstitutes();
    setupUi(this);
    setFont(pixelFont(QStringLiteral("ＭＳ Ｐゴシック"), 12));
    Output->setFont(pixelFont(QStringLiteral("Terminal"), 13));
    TabSet1->setFont(pixelFont(QStringLiteral("ＭＳ Ｐゴシック"), 12));
    TabSet1->addTab(QStringLiteral("アウトプット"));
    TabSet1->addTab(QStringLiteral("検索結果"));
    TabSet1->setCurrentIndex(0);
    // The "検索結果" tab's own list, in the same place and font as Output.
    SearchList = new TSearchList(Panel1);
    SearchList->setObjectName(QStringLiteral("SearchList"));
    SearchList->setFont(Output->font());
    SearchList->hide();
    Panel1Layout->insertWidget(Panel1Layout->indexOf(Output) + 1, SearchList);
    connect(TabSet1, &QTabBar::currentChanged, this, &TMainForm::ShowOutputTab);
    connect(SearchList, &TSearchList::RowDoubleClicked, this,
            [this](int row) { Guarded([&] { SearchListDblClick(row); }, this); });
    ProjectSearch = new TProjectSearch(this);
    ProjectSearch->OnRows = [this](const std::vector<TSearchRow> &rows) { SearchList->AppendRows(rows); };
    ProjectSearch->OnFinished = [this](int matches, int files, bool cancelled) {
        ProjFindStopItem->setEnabled(false);
        ShowHint(cancelled ? QStringLiteral("プロジェクト内検索を中止しました")
                           : QStringLiteral("プロジェクト内検索: %1 件、%2 ファイル").arg(matches).arg(files));
    };

    // Top-level menus show their hints while highlighted.
    for (QMenu *menu : {File1, Edit1, Proj, Window1, Help1}) menu->menuAction()->setStatusTip(menu->statusTip());

    // Tool buttons: the program's own glyphs, greyed when disabled; the short hint
    // as tip, the long one for the status line.
    const std::pair<QToolButton *, const char *> glyphs[] = {
        {OpenBtn, "open"}, {SaveBtn, "save"},   {CutBtn, "cut"},
        {CopyBtn, "copy"}, {PasteBtn, "paste"}, {ExitBtn, "exit"},
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
    // The tree's double-click reaches eventFilter() through the application-wide
    // filter alone (FormCreate): a second filter on its viewport would open the
    // document twice.
    Output->viewport()->installEventFilter(this);

    // The command runner.
    DosCommand1 = new TDosCommand(this);
    DosCommand1->setObjectName(QStringLiteral("DosCommand1"));
    DosCommand1->OnOutputLine = [this](TDosCommand *sender, const QByteArray &line) {
        DosCommand1OutputLine(sender, line);
    };
    DosCommand1->OnTerminate = [this](TDosCommand *sender) { DosCommand1Terminate(sender); };
    BuildRun = new TBuildRun(this);

    // Commands.
    const std::pair<QAction *, void (TMainForm::*)()> commands[] = {
        {FileNewItem, &TMainForm::FileNewItemClick},
        {FileOpenItem, &TMainForm::FileOpenItemClick},
        {FileCloseItem, &TMainForm::FileCloseItemClick},
        {FileSaveItem, &TMainForm::FileSaveItemClick},
        {FileSaveAsItem, &TMainForm::FileSaveAsItemClick},
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
        {ProjFindItem, &TMainForm::ProjFindItemClick},
        {ProjFindStopItem, &TMainForm::ProjFindStopItemClick},
        {KP1, &TMainForm::ProjNewItemClick},
        {KJ1, &TMainForm::ProjOpenItemClick},
        {KE1, &TMainForm::ProjSaveItemClick},
        {K1, &TMainForm::AddFileClick},
        {K2, &TMainForm::DelFileClick},
        {AddFile, &TMainForm::AddFileClick},
        {DelFile, &TMainForm::DelFileClick},
        {Compile, &TMainForm::CompileClick},
        {Build, &TMainForm::BuildClick},
        {ReBuild, &TMainForm::ReBuildClick},
        {StopCompile, &TMainForm::StopCompileClick},
        {ProjOpt, &TMainForm::ProjOptClick},
        {WindowCascadeItem, &TMainForm::WindowCascadeItemClick},
        {WindowTileItem, &TMainForm::WindowTileItemClick},
        {WindowArrangeItem, &TMainForm::WindowArrangeItemClick},
        {WindowMinimizeItem, &TMainForm::WindowMinimizeItemClick},
        {HelpAboutItem, &TMainForm::HelpAboutItemClick},
    };
    for (const auto &[action, handler] : commands) connect(action, &QAction::triggered, this, guard(this, handler));
    const std::pair<QToolButton *, void (TMainForm::*)()> buttons[] = {
        {OpenBtn, &TMainForm::FileOpenItemClick}, {SaveBtn, &TMainForm::FileSaveItemClick},
        {CutBtn, &TMainForm::CutItemClick},       {CopyBtn, &TMainForm::CopyItemClick},
        {PasteBtn, &TMainForm::PasteItemClick},   {ExitBtn, &TMainForm::FileExitItemClick},
    };
    for (const auto &[button, handler] : buttons) connect(button, &QToolButton::clicked, this, guard(this, handler));

    // Keys where the layout gives none.
    FileNewItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    FileOpenItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    FileCloseItem->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_F4)});

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
    connect(NextWindowItem, &QAction::triggered, ClientArea, &QMdiArea::activateNextSubWindow);
    PrevWindowItem = Window1->addAction(QStringLiteral("前のｳｨﾝﾄﾞｳ(&P)"));
    PrevWindowItem->setObjectName(QStringLiteral("PrevWindowItem"));
    PrevWindowItem->setStatusTip(QStringLiteral("前のｳｨﾝﾄﾞｳに切り替える"));
    // X delivers Shift+Tab as Backtab.
    PrevWindowItem->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)});
    connect(PrevWindowItem, &QAction::triggered, ClientArea, &QMdiArea::activatePreviousSubWindow);

    // The recent lists, before the exit entry.
    RecentFilesMenu = new QMenu(QStringLiteral("最近使ったファイル(&F)"), File1);
    RecentFilesMenu->setObjectName(QStringLiteral("RecentFilesMenu"));
    RecentProjectsMenu = new QMenu(QStringLiteral("最近使ったプロジェクト(&R)"), File1);
    RecentProjectsMenu->setObjectName(QStringLiteral("RecentProjectsMenu"));
    RecentFilesMenu->menuAction()->setStatusTip(QStringLiteral("最近使ったﾌｧｲﾙを開く"));
    RecentProjectsMenu->menuAction()->setStatusTip(QStringLiteral("最近使ったﾌﾟﾛｼﾞｪｸﾄを開く"));
    File1->insertMenu(FileExitItem, RecentFilesMenu);
    File1->insertMenu(FileExitItem, RecentProjectsMenu);
    File1->insertSeparator(FileExitItem);
    connect(RecentFilesMenu, &QMenu::aboutToShow, this,
            [this] { FillRecentMenu(RecentFilesMenu, RecentFiles, &TMainForm::OpenRecentFile); });
    connect(RecentProjectsMenu, &QMenu::aboutToShow, this,
            [this] { FillRecentMenu(RecentProjectsMenu, RecentProjects, &TMainForm::OpenRecentProject); });
    FillRecentMenu(RecentFilesMenu, RecentFiles, &TMainForm::OpenRecentFile);
    FillRecentMenu(RecentProjectsMenu, RecentProjects, &TMainForm::OpenRecentProject);

    // Files dropped on the window open as from the File menu.
    setAcceptDrops(true);

    // The window-list menu: one entry per open document window.
    connect(Window1, &QMenu::aboutToShow, this, [this] {
        for (QAction *a : Window1->actions())
            if (a->property("windowEntry").toBool()) {
                Window1->removeAction(a);
                a->deleteLater();
            }
        const QList<QMdiSubWindow *> windows = ClientArea->subWindowList(QMdiArea::CreationOrder);
        int number = 0;
        for (QMdiSubWindow *w : windows) {
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

    FormCreate();
}

TMainForm::~TMainForm() {
    // Before the documents go: a window destroyed with the main window was not
    // discarded by the user, so its recovery file stays.
    Recovery.reset();
    FormDestroy();
    delete DosCommand1;  // ends a running compile before the handlers go away
    DosCommand1 = nullptr;
    for (TMDIChild *doc : std::as_const(Documents)) doc->disconnect(this);
    Documents.clear();
    ClientArea->disconnect(this);
}

void TMainForm::FormCreate() {
    // The hint handler and the active-window-change handler.
    qApp->installEventFilter(this);
    connect(ClientArea, &QMdiArea::subWindowActivated, this, &TMainForm::ActiveFormChange);
    connect(qApp, &QApplication::focusChanged, this, [this] { UpdateMenuItems(); });
}

void TMainForm::FormDestroy() {
    qApp->removeEventFilter(this);
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
}

TMDIChild *TMainForm::ActiveMDIChild() const {
    auto *doc = qobject_cast<TMDIChild *>(ClientArea->currentSubWindow());
    return Documents.contains(doc) ? doc : nullptr;
}

void TMainForm::UpdateMenuItems() {
    const bool any = !Documents.isEmpty();
    for (QAction *a : {FileCloseItem, FileSaveItem, FileSaveAsItem, CutItem, CopyItem, PasteItem, WindowCascadeItem,
                       WindowTileItem, WindowArrangeItem, WindowMinimizeItem, FindItem, FindNextItem, FindPrevItem,
                       ReplaceItem, GoToLineItem})
        a->setEnabled(any);
    for (QToolButton *b : {SaveBtn, CutBtn, CopyBtn, PasteBtn}) b->setEnabled(any);
    const TMDIChild *active = ActiveMDIChild();
    UndoItem->setEnabled(active && active->RichEdit1->isUndoAvailable());
    RedoItem->setEnabled(active && active->RichEdit1->isRedoAvailable());
}

void TMainForm::ActiveFormChange(QMdiSubWindow *window) {
    if (auto *doc = qobject_cast<TMDIChild *>(window); doc && Documents.contains(doc)) {
        Documents.removeOne(doc);
        Documents.prepend(doc);
    }
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

void TMainForm::DocumentGone(QObject *doc) {
    Documents.removeIf([doc](TMDIChild *d) { return static_cast<QObject *>(d) == doc; });
    UpdateMenuItems();
    UpdateCaretField();
}

QString TMainForm::StatusText() const { return StatusBar->currentMessage(); }

void TMainForm::ShowHint(const QString &longHint) { StatusBar->showMessage(longHint); }

bool TMainForm::event(QEvent *e) {
    if (e->type() == QEvent::StatusTip) {
        ShowHint(static_cast<QStatusTipEvent *>(e)->tip());
        return true;
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
                    drag->acceptProposedAction();
                return true;
            }
        }
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == TreeView1->viewport()) {
            Guarded([this] { TreeView1DblClick(); }, this);
        } else if (watched == Output->viewport()) {
            Guarded([this] { OutputDblClick(); }, this);
            return true;
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, e);
}

// ---- Documents ------------------------------------------------------------

TMDIChild *TMainForm::CreateDocument() {
    auto *doc = new TMDIChild(ClientArea);
    doc->SaveRequest = [this](TMDIChild &d) { return SaveDocument(d); };
    ClientArea->addSubWindow(doc);
    // The window's own menu would take the File menu's close keys.
    if (QMenu *own = doc->systemMenu())
        for (QAction *a : own->actions())
            for (const QKeySequence &key : FileCloseItem->shortcuts())
                if (a->shortcuts().contains(key)) a->setShortcuts({});
    connect(doc, &QObject::destroyed, this, &TMainForm::DocumentGone);
    Documents.prepend(doc);
    if (Recovery) Recovery->Watch(doc);
    doc->RichEdit1->SetLineNumbers(LineNumbersItem->isChecked());
    doc->show();
    FitNewDocument(doc);
    ClientArea->setActiveSubWindow(doc);
    UpdateMenuItems();
    return doc;
}

void TMainForm::FitNewDocument(TMDIChild *doc) {
    // 80 columns by 25 lines where the client area allows, never more than the
    // area, and wholly inside it. A window that opens maximised, as the others
    // are, keeps that.
    if (doc->isMaximized()) return;
    const TRichEdit *editor = doc->RichEdit1;
    const QSize frame = doc->size() - editor->viewport()->size();
    const QSize wanted = QSize(int(std::ceil(80 * editor->ColumnWidth())) + editor->LineNumberWidth(),
                               25 * editor->LineHeight()) + frame;
    const QSize area = ClientArea->viewport()->size();
    const QSize size = wanted.expandedTo(doc->size()).boundedTo(area);
    doc->resize(size);
    doc->move(std::max(0, std::min(doc->x(), area.width() - size.width())),
              std::max(0, std::min(doc->y(), area.height() - size.height())));
}

void TMainForm::OpenDocument(const QString &path) {
    // File names are compared as the file system compares them: exactly.
    for (int i = 0; i < Documents.size(); ++i) {
        TMDIChild *doc = Documents[i];
        if (!doc->FileName.isEmpty() && doc->FileName == path) {
            if (doc->isMinimized()) doc->showNormal();
            doc->show();
            ClientArea->setActiveSubWindow(doc);
            NoteRecentFile(path);
            return;
        }
    }
    TMDIChild *doc = CreateDocument();
    if (QFileInfo::exists(path)) {
        try {
            doc->LoadFile(path);
        } catch (...) {
            // No half-made window stays behind.
            delete doc;
            throw;
        }
        NoteRecentFile(doc->FileName);
    }
}

void TMainForm::FileNewItemClick() { OpenDocument(QStringLiteral("NONAME%1").arg(Documents.size() + 1)); }

void TMainForm::FileOpenItemClick() {
    if (OpenDialog.Execute(this)) OpenDocument(OpenDialog.FileName);
}

void TMainForm::FileCloseItemClick() {
    if (TMDIChild *doc = ActiveMDIChild()) doc->close();
}

void TMainForm::FileSaveItemClick() {
    TMDIChild *doc = ActiveMDIChild();
    if (!doc) return;
    if (doc->IsUntitled() && SaveDialog.Execute(this)) {
        if (project::MayReplace(SaveDialog.FileName, this)) {
            doc->SaveAs(SaveDialog.FileName);
            NoteRecentFile(doc->FileName);
        }
        return;
    }
    doc->Save();
}

void TMainForm::FileSaveAsItemClick() {
    TMDIChild *doc = ActiveMDIChild();
    if (doc && SaveDialog.Execute(this) && project::MayReplace(SaveDialog.FileName, this)) {
        doc->SaveAs(SaveDialog.FileName);
        NoteRecentFile(doc->FileName);
    }
}

bool TMainForm::SaveDocument(TMDIChild &doc) {
    bool saved = false;
    Guarded(
        [&] {
            if (doc.IsUntitled()) {
                if (!SaveDialog.Execute(this) || !project::MayReplace(SaveDialog.FileName, this)) return;
                doc.SaveAs(SaveDialog.FileName);
                NoteRecentFile(doc.FileName);
            } else {
                doc.Save();
            }
            saved = !doc.Changed;
        },
        this);
    return saved;
}

void TMainForm::FileExitItemClick() { close(); }

bool TMainForm::CanClose() {
    QList<TMDIChild *> toSave;
    for (TMDIChild *doc : std::as_const(Documents)) {
        if (!doc->Changed) continue;
        switch (doc->AskSave()) {
        case QMessageBox::Save:
            toSave << doc;
            break;
        case QMessageBox::Discard:
            break;
        default:
            return false;
        }
    }
    // The project is asked about before anything is saved: Cancel keeps everything.
    bool saveProject = false;
    if (project::ProjectNeedsSaving(TreeView1)) {
        switch (project::AskSaveProject(TreeView1, this)) {
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
        if (!SaveDocument(*doc)) return false;
    if (saveProject && !project::SaveProject(TreeView1, SaveDialog1, this)) return false;
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

void TMainForm::WindowTileItemClick() {
    // Horizontal tiling: full-width windows stacked from top to bottom, leaving
    // the row of minimised windows free.
    QList<TMDIChild *> tiled;
    int iconRow = 0;
    for (TMDIChild *doc : std::as_const(Documents)) {
        if (doc->isMinimized())
            iconRow = std::max(iconRow, doc->height());
        else if (doc->isVisible())
            tiled << doc;
    }
    if (tiled.isEmpty()) return;
    const QRect area = ClientArea->viewport()->rect().adjusted(0, 0, 0, -iconRow);
    const int n = tiled.size();
    const int h = std::max(1, area.height() / n);
    for (int i = 0; i < n; ++i) {
        if (tiled[i]->isMaximized()) tiled[i]->showNormal();
        const int height = i == n - 1 ? std::max(1, area.height() - i * h) : h;
        tiled[i]->setGeometry(area.left(), area.top() + i * h, area.width(), height);
    }
}

void TMainForm::WindowArrangeItemClick() {
    // The icons of minimised windows are lined up along the bottom, left to right.
    const QRect area = ClientArea->viewport()->rect();
    int x = area.left();
    int y = area.bottom() + 1;
    for (QMdiSubWindow *w : ClientArea->subWindowList(QMdiArea::CreationOrder)) {
        if (!w->isMinimized()) continue;
        const QSize size = w->size();
        if (x > area.left() && x + size.width() > area.right() + 1) {
            x = area.left();
            y -= size.height();
        }
        w->move(x, y - size.height());
        x += size.width();
    }
}

void TMainForm::WindowMinimizeItemClick() {
    const QList<TMDIChild *> docs = Documents;
    for (int i = docs.size() - 1; i >= 0; --i) docs[i]->showMinimized();
}

// ---- Project --------------------------------------------------------------

void TMainForm::ProjNewItemClick() {
    project::ProjNewItemClick(TreeView1, [this] { Output->clear(); }, SaveDialog1, this);
}
void TMainForm::ProjOpenItemClick() {
    project::ProjOpenItemClick(TreeView1, [this] { Output->clear(); }, OpenDialog1, SaveDialog1, this);
    if (!SaveDialog1.FileName.isEmpty()) NoteRecentProject(SaveDialog1.FileName);
}
void TMainForm::ProjSaveItemClick() {
    project::ProjSaveItemClick(TreeView1, SaveDialog1, this);
    if (!SaveDialog1.FileName.isEmpty() && QFileInfo::exists(SaveDialog1.FileName)) NoteRecentProject(SaveDialog1.FileName);
}
void TMainForm::OpenProject(const QString &path) {
    if (project::OpenProject(TreeView1, path, [this] { Output->clear(); }, SaveDialog1, this)) NoteRecentProject(path);
}
void TMainForm::AddFileClick() { project::AddFileClick(TreeView1, OpenDialog, this); }
void TMainForm::DelFileClick() { project::DelFileClick(TreeView1); }
void TMainForm::TreeView1DblClick() {
    project::TreeView1DblClick(TreeView1, [this](const QString &path) { OpenDocument(path); });
}

// ---- Build ----------------------------------------------------------------

void TMainForm::CompileClick() {
    TMDIChild *doc = ActiveMDIChild();
    if (!doc) return;
    // The compile's rows are what the user wants to see now.
    TabSet1->setCurrentIndex(0);
    if (doc->Changed) doc->Save();
    const QString S = doc->FileName;
    if (NeedsCompile(S)) {
        AppendOutput(buildcmd::StartLine(S));
        RunCompiler(S);
    } else {
        AppendOutput(buildcmd::NotNeededLine(S));
    }
}

bool TMainForm::NeedsCompile(const QString &source) {
    return buildcmd::NeedsCompile(source, project::FilePaths(TreeView1));
}

bool TMainForm::RunCompiler(const QString &source) {
    const QString C = buildcmd::CompilerCommandLine(source);
    AppendOutput(buildcmd::EchoLine(C));
    if (const QString inTheWay = buildcmd::CharacterInTheWay(source); !inTheWay.isEmpty()) {
        AppendOutput(buildcmd::PathRefusedLine(inTheWay));
        return false;
    }
    // The program sees its arguments in the file system's encoding.
    const bool ok = DosCommand1->StartCommand(QFile::encodeName(C), QByteArray());
    if (!ok) AppendOutput(buildcmd::StartFailedLine);
    UpdateCompileItems(DosCommand1->IsOnExecution());
    return ok;
}

void TMainForm::DosCommand1OutputLine(TDosCommand *, const QByteArray &Str) {
    // Each line is decoded whole, so a double-byte character is never split.
    Output->AppendLine(Str);
    // A build counts the files whose compiler printed a message; no message
    // is longer than a few lines' worth.
    if (BuildRun->IsRunning() && Str.size() < (1 << 16)) BuildRun->CompilerLine(sjis::decode(Str));
}

void TMainForm::DosCommand1Terminate(TDosCommand *) {
    if (DosCommand1->IsStopping()) AppendOutput(buildcmd::StoppedLine);
    AppendOutput(buildcmd::EndLine);
    UpdateCompileItems(false);  // the run is over once this returns
    BuildRun->CompilerEnded(DosCommand1->ExitCode(), DosCommand1->IsStopping());
}

void TMainForm::StopCompileClick() {
    BuildRun->Stop();
    DosCommand1->StopCommand();
}

void TMainForm::BuildClick() {
    TabSet1->setCurrentIndex(0);
    BuildRun->Start(false);
}

void TMainForm::ReBuildClick() {
    TabSet1->setCurrentIndex(0);
    BuildRun->Start(true);
}

void TMainForm::UpdateCompileItems(bool compiling) {
    const bool building = BuildRun->IsRunning();
    Compile->setEnabled(!building);
    Build->setEnabled(!building && !compiling);
    ReBuild->setEnabled(!building && !compiling);
    StopCompile->setEnabled(building || compiling);
}

void TMainForm::ProjOptClick() { ::ProjOptClick(this); }

// ---- Output pane ----------------------------------------------------------

void TMainForm::AppendOutput(const QString &row) { Output->Append(row); }

void TMainForm::OutputDblClick() {
    const int count = Output->count();
    if (count == 0) return;
    const int T = Output->TopRow();
    const int R = Output->height() / Output->RowHeight();
    for (int i = 0; i < R; ++i) {
        const int k = T + i;
        if (k >= count) break;
        if (!Output->IsSelected(k)) continue;
        const QString L = Output->Row(k);
        if (buildcmd::IsOwnRow(L)) return;
        const QString F = buildcmd::MessageFileName(L);
        for (int d = 0; d < Documents.size(); ++d) {
            TMDIChild *doc = Documents[d];
            if (ShortPath(doc->FileName) != F) continue;
            const int n = buildcmd::MessageLineNumber(L);
            if (doc->isMinimized()) doc->showNormal();
            doc->show();
            ClientArea->setActiveSubWindow(doc);
            GoToLine(doc, n);
            return;
        }
        return;
    }
}

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
    if (n > 0 && Documents.contains(doc)) GoToLine(doc, n);
}

// ---- Find in the project ----------------------------------------------------

void TMainForm::ShowOutputTab(int index) {
    Output->setVisible(index != 1);
    SearchList->setVisible(index == 1);
}

void TMainForm::ProjFindItemClick() {
    TProjectFindDialog d(this);
    if (TMDIChild *doc = ActiveMDIChild()) {
        const QString selected = doc->RichEdit1->SelectedText();
        if (!selected.contains(QLatin1Char('\n'))) d.FindText->setText(selected);
    }
    d.FindText->selectAll();
    if (d.exec() != QDialog::Accepted || d.FindText->text().isEmpty()) return;
    search::Options options;
    options.MatchCase = d.MatchCase->isChecked();
    options.WholeWord = d.WholeWord->isChecked();
    StartProjectSearch(d.FindText->text(), options);
}

void TMainForm::ProjFindStopItemClick() { ProjectSearch->Cancel(); }

void TMainForm::StartProjectSearch(const QString &pattern, const search::Options &options) {
    // Every file of the tree once, in tree order; an open document in its
    // current text.
    std::vector<TSearchSource> sources;
    QStringList seen;
    for (int i = 0; i < project::NodeCount(TreeView1); ++i) {
        const QTreeWidgetItem *node = project::NodeAt(TreeView1, i);
        if (!project::HasPath(node)) continue;
        const QString path = project::NodePath(node);
        if (seen.contains(path)) continue;
        seen << path;
        TSearchSource source;
        source.Path = path;
        for (const TMDIChild *doc : std::as_const(Documents))
            if (!doc->FileName.isEmpty() && doc->FileName == path) {
                source.Open = true;
                source.Text = doc->RichEdit1->Text()->Snapshot();
                break;
            }
        sources.push_back(std::move(source));
    }
    SearchList->clear();
    TabSet1->setCurrentIndex(1);
    ProjFindStopItem->setEnabled(true);
    ShowHint(QStringLiteral("プロジェクト内を検索しています..."));
    ProjectSearch->Start(std::move(sources), pattern, options);
}

void TMainForm::SearchListDblClick(int row) {
    if (row < 0 || row >= SearchList->count()) return;
    const TSearchRow match = SearchList->Match(row);  // the list may change meanwhile
    const QString path = match.Path;
    if (path.isEmpty()) return;  // a note or the count row
    const auto isOpen = [&] {
        for (const TMDIChild *doc : std::as_const(Documents))
            if (doc->FileName == path) return true;
        return false;
    };
    if (!isOpen() && !QFileInfo::exists(path)) {
        ShowHint(QStringLiteral("ファイル %1 がありません").arg(path));
        return;
    }
    OpenDocument(path);
    TMDIChild *doc = ActiveMDIChild();
    if (!doc || doc->FileName != path) return;
    const int line = match.Line;
    const int column = match.Column;
    const int length = match.Length;
    const TTextStore *text = doc->RichEdit1->Text();
    if (line < 1 || line > text->LineCount()) return;
    if (column < 0 || column + length > text->LineLength(line - 1)) {
        GoToLine(doc, line);  // the line has changed since: the line itself
        return;
    }
    SetSelection(doc->RichEdit1, text->LineStart(line - 1) + column, length);
    doc->RichEdit1->ShowLines(line - 1, line - 1, kContextLines);
    doc->RichEdit1->setFocus();
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
    for (TMDIChild *doc : std::as_const(Documents)) doc->RichEdit1->SetLineNumbers(shown);
    if (Remembering) Settings()->setValue(QStringLiteral("editor/lineNumbers"), shown);
}

namespace {
// The list with path at its head, each path once, at most `max` long.
void PutFirst(QStringList &list, const QString &path, int max) {
    list.removeAll(path);
    list.prepend(path);
    while (list.size() > max) list.removeLast();
}
}  // namespace

void TMainForm::NoteRecentFile(const QString &path) {
    if (path.isEmpty()) return;
    PutFirst(RecentFiles, QFileInfo(path).absoluteFilePath(), RecentMax);
    WriteRecent();
}

void TMainForm::NoteRecentProject(const QString &path) {
    if (path.isEmpty()) return;
    PutFirst(RecentProjects, QFileInfo(path).absoluteFilePath(), RecentMax);
    WriteRecent();
}

void TMainForm::WriteRecent() {
    FillRecentMenu(RecentFilesMenu, RecentFiles, &TMainForm::OpenRecentFile);
    FillRecentMenu(RecentProjectsMenu, RecentProjects, &TMainForm::OpenRecentProject);
    if (!Remembering) return;
    const auto settings = Settings();
    settings->setValue(QStringLiteral("recent/files"), RecentFiles);
    settings->setValue(QStringLiteral("recent/projects"), RecentProjects);
}

void TMainForm::FillRecentMenu(QMenu *menu, const QStringList &list, void (TMainForm::*open)(const QString &)) {
    menu->clear();
    menu->setEnabled(!list.isEmpty());
    int number = 0;
    for (const QString &path : list) {
        QString shown = QDir::toNativeSeparators(path);
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction *a = menu->addAction(QStringLiteral("&%1 %2").arg(++number).arg(shown));
        a->setData(path);
        connect(a, &QAction::triggered, this, [this, open, path] { Guarded([&] { (this->*open)(path); }, this); });
    }
}

namespace {
// A recent entry whose file is gone: said, and taken off the list.
bool Missing(QWidget *parent, QStringList &list, const QString &path) {
    if (QFileInfo(path).isFile()) return false;
    list.removeAll(path);
    QMessageBox::information(parent, QStringLiteral("Quelvane"),
                             QStringLiteral("%1 が見つかりません。一覧から削除しました。").arg(QDir::toNativeSeparators(path)));
    return true;
}
}  // namespace

void TMainForm::OpenRecentFile(const QString &path) {
    if (Missing(this, RecentFiles, path)) return WriteRecent();
    OpenDocument(path);
}

void TMainForm::OpenRecentProject(const QString &path) {
    if (Missing(this, RecentProjects, path)) return WriteRecent();
    OpenProject(path);
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

void TMainForm::dragEnterEvent(QDragEnterEvent *event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent *event) {
    const QStringList paths = LocalFiles(event->mimeData());
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
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
    const auto list = [&](const char *key) {
        QStringList l = settings.value(QLatin1String(key)).toStringList();
        l.removeAll(QString());
        l.removeDuplicates();
        return l.mid(0, RecentMax);
    };
    RecentFiles = list("recent/files");
    RecentProjects = list("recent/projects");
    FillRecentMenu(RecentFilesMenu, RecentFiles, &TMainForm::OpenRecentFile);
    FillRecentMenu(RecentProjectsMenu, RecentProjects, &TMainForm::OpenRecentProject);
    LineNumbersItem->setChecked(settings.value(QStringLiteral("editor/lineNumbers"), false).toBool());
    for (TMDIChild *doc : std::as_const(Documents)) doc->RichEdit1->SetLineNumbers(LineNumbersItem->isChecked());
}

void TMainForm::SaveSettings() {
    if (!Remembering) return;
    const auto owned = Settings();
    QSettings &settings = *owned;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("window/state"), saveState());
    settings.setValue(QStringLiteral("window/tree"), TreeSplitter->saveState());
    settings.setValue(QStringLiteral("window/panes"), PaneSplitter->saveState());
    settings.setValue(QStringLiteral("editor/lineNumbers"), LineNumbersItem->isChecked());
    WriteRecent();
}
