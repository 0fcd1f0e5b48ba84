// What the editor adds for a C programmer, on the real main window: the
// compiler's messages (the real compiler's) as marks in the margins of the
// documents, after a Compile or a Build, with the message as the tip, in a
// margin of their own while the line numbers are off; the marks follow
// edits, go at the next compile of their source, and come to a document
// opened after the compile. Indentation with the keys as the window gets
// them (Shift+Tab as X sends it), saved by File Save from the menu and
// undone a key at a time; a bracket pair marked on the screen after a click.
#include "buildrun.h"
#include "childwin.h"
#include "compilecontrol.h"
#include "documents.h"
#include "mainform.h"
#include "windowmenu.h"
#include "modal.h"
#include "project.h"
#include "../testfiles.h"
#include "../testmain.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QHelpEvent>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTest>
#include <memory>

namespace {

const QString kCompileEnd = QStringLiteral("- コンパイル終了。");

QString MarksOf(const TRichEdit *e) {
    QStringList out;
    for (const TLineMark &k : e->LineMarks()) out << QStringLiteral("%1%2 %3").arg(k.Line + 1).arg(k.Warning ? 'w' : 'e').arg(k.Text);
    return out.join(QLatin1String(", "));
}

// The marks the margin shows on line (0-based): 'e' (an error's colour),
// 'w' (a warning's), '-' (none), '?' (both).
QChar Shown(TRichEdit *e, int line) {
    if (!e->Margin()) return QLatin1Char('-');
    QApplication::processEvents();
    const QImage img = e->Margin()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int top = e->CaretRect(e->Text()->LineStart(line)).top();
    int error = 0, warning = 0;
    for (int y = std::max(0, top); y < std::min(img.height(), top + e->LineHeight()); ++y)
        for (int x = 0; x < img.width(); ++x) {
            error += img.pixel(x, y) == TRichEdit::MarkColour(false).rgb();
            warning += img.pixel(x, y) == TRichEdit::MarkColour(true).rgb();
        }
    return error && warning ? QLatin1Char('?') : error ? QLatin1Char('e') : warning ? QLatin1Char('w') : QLatin1Char('-');
}

QString ShownLines(TRichEdit *e) {
    QString out;
    for (int line = 0; line < e->Text()->LineCount(); ++line) out += Shown(e, line);
    return out;
}

// A key to whatever has the focus, as the window system delivers it.
void Key(Qt::Key k, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(QApplication::focusWidget(), k, mods); }

// The tip over the margin's row of line, empty when there is none.
QString Tip(TRichEdit *e, int line) {
    if (!e->Margin()) return QString();
    const QPoint at(1, e->CaretRect(e->Text()->LineStart(line)).center().y());
    QHelpEvent tip(QEvent::ToolTip, at, e->Margin()->mapToGlobal(at));
    QApplication::sendEvent(e->Margin(), &tip);
    const QString text = tip.isAccepted() ? QToolTip::text() : QString();
    QToolTip::hideText();
    return text;
}

}  // namespace

class TstMessageMarks : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<qvtest::MessageBoxAnswers> boxes;
    QByteArray savedPath;

    QString path(const QString &name) const { return dir->filePath(name); }
    int ends() const {
        int n = 0;
        for (int i = 0; i < form->Output->count(); ++i) n += form->Output->Row(i) == kCompileEnd;
        return n;
    }
    TMDIChild *open(const QString &name, const QByteArray &text) {
        if (!text.isNull() && !qvtest::WriteFile(path(name), text)) return nullptr;
        form->OpenDocument(path(name));
        return form->ActiveMDIChild();
    }
    bool compile() {
        const int before = ends();
        form->Compile->trigger();
        return QTest::qWaitFor([&] { return ends() > before; }, 60000);
    }

