// Keyword and comment colouring: ranges on a bare text control, and the
// colouring of the caret's line while typing into a document window.
#include <QMdiArea>
#include <QTemporaryDir>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <climits>

#include "childwin.h"
#include "colourstore.h"
#include "textof.h"
#include "editortest.h"
#include "testmain.h"

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
            // Each slice goes to the first line break past where it is asked to reach.
            TColourStore *store = sliced.Colours();
            store->ColourLater();
            for (int at = 0; store->Behind(); at += int(rng.bounded(60))) store->CatchUp(at);
            QCOMPARE(Mask(&sliced), Mask(&whole));
        }
    }

    // While the program is idle the loaded text's colours come in slices of
    // the size asked for: a small text in one turn at the usual size, in many
    // at 40 characters a turn (each slice reaches at most one line past its
    // 40); either way the result is the one-pass colouring.
    void idleSlices() {
        const QString line = QStringLiteral("int x; /* c */\r\n");
        const QString text = line.repeated(60);
        TRichEdit whole;
        whole.setPlainText(text);
        ColourRange(&whole, 1, TextLength(&whole));
        for (const int slice : {0, 40}) {
            TRichEdit e;
            e.setPlainText(text);
            TColourStore *store = e.Colours();
            QSignalSpy turns(store, &TColourStore::ColoursChanged);
            if (slice == 0)
                store->ColourLater();
            else
                store->ColourLater(slice);
            QTRY_VERIFY(!store->Behind());
            QCOMPARE(Mask(&e), Mask(&whole));
            if (slice == 0)
                QCOMPARE(turns.count(), 1);
            else
                QVERIFY2(turns.count() >= int(text.size()) / (slice + int(line.size())),
                         qPrintable(QString::number(turns.count())));
        }
    }

    // Reading the colours position by position, each read colouring the text
    // as far as it goes, gives the one-pass colouring also where the text
    // store's first chunk ends inside a word, a comment or a pair (the snippet
    // starts `offset` from that edge), and after a slice that stopped there.
    void readInOrder_data() {
        QTest::addColumn<QString>("snippet");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("caughtUp");  // relative to the edge; INT_MIN: nothing coloured before
        const QString comment = QStringLiteral("/* a\r\nint */ int ");
        QTest::newRow("keyword ends at the edge") << " int " << -4 << INT_MIN;
        QTest::newRow("keyword across the edge") << " int " << -3 << INT_MIN;
        QTest::newRow("keyword from the edge") << " int " << -1 << INT_MIN;
        QTest::newRow("block comment across the edge") << comment << -3 << INT_MIN;
        QTest::newRow("block comment from the edge") << comment << -1 << INT_MIN;
        QTest::newRow("line comment across the edge") << "x // a int\r\nint " << -4 << INT_MIN;
        QTest::newRow("line break at the edge") << "int\r\nint " << -4 << INT_MIN;
        QTest::newRow("pair across the edge") << QStringLiteral("x\U0001F600int int ") << -2 << INT_MIN;
        QTest::newRow("slice asked to stop before the comment") << comment << -3 << -5;
        QTest::newRow("slice asked to stop in the comment") << comment << -3 << 0;
        QTest::newRow("slice asked to stop past the comment") << comment << -3 << 20;
    }
    void readInOrder() {
        QFETCH(QString, snippet);
        QFETCH(int, offset);
        QFETCH(int, caughtUp);
        const QString line = QStringLiteral("int x; /* c */\r\n");
        TRichEdit probe;
        probe.setPlainText(line.repeated(1200));
        const int edge = int(probe.Text()->PieceAt(0, nullptr).size());
        const int at = edge + offset;
        const QString text = line.repeated(at / int(line.size())) + QString(at % line.size(), QLatin1Char(' ')) + snippet +
                             line.repeated(600);
        TRichEdit whole, lazy;
        whole.setPlainText(text);
        lazy.setPlainText(text);
        int base = 0;
        lazy.Text()->PieceAt(at + int(snippet.size()) - 1, &base);
        QVERIFY(base > at);  // the snippet crosses a chunk edge
        ColourRange(&whole, 1, TextLength(&whole));
        lazy.Colours()->ColourLater();
        if (caughtUp != INT_MIN) lazy.Colours()->CatchUp(edge + caughtUp);
        QCOMPARE(Mask(&lazy), Mask(&whole));
        // and the snippet's line has the colours it has in a text of one chunk.
        TRichEdit small;
        small.setPlainText(text.mid(at - at % line.size(), at % line.size() + snippet.size()) + line);
        ColourRange(&small, 1, TextLength(&small));
        QCOMPARE(Mask(&lazy).mid(at - at % line.size(), TextLength(&small)), Mask(&small));
    }

    // Typing into a loaded document; "\x7f" in keys is Delete, "\x01" Ctrl+A,
    // "\x1a" and "\x19" undo and redo; "paste:" inserts the rest at once.
    // Mask "=": the one-pass colouring of the text. What the screen shows
    // matches the colours.
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
        // Undoing a step over many lines colours them anew, as a load would.
        const QByteArray code = QByteArray("int a; // c\r\n/* x\r\nint */ void f(int);\r\n\tlong b;\r\n").repeated(800);
        QTest::newRow("typing /* at the top, undone") << code << 0 << "/*\x1a" << QString::fromLatin1(code) << "=";
        QTest::newRow("all replaced by /*, undone") << code << 0 << "\x01/*\x1a" << QString::fromLatin1(code) << "=";
        QTest::newRow("all replaced by /*, undone, redone") << code << 0 << "\x01/*\x1a\x19" << "/*" << "GG";
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
            else if (k == QChar(1) || k == QChar(0x19) || k == QChar(0x1a))
                QTest::keyClick(w->RichEdit1, Qt::Key('@' + k.unicode()), Qt::ControlModifier);
            else
                QTest::keyClicks(w->RichEdit1, QString(k));
        }
        QCOMPARE(TextOf(w->RichEdit1), text);
        if (mask == QLatin1String("=")) {
            TRichEdit fresh;
            fresh.setPalette(w->RichEdit1->palette());
            fresh.setPlainText(text);
            ColourRange(&fresh, 1, TextLength(&fresh));
            mask = Mask(&fresh);
        }
        QCOMPARE(Mask(w->RichEdit1), mask);
        QVERIFY(w->Changed);
        TRichEdit *e = w->RichEdit1;
        if (keys.startsWith(QChar(1)) && keys.endsWith(QChar(0x1a))) {
            // Undo gives back the whole text selected, as it was before the typing.
            QCOMPARE(std::make_pair(e->SelectionStart(), e->SelectionEnd()), std::make_pair(0, TextLength(e)));
        }
        e->SetSelection(e->Caret(), e->Caret());  // the glyphs in their own colours
        const QString painted = edtest::Painted(w->RichEdit1);
        QVERIFY(painted.count(QLatin1Char(' ')) < painted.size());
        QCOMPARE(painted, edtest::PaintedExpected(w->RichEdit1, painted));
    }

    // One long line, edited at random with the keys in two windows: in one the
    // caret's line is coloured again from a point before each edit and keeps
    // its colours past where the new colouring meets the old; the other
    // colours the whole line again each time. After every edit the colours of
    // every character are the same.
    void longLineResumedEqualsWholeLine_data() {
        QTest::addColumn<quint32>("start");
        for (quint32 s : {21u, 22u, 23u, 24u}) QTest::addRow("run %u", s) << s;
    }
    void longLineResumedEqualsWholeLine() {
        QFETCH(quint32, start);
        QRandomGenerator rng(start);
        static const char *const tokens[] = {"int ", "x", " ", "/*", "*/", "//", "'", "\"", "y;", "long", "(",
                                             "*", "/", "\t", "a_b ", "for", ":"};
        QString line;
        while (line.size() < 5000) line += QLatin1String(tokens[rng.bounded(int(std::size(tokens)))]);
        line.remove(QLatin1String("//"));  // a line comment would take the rest of the line
        QMdiArea area;
        TRichEdit *e[2];
        TMDIChild *windows[2];
        for (int i = 0; i < 2; ++i) {
            auto *w = windows[i] = new TMDIChild;
            area.addSubWindow(w);
            TRichEdit *edit = e[i] = w->RichEdit1;
            edit->setPlainText(line);
            ColourRange(edit, 1, TextLength(edit));
        }
        area.show();
        for (int step = 0; step < 200; ++step) {
            const int at = int(rng.bounded(TextLength(e[0]) + 1));
            const bool erase = rng.bounded(3) == 0;
            const int n = 1 + int(rng.bounded(3));
            const bool back = rng.bounded(2);
            const QString typed = QLatin1String(tokens[rng.bounded(int(std::size(tokens)))]);
            for (TRichEdit *edit : e) {
                edit->SetSelection(at, at);
                if (edit == e[1]) edit->Colours()->Scanned.Drop();  // nothing kept: the whole line again
                if (erase)
                    for (int i = 0; i < n; ++i) QTest::keyClick(edit, back ? Qt::Key_Backspace : Qt::Key_Delete);
                else
                    QTest::keyClicks(edit, typed);
            }
            const QString what = erase ? QStringLiteral("%1 x%2 at %3").arg(back ? "Backspace" : "Delete").arg(n).arg(at)
                                       : QStringLiteral("type %1 at %2").arg(typed).arg(at);
            QCOMPARE(TextOf(e[0]), TextOf(e[1]));
            const QString got = Mask(e[0]), want = Mask(e[1]);
            if (got != want) {
                qsizetype d = 0;
                while (got[d] == want[d]) ++d;
                const qsizetype from = std::max<qsizetype>(0, d - 30);
                QFAIL(qPrintable(QStringLiteral("step %1 (%2): colour at %3 is %4, whole line %5, in\n%6\n%7\n%8")
                                     .arg(step)
                                     .arg(what)
                                     .arg(d)
                                     .arg(got[d])
                                     .arg(want[d])
                                     .arg(TextOf(e[0]).mid(from, 60).replace(QLatin1Char('\t'), QLatin1Char(' ')),
                                          got.mid(from, 60), want.mid(from, 60))));
            }
        }
        for (TMDIChild *w : windows) w->Changed = false;
    }
};

QV_TEST_MAIN(TestColouring)
#include "tst_colouring.moc"
