// Indentation as a user meets it in a document window: Enter carries the
// line's indentation on, Tab and Shift+Tab indent and unindent the lines of a
// selection. Each case is checked on the bytes Save writes (the file's own
// line ends kept), on the selection afterwards, and on one undo step giving
// back the file's bytes exactly and one redo the edited ones.
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTest>

#include "editortest.h"
#include "testmain.h"

namespace {

struct TIndentPlace {
    int Line, Column;
};

int PositionOf(const TRichEdit *e, TIndentPlace p) { return e->Text()->LineStart(p.Line) + p.Column; }

QString Where(const TRichEdit *e, int position) {
    const int line = e->Text()->LineOf(position);
    return QStringLiteral("%1:%2").arg(line).arg(position - e->Text()->LineStart(line));
}

}  // namespace

Q_DECLARE_METATYPE(TIndentPlace)

class TestIndent : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;

private slots:
    void keys_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<TIndentPlace>("anchor");
        QTest::addColumn<TIndentPlace>("caret");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("saved");  // the bytes after the key; the same bytes: no undo step
        QTest::addColumn<TIndentPlace>("anchorAfter");
        QTest::addColumn<TIndentPlace>("caretAfter");
        auto row = [](const char *name, const QByteArray &bytes, TIndentPlace anchor, TIndentPlace caret, const char *key,
                      const QByteArray &saved, TIndentPlace anchorAfter, TIndentPlace caretAfter) {
            QTest::newRow(name) << bytes << anchor << caret << QString::fromLatin1(key) << saved << anchorAfter
                                << caretAfter;
        };
        // Enter: the indentation of the line, up to the caret.
        row("enter, tab, CR LF", "\tint x;\r\n", {0, 7}, {0, 7}, "Enter", "\tint x;\r\n\t\r\n", {1, 1}, {1, 1});
        row("enter, blanks, LF", "    if (a)\n        b;\n", {1, 10}, {1, 10}, "Enter",
            "    if (a)\n        b;\n        \n", {2, 8}, {2, 8});
        row("enter inside the indentation, CR", "\t  x\r", {0, 2}, {0, 2}, "Enter", "\t \r\t  x\r", {1, 2}, {1, 2});
        row("enter at the line's start", "  x\r\n", {0, 0}, {0, 0}, "Enter", "\r\n  x\r\n", {1, 0}, {1, 0});
        row("enter, no indentation", "ab\r\n", {0, 1}, {0, 1}, "Enter", "a\r\nb\r\n", {1, 0}, {1, 0});
        row("enter on blanks alone", "\t \t\n", {0, 3}, {0, 3}, "Enter", "\t \t\n\t \t\n", {1, 3}, {1, 3});
        row("enter over a selection", "  abc def\r\n", {0, 4}, {0, 7}, "Enter", "  ab\r\n  ef\r\n", {1, 2}, {1, 2});
        row("enter over lines", "  ab\n    cd\n", {1, 5}, {0, 3}, "Enter", "  a\n  d\n", {1, 2}, {1, 2});
        row("enter at the end, no last break", "x\n  a", {1, 3}, {1, 3}, "Enter", "x\n  a\n  ", {2, 2}, {2, 2});
        row("enter, mixed ends take the usual one", "\ta\r\n\tb\r\nc\n", {1, 2}, {1, 2}, "Enter",
            "\ta\r\n\tb\r\n\t\r\nc\n", {2, 1}, {2, 1});
        row("enter after Japanese", "\t\x93\xfa\x96\x7b\r\n", {0, 3}, {0, 3}, "Enter", "\t\x93\xfa\x96\x7b\r\n\t\r\n",
            {1, 1}, {1, 1});

        // Tab: lines of a selection; an empty line stays empty; a selection
        // that ends at a line's start leaves that line.
        row("tab, lines, LF", "a\n  b\n\nc\n", {0, 1}, {2, 0}, "Tab", "\ta\n\t  b\n\nc\n", {0, 0}, {2, 0});
        row("tab, an empty line between", "a\n\nb\n", {0, 0}, {2, 1}, "Tab", "\ta\n\n\tb\n", {0, 0}, {3, 0});
        row("tab, one whole line", "x\r\nyy\r\n", {1, 0}, {1, 2}, "Tab", "x\r\n\tyy\r\n", {1, 0}, {2, 0});
        row("tab, upwards, CR", "a\rb\rc", {2, 1}, {1, 0}, "Tab", "a\r\tb\r\tc", {2, 2}, {1, 0});
        row("tab, part of a line: a tab typed", "abc\r\n", {0, 1}, {0, 2}, "Tab", "a\tc\r\n", {0, 2}, {0, 2});
        row("tab, no selection", "ab", {0, 1}, {0, 1}, "Tab", "a\tb", {0, 2}, {0, 2});
        row("tab, each line its own end", "a\r\nb\nc\rd", {0, 0}, {3, 1}, "Tab", "\ta\r\n\tb\n\tc\r\td", {0, 0}, {3, 2});
        row("tab, Japanese", "\x93\xfa\x96\x7b\r\n  \x82\xa0\r\n", {0, 0}, {2, 0}, "Tab",
            "\t\x93\xfa\x96\x7b\r\n\t  \x82\xa0\r\n", {0, 0}, {2, 0});
        row("tab, the last line", "a\n b", {0, 1}, {1, 1}, "Tab", "\ta\n\t b", {0, 0}, {1, 3});

        // Shift+Tab: a tab, or up to 8 blanks, and a tab after fewer of them.
        row("backtab, lines, CR", "\ta\r        b\r   \tc\r  d\r\t\r", {0, 0}, {5, 0}, "Backtab",
            "a\rb\rc\rd\r\r", {0, 0}, {5, 0});
        row("backtab, ten blanks", "          x\n", {0, 0}, {0, 11}, "Backtab", "  x\n", {0, 0}, {1, 0});
        row("backtab, eight blanks then a tab", "        \tx\r\n", {0, 0}, {1, 0}, "Backtab", "\tx\r\n", {0, 0}, {1, 0});
        row("backtab, a tab then blanks", "\t  x\r\n", {0, 0}, {1, 0}, "Backtab", "  x\r\n", {0, 0}, {1, 0});
        row("backtab, upwards", "\ta\n\tb\n\tc\n", {2, 1}, {0, 1}, "Backtab", "a\nb\nc\n", {3, 0}, {0, 0});
        row("shift+tab is backtab", "\ta\n\tb\n", {0, 0}, {2, 0}, "ShiftTab", "a\nb\n", {0, 0}, {2, 0});
        row("backtab, no selection: the caret's line", "\t\tfoo\r\n", {0, 4}, {0, 4}, "Backtab", "\tfoo\r\n", {0, 3},
            {0, 3});
        row("backtab, caret in the blanks", "        x", {0, 3}, {0, 3}, "Backtab", "x", {0, 0}, {0, 0});
        row("backtab, part of a line", "\t\tabc\n", {0, 3}, {0, 4}, "Backtab", "\tabc\n", {0, 2}, {0, 3});
        row("backtab, nothing to take", "a\n b\n", {0, 0}, {1, 0}, "Backtab", "a\n b\n", {0, 0}, {1, 0});
        row("backtab, no selection, nothing to take", "x\r\n", {0, 1}, {0, 1}, "Backtab", "x\r\n", {0, 1}, {0, 1});
    }

    void keys() {
        QFETCH(QByteArray, bytes);
        QFETCH(TIndentPlace, anchor);
        QFETCH(TIndentPlace, caret);
        QFETCH(QString, key);
        QFETCH(QByteArray, saved);
        QFETCH(TIndentPlace, anchorAfter);
        QFETCH(TIndentPlace, caretAfter);
        QMdiArea area;
        TMDIChild *w = edtest::OpenInArea(area, Dir, bytes);
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        e->setFocus();
        e->SetSelection(PositionOf(e, anchor), PositionOf(e, caret));
        if (key == QLatin1String("Enter"))
            QTest::keyClick(e, Qt::Key_Return);
        else if (key == QLatin1String("Tab"))
            QTest::keyClick(e, Qt::Key_Tab);
        else if (key == QLatin1String("Backtab"))
            QTest::keyClick(e, Qt::Key_Backtab, Qt::ShiftModifier);
        else
            QTest::keyClick(e, Qt::Key_Tab, Qt::ShiftModifier);
        auto selection = [e] { return Where(e, e->Anchor()) + QLatin1Char('-') + Where(e, e->Caret()); };
        const QString wanted = QStringLiteral("%1:%2-%3:%4")
                                   .arg(anchorAfter.Line).arg(anchorAfter.Column).arg(caretAfter.Line).arg(caretAfter.Column);
        QCOMPARE(selection(), wanted);
        w->Save();
        QCOMPARE(edtest::ReadFile(w->FileName), saved);
        if (saved == bytes) {
            QVERIFY(!e->isUndoAvailable());  // nothing changed: no step to undo
            return;
        }
        // One step undoes it all, and one redoes it.
        QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(!e->isUndoAvailable());
        QCOMPARE(selection(), Where(e, PositionOf(e, anchor)) + QLatin1Char('-') + Where(e, PositionOf(e, caret)));
        w->Save();
        QCOMPARE(edtest::ReadFile(w->FileName), bytes);
        QTest::keyClick(e, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(selection(), wanted);
        w->Save();
        QCOMPARE(edtest::ReadFile(w->FileName), saved);
    }

    // Typing on after Enter joins the same undo step as the line break and
    // its indentation, as typing always did; a read-only text takes none of
    // the keys.
    void typingAfterEnterAndReadOnly() {
        QMdiArea area;
        TMDIChild *w = edtest::OpenInArea(area, Dir, "\tf();\r\n");
        TRichEdit *e = w->RichEdit1;
        e->setFocus();
        e->SetSelection(5, 5);
        QTest::keyClick(e, Qt::Key_Return);
        QTest::keyClicks(e, "g();");
        w->Save();
        QCOMPARE(edtest::ReadFile(w->FileName), QByteArray("\tf();\r\n\tg();\r\n"));
        QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
        w->Save();
        QCOMPARE(edtest::ReadFile(w->FileName), QByteArray("\tf();\r\n"));

        e->setReadOnly(true);
        e->SetSelection(0, 7);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Tab, Qt::Key_Backtab}) QTest::keyClick(e, key);
        QCOMPARE(TextOf(e), QStringLiteral("\tf();\r\n"));
    }
};

QV_TEST_MAIN(TestIndent)
#include "tst_indent.moc"
