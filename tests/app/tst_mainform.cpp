// The main window on the real widgets: layout, enabled states, hints, the
// document commands, window arrangement, closing with changed documents, the
// project commands' wiring and the error report.
#include "childwin.h"
#include "textof.h"
#include "errorreport.h"
#include "compilecontrol.h"
#include "documents.h"
#include "filedrop.h"
#include "mainform.h"
#include "recentlist.h"
#include "searchcontrol.h"
#include "statusline.h"
#include "windowmenu.h"
#include "modal.h"
#include "newproj.h"
#include "projectfile.h"
#include "projecttree.h"
#include "richedit.h"
#include "sjis.h"
#include "sourcetext.h"
#include "textpos.h"
#include "../testfiles.h"
#include "../testmain.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QRandomGenerator>
#include <QSettings>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
void writeTestFile(const QString &path, const QByteArray &bytes) { QVERIFY(qvtest::WriteFile(path, bytes)); }
}  // namespace

class TstMainForm : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TMainForm> form;
    std::deque<QString> dialogAnswers;  // empty text: cancel
    QStringList dialogTitles;
    QStringList reports;
    std::deque<int> saveAnswers;
    int asked = 0;
    std::deque<int> projectAnswers;
    QStringList projectAsked;
    std::unique_ptr<qvtest::MessageBoxAnswers> boxes;
    // The questions and reports about files changed elsewhere: "<box>: <text>"
    // each; a question takes the next of diskAnswers, No when none is left.
    QStringList told;
    std::deque<int> diskAnswers;

    QString path(const QString &name) const { return dir->filePath(name); }
    void answer(const QString &file) { dialogAnswers.push_back(file); }

    // The user goes to another program and comes back to the main window.
    void comeBack() {
        QCoreApplication::processEvents();  // what the last activation set off
        QWidget other;
        other.setWindowTitle(QStringLiteral("another program"));
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCoreApplication::processEvents();
    }

    // Another program writes `bytes` to `file`, in place or as a new file put
    // in its place, and leaves it with a modification time of its own.
    static void writeElsewhere(const QString &file, const QByteArray &bytes, bool inPlace, qint64 seconds) {
        const QString written = inPlace ? file : file + QStringLiteral(".new");
        QVERIFY(qvtest::WriteFile(written, bytes));
        const struct timespec times[2] = {{seconds, 0}, {seconds, 500}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(written).constData(), times, 0), 0);
        if (!inPlace) QCOMPARE(::rename(QFile::encodeName(written).constData(), QFile::encodeName(file).constData()), 0);
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        dialogAnswers.clear();
        dialogTitles.clear();
        reports.clear();
        saveAnswers.clear();
        asked = 0;
        projectAnswers.clear();
        projectAsked.clear();
        // Error reports are collected; the questions about a changed project and
        // a changed document take the next queued answer, Cancel when none is left.
        told.clear();
        diskAnswers.clear();
        boxes = std::make_unique<qvtest::MessageBoxAnswers>([this](QMessageBox &box) {
            const QString name = box.objectName();
            if (name == QLatin1String("ReloadQuestion") || name == QLatin1String("OverwriteQuestion") ||
                name == QLatin1String("FileGone") || name == QLatin1String("FileNotRegular")) {
                told << name + QStringLiteral(": ") + box.text();
                if (!name.endsWith(QLatin1String("Question"))) return QMessageBox::Ok;
                if (diskAnswers.empty()) return QMessageBox::No;
                const int a = diskAnswers.front();
                diskAnswers.pop_front();
                return QMessageBox::StandardButton(a);
            }
            if (box.icon() == QMessageBox::Critical) {
                reports << qvtest::ReportMessage(box);
                return QMessageBox::Ok;
            }
            const QString projectQuestion = QStringLiteral("プロジェクト %1 への変更を保存しますか?");
            const QString text = box.text();
            std::deque<int> *answers = &saveAnswers;
            if (text.startsWith(projectQuestion.section(u'%', 0, 0))) {
                projectAsked << text.mid(projectQuestion.indexOf(u'%'),
                                         text.size() - projectQuestion.size() + 2);
                answers = &projectAnswers;
            } else {
                ++asked;
            }
            if (answers->empty()) return QMessageBox::Cancel;
            const int a = answers->front();
            answers->pop_front();
            return QMessageBox::StandardButton(a);
        });
        form = std::make_unique<TMainForm>();
        // The file dialogs take the next queued answer ("" cancels), cancel when none is left.
        form->SetFilePrompt([this](TFileDialog &d) {
            dialogTitles << d.Title;
            if (dialogAnswers.empty()) return false;
            const QString a = dialogAnswers.front();
            dialogAnswers.pop_front();
            if (a.isEmpty()) return false;
            d.FileName = a;
            return true;
        });
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCoreApplication::processEvents();
    }
    void cleanup() {
        if (form) {
            for (int i = 0; i < form->MDIChildCount(); ++i) form->MDIChildren(i)->Changed = false;
        }
        form.reset();
        boxes.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    void layout() {
        QCOMPARE(form->windowTitle(), QStringLiteral("Quelvane"));
        QCOMPARE(form->TreeView1->width(), 137);
        QCOMPARE(form->Panel1->height(), 112);
        QCOMPARE(form->SpeedPanel->height(), 30);
        QCOMPARE(form->TabSet1->count(), 2);
        QCOMPARE(form->TabSet1->tabText(0), QStringLiteral("アウトプット"));
        QCOMPARE(form->TabSet1->tabText(1), QStringLiteral("検索結果"));
        QCOMPARE(form->TabSet1->currentIndex(), 0);
        struct B {
            QToolButton *b;
            int left;
            const char *tip;
        };
        const B buttons[] = {{form->OpenBtn, 7, "開く"},     {form->SaveBtn, 31, "保存"},
                             {form->CutBtn, 64, "削除"},     {form->CopyBtn, 88, "ｺﾋﾟｰ"},
                             {form->PasteBtn, 112, "貼り付け"}, {form->ExitBtn, 144, "終了"}};
        for (const B &b : buttons) {
            QCOMPARE(b.b->geometry(), QRect(b.left, 2, 25, 25));
            QCOMPARE(b.b->toolTip(), QString::fromUtf8(b.tip));
            QVERIFY(!b.b->icon().isNull());
        }
        // Every menu entry: caption, hint, shortcut.
        struct A {
            QAction *a;
            const char *text, *hint, *shortcut;
        };
        const A actions[] = {
            {form->FileNewItem, "新規作成(&N)", "新規ﾌｧｲﾙの作成", "Ctrl+N"},
            {form->FileOpenItem, "開く(&O)", "既存のﾌｧｲﾙを開く", "Ctrl+O"},
            {form->FileCloseItem, "閉じる(&C)", "ﾌｧｲﾙを閉じる", "Ctrl+W"},
            {form->FileSaveItem, "上書き保存(&S)", "ﾌｧｲﾙを保存する", "Ctrl+S"},
            {form->FileSaveAsItem, "名前を付けて保存(&A)...", "ﾌｧｲﾙに別の名前を付けて保存", ""},
            {form->FileSaveAllItem, "すべて保存(&L)", "変更したすべてのﾌｧｲﾙを保存する", "Ctrl+Shift+S"},
            {form->ProjNewItem, "新規プロジェクト(&P)...", "", ""},
            {form->ProjOpenItem, "プロジェクトを開く(&J)...", "", ""},
            {form->ProjSaveItem, "プロジェクト保存(&E)", "", ""},
            {form->FileExitItem, "Quelvaneの終了(&X)", "ｱﾌﾟﾘｹｰｼｮﾝの終了", ""},
            {form->CutItem, "切り取り(&T)", "ｸﾘｯﾌﾟﾎﾞｰﾄﾞへ切り取り", ""},
            {form->CopyItem, "ｺﾋﾟｰ(&C)", "ｸﾘｯﾌﾟﾎﾞｰﾄﾞへｺﾋﾟｰ", ""},
            {form->PasteItem, "貼り付け(&P)", "ｸﾘｯﾌﾟﾎﾞｰﾄﾞから貼り付け", ""},
            {form->K1, "プロジェクトにファイルを追加", "", "Ctrl+A"},
            {form->K2, "プロジェクトからファイル削除", "", "Del"},
            {form->Compile, "コンパイル(&C)", "", "Ctrl+F7"},
            {form->Build, "ビルド(&B)", "", "F7"},
            {form->ReBuild, "リビルド(&R)", "", "Ctrl+Alt+F7"},
            {form->StopCompile, "コンパイル中止(&S)", "", "Ctrl+Pause"},
            {form->NextMessageItem, "次のメッセージ(&N)", "ｱｳﾄﾌﾟｯﾄの次のｴﾗｰ・警告の行へ移動する", "F8"},
            {form->PrevMessageItem, "前のメッセージ(&V)", "ｱｳﾄﾌﾟｯﾄの前のｴﾗｰ・警告の行へ移動する", "Shift+F8"},
            {form->ProjOpt, "設定(&O)...", "", ""},
            {form->WindowCascadeItem, "重ねて表示(&C)", "ｳｨﾝﾄﾞｳを重なりあうように並べ直す", ""},
            {form->WindowTileItem, "並べて表示(&T)", "ｳｨﾝﾄﾞｳを重ならないように並べ直す", ""},
            {form->WindowArrangeItem, "ｱｲｺﾝの整列(&A)", "ｱｲｺﾝをｳｨﾝﾄﾞｳの下に並べ直す", ""},
            {form->WindowMinimizeItem, "すべてをｱｲｺﾝ化(&M)", "すべてのｳｨﾝﾄﾞｳをｱｲｺﾝ状態にする", ""},
            {form->HelpAboutItem, "ﾊﾞｰｼﾞｮﾝ情報(&A)", "", ""},
            {form->WindowMenu->LineNumbersItem, "行番号を表示(&L)", "ｴﾃﾞｨﾀの左端に行番号を表示する", ""},
            {form->WindowMenu->NextWindowItem, "次のｳｨﾝﾄﾞｳ(&N)", "次のｳｨﾝﾄﾞｳに切り替える", "Ctrl+Tab"},
            {form->WindowMenu->PrevWindowItem, "前のｳｨﾝﾄﾞｳ(&P)", "前のｳｨﾝﾄﾞｳに切り替える", "Ctrl+Shift+Tab"},
            {form->RecentFiles->Menu->menuAction(), "最近使ったファイル(&F)", "最近使ったﾌｧｲﾙを開く", ""},
            {form->RecentProjects->Menu->menuAction(), "最近使ったプロジェクト(&R)", "最近使ったﾌﾟﾛｼﾞｪｸﾄを開く", ""},
            {form->File1->menuAction(), "ﾌｧｲﾙ(&F)", "ﾌｧｲﾙ操作に関するｺﾏﾝﾄﾞ", ""},
            {form->Window1->menuAction(), "ｳｨﾝﾄﾞｳ(&W)", "ｳｨﾝﾄﾞｳ操作に関するｺﾏﾝﾄﾞ", ""},
            {form->Help1->menuAction(), "ﾍﾙﾌﾟ(&H)", "ﾄﾋﾟｯｸの検索", ""},
        };
        for (const A &a : actions) {
            QCOMPARE(a.a->text(), QString::fromUtf8(a.text));
            QCOMPARE(a.a->statusTip(), QString::fromUtf8(a.hint));
            QCOMPARE(a.a->shortcut().toString(), QString::fromUtf8(a.shortcut));
        }
        QCOMPARE(form->MainMenu1->actions().size(), 5);
        const QList<QAction *> file = form->File1->actions();
        QCOMPARE(file.indexOf(form->FileSaveAllItem), file.indexOf(form->FileSaveAsItem) + 1);
    }

    void enabledStatesFollowTheDocuments() {
        QList<QObject *> dependent = {form->FileCloseItem, form->FileSaveItem,     form->FileSaveAsItem, form->FileSaveAllItem,
                                      form->CutItem,       form->CopyItem,         form->PasteItem,
                                      form->SaveBtn,       form->CutBtn,           form->CopyBtn,
                                      form->PasteBtn,      form->WindowCascadeItem, form->WindowTileItem,
                                      form->WindowArrangeItem, form->WindowMinimizeItem};
        auto enabled = [](QObject *o) {
            if (auto *a = qobject_cast<QAction *>(o)) return a->isEnabled();
            return qobject_cast<QWidget *>(o)->isEnabled();
        };
        for (QObject *o : dependent) QVERIFY2(!enabled(o), qPrintable(o->objectName()));
        QVERIFY(form->OpenBtn->isEnabled() && form->ExitBtn->isEnabled() && form->Compile->isEnabled());
        // Minimise all with no document does nothing.
        form->WindowMinimizeItem->setEnabled(true);
        form->WindowMinimizeItemClick();
        form->FileNewItemClick();
        QCOMPARE(form->MDIChildCount(), 1);
        for (QObject *o : dependent) QVERIFY2(enabled(o), qPrintable(o->objectName()));
        form->FileNewItemClick();
        form->FileCloseItemClick();
        QTRY_COMPARE(form->MDIChildCount(), 1);
        for (QObject *o : dependent) QVERIFY2(enabled(o), qPrintable(o->objectName()));
        form->FileCloseItemClick();
        QTRY_COMPARE(form->MDIChildCount(), 0);
        for (QObject *o : dependent) QVERIFY2(!enabled(o), qPrintable(o->objectName()));
    }

    void hintsInTheStatusLine() {
        // A highlighted menu entry shows its hint; pointing at a tool button shows
        // its short hint as the tip and leaves the status line empty.
        form->MainMenu1->setActiveAction(form->File1->menuAction());
        QTRY_VERIFY(form->File1->isVisible());
        form->File1->setActiveAction(form->FileOpenItem);
        QCOMPARE(form->StatusText(), QStringLiteral("既存のﾌｧｲﾙを開く"));
        form->File1->setActiveAction(form->FileExitItem);
        QCOMPARE(form->StatusText(), QStringLiteral("ｱﾌﾟﾘｹｰｼｮﾝの終了"));
        form->File1->close();
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(form->OpenBtn, &enter);
        QCOMPARE(form->StatusText(), QString());
        QCOMPARE(form->OpenBtn->toolTip(), QStringLiteral("開く"));
    }

    void newDocumentsAndTheirNames() {
        form->FileNewItemClick();
        TMDIChild *first = form->ActiveMDIChild();
        QVERIFY(first);
        QVERIFY(first->IsUntitled());
        QCOMPARE(first->windowTitle(), QStringLiteral("名称未設定"));
        form->FileNewItemClick();
        // With two open, New tries NONAME3; a file of that name is loaded.
        writeTestFile(path("NONAME3"), "int x;\r\n");
        form->FileNewItemClick();
        QCOMPARE(form->MDIChildCount(), 3);
        TMDIChild *third = form->ActiveMDIChild();
        QCOMPARE(third->FileName, QStringLiteral("NONAME3"));
        QCOMPARE(third->windowTitle(), QStringLiteral("NONAME3"));
        QCOMPARE(form->MDIChildren(0), third);
        QCOMPARE(form->MDIChildren(2), first);
    }

    void openingTheSameFileActivatesIt() {
        writeTestFile(path("a.c"), "int a;\r\n");
        writeTestFile(path("A.c"), "int b;\r\n");
        form->OpenDocument(path("a.c"));
        form->OpenDocument(path("A.c"));
        QCOMPARE(form->MDIChildCount(), 2);  // two files on Linux
        form->OpenDocument(path("a.c"));
        QCOMPARE(form->MDIChildCount(), 2);
        QCOMPARE(form->ActiveMDIChild()->FileName, path("a.c"));
        QCOMPARE(form->MDIChildren(0)->FileName, path("a.c"));
        QCOMPARE(form->MDIChildren(1)->FileName, path("A.c"));
        // A path that does not exist gives an untitled, empty document.
        form->OpenDocument(path("missing.c"));
        QCOMPARE(form->MDIChildCount(), 3);
        QVERIFY(form->ActiveMDIChild()->IsUntitled());
    }

    void fileOpenThroughTheDialog() {
        writeTestFile(path("m.c"), "void main(){}\r\n");
        answer(QString());
        form->FileOpenItemClick();
        QCOMPARE(form->MDIChildCount(), 0);
        answer(path("m.c"));
        form->OpenBtn->click();
        QCOMPARE(form->MDIChildCount(), 1);
        QCOMPARE(dialogTitles.last(), QStringLiteral("ファイル読み込み"));
        QCOMPARE(form->ActiveMDIChild()->windowTitle(), QStringLiteral("m.c"));
    }

    void anUnreadableFileLeavesNoWindow() {
        QDir(dir->path()).mkdir(QStringLiteral("sub.c"));
        answer(path("sub.c"));
        form->FileOpenItem->trigger();
        QCOMPARE(form->MDIChildCount(), 0);
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].contains(path("sub.c")));
        QVERIFY(form->isVisible());
    }

    void theErrorReportBox() {
        // The real report: error icon, OK, caption "Quelvane", the message and ".".
        boxes.reset();
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            box->button(QMessageBox::Ok)->click();
        });
        QDir(dir->path()).mkdir(QStringLiteral("d.c"));
        answer(path("d.c"));
        form->FileOpenItem->trigger();
        QCOMPARE(caption, QStringLiteral("Quelvane"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(text, QStringLiteral("ファイル %1 を開けません.").arg(path("d.c")));
        QCOMPARE(form->MDIChildCount(), 0);
    }

    void saveAndSaveAs() {
        form->FileNewItemClick();
        TMDIChild *doc = form->ActiveMDIChild();
        QTest::keyClicks(doc->RichEdit1, "int x;");
        QVERIFY(doc->Changed);
        // Untitled: the dialog is cancelled and nothing is written.
        answer(QString());
        form->FileSaveItemClick();
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files).size(), 0);
        QVERIFY(doc->Changed);
        QVERIFY(doc->windowTitle().endsWith(QLatin1Char('*')));
        // Untitled: the dialog chooses a file.
        answer(path("x.c"));
        form->FileSaveItem->trigger();
        QCOMPARE(qvtest::ReadFile(path("x.c")), QByteArray("int x;"));
        QCOMPARE(doc->windowTitle(), QStringLiteral("x.c"));
        QCOMPARE(dialogTitles.last(), QStringLiteral("ファイル保存"));
        // Save As on a titled document writes the new file and keeps the new path.
        answer(path("y.c"));
        form->FileSaveAsItemClick();
        QCOMPARE(doc->FileName, path("y.c"));
        QCOMPARE(qvtest::ReadFile(path("y.c")), QByteArray("int x;"));
        // Ctrl+S saves the active document.
        QTest::keyClicks(doc->RichEdit1, " int");
        QTest::keySequence(form.get(), QKeySequence(Qt::CTRL | Qt::Key_S));
        QCOMPARE(qvtest::ReadFile(path("y.c")), QByteArray("int x; int"));
        QVERIFY(!doc->Changed);
    }

    // A name chosen in a save dialog that is taken already: the user is asked;
    // No keeps the old file and cancels the save (the document keeps its path
    // and its changes, the project stays without a file).
    void savingOverAnExistingFileAsks_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("reply");  // QMessageBox::Yes, No; 0: the file is new
        for (const char *command : {"save", "save as", "project"}) {
            QTest::addRow("%s, new file", command) << command << 0;
            QTest::addRow("%s, yes", command) << command << int(QMessageBox::Yes);
            QTest::addRow("%s, no", command) << command << int(QMessageBox::No);
        }
    }
    void savingOverAnExistingFileAsks() {
        QFETCH(QString, command);
        QFETCH(int, reply);
        const QString target = path(command == "project" ? "old.prj" : "old.c");
        if (reply) writeTestFile(target, "old\r\n");
        const bool project = command == "project";
        TMDIChild *doc = nullptr;
        if (project) {
            form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        } else {
            writeTestFile(path("mine.c"), "x\n");
            if (command == "save")
                form->FileNewItemClick();
            else
                form->OpenDocument(path("mine.c"));
            doc = form->ActiveMDIChild();
            QTest::keyClicks(doc->RichEdit1, "new");
        }
        const QString before = doc ? doc->FileName : QString();
        if (reply) saveAnswers.push_back(reply);
        answer(target);
        if (command == "save") form->FileSaveItemClick();
        if (command == "save as") form->FileSaveAsItemClick();
        if (project) form->ProjSaveItemClick();
        QCOMPARE(asked, reply ? 1 : 0);
        const bool written = reply != QMessageBox::No;
        const QByteArray expected = project ? QByteArray("#QV:1\r\nP\r\n") : QByteArray(command == "save" ? "new" : "newx\n");
        QCOMPARE(qvtest::ReadFile(target), written ? expected : QByteArray("old\r\n"));
        if (project) {
            QCOMPARE(form->SaveDialog1.FileName.isEmpty(), !written);
        } else {
            QCOMPARE(doc->FileName, written ? target : before);
            QCOMPARE(doc->Changed, !written);
        }
    }

    void closingAChangedDocumentAsks() {
        form->FileNewItemClick();
        TMDIChild *doc = form->ActiveMDIChild();
        QTest::keyClicks(doc->RichEdit1, "abc");
        saveAnswers = {QMessageBox::Cancel};
        form->FileCloseItemClick();
        QCOMPARE(asked, 1);
        QCOMPARE(form->MDIChildCount(), 1);
        // Save with the dialog cancelled keeps it open too.
        saveAnswers = {QMessageBox::Save};
        answer(QString());
        form->FileCloseItemClick();
        QCOMPARE(form->MDIChildCount(), 1);
        // Save into a file closes it.
        saveAnswers = {QMessageBox::Save};
        answer(path("kept.c"));
        form->FileCloseItemClick();
        QTRY_COMPARE(form->MDIChildCount(), 0);
        QCOMPARE(qvtest::ReadFile(path("kept.c")), QByteArray("abc"));
        // Without changes nothing is asked.
        form->FileNewItemClick();
        asked = 0;
        form->FileCloseItemClick();
        QTRY_COMPARE(form->MDIChildCount(), 0);
        QCOMPARE(asked, 0);
    }

    void exitAsksAboutChangedDocuments() {
        writeTestFile(path("one.c"), "one");
        form->OpenDocument(path("one.c"));
        QTest::keyClicks(form->ActiveMDIChild()->RichEdit1, "1");
        form->FileNewItemClick();
        QTest::keyClicks(form->ActiveMDIChild()->RichEdit1, "2");
        form->FileNewItemClick();  // unchanged: never asked
        // Discard the first asked, cancel the second: everything stays open.
        saveAnswers = {QMessageBox::Discard, QMessageBox::Cancel};
        form->FileExitItemClick();
        QCOMPARE(asked, 2);
        QVERIFY(form->isVisible());
        QCOMPARE(form->MDIChildCount(), 3);
        // Save the untitled one, then cancel its Save As dialog: nothing is
        // written and the window stays, the document still changed.
        asked = 0;
        saveAnswers = {QMessageBox::Save, QMessageBox::Discard};
        answer(QString());
        form->FileExitItemClick();
        QCOMPARE(asked, 2);
        QVERIFY(form->isVisible());
        QCOMPARE(form->MDIChildCount(), 3);
        QVERIFY(form->MDIChildren(1)->Changed && form->MDIChildren(1)->IsUntitled());
        QCOMPARE(qvtest::ReadFile(path("one.c")), QByteArray("one"));
        // Save the titled one, discard the untitled one: the window closes.
        asked = 0;
        saveAnswers = {QMessageBox::Discard, QMessageBox::Save};
        form->ExitBtn->click();
        QCOMPARE(asked, 2);
        QVERIFY(!form->isVisible());
        QCOMPARE(qvtest::ReadFile(path("one.c")), QByteArray("1one"));
    }

    void windowArrangement() {
        for (int i = 0; i < 3; ++i) form->FileNewItemClick();
        QList<TMDIChild *> docs;
        for (int i = 0; i < 3; ++i) docs << form->MDIChildren(i);
        form->WindowTileItemClick();
        const int width = form->ClientArea->viewport()->width();
        int y = -1;
        for (TMDIChild *d : docs) {
            QCOMPARE(d->width(), width);
            QCOMPARE(d->x(), 0);
            QVERIFY(d->y() > y);
            y = d->y();
        }
        form->WindowCascadeItemClick();
        QVERIFY(docs[0]->pos() != docs[1]->pos());
        form->WindowMinimizeItemClick();
        for (TMDIChild *d : docs) QVERIFY(d->isMinimized());
        form->WindowArrangeItemClick();
        for (TMDIChild *d : docs)
            QVERIFY(d->geometry().bottom() <= form->ClientArea->viewport()->rect().bottom());
        // The window list names every document.
        emit form->Window1->aboutToShow();
        int entries = 0;
        for (QAction *a : form->Window1->actions()) entries += a->property("windowEntry").toBool() && !a->isSeparator();
        QCOMPARE(entries, 3);
    }

    void activationOrder() {
        for (int i = 0; i < 3; ++i) form->FileNewItemClick();
        TMDIChild *oldest = form->MDIChildren(2);
        form->ClientArea->setActiveSubWindow(oldest);
        QCOMPARE(form->MDIChildren(0), oldest);
        QCOMPARE(form->ActiveMDIChild(), oldest);
    }

    void editorKeepsCtrlAAndDel() {
        form->FileNewItemClick();
        TMDIChild *doc = form->ActiveMDIChild();
        doc->RichEdit1->setFocus();
        QTest::keyClicks(doc->RichEdit1, "abcd");
        QTest::keyClick(doc->RichEdit1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(SelLength(doc->RichEdit1), 4);
        QTest::keyClick(doc->RichEdit1, Qt::Key_Delete);
        QCOMPARE(TextOf(doc->RichEdit1), QString());
        QCOMPARE(dialogTitles.size(), 0);  // no Add file dialog came up
        // With the tree focused, Ctrl+A adds a file and Del removes it.
        writeTestFile(path("t.c"), "");
        answer(path("t.c"));
        form->TreeView1->setFocus();
        QTest::keyClick(form->TreeView1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(project::NodeCount(form->TreeView1), 1);
        QTest::keyClick(form->TreeView1, Qt::Key_Delete);
        QCOMPARE(project::NodeCount(form->TreeView1), 0);
    }

    void editCommandsActOnTheActiveEditor() {
        form->FileNewItemClick();
        TMDIChild *doc = form->ActiveMDIChild();
        QTest::keyClicks(doc->RichEdit1, "hello");
        SetSelection(doc->RichEdit1, 0, 5);
        form->CutItem->trigger();
        QCOMPARE(TextOf(doc->RichEdit1), QString());
        form->PasteBtn->click();
        form->PasteItem->trigger();
        QCOMPARE(TextOf(doc->RichEdit1), QStringLiteral("hellohello"));
        // Undo and Redo follow the active document's history.
        QVERIFY(form->UndoItem->isEnabled() && !form->RedoItem->isEnabled());
        form->UndoItem->trigger();
        QCOMPARE(TextOf(doc->RichEdit1), QStringLiteral("hello"));
        QVERIFY(form->RedoItem->isEnabled());
        form->RedoItem->trigger();
        QCOMPARE(TextOf(doc->RichEdit1), QStringLiteral("hellohello"));
        QCOMPARE(form->UndoItem->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
        QCOMPARE(form->RedoItem->shortcut(), QKeySequence(QStringLiteral("Ctrl+Y")));
        form->FileNewItemClick();  // a fresh document has nothing to undo
        QVERIFY(!form->UndoItem->isEnabled() && !form->RedoItem->isEnabled());
    }

    // What is no regular file is never read: opened through the dialog or by a
    // double-click on a project's file node, it is refused with a report naming
    // it and no window stays. A missing file gives one untitled window per
    // double-click. The program goes on in every case.
    void openingWhatCannotBeRead_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("fromTree");
        QTest::addColumn<int>("windows");
        QTest::addColumn<QString>("report");  // "regular": not a regular file; "large": more than the store holds
        for (bool tree : {false, true}) {
            const char *route = tree ? "tree: " : "dialog: ";
            QTest::newRow(QByteArray(route).append("fifo")) << "fifo.c" << tree << 0 << "regular";
            QTest::newRow(QByteArray(route).append("endless device")) << "/dev/zero" << tree << 0 << "regular";
            QTest::newRow(QByteArray(route).append("enormous file")) << "huge.c" << tree << 0 << "too long";
            QTest::newRow(QByteArray(route).append("missing file")) << "gone.c" << tree << 1 << "";
            QTest::newRow(QByteArray(route).append("plain file")) << "plain.c" << tree << 1 << "";
        }
    }
    void openingWhatCannotBeRead() {
        QFETCH(QString, target);
        QFETCH(bool, fromTree);
        QFETCH(int, windows);
        QFETCH(QString, report);
        const QString file = target.startsWith(QLatin1Char('/')) ? target : path(target);
        QCOMPARE(::mkfifo(QFile::encodeName(path("fifo.c")).constData(), 0600), 0);
        writeTestFile(path("plain.c"), "int plain;\r\n");
        QFile huge(path("huge.c"));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        if (!huge.resize(qint64(1) << 40) && target == QLatin1String("huge.c")) QSKIP("no sparse file of 1 TiB here");
        huge.close();
        for (int click = 1; click <= 2; ++click) {
            if (fromTree) {
                form->CurrentProject = project::Project();
                form->CurrentProject = project::Project::Named(QStringLiteral("P"));
                const int index = form->CurrentProject.AddFile(target, file);
                project::ShowProject(form->TreeView1, form->CurrentProject);
                QTreeWidgetItem *node = project::NodeAt(form->TreeView1, index);
                // As the mouse does it: the first click selects the node, then the double-click.
                const QPoint at = form->TreeView1->visualItemRect(node).center();
                QTest::mouseClick(form->TreeView1->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseDClick(form->TreeView1->viewport(), Qt::LeftButton, {}, at);
            } else {
                answer(file);
                form->FileOpenItem->trigger();
            }
            // An untitled window never matches, so each click on a missing file gives one more.
            const bool again = target == QLatin1String("gone.c");
            QCOMPARE(form->MDIChildCount(), again ? windows * click : windows);
        }
        if (report.isEmpty()) {
            QCOMPARE(reports, QStringList());
        } else {
            QString message = EQvError::NotRegularOpen(file).Message;
            if (report == QLatin1String("too long")) {  // a text the editor could never hold: refused unread
                try {
                    sourcetext::CheckLength(file, qint64(TText::kMaxLength) + 1);
                } catch (const EQvError &e) {
                    message = e.Message;
                }
            }
            QCOMPARE(reports, (QStringList{message, message}));
        }
        form->FileNewItemClick();
        QVERIFY(form->isVisible() && form->ActiveMDIChild());
    }

    // New project, Open project and Exit ask before a changed project is dropped:
    // Save writes it first (a refused save cancels the command), Discard drops it,
    // Cancel keeps everything.
    void projectChangesAreNotDroppedWithoutAQuestion_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("answer");  // -1: the project is unchanged and nothing is asked
        QTest::addColumn<bool>("refused");  // the project file has become a FIFO: the save is refused
        for (const char *command : {"new", "open", "drop", "exit"}) {
            const QByteArray c(command);
            QTest::newRow(c + ", unchanged") << QString(c) << -1 << false;
            QTest::newRow(c + ", cancel") << QString(c) << int(QMessageBox::Cancel) << false;
            QTest::newRow(c + ", discard") << QString(c) << int(QMessageBox::Discard) << false;
            QTest::newRow(c + ", save") << QString(c) << int(QMessageBox::Save) << false;
            QTest::newRow(c + ", save refused") << QString(c) << int(QMessageBox::Save) << true;
        }
    }
    void projectChangesAreNotDroppedWithoutAQuestion() {
        QFETCH(QString, command);
        QFETCH(int, answer);
        QFETCH(bool, refused);
        const QByteArray saved("#QV:1\r\nP\r\nA.C\r\n/a/A.C\r\n");
        writeTestFile(path("p.prj"), saved);
        writeTestFile(path("other.prj"), "#QV:1\r\nOTHER\r\n");
        writeTestFile(path("b.c"), "");
        auto labels = [this] {
            QStringList out;
            for (int i = 0; i < project::NodeCount(form->TreeView1); ++i)
                out << project::NodeAt(form->TreeView1, i)->text(0);
            return out;
        };
        this->answer(path("p.prj"));
        form->ProjOpenItemClick();
        if (answer >= 0) {
            this->answer(path("b.c"));
            form->AddFileClick();
        }
        if (refused) {
            QVERIFY(QFile::remove(path("p.prj")));
            QCOMPARE(::mkfifo(QFile::encodeName(path("p.prj")).constData(), 0600), 0);
        }
        const QStringList before = labels();
        form->Output->Append(QStringLiteral("row"));
        projectAnswers = {answer};
        if (command == QLatin1String("new")) {
            qvtest::AnswerModal<TNewProjDlg>([](TNewProjDlg &d) {
                QTest::keyClicks(d.ProjName, QStringLiteral("new"));
                d.accept();
            });
            form->ProjNewItem->trigger();
        } else if (command == QLatin1String("open")) {
            this->answer(path("other.prj"));
            form->ProjOpenItem->trigger();
        } else if (command == QLatin1String("drop")) {
            form->OpenFiles({path("other.prj")});
        } else {
            form->FileExitItem->trigger();
        }
        QCOMPARE(projectAsked, answer < 0 ? QStringList() : QStringList{QStringLiteral("P")});
        const bool goesOn = answer != QMessageBox::Cancel && !refused;
        QCOMPARE(reports.size(), refused ? 1 : 0);
        if (!refused)
            QCOMPARE(qvtest::ReadFile(path("p.prj")),
                     answer == QMessageBox::Save ? "#QV:1\r\nP\r\nb.c\r\n" + path("b.c").toUtf8() + "\r\nA.C\r\n/a/A.C\r\n" : saved);
        if (!goesOn) {
            QCOMPARE(labels(), before);
            QCOMPARE(form->Output->count(), 1);
            QVERIFY(form->isVisible());
            QVERIFY(form->CurrentProject.NeedsSaving());
        } else if (command == QLatin1String("exit")) {
            QVERIFY(!form->isVisible());
        } else {
            QCOMPARE(labels(), QStringList{command == QLatin1String("new") ? "NEW" : "OTHER"});
            if (command != QLatin1String("new")) QCOMPARE(form->RecentProjects->Paths().first(), path("other.prj"));
            QVERIFY(!form->CurrentProject.NeedsSaving());
        }
        if (refused) QFile::remove(path("p.prj"));
    }

    // The keys where the layout gives none, pressed where the user types.
    void keys() {
        const auto press = [](int key, Qt::KeyboardModifiers modifiers) {
            QWidget *target = QApplication::focusWidget();
            QTest::keyClick(target ? target : QApplication::activeWindow(), Qt::Key(key), modifiers);
        };
        press(Qt::Key_N, Qt::ControlModifier);
        press(Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(form->MDIChildCount(), 2);
        TMDIChild *second = form->ActiveMDIChild();
        QVERIFY(second->RichEdit1->hasFocus());
        press(Qt::Key_Tab, Qt::ControlModifier);
        QVERIFY(form->ActiveMDIChild() != second);
        press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);  // Ctrl+Shift+Tab as X sends it
        QCOMPARE(form->ActiveMDIChild(), second);
        press(Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(form->ActiveMDIChild() != second);
        press(Qt::Key_W, Qt::ControlModifier);
        QTRY_COMPARE(form->MDIChildCount(), 1);
        QCOMPARE(form->ActiveMDIChild(), second);
        press(Qt::Key_F4, Qt::ControlModifier);
        QTRY_COMPARE(form->MDIChildCount(), 0);
        press(Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(dialogTitles, QStringList{QStringLiteral("ファイル読み込み")});
    }

    // The caret field against a model of the columns: a tab goes on to the next
    // multiple of 8, a character of two Shift-JIS bytes takes two columns.
    void theCaretField() {
        QCOMPARE(form->Status->CaretField->text(), QString());
        form->FileNewItemClick();
        TRichEdit *e = form->ActiveMDIChild()->RichEdit1;
        QCOMPARE(form->Status->CaretField->text(), QStringLiteral("行 1, 桁 1"));
        QRandomGenerator rng(24);
        const QString alphabet = QStringLiteral("ab \tあ漢ｱﾞ「\n");
        QString text;
        for (int i = 0; i < 600; ++i) text += alphabet[rng.bounded(int(alphabet.size()))];
        e->insertPlainText(text);
        const QStringList lines = text.split(QLatin1Char('\n'));
        QCOMPARE(form->Status->CaretField->text(), QStringLiteral("行 %1, 桁 ").arg(lines.size()) +
                                               form->Status->CaretField->text().section(QLatin1Char(' '), 3));
        const auto column = [](const QString &before) {
            int c = 0;
            for (QChar ch : before) c = ch == QLatin1Char('\t') ? (c / 8 + 1) * 8 : c + int(sjis::encodeLossy(QString(ch)).size());
            return c;
        };
        for (int i = 0; i < 300; ++i) {
            const int line = rng.bounded(int(lines.size()));
            const int at = rng.bounded(int(lines[line].size()) + 1);
            const int pos = e->Text()->LineStart(line) + at;
            if (i % 2) {
                e->SetSelection(pos, pos);
            } else {
                // Typed: the field follows the edit.
                e->SetSelection(pos, pos);
                QTest::keyClick(e, Qt::Key_X);
                QTest::keyClick(e, Qt::Key_Backspace);
            }
            QCOMPARE(form->Status->CaretField->text(), QStringLiteral("行 %1, 桁 %2").arg(line + 1).arg(column(lines[line].left(at)) + 1));
        }
        saveAnswers = {QMessageBox::Discard};
        form->FileCloseItemClick();
        QTRY_COMPARE(form->MDIChildCount(), 0);
        QCOMPARE(form->Status->CaretField->text(), QString());
    }

    // What the window remembers is read back by the next one.
    void settingsOutliveTheWindow() {
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        // A first start: the layout's sizes, nothing recent, no line numbers.
        form->RestoreSettings();
        QCOMPARE(form->TreeView1->width(), TMainForm::TreeWidth);
        QCOMPARE(form->Panel1->height(), TMainForm::OutputHeight);
        QVERIFY(form->RecentFiles->Paths().isEmpty() && form->RecentProjects->Paths().isEmpty());
        QVERIFY(!form->RecentFiles->Menu->isEnabled());
        QVERIFY(!form->WindowMenu->LineNumbersItem->isChecked());
        form->resize(760, 580);
        form->TreeSplitter->setSizes({200, 500});
        form->PaneSplitter->setSizes({350, 150});
        QStringList expected;
        for (int i = 0; i < 10; ++i) {
            writeTestFile(path(QStringLiteral("f%1.c").arg(i)), "int f;\r\n");
            form->OpenDocument(path(QStringLiteral("f%1.c").arg(i)));
            expected.prepend(path(QStringLiteral("f%1.c").arg(i)));
        }
        form->OpenDocument(path("f3.c"));  // again: to the head, once
        expected.move(expected.indexOf(path("f3.c")), 0);
        expected = expected.mid(0, TRecentList::Max);
        QCOMPARE(form->RecentFiles->Paths(), expected);
        writeTestFile(path("p.prj"), "#QV:1\r\nP\r\n");
        form->OpenFiles({path("p.prj")});
        form->WindowMenu->LineNumbersItem->trigger();
        QVERIFY(form->MDIChildren(5)->RichEdit1->LineNumbers());
        const QSize size = form->size();
        const int tree = form->TreeView1->width(), panel = form->Panel1->height();
        QVERIFY(form->close());

        TMainForm next;
        next.RestoreSettings();
        next.show();
        QVERIFY(QTest::qWaitForWindowExposed(&next));
        QCOMPARE(next.size(), size);
        QCOMPARE(next.TreeView1->width(), tree);
        QCOMPARE(next.Panel1->height(), panel);
        QCOMPARE(next.RecentFiles->Paths(), expected);
        QCOMPARE(next.RecentProjects->Paths(), QStringList{path("p.prj")});
        QVERIFY(next.WindowMenu->LineNumbersItem->isChecked());
        next.FileNewItemClick();
        QVERIFY(next.ActiveMDIChild()->RichEdit1->LineNumbers());
        QCOMPARE(next.RecentFiles->Menu->actions().first()->text(), QStringLiteral("&1 ") + path("f3.c"));
        // A file that is gone: chosen, it is taken off the list with a message.
        QVERIFY(QFile::remove(path("f9.c")));
        next.RecentFiles->Menu->actions().at(1)->trigger();
        QCOMPARE(asked, 1);
        QCOMPARE(next.MDIChildCount(), 1);
        expected.removeAll(path("f9.c"));
        QCOMPARE(next.RecentFiles->Paths(), expected);
        next.RecentProjects->Menu->actions().first()->trigger();
        QCOMPARE(project::NodeAt(next.TreeView1, 0)->text(0), QStringLiteral("P"));
        next.RecentFiles->Menu->actions().first()->trigger();
        QCOMPARE(next.ActiveMDIChild()->FileName, path("f3.c"));
        TMainForm third;
        third.RestoreSettings();
        QCOMPARE(third.RecentFiles->Paths(), expected);
        QVERIFY(QDir::setCurrent(dir->path()));
    }

    // Files named on the command line or dropped on the window open as from the
    // File menu; a project file opens as the project.
    void filesFromOutside() {
        QCOMPARE(TFileDrop::ArgumentFiles({"a.c", "-style", "-", "--", "-x.c", "--", "b.h"}),
                 (QStringList{"a.c", "-", "-x.c", "--", "b.h"}));
        writeTestFile(path("a.c"), "int a;\r\n");
        writeTestFile(path("b.h"), "int b;\r\n");
        writeTestFile(path("p.prj"), "#QV:1\r\nP\r\nb.h\r\n" + path("b.h").toUtf8() + "\r\n");
        form->OpenFiles({QStringLiteral("a.c"), QStringLiteral("p.PRJ"), QStringLiteral("missing.c")});
        QCOMPARE(form->MDIChildCount(), 2);
        QCOMPARE(form->MDIChildren(1)->FileName, path("a.c"));
        QVERIFY(form->MDIChildren(0)->IsUntitled());
        QCOMPARE(project::NodeCount(form->TreeView1), 0);  // p.PRJ is no file here
        form->OpenFiles({QStringLiteral("p.prj")});
        QCOMPARE(project::NodeCount(form->TreeView1), 2);
        QWidget *target = form.get();
        // A drop of files is taken as a copy, whatever the source proposes (with
        // Shift held, a move): a source told "moved" may delete its files. A
        // source that offers no copy is refused.
        Qt::DropActions offered = Qt::CopyAction;
        Qt::KeyboardModifiers held = Qt::NoModifier;
        const auto drag = [&](const QMimeData &mime) {
            QDragEnterEvent enter(QPoint(20, 20), offered, &mime, Qt::LeftButton, held);
            enter.setAccepted(false);
            QApplication::sendEvent(target, &enter);
            if (!enter.isAccepted()) return false;
            if (enter.dropAction() != Qt::CopyAction) return false;
            QDragMoveEvent move(QPoint(22, 22), offered, &mime, Qt::LeftButton, held);
            move.setAccepted(false);
            QApplication::sendEvent(target, &move);
            if (!move.isAccepted() || move.dropAction() != Qt::CopyAction) return false;
            QDropEvent drop(QPointF(22, 22), offered, &mime, Qt::LeftButton, held);
            QApplication::sendEvent(target, &drop);
            return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
        };
        QMimeData dropped;
        dropped.setUrls({QUrl::fromLocalFile(path("b.h")), QUrl::fromLocalFile(path("a.c"))});
        QVERIFY(drag(dropped));
        QCOMPARE(form->MDIChildCount(), 3);
        QCOMPARE(form->ActiveMDIChild()->FileName, path("a.c"));
        QCOMPARE(form->MDIChildren(1)->FileName, path("b.h"));
        QMimeData remote, text;
        remote.setUrls({QUrl(QStringLiteral("http://example.invalid/c.c"))});
        text.setText(path("b.h"));
        QVERIFY(!drag(remote));
        QVERIFY(!drag(text));
        QCOMPARE(form->MDIChildCount(), 3);
        // Dropped on an editor: opened, not written into it.
        writeTestFile(path("d.c"), "int d;\r\n");
        TRichEdit *editor = form->ActiveMDIChild()->RichEdit1;
        target = editor->viewport();
        QMimeData one;
        one.setUrls({QUrl::fromLocalFile(path("d.c"))});
        QVERIFY(drag(one));
        QCOMPARE(form->MDIChildCount(), 4);
        QCOMPARE(form->ActiveMDIChild()->FileName, path("d.c"));
        QCOMPARE(editor->toPlainText(), QStringLiteral("int a;\n"));
        // Offered as a move (Shift held): taken as a copy, on the window and on an editor.
        writeTestFile(path("e.c"), "int e;\r\n");
        writeTestFile(path("f.c"), "int f;\r\n");
        offered = Qt::CopyAction | Qt::MoveAction;
        held = Qt::ShiftModifier;
        for (const char *name : {"e.c", "f.c"}) {
            target = name == QByteArray("e.c") ? static_cast<QWidget *>(form.get()) : form->ActiveMDIChild()->RichEdit1->viewport();
            QMimeData moved;
            moved.setUrls({QUrl::fromLocalFile(path(name))});
            QVERIFY2(drag(moved), name);
            QCOMPARE(form->ActiveMDIChild()->FileName, path(name));
            QVERIFY(QFile::exists(path(name)));
        }
        // Only a move offered: refused.
        offered = Qt::MoveAction;
        target = form.get();
        QVERIFY(!drag(one));
        target = form->ActiveMDIChild()->RichEdit1->viewport();
        QVERIFY(!drag(one));
        QCOMPARE(form->MDIChildCount(), 6);
    }

    // Another program writes, replaces, touches and removes the files of
    // three open documents while the user edits them, saves them and comes
    // back to the window. A model predicts every question and report and its order (most
    // recently activated first), the answers' effects, the texts, the changed
    // marks, where the carets stay in a document read again, the order of
    // the windows and the files' bytes.
    void filesChangedElsewhere() {
        QRandomGenerator rng(3306);
        constexpr int n = 3;
        const QStringList names{QStringLiteral("a.c"), QStringLiteral("b.c"), QStringLiteral("c.c")};
        struct Doc {
            QString text;
            bool changed = false;
            int base = 0;                    // the file's version it read or wrote
            int toldBase = -1, toldKind = 0;  // what it was told about: its base then, and 1 gone, 2 another version
        };
        Doc docs[n];
        int version[n];  // of each file; -1: gone
        QString content[n];
        int versions = 0;
        qint64 seconds = 1000000000;
        const auto makeContent = [&](int v) {
            QString t;
            const int lines = 1 + int(rng.bounded(6));
            for (int k = 0; k < lines; ++k) t += QStringLiteral("v%1 line %2%3\n").arg(v).arg(k).arg(QString(int(rng.bounded(5)), u'_'));
            return t;
        };
        QList<TMDIChild *> windows;  // by file
        QList<int> order;            // most recently activated first, by file
        for (int i = 0; i < n; ++i) {
            version[i] = ++versions;
            content[i] = makeContent(version[i]);
            writeTestFile(path(names[i]), content[i].toLatin1());
            form->OpenDocument(path(names[i]));
            windows << form->ActiveMDIChild();
            docs[i] = Doc{content[i], false, version[i]};
            order.prepend(i);
        }
        const auto lineCol = [](const QString &text, int &line, int &col) {
            const QStringList lines = text.split(u'\n');
            line = std::min(line, int(lines.size()) - 1);
            col = std::min(col, int(lines[line].size()));
        };
        for (int step = 0; step < 150; ++step) {
            const int i = int(rng.bounded(n));
            const int op = int(rng.bounded(7));
            QStringList expected;
            diskAnswers.clear();
            for (int k = 0; k < 4; ++k) diskAnswers.push_back(rng.bounded(2) ? QMessageBox::Yes : QMessageBox::No);
            std::deque<int> answers = diskAnswers;
            const auto next = [&answers] {
                const int a = answers.empty() ? int(QMessageBox::No) : answers.front();
                if (!answers.empty()) answers.pop_front();
                return a == QMessageBox::Yes;
            };
            told.clear();
            int carets[n][2];
            TMDIChild *active = form->ActiveMDIChild();
            switch (op) {
            case 0:
            case 1: {  // another program writes the file: new lines, or one letter of the same size
                version[i] = ++versions;
                if (op == 1 && !content[i].isEmpty()) {
                    const int at = int(rng.bounded(content[i].size()));
                    content[i][at] = content[i][at] == u'#' ? u'%' : u'#';
                } else {
                    content[i] = makeContent(version[i]);
                }
                writeElsewhere(path(names[i]), content[i].toLatin1(), rng.bounded(2), ++seconds);
                break;
            }
            case 2:  // or removes it
                if (version[i] >= 0 && rng.bounded(2)) {
                    QVERIFY(QFile::remove(path(names[i])));
                    version[i] = -1;
                }
                break;
            case 6:  // or only touches it, or writes the same bytes again: no change
                if (version[i] >= 0) writeElsewhere(path(names[i]), content[i].toLatin1(), rng.bounded(2), ++seconds);
                break;
            case 3:  // the user types into the document
                windows[i]->RichEdit1->SetSelection(0, 0);
                QTest::keyClick(windows[i]->RichEdit1, Qt::Key_X);
                docs[i].text.prepend(u'x');
                docs[i].changed = true;
                break;
            case 4: {  // brings it forward and saves it
                form->ClientArea->setActiveSubWindow(windows[i]);
                active = windows[i];
                order.removeOne(i);
                order.prepend(i);
                form->FileSaveItem->trigger();
                bool write = true;
                if (version[i] >= 0 && version[i] != docs[i].base) {
                    expected << QStringLiteral("OverwriteQuestion: %1は他のプログラムで変更されています。上書き保存しますか?").arg(names[i]);
                    write = next();
                }
                if (write) {
                    version[i] = docs[i].base = ++versions;
                    content[i] = docs[i].text;
                    docs[i].changed = false;
                }
                break;
            }
            case 5: {  // goes to another program and comes back
                for (int d = 0; d < n; ++d) {
                    TRichEdit *e = windows[d]->RichEdit1;
                    const int line = int(rng.bounded(e->Text()->LineCount()));
                    const int col = int(rng.bounded(e->Text()->LineLength(line) + 1));
                    e->SetSelection(e->Text()->LineStart(line) + col, e->Text()->LineStart(line) + col);
                    carets[d][0] = line;
                    carets[d][1] = col;
                }
                comeBack();
                for (const int d : std::as_const(order)) {
                    Doc &m = docs[d];
                    carets[d][0] = -1 - carets[d][0];  // not read again (yet)
                    if (version[d] == m.base) {
                        m.toldBase = -1;
                        continue;
                    }
                    const int kind = version[d] < 0 ? 1 : 2;
                    if (m.toldBase == m.base && m.toldKind == kind) continue;
                    m.toldBase = m.base;
                    m.toldKind = kind;
                    bool reload = false;
                    if (kind == 1) {
                        expected << QStringLiteral("FileGone: %1は削除されたか移動されました。保存すると作り直します。").arg(names[d]);
                        m.changed = true;
                    } else if (!m.changed) {
                        reload = true;
                    } else {
                        expected << QStringLiteral("ReloadQuestion: %1は他のプログラムで変更されました。読み込み直しますか?").arg(names[d]);
                        reload = next();
                    }
                    if (reload) {
                        m.text = content[d];
                        m.base = version[d];
                        m.changed = false;
                        m.toldBase = -1;
                        carets[d][0] = -1 - carets[d][0];
                        lineCol(m.text, carets[d][0], carets[d][1]);
                    }
                }
                break;
            }
            }
            QCOMPARE(told, expected);
            QCOMPARE(form->ActiveMDIChild(), active);
            for (int k = 0; k < n; ++k) QCOMPARE(form->MDIChildren(k), windows[order[k]]);
            for (int d = 0; d < n; ++d) {
                TMDIChild *w = windows[d];
                QCOMPARE(w->RichEdit1->toPlainText(), docs[d].text);
                QCOMPARE(w->Changed, docs[d].changed);
                QCOMPARE(w->windowTitle(), names[d] + (docs[d].changed ? QStringLiteral("*") : QString()));
                QCOMPARE(qvtest::ReadFile(path(names[d])), version[d] < 0 ? QByteArray("<missing>") : content[d].toLatin1());
                if (op == 5 && carets[d][0] >= 0) {
                    const TTextStore *t = w->RichEdit1->Text();
                    const int caret = w->RichEdit1->Caret();
                    QCOMPARE(t->LineOf(caret), carets[d][0]);
                    QCOMPARE(caret - t->LineStart(carets[d][0]), carets[d][1]);
                }
            }
        }
        QCOMPARE(reports, QStringList());
    }

    // What no program changed is left alone: a load, our own Save and Save As,
    // a Save As over the file of another open document (that one is read
    // again), and Save of a document whose file is gone (written again
    // without a question).
    void ownWritesAreNoChangeElsewhere() {
        writeTestFile(path("a.c"), "int a;\n");
        writeTestFile(path("b.c"), "int b;\n");
        form->OpenDocument(path("b.c"));
        TMDIChild *b = form->ActiveMDIChild();
        form->OpenDocument(path("a.c"));
        TMDIChild *a = form->ActiveMDIChild();
        comeBack();
        QTest::keyClicks(a->RichEdit1, "x");
        form->FileSaveItem->trigger();
        comeBack();
        QTest::keyClicks(a->RichEdit1, "y");
        answer(path("c.c"));
        form->FileSaveAsItem->trigger();
        QCOMPARE(a->FileName, path("c.c"));
        comeBack();
        QTest::keyClicks(a->RichEdit1, "z");
        comeBack();
        QCOMPARE(told, QStringList());
        QCOMPARE(TextOf(a->RichEdit1), QStringLiteral("xyzint a;\r\n"));
        QCOMPARE(qvtest::ReadFile(path("a.c")), QByteArray("xint a;\n"));
        // Saved as b.c, whose window has no edits: it reads it again.
        saveAnswers = {QMessageBox::Yes};  // b.c is there already: replace it
        answer(path("b.c"));
        form->FileSaveAsItem->trigger();
        comeBack();
        QCOMPARE(told, QStringList());
        QCOMPARE(TextOf(b->RichEdit1), QStringLiteral("xyzint a;\r\n"));
        QVERIFY(!b->Changed);
        a->close();  // it shows b.c too now
        QTRY_COMPARE(form->MDIChildCount(), 1);
        // Gone: reported once, marked changed, written again by Save alone.
        QVERIFY(QFile::remove(path("b.c")));
        comeBack();
        comeBack();
        QCOMPARE(told, QStringList{QStringLiteral("FileGone: b.cは削除されたか移動されました。保存すると作り直します。")});
        QCOMPARE(b->windowTitle(), QStringLiteral("b.c*"));
        QVERIFY(!QFile::exists(path("b.c")));
        form->ClientArea->setActiveSubWindow(b);
        form->FileSaveItem->trigger();
        QCOMPARE(qvtest::ReadFile(path("b.c")), QByteArray("xyzint a;\n"));
        QCOMPARE(told.size(), 1);
        // Closing a window gone from disk asks first.
        QVERIFY(QFile::remove(path("b.c")));
        comeBack();
        saveAnswers = {QMessageBox::Cancel};
        asked = 0;
        form->FileCloseItem->trigger();
        QCOMPARE(asked, 1);
        QCOMPARE(form->MDIChildCount(), 1);
    }

    // A file that something else took the place of is never read: reported
    // once, the text kept; Save refuses to write over it.
    void replacedByWhatIsNoFile_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("folder") << "folder";
        QTest::newRow("fifo") << "fifo";
    }
    void replacedByWhatIsNoFile() {
        QFETCH(QString, what);
        writeTestFile(path("f.c"), "int f;\n");
        form->OpenDocument(path("f.c"));
        TMDIChild *doc = form->ActiveMDIChild();
        QVERIFY(QFile::remove(path("f.c")));
        if (what == "folder")
            QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("f.c")));
        else
            QCOMPARE(::mkfifo(QFile::encodeName(path("f.c")).constData(), 0600), 0);
        comeBack();  // a FIFO read here would wait for ever
        comeBack();
        QCOMPARE(told, QStringList{QStringLiteral("FileNotRegular: f.cは通常のファイルではなくなりました（フォルダやパイプなど）。読み込み直しません。")});
        QCOMPARE(TextOf(doc->RichEdit1), QStringLiteral("int f;\r\n"));
        QVERIFY(doc->Changed);
        form->FileSaveItem->trigger();
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].contains(path("f.c")));
        QVERIFY(doc->Changed);
        QCOMPARE(QFileInfo(path("f.c")).isDir(), what == "folder");
    }

    // The check waits while another question is open: the main window's
    // activation under the close question asks nothing; the question comes
    // once that box is gone and the window is active again.
    void noQuestionOverAnother() {
        writeTestFile(path("a.c"), "int a;\n");
        form->OpenDocument(path("a.c"));
        TMDIChild *a = form->ActiveMDIChild();
        QTest::keyClicks(a->RichEdit1, "x");
        form->FileNewItemClick();
        QTest::keyClicks(form->ActiveMDIChild()->RichEdit1, "new");
        writeElsewhere(path("a.c"), "int changed;\n", false, 1000000000);
        QStringList under;
        QTimer::singleShot(0, this, [&] {
            QEvent activate(QEvent::WindowActivate);
            QApplication::sendEvent(form.get(), &activate);
            QCoreApplication::processEvents();
            under = told;
        });
        saveAnswers = {QMessageBox::Cancel};
        form->FileCloseItem->trigger();
        QCOMPARE(asked, 1);
        QCOMPARE(under, QStringList());
        diskAnswers = {QMessageBox::Yes};
        comeBack();
        QCOMPARE(told, QStringList{QStringLiteral("ReloadQuestion: a.cは他のプログラムで変更されました。読み込み直しますか?")});
        QCOMPARE(TextOf(a->RichEdit1), QStringLiteral("int changed;\r\n"));
    }

    // すべて保存 (Ctrl+Shift+S) saves the changed documents, most recently
    // activated first; an untitled one comes forward for its save dialog, and
    // Cancel there stops the rest. The window that was active stays active.
    void saveAllSavesTheChangedDocuments() {
        writeTestFile(path("a.c"), "a\n");
        writeTestFile(path("b.c"), "b\n");
        writeTestFile(path("c.c"), "c\n");
        const auto open = [this](const QString &name, const char *typed) {
            if (name.isEmpty())
                form->FileNewItemClick();
            else
                form->OpenDocument(path(name));
            TMDIChild *doc = form->ActiveMDIChild();
            QTest::keyClicks(doc->RichEdit1, QString::fromLatin1(typed));
            return doc;
        };
        // Most recently activated first: c, u2, b, u1, a.
        TMDIChild *a = open(QStringLiteral("a.c"), "1");
        TMDIChild *u1 = open(QString(), "u1");
        TMDIChild *b = open(QStringLiteral("b.c"), "");
        TMDIChild *u2 = open(QString(), "u2");
        TMDIChild *c = open(QStringLiteral("c.c"), "3");
        QStringList inFront;  // the active window when each dialog came up
        form->SetFilePrompt([&](TFileDialog &d) {
            inFront << form->ActiveMDIChild()->windowTitle();
            if (dialogAnswers.empty()) return false;
            d.FileName = dialogAnswers.front();
            dialogAnswers.pop_front();
            return !d.FileName.isEmpty();
        });
        // The first dialog names u2, the second is cancelled: u1 and a stay unsaved.
        answer(path("u2.c"));
        answer(QString());
        QTest::keySequence(form.get(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
        QCOMPARE(inFront, (QStringList{QStringLiteral("名称未設定*"), QStringLiteral("名称未設定*")}));
        QCOMPARE(qvtest::ReadFile(path("c.c")), QByteArray("3c\n"));
        QCOMPARE(qvtest::ReadFile(path("u2.c")), QByteArray("u2"));
        QCOMPARE(u2->FileName, path("u2.c"));
        QCOMPARE(qvtest::ReadFile(path("a.c")), QByteArray("a\n"));
        QVERIFY(!c->Changed && !u2->Changed && !b->Changed && u1->Changed && a->Changed);
        QCOMPARE(form->ActiveMDIChild(), c);
        // Again: only the two left are saved.
        answer(path("u1.c"));
        inFront.clear();
        form->FileSaveAllItem->trigger();
        QCOMPARE(inFront, QStringList{QStringLiteral("名称未設定*")});
        QCOMPARE(qvtest::ReadFile(path("u1.c")), QByteArray("u1"));
        QCOMPARE(qvtest::ReadFile(path("a.c")), QByteArray("1a\n"));
        QCOMPARE(qvtest::ReadFile(path("b.c")), QByteArray("b\n"));
        for (int i = 0; i < form->MDIChildCount(); ++i) QVERIFY(!form->MDIChildren(i)->Changed);
        QCOMPARE(form->ActiveMDIChild(), c);
        QCOMPARE(dialogTitles, QStringList());
    }

    // Ctrl+Tab and Ctrl+Shift+Tab against a model of the order of activation:
    // while Ctrl is held each press goes one further through the order as it
    // was when Ctrl went down; letting go puts the window reached first. The
    // window list shows that order. Windows are opened, clicked and closed
    // at random in between.
    void ctrlTabGoesByLastActivation() {
        QRandomGenerator rng(3307);
        QList<TMDIChild *> model;  // most recently activated first
        const auto key = [](bool press, int code, Qt::KeyboardModifiers modifiers) {
            QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
            QTest::simulateEvent(target, press, code, modifiers, QString(), false);
        };
        for (int step = 0; step < 120; ++step) {
            const int n = int(model.size());
            const int op = n < 2 ? 0 : int(rng.bounded(8));
            if (op == 0) {
                form->FileNewItemClick();
                model.prepend(form->ActiveMDIChild());
            } else if (op == 1) {
                TMDIChild *doc = model[int(rng.bounded(n))];
                form->ClientArea->setActiveSubWindow(doc);
                model.move(model.indexOf(doc), 0);
            } else if (op == 2 && n > 2) {
                // The window used before the one closed comes forward.
                TMDIChild *doc = model.takeFirst();
                if (rng.bounded(2))
                    doc->close();
                else
                    form->FileCloseItem->trigger();
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                QTRY_COMPARE(form->ActiveMDIChild(), model.first());
            } else {
                key(true, Qt::Key_Control, Qt::NoModifier);
                int at = 0;
                for (int presses = 1 + int(rng.bounded(4)); presses > 0; --presses) {
                    const bool back = rng.bounded(3) == 0;
                    const Qt::KeyboardModifiers mods = back ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier;
                    const int code = back ? Qt::Key_Backtab : Qt::Key_Tab;  // X sends Shift+Tab as Backtab
                    if (back) key(true, Qt::Key_Shift, Qt::ControlModifier);
                    key(true, code, mods);
                    key(false, code, mods);
                    if (back) key(false, Qt::Key_Shift, mods);
                    at = ((at + (back ? -1 : 1)) % n + n) % n;
                    QCOMPARE(form->ActiveMDIChild(), model[at]);
                    for (int i = 0; i < n; ++i) QCOMPARE(form->MDIChildren(i), model[i]);  // not yet rearranged
                }
                key(false, Qt::Key_Control, Qt::ControlModifier);
                model.move(at, 0);
            }
            QCOMPARE(form->ActiveMDIChild(), model.first());
            QCOMPARE(form->MDIChildCount(), int(model.size()));
            for (int i = 0; i < int(model.size()); ++i) QCOMPARE(form->MDIChildren(i), model[i]);
        }
        // The window list: the same order, the active one checked.
        for (int i = 0; i < int(model.size()); ++i) model[i]->setWindowTitle(QStringLiteral("w%1").arg(i));
        emit form->Window1->aboutToShow();
        QStringList entries;
        for (QAction *a : form->Window1->actions())
            if (a->property("windowEntry").toBool() && !a->isSeparator()) entries << a->text() + (a->isChecked() ? "+" : "");
        QStringList expected;
        for (int i = 0; i < int(model.size()); ++i) expected << QStringLiteral("&%1 w%2").arg(i + 1).arg(i) + (i == 0 ? "+" : "");
        QCOMPARE(entries, expected);
    }

    // Whether the document windows are maximised outlives the main window;
    // minimising them changes nothing of it.
    void maximisedDocumentWindowsAreRemembered() {
        QTemporaryDir config;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
        form->RestoreSettings();
        form->FileNewItemClick();
        QVERIFY(!form->ActiveMDIChild()->isMaximized());
        form->ActiveMDIChild()->showMaximized();
        form->FileNewItemClick();
        QVERIFY(form->ActiveMDIChild()->isMaximized());
        form->ClientArea->setActiveSubWindow(form->MDIChildren(1));  // the other one, maximised in turn
        form->WindowMinimizeItemClick();
        QVERIFY(form->close());
        for (const bool maximised : {true, false}) {
            TMainForm next;
            next.RestoreSettings();
            next.show();
            QVERIFY(QTest::qWaitForWindowExposed(&next));
            next.FileNewItemClick();
            QCOMPARE(next.ActiveMDIChild()->isMaximized(), maximised);
            next.FileNewItemClick();  // beside the first, as it is
            QCOMPARE(next.ActiveMDIChild()->isMaximized(), maximised);
            if (maximised) next.ActiveMDIChild()->showNormal();
            QVERIFY(next.close());
        }
        QVERIFY(QDir::setCurrent(dir->path()));
    }

    void projectCommandsAndTheirTwins() {
        writeTestFile(path("p.c"), "int p;\r\n");
        // The tree's double-click opens the file; the Project menu's entries act like the File menu's.
        answer(path("p.c"));
        form->K1->trigger();
        QCOMPARE(project::NodeCount(form->TreeView1), 1);
        form->TreeView1->setCurrentItem(project::NodeAt(form->TreeView1, 0));
        form->TreeView1DblClick();
        QCOMPARE(form->MDIChildCount(), 1);
        form->TreeView1DblClick();
        QCOMPARE(form->MDIChildCount(), 1);
        answer(path("p.prj"));
        form->KE1->trigger();
        QVERIFY(qvtest::ReadFile(path("p.prj")).startsWith("#QV:1\r\n"));
        form->Output->Append(QStringLiteral("row"));
        answer(path("p.prj"));
        form->KJ1->trigger();
        QCOMPARE(project::NodeCount(form->TreeView1), 1);
        QCOMPARE(form->Output->count(), 0);
    }
};

QV_TEST_MAIN(TstMainForm)
#include "tst_mainform.moc"
