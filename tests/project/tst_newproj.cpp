// The New project dialog and command, with the real modal dialog and with the
// dialog answered by the test.
#include "modal.h"
#include "newproj.h"
#include "projectfile.h"
#include "projecttree.h"
#include "testtools.h"
#include "testmain.h"

#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <QTest>

using namespace project;
using testtools::labels;

namespace {

// Key presses carrying text, one per character (QTest::keyClicks knows only ASCII).
void typeText(QWidget *w, const QString &text) {
    for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

}  // namespace

class TestNewProjDlg : public QObject {
    Q_OBJECT
    QTreeWidget *tree = nullptr;
    project::Project proj;
    QListWidget *output = nullptr;
    TFileDialog openDialog1{TFileDialog::Open}, saveDialog1{TFileDialog::Save};
    testtools::View view{tree, output, openDialog1, saveDialog1};

private slots:
    void init() {
        tree = new QTreeWidget;
        proj = testtools::made(QStringLiteral("OLD"), {{"A.C", "/a.c"}});
        ShowProject(tree, proj);
        output = new QListWidget;
        output->addItems({QStringLiteral("- 開始"), QStringLiteral("* 終了")});
        saveDialog1.FileName = QStringLiteral("/old/old.prj");
    }
    void cleanup() {
        QCOMPARE(labels(tree), testtools::labels(proj));
        delete tree;
        delete output;
    }

    void inputSettings() {
        TNewProjDlg dlg;
        QCOMPARE(dlg.size(), QSize(233, 93));
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QVERIFY(!(dlg.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(dlg.font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(dlg.font().pixelSize(), 12);
        QVERIFY(dlg.OKBtn->isDefault());
        QVERIFY(!dlg.ProjName->testAttribute(Qt::WA_InputMethodEnabled));
        QVERIFY(dlg.ProjName->inputMethodHints() & Qt::ImhLatinOnly);
        QWidget *w = dlg.ProjName;  // tab order: the edit, then the two buttons
        for (QWidget *want : {static_cast<QWidget *>(dlg.OKBtn), static_cast<QWidget *>(dlg.CancelBtn), w}) {
            do w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus));
            QCOMPARE(w, want);
        }
    }

    // Letters are shown and kept in upper case as typed; a ninth character does not go in.
    void typing_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("abc") << "abc" << "ABC";
        QTest::newRow("mixed") << "aBc1_-x" << "ABC1_-X";
        QTest::newRow("ninth refused") << "abcdefghi" << "ABCDEFGH";
        QTest::newRow("blanks kept") << " a b" << " A B";
        QTest::newRow("accented") << QString::fromUtf8("é") << QString::fromUtf8("É");
    }
    void typing() {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        TNewProjDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(dlg.focusWidget(), dlg.ProjName);
        typeText(dlg.ProjName, typed);
        QCOMPARE(dlg.ProjName->text(), shown);
        QCOMPARE(dlg.ProjName->cursorPosition(), int(shown.size()));
    }

    // Typing in the middle, pasting and setting the text: upper case, the cursor
    // where the typing left it, at most 8 characters.
    void editingInTheMiddle() {
        TNewProjDlg dlg;
        QTest::keyClicks(dlg.ProjName, QStringLiteral("ad"));
        QTest::keyClick(dlg.ProjName, Qt::Key_Left);
        QTest::keyClicks(dlg.ProjName, QStringLiteral("bc"));
        QCOMPARE(dlg.ProjName->text(), QStringLiteral("ABCD"));
        QCOMPARE(dlg.ProjName->cursorPosition(), 3);
        dlg.ProjName->insert(QStringLiteral("xyzwvu"));  // as a paste does
        QCOMPARE(dlg.ProjName->text(), QStringLiteral("ABCXYZWD"));
        dlg.ProjName->setText(QStringLiteral("project.c"));
        QCOMPARE(dlg.ProjName->text(), QStringLiteral("PROJECT."));
    }

    // The command with the real modal dialog: Enter and the OK button replace the
    // project; Esc, the cancel button and the close box leave it. The Output pane
    // is cleared either way.
    void newProjectThroughTheRealDialog_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("nodes");
        for (const char *how : {"Enter", "Return", "OK button"}) QTest::newRow(how) << how << QStringList{"SAMPLE"};
        for (const char *how : {"Esc", "cancel button", "close box"})
            QTest::newRow(how) << how << QStringList{"OLD", "A.C"};
    }
    void newProjectThroughTheRealDialog() {
        QFETCH(QString, how);
        QFETCH(QStringList, nodes);
        qvtest::AnswerModal<TNewProjDlg>([how](TNewProjDlg &dlg) {
            TNewProjDlg *d = &dlg;
            QTest::keyClicks(d->focusWidget(), QStringLiteral("sample"));
            if (how == "Enter") QTest::keyClick(d->focusWidget(), Qt::Key_Enter);
            if (how == "Return") QTest::keyClick(d->focusWidget(), Qt::Key_Return);
            if (how == "Esc") QTest::keyClick(d->focusWidget(), Qt::Key_Escape);
            if (how == "OK button") QTest::mouseClick(d->OKBtn, Qt::LeftButton);
            if (how == "cancel button") QTest::mouseClick(d->CancelBtn, Qt::LeftButton);
            if (how == "close box") d->close();
        });
        ProjNewItemClick(proj, view);
        QCOMPARE(labels(tree), nodes);
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(output->count(), 0);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(saveDialog1.FileName.isEmpty(), nodes.size() == 1);
    }

    void newProjectWithEmptyName() {
        qvtest::AnswerModal<TNewProjDlg>([](TNewProjDlg &d) { d.accept(); });
        ProjNewItemClick(proj, view);
        QCOMPARE(labels(tree), QStringList{QString()});
        QVERIFY(!proj.Nodes[0].HasPath);
    }

    // Every New project starts from an empty edit, and the new project is saved
    // where the user says, not over the project file that was open before.
    void freshDialogAndFreshFileName() {
        QTemporaryDir tmp;
        const QString old = tmp.filePath(QStringLiteral("old.prj")), fresh = tmp.filePath(QStringLiteral("p2.prj"));
        QVERIFY(testtools::WriteFile(old, "#QV:1\r\nOLD\r\n"));
        saveDialog1.FileName = old;
        QStringList seen;
        const auto answer = [&](TNewProjDlg &dlg) {
            seen << dlg.ProjName->text();
            QTest::keyClicks(dlg.ProjName, QStringLiteral("p%1").arg(seen.size()));
            dlg.accept();
        };
        qvtest::AnswerModal<TNewProjDlg>(answer);
        ProjNewItemClick(proj, view);
        qvtest::AnswerModal<TNewProjDlg>(answer);
        ProjNewItemClick(proj, view);
        QCOMPARE(seen, (QStringList{"", ""}));
        testtools::DialogAnswer dlg({&saveDialog1}, fresh);
        ProjSaveItemClick(proj, view);
        QCOMPARE(dlg.calls, 1);
        QCOMPARE(testtools::ReadFile(fresh), QByteArray("#QV:1\r\nP2\r\n"));
        QCOMPARE(testtools::ReadFile(old), QByteArray("#QV:1\r\nOLD\r\n"));
    }
};

QV_TEST_MAIN(TestNewProjDlg)
#include "tst_newproj.moc"
