// Find in the project on real files and open documents, the 検索結果 tab's own
// list, navigation from its rows, cancelling; and the Edit menu's find,
// replace and go-to-line commands on the main window.
#include "childwin.h"
#include "modal.h"
#include "textof.h"
#include "errorreport.h"
#include "finddialog.h"
#include "compilecontrol.h"
#include "documents.h"
#include "mainform.h"
#include "searchcontrol.h"
#include "projectfile.h"
#include "projectsearch.h"
#include "projecttree.h"
#include "sjis.h"
#include "sourcetext.h"
#include "textpos.h"
#include "../testfiles.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace {

// Answers a real modal exec() from inside its event loop; a guard closes the
// dialog if the answer did not, so that a fault cannot hang the run.
void AnswerModal(QObject *context, std::function<void(QDialog &)> answer) {
    QTimer::singleShot(0, context, [answer] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) answer(*d);
    });
    QTimer::singleShot(10000, context, [] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) d->done(99);
    });
}

QByteArray Sjis(const QString &text) {
    QByteArray out;
    sjis::encode(text, out);
    return out;
}

}  // namespace

class TstProjectSearch : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TMainForm> form;
    QStringList reports;
    std::unique_ptr<qvtest::MessageBoxAnswers> boxes;

    QString path(const QString &name) const { return dir->filePath(name); }
    QStringList rows() const {
        QStringList r;
        for (int i = 0; i < form->Panel1->SearchList->count(); ++i) r << form->Panel1->SearchList->Row(i);
        return r;
    }
    bool waitDone() {
        return QTest::qWaitFor([this] { return !form->Searcher->ProjectSearch->Running(); }, 60000);
    }
    void addFile(const QString &file) {
        if (form->CurrentProject.IsEmpty()) form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        form->CurrentProject.AddFile(QFileInfo(file).fileName(), file);
    }
    void dblClick(int row) {
        form->Panel1->SearchList->ScrollToRow(row);
        const QPoint at = form->Panel1->SearchList->RowRect(row).center();
        QTest::mouseClick(form->Panel1->SearchList->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(form->Panel1->SearchList->viewport(), Qt::LeftButton, {}, at);
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        reports.clear();
        // Error reports are collected; every save question is answered Discard.
        boxes = std::make_unique<qvtest::MessageBoxAnswers>([this](QMessageBox &box) {
            if (box.icon() != QMessageBox::Critical) return QMessageBox::Discard;
            reports << qvtest::ReportMessage(box);
            return QMessageBox::Ok;
        });
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void cleanup() {
        form.reset();
        boxes.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    // Every file of the tree once, in tree order: open documents as edited,
    // others from disk decoded losslessly; unreadable ones give one row each.
    void searchesEveryFileOfTheTree() {
        QVERIFY(qvtest::WriteFile(path("a.c"), Sjis(QStringLiteral("int main(void)\r\n{\r\n\t  /* 日本語 int */\r\n}\r\n"))));
        QVERIFY(qvtest::WriteFile(path("b.h"), "#define INT 1\nint x;\nprint\n"));
        QVERIFY(qvtest::WriteFile(path("c.c"), "int\rint\r\n\x95 int \x95\x5C\x5C int"));  // lone CR, escaped byte, 表
        QVERIFY(qvtest::WriteFile(path("open.c"), "nothing here\r\n"));
        QVERIFY(qvtest::WriteFile(path("long.c"), QByteArray(300, 'x') + " int " + QByteArray(300, 'y') + "\r\n"));
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("sub.c")));
        QCOMPARE(::mkfifo(QFile::encodeName(path("pipe.c")).constData(), 0600), 0);  // never waited on
        for (const char *f : {"a.c", "b.h", "c.c", "open.c", "missing.c", "sub.c", "pipe.c", "long.c", "a.c"}) addFile(path(f));
        form->OpenDocument(path("open.c"));
        TMDIChild *doc = form->ActiveMDIChild();
        QVERIFY(doc);
        QTest::keyClicks(doc->RichEdit1, "int y; ");  // not saved: the search sees it
        form->Compiler->AppendOutput(QStringLiteral("- compile row"));

        search::Options o;
        form->Searcher->StartProjectSearch(QStringLiteral("int"), o);
        QCOMPARE(form->TabSet1->currentIndex(), 1);
        QVERIFY(waitDone());
        // Tree order (the file added last first, then by name) and line order;
        // without match case INT and print hold "int" too; the escaped byte 95
        // stays a character of its own, 表 (95 5C) is one; a row shows the line
        // without its leading blanks.
        const QString esc = QString(QChar(0xDC95));
        const QStringList want{
            path("a.c") + QStringLiteral(" 1: int main(void)"),
            path("a.c") + QStringLiteral(" 3: /* 日本語 int */"),
            path("b.h") + QStringLiteral(" 1: #define INT 1"),
            path("b.h") + QStringLiteral(" 2: int x;"),
            path("b.h") + QStringLiteral(" 3: print"),
            path("c.c") + QStringLiteral(" 1: int"),
            path("c.c") + QStringLiteral(" 2: int"),
            path("c.c") + QStringLiteral(" 3: ") + esc + QStringLiteral(" int 表\\ int"),
            path("c.c") + QStringLiteral(" 3: ") + esc + QStringLiteral(" int 表\\ int"),
            // A long line shows a window of 160 characters from 40 before the
            // match, cut marks at both ends.
            path("long.c") + QStringLiteral(" 1: \u2026") + QString(39, QLatin1Char('x')) + QStringLiteral(" int ") +
                QString(116, QLatin1Char('y')) + QStringLiteral("\u2026"),
            QStringLiteral("* ファイル %1 を開けません").arg(path("missing.c")),
            path("open.c") + QStringLiteral(" 1: int y; nothing here"),
            QStringLiteral("* ファイル %1 を開けません: 通常のファイルではありません").arg(path("pipe.c")),
            QStringLiteral("* ファイル %1 を開けません").arg(path("sub.c")),
            QStringLiteral("- 「int」: 11 件、5 ファイル (検索したファイル 8)"),
        };
        QCOMPARE(rows(), want);
        const QString longRow = want.at(9);
        // The tab strip shows one list or the other; the compile rows stay.
        QVERIFY(form->Panel1->SearchList->isVisible());
        QVERIFY(!form->Output->isVisible());
        form->TabSet1->setCurrentIndex(0);
        QVERIFY(form->Output->isVisible());
        QVERIFY(!form->Panel1->SearchList->isVisible());
        QCOMPARE(form->Output->count(), 1);
        form->TabSet1->setCurrentIndex(1);

        // Double-clicks: a file that is not open is opened and its match selected.
        dblClick(int(rows().indexOf(longRow)));
        TMDIChild *opened = form->ActiveMDIChild();
        QVERIFY(opened && opened->FileName == path("long.c"));
        QCOMPARE(SelStart(opened->RichEdit1), 301);
        QCOMPARE(SelLength(opened->RichEdit1), 3);
        // An open document is brought forward, the match on its line selected.
        dblClick(int(rows().indexOf(path("c.c") + QStringLiteral(" 3: ") + QChar(0xDC95) + QStringLiteral(" int 表\\ int"))));
        TMDIChild *c = form->ActiveMDIChild();
        QVERIFY(c && c->FileName == path("c.c"));
        QCOMPARE(SelStart(c->RichEdit1), 10 + 2);
        dblClick(int(rows().indexOf(path("c.c") + QStringLiteral(" 3: ") + QChar(0xDC95) + QStringLiteral(" int 表\\ int"))) + 1);
        QCOMPARE(SelStart(c->RichEdit1), 10 + 9);
        QCOMPARE(TextSlice(c->RichEdit1, SelStart(c->RichEdit1), SelLength(c->RichEdit1)), QStringLiteral("int"));
        form->OpenDocument(path("long.c"));
        dblClick(int(rows().indexOf(path("c.c") + QStringLiteral(" 1: int"))));
        QCOMPARE(form->ActiveMDIChild(), c);
        QCOMPARE(SelStart(c->RichEdit1), 0);
        // Rows that are no match, and a file gone since, open nothing.
        const int docs = form->MDIChildCount();
        dblClick(int(rows().indexOf(QStringLiteral("* ") + EQvError::CannotOpen(path("missing.c")).Message)));
        dblClick(form->Panel1->SearchList->count() - 1);
        QVERIFY(QFile::remove(path("b.h")));
        dblClick(int(rows().indexOf(path("b.h") + QStringLiteral(" 2: int x;"))));
        QCOMPARE(form->MDIChildCount(), docs);
        QVERIFY(reports.isEmpty());

        // Match case and whole word reach the search; an empty project gives the count row alone.
        o.MatchCase = true;
        o.WholeWord = true;
        form->Searcher->StartProjectSearch(QStringLiteral("INT"), o);
        QVERIFY(waitDone());
        QCOMPARE(rows().size(), 5);  // b.h, missing.c, sub.c and pipe.c cannot be read; nothing else matches
        QCOMPARE(rows().last(), QStringLiteral("- 「INT」: 0 件、0 ファイル (検索したファイル 8)"));
        form->CurrentProject = project::Project();
        form->Searcher->StartProjectSearch(QStringLiteral("int"), o);
        QVERIFY(waitDone());
        QCOMPARE(rows(), QStringList{QStringLiteral("- 「int」: 0 件、0 ファイル (検索したファイル 0)")});
    }

    // A search can be cancelled and replaced; the window stays usable meanwhile.
    void cancelAndRestart() {
        // Inside one long file: the search stops where it is, not at the file's end.
        const int lines = 2000000;
        QVERIFY(qvtest::WriteFile(path(QStringLiteral("long.c")), QByteArray("int a;\r\n").repeated(lines)));
        addFile(path(QStringLiteral("long.c")));
        // Stop is pressed as soon as the first rows are listed.
        TProjectSearch *search = form->Searcher->ProjectSearch;
        const auto list = search->OnRows;
        search->OnRows = [&](const std::vector<TSearchRow> &r) {
            list(r);
            form->ProjFindStopItem->trigger();
        };
        form->Searcher->StartProjectSearch(QStringLiteral("int"), {});
        QVERIFY(waitDone());
        search->OnRows = list;
        QVERIFY(form->Panel1->SearchList->count() > 1);
        const QRegularExpressionMatch stopped =
            QRegularExpression(QStringLiteral("^\\* 検索を中止しました: (\\d+) 件")).match(rows().last());
        QVERIFY2(stopped.hasMatch(), qPrintable(rows().last()));
        QVERIFY2(stopped.captured(1).toInt() < lines, qPrintable(rows().last()));
        form->CurrentProject = project::Project();
        const QByteArray body = QByteArray("int a; /* x */\r\n").repeated(3000);
        for (int i = 0; i < 150; ++i) {
            const QString f = path(QStringLiteral("f%1.c").arg(i));
            QVERIFY(qvtest::WriteFile(f, body));
            addFile(f);
        }
        form->Searcher->StartProjectSearch(QStringLiteral("int"), {});
        QVERIFY(form->ProjFindStopItem->isEnabled());
        form->ProjFindStopItem->trigger();
        QVERIFY(waitDone());
        QVERIFY(!form->ProjFindStopItem->isEnabled());
        QVERIFY(rows().last().startsWith(QStringLiteral("* 検索を中止しました: ")));
        QVERIFY(rows().size() < 150 * 3000);
        // A second search replaces the first: only its rows are listed.
        form->Searcher->StartProjectSearch(QStringLiteral("int"), {});
        QTest::qWait(5);
        form->Searcher->StartProjectSearch(QStringLiteral("x"), {});
        QVERIFY(waitDone());
        // Every match is counted; the list holds no more than MaxRows of them.
        QCOMPARE(rows().size(), TProjectSearch::MaxRows + 2);
        QCOMPARE(rows().at(TProjectSearch::MaxRows),
                 QStringLiteral("* 一致が多すぎるため、最初の %1 件だけを表示しています").arg(TProjectSearch::MaxRows));
        QCOMPARE(rows().last(), QStringLiteral("- 「x」: 450000 件、150 ファイル (検索したファイル 150)"));
        // Closing the window during a search ends it.
        form->Searcher->StartProjectSearch(QStringLiteral("a"), {});
        form.reset();
    }

    // The Edit menu's commands through their keys on the active document.
    void editMenuCommands() {
        QVERIFY(!form->FindItem->isEnabled());
        QVERIFY(!form->GoToLineItem->isEnabled());
        QVERIFY(qvtest::WriteFile(path("m.c"), "int a;\r\nchar b;\r\nint c;\r\n"));
        form->OpenDocument(path("m.c"));
        TMDIChild *doc = form->ActiveMDIChild();
        QVERIFY(doc);
        for (QAction *a : {form->FindItem, form->FindNextItem, form->FindPrevItem, form->ReplaceItem, form->GoToLineItem})
            QVERIFY(a->isEnabled());
        TRichEdit *e = doc->RichEdit1;
        e->setFocus();
        SetSelection(e, 0, 3);
        QTest::keyClick(e, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(form->FindDialog && form->FindDialog->isVisible() && !form->FindDialog->isModal());
        QCOMPARE(form->FindDialog->FindText->text(), QStringLiteral("int"));
        form->FindNextItem->trigger();
        QCOMPARE(SelStart(e), 17);
        form->FindNextItem->trigger();
        QCOMPARE(SelStart(e), 0);
        QCOMPARE(form->StatusText(), QStringLiteral("末尾まで検索したので、先頭から検索しました"));
        form->FindPrevItem->trigger();
        QCOMPARE(SelStart(e), 17);
        // F3 works in the dialog as well.
        form->FindDialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form->FindDialog));
        QTest::keyClick(form->FindDialog->FindText, Qt::Key_F3);
        QCOMPARE(SelStart(e), 0);
        QTest::keyClick(form->FindDialog->FindText, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(SelStart(e), 17);
        form->FindDialog->close();
        // Replace: Ctrl+H shows the replace part.
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        e->setFocus();
        QTest::keyClick(e, Qt::Key_H, Qt::ControlModifier);
        QVERIFY(form->FindDialog->ReplaceText->isVisible());
        QCOMPARE(TextOf(e), QStringLiteral("int a;\r\nchar b;\r\nint c;\r\n"));  // Ctrl+H deleted nothing
        form->FindDialog->ReplaceText->setText(QStringLiteral("long"));
        form->FindDialog->ReplaceAllClick();
        QCOMPARE(TextOf(e), QStringLiteral("long a;\r\nchar b;\r\nlong c;\r\n"));
        QVERIFY(doc->Changed);
        form->FindDialog->close();

        // Go to line: a number from 1 to the line count; Cancel changes nothing.
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        int maximum = 0;
        AnswerModal(form.get(), [&](QDialog &d) {
            auto *g = qobject_cast<TGoToLineDialog *>(&d);
            maximum = g->Line->maximum();
            g->Line->setValue(99);  // held to the last line
            d.accept();
        });
        QTest::keyClick(e, Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(maximum, 4);
        QCOMPARE(SelStart(e), 27);
        QCOMPARE(SelLength(e), 0);
        AnswerModal(form.get(), [&](QDialog &d) {
            qobject_cast<TGoToLineDialog *>(&d)->Line->setValue(2);
            d.accept();
        });
        form->GoToLineItem->trigger();
        QCOMPARE(SelStart(e), 9);
        QCOMPARE(SelLength(e), 9);
        AnswerModal(form.get(), [&](QDialog &d) {
            qobject_cast<TGoToLineDialog *>(&d)->Line->setValue(1);
            d.reject();
        });
        form->GoToLineItem->trigger();
        QCOMPARE(SelStart(e), 9);

        // Find in the project through its dialog, the selection as its text.
        addFile(path("m.c"));
        SetSelection(e, 9, 4);
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        e->setFocus();
        AnswerModal(form.get(), [&](QDialog &d) {
            auto *p = qobject_cast<TProjectFindDialog *>(&d);
            QCOMPARE(p->FindText->text(), QStringLiteral("char"));
            d.accept();
        });
        QTest::keyClick(e, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(waitDone());
        QCOMPARE(rows(), (QStringList{path("m.c") + QStringLiteral(" 2: char b;"),
                                      QStringLiteral("- 「char」: 1 件、1 ファイル (検索したファイル 1)")}));
        AnswerModal(form.get(), [](QDialog &d) { d.reject(); });
        form->ProjFindItem->trigger();
        QCOMPARE(rows().size(), 2);
        for (int i = 0; i < form->MDIChildCount(); ++i) form->MDIChildren(i)->Changed = false;
    }
};

QTEST_MAIN(TstProjectSearch)
#include "tst_projectsearch.moc"