private slots:
    void initTestCase() { savedPath = qgetenv("PATH"); }
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        qputenv("PATH", qgetenv("QV_TOOLS_DIR") + ":" + savedPath);
        boxes = std::make_unique<qvtest::MessageBoxAnswers>([](QMessageBox &) { return QMessageBox::Discard; });
        form = std::make_unique<TMainForm>();
        form->resize(900, 700);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void cleanup() {
        form.reset();
        boxes.reset();
        qputenv("PATH", savedPath);
        QDir::setCurrent(QDir::tempPath());
    }

    void aCompileMarksItsLines() {
        TMDIChild *a = open(QStringLiteral("a.c"), "int f(void)\r\n{\r\n  char *s = \"\\q\";\r\n  return missing;\r\n}\r\n");
        TRichEdit *e = a->RichEdit1;
        QVERIFY(!form->WindowMenu->LineNumbersItem->isChecked());
        QVERIFY(!e->Margin());
        QVERIFY(compile());
        const QString W = QStringLiteral("warning: nonstandard escape sequence"), E = QStringLiteral("error: missing undeclared");
        QCOMPARE(MarksOf(e), QStringLiteral("3w %1, 4e %2").arg(W, E));
        // A margin of marks alone, the line numbers off; the tips.
        QVERIFY(e->Margin());
        QCOMPARE(e->LineNumberWidth(), e->MarkWidth());
        QCOMPARE(e->viewport()->geometry().left() - e->contentsRect().left(), e->MarkWidth());
        QCOMPARE(ShownLines(e), QStringLiteral("--we--"));
        QCOMPARE(Tip(e, 2), W);
        QCOMPARE(Tip(e, 3), E);
        QCOMPARE(Tip(e, 1), QString());

        // Two lines pasted at the top move the marks down; the warning's line deleted takes its mark.
        e->setFocus();
        e->SetSelection(0, 0);
        QApplication::clipboard()->setText(QStringLiteral("/* one */\n/* two */\n"));
        QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(MarksOf(e), QStringLiteral("5w %1, 6e %2").arg(W, E));
        const TTextStore *t = e->Text();
        e->SetSelection(t->LineStart(4), t->LineStart(5));
        QTest::keyClick(e, Qt::Key_Delete);
        QCOMPARE(MarksOf(e), QStringLiteral("5e %1").arg(E));
        QCOMPARE(ShownLines(e), QStringLiteral("----e--"));
        QCOMPARE(Tip(e, 4), E);
        // The line numbers on: the marks beside them.
        form->WindowMenu->LineNumbersItem->trigger();
        QVERIFY(e->LineNumberWidth() > e->MarkWidth() && e->MarkWidth() > 0);
        QCOMPARE(ShownLines(e), QStringLiteral("----e--"));
        form->WindowMenu->LineNumbersItem->trigger();

        // Another file's compile leaves them alone.
        TMDIChild *b = open(QStringLiteral("b.c"), "int g(void) { return nothing; }\r\n");
        QVERIFY(compile());
        QCOMPARE(MarksOf(b->RichEdit1), QStringLiteral("1e error: nothing undeclared"));
        QCOMPARE(MarksOf(e), QStringLiteral("5e %1").arg(E));

        // Compiled again, fixed: the marks go as it starts, none come back,
        // and the margin goes with them.
        form->Docs->BringToFront(a);
        int atStart = -1;
        connect(form->Compiler, &TCompileControl::CompileStarted, this, [&] { atStart = int(e->LineMarks().size()); });
        e->SetSelection(t->LineStart(4), t->LineEnd(4));
        QTest::keyClicks(e, "  return 0;");
        QVERIFY(compile());
        QCOMPARE(atStart, 0);
        QCOMPARE(MarksOf(e), QString());
        QVERIFY(!e->Margin());
        QCOMPARE(e->LineNumberWidth(), 0);
        QCOMPARE(MarksOf(b->RichEdit1), QStringLiteral("1e error: nothing undeclared"));
    }

    // A Build marks every open document its compiles name, a header through
    // the source that includes it, a file in a folder with a blank too; a
    // document opened after the build gets the marks of the latest
    // compiles; a build of the fixed source takes the header's marks away.
    void aBuildMarksHeadersAndLaterDocuments() {
        form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        QDir().mkpath(path(QStringLiteral("my dir")));
        const QList<std::pair<QString, QByteArray>> sources = {
            {QStringLiteral("inc.h"), "int g(void);\r\nint h(void) { return nothing; }\r\n"},
            {QStringLiteral("b.c"), "#include \"inc.h\"\r\nint g(void) { return 1; }\r\n"},
            {QStringLiteral("my dir/d e.c"), "int d(void)\r\n{\r\n  return none;\r\n}\r\n"},
        };
        for (const auto &[name, text] : sources) {
            QVERIFY(qvtest::WriteFile(path(name), text));
            form->CurrentProject.AddFile(name, path(name));
        }
        TMDIChild *b = open(QStringLiteral("b.c"), QByteArray());
        TMDIChild *d = open(QStringLiteral("my dir/d e.c"), QByteArray());
        form->Build->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 60000));
        QCOMPARE(MarksOf(b->RichEdit1), QString());
        QCOMPARE(MarksOf(d->RichEdit1), QStringLiteral("3e error: none undeclared"));
        QCOMPARE(ShownLines(d->RichEdit1), QStringLiteral("--e--"));
        TMDIChild *h = open(QStringLiteral("inc.h"), QByteArray());
        QCOMPARE(MarksOf(h->RichEdit1), QStringLiteral("2e error: nothing undeclared"));
        QCOMPARE(ShownLines(h->RichEdit1), QStringLiteral("-e-"));
        QCOMPARE(Tip(h->RichEdit1, 1), QStringLiteral("error: nothing undeclared"));

        // The header fixed and the project built again: b.c compiles again
        // and the header's marks go; d e.c is compiled again with its error.
        h->RichEdit1->SetSelection(h->RichEdit1->Text()->LineStart(1), h->RichEdit1->Text()->LineEnd(1));
        h->RichEdit1->setFocus();
        QTest::keyClicks(h->RichEdit1, "int h(void) { return 2; }");
        h->Save();
        form->Build->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 60000));
        QCOMPARE(MarksOf(h->RichEdit1), QString());
        QVERIFY(!h->RichEdit1->Margin());
        QCOMPARE(MarksOf(d->RichEdit1), QStringLiteral("3e error: none undeclared"));
    }

    void indentation() {
        TMDIChild *doc = open(QStringLiteral("k.c"), "int f(void)\n{\n\tif (x)\n\t\treturn 0;\n}\n");
        QVERIFY(doc);
        TRichEdit *e = doc->RichEdit1;
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(e));
        const TTextStore *t = e->Text();
        // Enter at the end of "\t\treturn 0;": the new line starts with two tabs.
        e->SetSelection(t->LineEnd(3), t->LineEnd(3));
        Key(Qt::Key_Return);
        QTest::keyClicks(QApplication::focusWidget(), "g();");
        // Lines 2 to 4 unindented twice by Shift+Tab, indented once by Tab.
        e->SetSelection(t->LineStart(2), t->LineStart(5));
        Key(Qt::Key_Backtab, Qt::ShiftModifier);
        Key(Qt::Key_Backtab, Qt::ShiftModifier);
        Key(Qt::Key_Tab);
        QCOMPARE(e->Anchor(), t->LineStart(2));
        QCOMPARE(e->Caret(), t->LineStart(5));
        form->FileSaveItem->trigger();
        QCOMPARE(qvtest::ReadFile(doc->FileName), QByteArray("int f(void)\n{\n\tif (x)\n\treturn 0;\n\tg();\n}\n"));
        // Each key its own step: the Tab undone, then the two Shift+Tabs.
        for (int i = 0; i < 3; ++i) Key(Qt::Key_Z, Qt::ControlModifier);
        form->FileSaveItem->trigger();
        QCOMPARE(qvtest::ReadFile(doc->FileName), QByteArray("int f(void)\n{\n\tif (x)\n\t\treturn 0;\n\t\tg();\n}\n"));
    }

    void bracketPairOnTheScreen() {
        TMDIChild *doc = open(QStringLiteral("k.c"), "int f(int a)\r\n{\r\n    return g(a, \")\") * (a + 1);\r\n}\r\n");
        QVERIFY(doc);
        TRichEdit *e = doc->RichEdit1;
        const TTextStore *t = e->Text();
        // A click just after the "(" of g(: its partner is the ")" after the string.
        const int open = int(t->Line(2).indexOf(QLatin1String("g("))) + 1 + t->LineStart(2);
        const QRect r = e->CaretRect(open + 1);
        QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 1, r.center().y()));
        QCOMPARE(e->Caret(), open + 1);
        const int close = int(t->Line(2).indexOf(QLatin1String("\") "))) + 1 + t->LineStart(2);
        QCOMPARE(e->BraceMarks().Bracket, open);
        QCOMPARE(e->BraceMarks().Partner, close);
        QApplication::processEvents();
        const QImage img = e->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        auto marked = [&](int p) {
            const QRect c = e->CaretRect(p);
            int n = 0;
            for (int y = c.top(); y <= c.bottom(); ++y)
                for (int x = c.left() + 2; x < c.left() + int(e->ColumnWidth()) - 1; ++x)
                    n += img.pixel(x, y) == TRichEdit::BraceColour(true).rgb();
            return n > 0;
        };
        for (int p = t->LineStart(2); p < t->LineEnd(2); ++p)
            QVERIFY2(marked(p) == (p == open || p == close), qPrintable(QString::number(p - t->LineStart(2))));
    }
};

QV_TEST_MAIN(TstMessageMarks)
#include "tst_messagemarks.moc"
