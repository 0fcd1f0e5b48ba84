// Keyword and comment colouring: ranges on a bare text control, and the
// colouring of the caret's line while typing into a document window.
#include <QMdiArea>
#include <QTemporaryDir>
#include <QRandomGenerator>
#include <QTest>

#include "childwin.h"
#include "textof.h"
#include "editortest.h"

using edtest::Mask;

class TestColouring : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;
    int Files = 0;

private slots:
    void ranges_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("first");  // 0: the whole text
        QTest::addColumn<int>("last");
        QTest::addColumn<QString>("mask");  // see edtest::Letter; R: left as it was
        QString all, allMask;
        for (const QString &k : colouring::Keywords()) {
            all += k + QLatin1Char(' ');
            allMask += QString(k.size(), QLatin1Char('K')) + QLatin1Char('R');
        }
        QTest::newRow("every keyword") << all << 0 << 0 << allMask;
        QTest::newRow("near misses") << "Int INT VOID #Include includes _asm_Inline NEW in i\r\n" << 0 << 0
                                     << "BBBRBBBRBBBBRBBBBBBBBRBBBBBBBBRBBBBBBBBBBBRBBBRBBRBRR";
        QTest::newRow("include blank") << "#include <stdio.h>\r\n" << 0 << 0 << "KKKKKKKKRBBBBBBBBBRR";
        QTest::newRow("include glued") << "#include<stdio.h>\r\n" << 0 << 0 << "BBBBBBBBBBBBBBBBBRR";
        QTest::newRow("parentheses keep colour") << "int main(void)\r\n" << 0 << 0 << "KKKRBBBBRKKKKRRR";
        QTest::newRow("all delimiters") << "a\tb(c)d;e:f g" << 0 << 0 << "BRBRBRBRBRBRR";
        QTest::newRow("punctuation is word") << "{int} int,\r\n" << 0 << 0 << "BBBBBRBBBBRR";
        QTest::newRow("division is word") << "x=a/b; a / b\r\n" << 0 << 0 << "BBBBBRRBRBRBRR";
        QTest::newRow("keyword in string") << "\"a int b\"\r\n" << 0 << 0 << "BBRKKKRBBRR";
        QTest::newRow("japanese word") << QStringLiteral("int　x 日本\r\n") << 0 << 0 << "BBBBBRBBRR";
        QTest::newRow("last word keeps colour") << "int x = 1; return" << 0 << 0 << "KKKRBRBRBRRRRRRRR";
        QTest::newRow("empty lines") << "\r\n\r\nint\r\n" << 0 << 0 << "RRRRKKKRR";
        QTest::newRow("comment drops pending word") << "int/*x*/\r\n" << 0 << 0 << "RRRGGGGGRR";
        QTest::newRow("line comment takes CR LF") << "// c\r\nint\r\n" << 0 << 0 << "GGGGGGKKKRR";
        QTest::newRow("line comment drops word") << "ab// c\r\nx;" << 0 << 0 << "RRGGGGGGBR";
        QTest::newRow("line comment at end") << "x // y" << 0 << 0 << "BRGGGG";
        QTest::newRow("empty block comment") << "/**/ int\r\n" << 0 << 0 << "GGGGRKKKRR";
        QTest::newRow("slash star slash opens only") << "/*/ int\r\n" << 0 << 0 << "GGGGGGGGG";
        QTest::newRow("block inside line comment") << "// a /* b\r\nint\r\n" << 0 << 0 << "GGGGGGGGGGGKKKRR";
        QTest::newRow("line inside block comment") << "/* // */ int\r\n" << 0 << 0 << "GGGGGGGGRKKKRR";
        QTest::newRow("block comment over lines") << "/*\r\nint\r\n*/x;" << 0 << 0 << "GGGGGGGGGGGBR";
        QTest::newRow("middle word") << "int int int" << 5 << 8 << "RRRRKKKRRRR";
        // A line break has one colour, its LF's: a range that ends at the CR
        // leaves the break as it was.
        QTest::newRow("open block comment stops at range") << "a /* b\r\nc d\r\n" << 1 << 7 << "BRGGGGRRRRRRR";
        QTest::newRow("line comment takes the LF past range") << "// a\r\nb" << 1 << 5 << "GGGGGGR";
        QTest::newRow("line comment reaches one past range") << "// ab" << 1 << 3 << "GGGGR";
        QTest::newRow("block close may pass the range") << "/* x */y" << 1 << 5 << "GGGGGGGR";
        QTest::newRow("range from a line's LF") << "x\r\nint y\r\nz\r\n" << 3 << 9 << "RRRKKKRBRRRRR";
        // Bad ranges: clipped to the text, or nothing at all.
        QTest::newRow("range around text") << "int x;\r\n" << -5 << 1000 << "KKKRBRRR";
        QTest::newRow("empty range") << "int x;\r\n" << 5 << 4 << "RRRRRRRR";
        QTest::newRow("range past text") << "int x;\r\n" << 20 << 30 << "RRRRRRRR";
        QTest::newRow("empty text") << "" << 0 << 0 << "";
    }
    void ranges() {
        QFETCH(QString, text);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(QString, mask);
        TRichEdit e;
        QPalette pal = e.palette();
        pal.setColor(QPalette::Text, Qt::black);
        e.setPalette(pal);
        e.setPlainText(text);
        edtest::PaintRed(&e);
        SetSelection(&e, 0, 2);
        if (first == 0) last = TextLength(&e);
        ColourRange(&e, std::max(first, 1), last);
        QCOMPARE(Mask(&e), mask);
        QCOMPARE(TextOf(&e), text);                  // formatting only
        QVERIFY(!e.isUndoAvailable());   // and no undo step
        QCOMPARE(SelStart(&e), 0);  // the selection collapsed to its start
        QCOMPARE(SelLength(&e), 0);
    }

    // The whole text's colouring in slices that stop at random places gives
    // what one pass over all of it gives.
    void slicesMatchOnePass() {
        QRandomGenerator rng(5);
        static const char *const pieces[] = {"int", " ", "/*", "*/", "//", "\r\n", "x", "(", ";", "return", "\t", "*", "/"};
        for (int round = 0; round < 40; ++round) {
            QString text;
            for (int k = int(rng.bounded(400)); k > 0; --k) text += QLatin1String(pieces[rng.bounded(int(std::size(pieces)))]);
            TRichEdit whole, sliced;
            whole.setPlainText(text);
            sliced.setPlainText(text);
            ColourRange(&whole, 1, TextLength(&whole));
            for (int at = 1; at <= TextLength(&sliced);)
                at = colouring::ColourSlice(sliced.Colours(), at, at + int(rng.bounded(60)));
            QCOMPARE(Mask(&sliced), Mask(&whole));
        }
    }

    // Typing into a loaded document; "\x7f" in keys is Delete, "paste:" inserts
    // the rest at once.
    void typing_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("mask");
        QTest::newRow("keyword at end of a line") << QByteArray("\r\nfoo\r\n") << 0 << "int" << "int\r\nfoo\r\n" << "KKKBBBBBBB";
        QTest::newRow("longer word is black") << QByteArray("\r\nfoo\r\n") << 0 << "into" << "into\r\nfoo\r\n" << "BBBBBBBBBBB";
        QTest::newRow("end of text waits") << QByteArray("x;\r\n") << 4 << "int" << "x;\r\nint" << "BBBBBBB";
        QTest::newRow("end of text closed") << QByteArray("x;\r\n") << 4 << "int " << "x;\r\nint " << "BBBBKKKB";
        QTest::newRow("tab closes word") << QByteArray() << 0 << "int\tx" << "int\tx" << "KKKBB";
        QTest::newRow("deleting //") << QByteArray("//foo(bar);\r\nx\r\n") << 0 << "\x7f\x7f" << "foo(bar);\r\nx\r\n"
                                     << "BBBGBBBGGGGBBB";
        QTest::newRow("line inside block comment") << QByteArray("/*\r\nint x\r\n*/\r\nint y;\r\n") << 9 << " "
                                                   << "/*\r\nint x \r\n*/\r\nint y;\r\n" << "GGGGKKKGBGGGGGBBKKKBBBBB";
        QTest::newRow("paste colours caret line only")
            << QByteArray("/* a */\r\n") << 7 << "paste: int a;\nint b;\nint c;" << "/* a */ int a;\r\nint b;\r\nint c;\r\n"
            << "GGGGGGGGGGGGGGGGGGGGGGGGKKKGBGBB";
    }
    void typing() {
        QFETCH(QByteArray, file);
        QFETCH(int, caret);
        QFETCH(QString, keys);
        QFETCH(QString, text);
        QFETCH(QString, mask);
        QVERIFY(Dir.isValid());
        const QString path = Dir.filePath(QStringLiteral("f%1.c").arg(++Files));
        QVERIFY(edtest::WriteFile(path, file));
        QMdiArea area;
        auto *w = new TMDIChild;
        area.addSubWindow(w);
        w->LoadFile(path);
        area.show();
        ColourRange(w->RichEdit1, 1, TextLength(w->RichEdit1));
        QVERIFY(!w->Changed);  // colouring is no edit
        SetSelection(w->RichEdit1, caret, 0);
        if (keys.startsWith(QLatin1String("paste:")))
            w->RichEdit1->insertPlainText(keys.mid(6));
        for (QChar k : keys.startsWith(QLatin1String("paste:")) ? QString() : keys) {
            if (k == QChar(0x7f))
                QTest::keyClick(w->RichEdit1, Qt::Key_Delete);
            else
                QTest::keyClicks(w->RichEdit1, QString(k));
        }
        QCOMPARE(TextOf(w->RichEdit1), text);
        QCOMPARE(Mask(w->RichEdit1), mask);
        QVERIFY(w->Changed);
    }
};

QTEST_MAIN(TestColouring)
#include "tst_colouring.moc"
