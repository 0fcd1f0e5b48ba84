// Keyword and comment colouring: whole ranges on a bare text control, and the
// colouring of the caret's line while typing into a document window.
#include <QApplication>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include "childwin.h"
#include "editortest.h"

using edtest::Mask;

class TestColouring : public QObject {
    Q_OBJECT

    // A bare control holding text (CR LF breaks), painted red so that what the
    // pass leaves alone can be told from what it paints black.
    void Prepare(QPlainTextEdit &e, const QString &text) {
        QPalette pal = e.palette();
        pal.setColor(QPalette::Text, Qt::black);
        e.setPalette(pal);
        e.setPlainText(text);
        edtest::PaintRed(&e);
    }

    // A document window with a loaded file, shown and focused for typing.
    TMDIChild *Open(const QByteArray &bytes) {
        const QString path = Dir.filePath(QStringLiteral("f%1.c").arg(++Files));
        if (!edtest::WriteAll(path, bytes)) return nullptr;
        auto *w = new TMDIChild(Area.get());
        Area->addSubWindow(w);
        w->LoadFile(path);
        w->show();
        w->RichEdit1->setFocus();
        return w;
    }

    void Caret(TMDIChild *w, int position) { SetSelection(w->RichEdit1, position, 0); }

    QTemporaryDir Dir;
    int Files = 0;
    std::unique_ptr<QMdiArea> Area;

private slots:
    void initTestCase() {
        QVERIFY(Dir.isValid());
        Area = std::make_unique<QMdiArea>();
        Area->resize(800, 600);
        Area->show();
        QVERIFY(QTest::qWaitForWindowExposed(Area.get()));
    }
    void cleanupTestCase() { Area.reset(); }
    void cleanup() {
        for (QMdiSubWindow *w : Area->subWindowList()) delete w;
    }

