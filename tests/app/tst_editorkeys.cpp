// Indentation and the matching bracket in a document of the real main window,
// with the keys as the window gets them (Shift+Tab as X sends it) and File
// Save from the menu: the bytes written, one undo step, and the marks of a
// bracket pair on the screen after a click beside it.
#include "childwin.h"
#include "mainform.h"
#include "modal.h"
#include "../testfiles.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

class TstEditorKeys : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<qvtest::MessageBoxAnswers> boxes;

    TMDIChild *open(const QByteArray &bytes) {
        const QString path = dir->filePath(QStringLiteral("k.c"));
        if (!qvtest::WriteFile(path, bytes)) return nullptr;
        form->OpenDocument(path);
        return form->ActiveMDIChild();
    }
    // A key to whatever has the focus, as the window system delivers it.
    static void key(Qt::Key k, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(QApplication::focusWidget(), k, mods); }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        boxes = std::make_unique<qvtest::MessageBoxAnswers>([](QMessageBox &) { return QMessageBox::Discard; });
        form = std::make_unique<TMainForm>();
        form->resize(800, 600);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void cleanup() {
        form.reset();
        boxes.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    void indentation() {
        TMDIChild *doc = open("int f(void)\n{\n\tif (x)\n\t\treturn 0;\n}\n");
        QVERIFY(doc);
        TRichEdit *e = doc->RichEdit1;
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(e));
        const TTextStore *t = e->Text();
        // Enter at the end of "\t\treturn 0;": the new line starts with two tabs.
        e->SetSelection(t->LineEnd(3), t->LineEnd(3));
        key(Qt::Key_Return);
        QTest::keyClicks(QApplication::focusWidget(), "g();");
        // Lines 2 to 4 unindented twice by Shift+Tab, indented once by Tab.
        e->SetSelection(t->LineStart(2), t->LineStart(5));
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        key(Qt::Key_Tab);
        QCOMPARE(e->Anchor(), t->LineStart(2));
        QCOMPARE(e->Caret(), t->LineStart(5));
        form->FileSaveItem->trigger();
        QCOMPARE(qvtest::ReadFile(doc->FileName), QByteArray("int f(void)\n{\n\tif (x)\n\treturn 0;\n\tg();\n}\n"));
        // Each key its own step: the Tab undone, then the two Shift+Tabs.
        for (int i = 0; i < 3; ++i) key(Qt::Key_Z, Qt::ControlModifier);
        form->FileSaveItem->trigger();
        QCOMPARE(qvtest::ReadFile(doc->FileName), QByteArray("int f(void)\n{\n\tif (x)\n\t\treturn 0;\n\t\tg();\n}\n"));
    }

    void bracketPairOnTheScreen() {
        TMDIChild *doc = open("int f(int a)\r\n{\r\n    return g(a, \")\") * (a + 1);\r\n}\r\n");
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

QTEST_MAIN(TstEditorKeys)
#include "tst_editorkeys.moc"