    void ranges_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("first");  // 0: the whole text
        QTest::addColumn<int>("last");
        QTest::addColumn<QString>("mask");
        // Words and delimiters.
        QTest::newRow("include blank") << "#include <stdio.h>\r\n" << 0 << 0 << "KKKKKKKKRBBBBBBBBBRR";
        QTest::newRow("include glued") << "#include<stdio.h>\r\n" << 0 << 0 << "BBBBBBBBBBBBBBBBBRR";
        QTest::newRow("letter case") << "Int INT VOID int void\r\n" << 0 << 0 << "BBBRBBBRBBBBRKKKRKKKKRR";
        QTest::newRow("parentheses keep colour") << "int main(void)\r\n" << 0 << 0 << "KKKRBBBBRKKKKRRR";
        QTest::newRow("all delimiters") << "a\tb(c)d;e:f g" << 0 << 0 << "BRBRBRBRBRBRR";
        QTest::newRow("punctuation is word") << "{int} int,\r\n" << 0 << 0 << "BBBBBRBBBBRR";
        QTest::newRow("division is word") << "x=a/b;\r\n" << 0 << 0 << "BBBBBRRR";
        QTest::newRow("lone slash") << "a / b\r\n" << 0 << 0 << "BRBRBRR";
        QTest::newRow("keyword in string") << "\"a int b\"\r\n" << 0 << 0 << "BBRKKKRBBRR";
        QTest::newRow("japanese word") << QStringLiteral("int　x 日本\r\n") << 0 << 0 << "BBBBBRBBRR";
        QTest::newRow("last word keeps colour") << "int x = 1; return" << 0 << 0 << "KKKRBRBRBRRRRRRRR";
        QTest::newRow("empty lines") << "\r\n\r\nint\r\n" << 0 << 0 << "RRRRKKKRR";
        // Comments.
        QTest::newRow("comment drops pending word") << "int/*x*/\r\n" << 0 << 0 << "RRRGGGGGRR";
        QTest::newRow("line comment takes CR LF") << "// c\r\nint\r\n" << 0 << 0 << "GGGGGGKKKRR";
        QTest::newRow("line comment drops word") << "ab// c\r\nx;" << 0 << 0 << "RRGGGGGGBR";
        QTest::newRow("line comment at end") << "x // y" << 0 << 0 << "BRGGGG";
        QTest::newRow("empty block comment") << "/**/ int\r\n" << 0 << 0 << "GGGGRKKKRR";
        QTest::newRow("slash star slash opens only") << "/*/ int\r\n" << 0 << 0 << "GGGGGGGGG";
        QTest::newRow("block inside line comment") << "// a /* b\r\nint\r\n" << 0 << 0 << "GGGGGGGGGGGKKKRR";
        QTest::newRow("line inside block comment") << "/* // */ int\r\n" << 0 << 0 << "GGGGGGGGRKKKRR";
        QTest::newRow("block comment over lines") << "/*\r\nint\r\n*/x;" << 0 << 0 << "GGGGGGGGGGGBR";
        QTest::newRow("japanese comment") << QStringLiteral("/* 日本語 */int;") << 0 << 0 << "GGGGGGGGGKKKR";
        // Ranges that do not cover the whole text.
        QTest::newRow("middle word") << "int int int" << 5 << 8 << "RRRRKKKRRRR";
        // A line break has one colour, its LF's: the range ends at the CR, so
        // the break stays as it was.
        QTest::newRow("open block comment stops at range")
            << "a /* b\r\nc d\r\n" << 1 << 7 << "BRGGGGRRRRRRR";
        QTest::newRow("line comment of a line takes its LF") << "// a\r\nb" << 1 << 5 << "GGGGGGR";
        QTest::newRow("line comment reaches one past range") << "// ab" << 1 << 3 << "GGGGR";
        QTest::newRow("block close may pass the range") << "/* x */y" << 1 << 5 << "GGGGGGGR";
        QTest::newRow("range from a line's LF") << "x\r\nint y\r\nz\r\n" << 3 << 9 << "RRRKKKRBRRRRR";
        // Bad ranges: clipped to the text, or nothing at all.
        QTest::newRow("range before and past text") << "int x;\r\n" << -5 << 1000 << "KKKRBRRR";
        QTest::newRow("empty range") << "int x;\r\n" << 5 << 4 << "RRRRRRRR";
        QTest::newRow("range past text") << "int x;\r\n" << 20 << 30 << "RRRRRRRR";
        QTest::newRow("empty text") << "" << 0 << 0 << "";
    }
    void ranges() {
        QFETCH(QString, text);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(QString, mask);
        QPlainTextEdit e;
        Prepare(e, text);
        QCOMPARE(TextOf(&e), text);
        if (first == 0) {
            first = 1;
            last = TextLength(&e);
        }
        ColourRange(&e, first, last);
        QCOMPARE(Mask(&e), mask);
        QCOMPARE(TextOf(&e), text);  // formatting only
    }

    void keywords_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("keyword");
        for (const QString &k : colouring::Keywords()) QTest::newRow(qPrintable(k)) << k << true;
        for (const char *w : {"#Include", "#includes", "include", "in", "Int", "integer", "_asm_Inline", "asm",
                              "NEW", "deletes", "#", "i", "#define_", "if_", "sizeof(", "unsigned_"})
            QTest::newRow(w) << QString::fromLatin1(w) << false;
    }
    void keywords() {
        QFETCH(QString, word);
        QFETCH(bool, keyword);
        QCOMPARE(int(colouring::Keywords().size()), 46);
        QPlainTextEdit e;
        Prepare(e, word + QLatin1Char(' '));
        ColourRange(&e, 1, TextLength(&e));
        // "sizeof(" is "sizeof" closed by "(".
        const QString w = word.endsWith(QLatin1Char('(')) ? word.chopped(1) : word;
        const QChar letter = keyword || w == QLatin1String("sizeof") ? QLatin1Char('K') : QLatin1Char('B');
        QCOMPARE(Mask(&e).left(w.size()), QString(w.size(), letter));
    }

    void selectionCollapses_data() {
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("caret");
        QTest::newRow("forward") << 2 << 9 << 2;
        QTest::newRow("backward") << 9 << 2 << 2;
        QTest::newRow("caret only") << 6 << 6 << 6;
    }
    void selectionCollapses() {
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(int, caret);
        QPlainTextEdit e;
        Prepare(e, QStringLiteral("int a;\r\nint b;\r\n"));
        QTextCursor c(e.document());
        c.setPosition(textpos::ToDoc(e.document(), anchor));
        c.setPosition(textpos::ToDoc(e.document(), position), QTextCursor::KeepAnchor);
        e.setTextCursor(c);
        ColourRange(&e, 1, TextLength(&e));
        QCOMPARE(SelStart(&e), caret);
        QCOMPARE(SelLength(&e), 0);
        // An empty range collapses the selection as well.
        SetSelection(&e, 3, 4);
        ColourRange(&e, 9, 2);
        QCOMPARE(SelStart(&e), 3);
        QCOMPARE(SelLength(&e), 0);
    }

    void noUndoStepOfItsOwn() {
        QPlainTextEdit e;
        e.setPlainText(QStringLiteral("int x;\r\n"));
        QVERIFY(!e.document()->isUndoAvailable());
        ColourRange(&e, 1, TextLength(&e));
        QCOMPARE(Mask(&e).left(3), QStringLiteral("KKK"));
        QVERIFY(!e.document()->isUndoAvailable());
    }

    // Whole-text colouring of a load.
    void loadColoursWholeText() {
        TMDIChild *w = Open("#include <a.h>\r\n// note\r\nint main(void) { return 0; } /* end */\r\nlast");
        QVERIFY(w);
        const QString t = TextOf(w->RichEdit1);
        QCOMPARE(Mask(w->RichEdit1), QStringLiteral("KKKKKKKKBBBBBBBB"   // #include <a.h> CR LF
                                                    "GGGGGGGGG"          // // note CR LF
                                                    "KKKBBBBBBKKKKBBBBKKKKKKBBBBBBGGGGGGGGGBB"
                                                    "BBBB"));
        QCOMPARE(t.size(), 16 + 9 + 40 + 4);
        QVERIFY(!w->Changed);
        QVERIFY(!w->RichEdit1->document()->isUndoAvailable());
    }

    // Edit-time colouring by typing.
    void keywordTurnsBlueAtItsLastLetter() {
        TMDIChild *w = Open("\r\nfoo\r\n");
        QVERIFY(w);
        Caret(w, 0);
        QTest::keyClicks(w->RichEdit1, QStringLiteral("in"));
        QCOMPARE(Mask(w->RichEdit1).left(2), QStringLiteral("BB"));
        QTest::keyClick(w->RichEdit1, Qt::Key_T);
        QCOMPARE(Mask(w->RichEdit1).left(3), QStringLiteral("KKK"));
        QTest::keyClick(w->RichEdit1, Qt::Key_O);
        QCOMPARE(Mask(w->RichEdit1).left(4), QStringLiteral("BBBB"));
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("into\r\nfoo\r\n"));
    }

    void keywordAtEndOfTextWaitsForDelimiter() {
        TMDIChild *w = Open("x;\r\n");
        QVERIFY(w);
        Caret(w, TextLength(w->RichEdit1));
        QTest::keyClicks(w->RichEdit1, QStringLiteral("int"));
        QCOMPARE(Mask(w->RichEdit1).mid(4), QStringLiteral("BBB"));
        QTest::keyClick(w->RichEdit1, Qt::Key_Space);
        QCOMPARE(Mask(w->RichEdit1).mid(4, 3), QStringLiteral("KKK"));
    }

    void typingIntoNewDocument() {
        TMDIChild w(nullptr);
        w.show();
        QTest::keyClicks(w.RichEdit1, QStringLiteral("int x; /* c */ char"));
        QTest::keyClick(w.RichEdit1, Qt::Key_Return);
        QTest::keyClicks(w.RichEdit1, QStringLiteral("y"));
        QCOMPARE(TextOf(w.RichEdit1), QStringLiteral("int x; /* c */ char\r\ny"));
        // Text typed after the comment takes on its green; "char" was the last
        // word of the text until Return, and Return colours the new line only.
        QCOMPARE(Mask(w.RichEdit1).left(21), QStringLiteral("KKKBBBBGGGGGGGGGGGGGG"));
        QTest::keyClick(w.RichEdit1, Qt::Key_Up);
        QTest::keyClick(w.RichEdit1, Qt::Key_End);
        QTest::keyClick(w.RichEdit1, Qt::Key_Space);
        // Any edit on the line recolours it: "char" is closed by the blank.
        QCOMPARE(Mask(w.RichEdit1).left(22), QStringLiteral("KKKBBBBGGGGGGGGKKKKGGG"));
    }

    void deletingLineCommentStart() {
        TMDIChild *w = Open("//foo(bar);\r\nx\r\n");
        QVERIFY(w);
        QCOMPARE(Mask(w->RichEdit1).left(13), QString(13, QLatin1Char('G')));
        Caret(w, 0);
        QTest::keyClick(w->RichEdit1, Qt::Key_Delete);
        QTest::keyClick(w->RichEdit1, Qt::Key_Delete);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("foo(bar);\r\nx\r\n"));
        // Words black; "(", ")", ";" and the line break stay green.
        QCOMPARE(Mask(w->RichEdit1).left(11), QStringLiteral("BBBGBBBGGGG"));
    }

    void editingInsideBlockComment() {
        TMDIChild *w = Open("/*\r\nint x\r\n*/\r\nint y;\r\n");
        QVERIFY(w);
        QCOMPARE(Mask(w->RichEdit1).left(13), QString(13, QLatin1Char('G')));
        Caret(w, 9);  // end of "int x"
        QTest::keyClick(w->RichEdit1, Qt::Key_Space);
        // The edited line is coloured as code; the lines around it stay green.
        QCOMPARE(Mask(w->RichEdit1).left(14), QStringLiteral("GGGGKKKGBGGGGG"));
    }

    void pasteColoursCaretLineOnly() {
        TMDIChild *w = Open("/* a */\r\n");
        QVERIFY(w);
        Caret(w, 7);  // after the comment, before the line break: new text comes green
        w->RichEdit1->insertPlainText(QStringLiteral(" int a;\nint b;\nint c;"));
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("/* a */ int a;\r\nint b;\r\nint c;\r\n"));
        const QString m = Mask(w->RichEdit1);
        QCOMPARE(m.mid(7, 9), QStringLiteral("GGGGGGGGG"));  // first pasted line untouched
        QCOMPARE(m.mid(16, 8), QStringLiteral("GGGGGGGG"));  // second pasted line untouched
        QCOMPARE(m.mid(24, 6), QStringLiteral("KKKGBG"));    // the caret's line
    }

    void typedTabIsDelimiter() {
        TMDIChild w(nullptr);
        w.show();
        QTest::keyClicks(w.RichEdit1, QStringLiteral("int"));
        QTest::keyClick(w.RichEdit1, Qt::Key_Tab);
        QCOMPARE(TextOf(w.RichEdit1), QStringLiteral("int\t"));
        QCOMPARE(Mask(w.RichEdit1).left(3), QStringLiteral("KKK"));
    }

    void colouringRaisesNoChange() {
        TMDIChild *w = Open("int x;\r\n");
        QVERIFY(w);
        ColourRange(w->RichEdit1, 1, TextLength(w->RichEdit1));
        QVERIFY(!w->Changed);
        QVERIFY(!w->windowTitle().endsWith(QLatin1Char('*')));
    }
};

QTEST_MAIN(TestColouring)
#include "tst_colouring.moc"
