// The Output pane's own rows and the fields of compiler messages.
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include "cmdline.h"
#include "compile.h"
#include "qverror.h"
#include "sjis.h"
#include "testmain.h"

using namespace buildcmd;
using namespace Qt::StringLiterals;

class TestOutputRows : public QObject {
    Q_OBJECT
private slots:
    void ownRows() {
        QCOMPARE(StartLine(u"C:\\SRC\\MAIN.C"_s), u"- C:\\SRC\\MAIN.Cのコンパイルを開始します…"_s);
        QCOMPARE(StartLine(QString()), u"- のコンパイルを開始します…"_s);
        QCOMPARE(NotNeededLine(u"/p/a.c"_s), u"* /p/a.cのコンパイルは必要ありません。"_s);
        QCOMPARE(CompilerCommandLine(u"/p/a.c"_s), u"lcc86.exe -O -js -w1 -c /p/a.c"_s);
        QCOMPARE(EchoLine(CompilerCommandLine(u"/p/a.c"_s)), u"> lcc86.exe -O -js -w1 -c /p/a.c"_s);
        QCOMPARE(StartFailedLine, u"* コンパイラの起動に失敗しました。"_s);
        QCOMPARE(EndLine, u"- コンパイル終了。"_s);
        QCOMPARE(StoppedLine, u"* コンパイルを中止しました。"_s);
        // Every row the pane writes itself must survive Shift-JIS, and a
        // double-click passes it by.
        for (const QString &row : {StartLine(u"ソース.c"_s), NotNeededLine(u"表.c"_s), EchoLine(u"x"_s),
                                   StartFailedLine, EndLine, StoppedLine, PathRefusedLine(u"\n"_s),
                                   PathRefusedLine(QString(QChar(0)))}) {
            QByteArray bytes;
            QVERIFY2(sjis::encode(row, bytes), qPrintable(row));
            QVERIFY(IsOwnRow(row));
        }
    }

    // The command line carries every path as its last word, quoted where the
    // runner's splitting would change it; a path that no quoting can carry is
    // refused, naming the first character in the way.
    void pathInTheWay_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("row");
        const QString none;
        const QString lineBreak = u"* 改行を含むパスのファイルはコンパイルできません。"_s;
        QTest::newRow("plain") << u"/src/victim.c"_s << u"/src/victim.c"_s << none;
        QTest::newRow("untitled") << QString() << u" "_s << none;
        QTest::newRow("backslashes") << u"/src/a\\b\\"_s << u"/src/a\\b\\"_s << none;
        QTest::newRow("japanese") << u"/ソース/表.c"_s << u"/ソース/表.c"_s << none;
        QTest::newRow("shell characters") << u"/src/a;$(b)`c`|&<>'.c"_s << u"/src/a;$(b)`c`|&<>'.c"_s << none;
        QTest::newRow("blank") << u"/my src/a.c"_s << u"\"/my src/a.c\""_s << none;
        QTest::newRow("tab") << u"/src/a\tb.c"_s << u"\"/src/a\tb.c\""_s << none;
        QTest::newRow("double quote") << u"/src/vic\"tim.c"_s << u"\"/src/vic\"\"tim.c\""_s << none;
        QTest::newRow("blank and trailing backslash") << u"/a b\\"_s << u"\"/a b\\\\\""_s << none;
        QTest::newRow("line feed") << u"/src/a\nb.c"_s << QString() << lineBreak;
        QTest::newRow("carriage return") << u"/src/a\rb.c"_s << QString() << lineBreak;
        QTest::newRow("nul") << u"/src/a"_s + QChar(0) + u"b.c"_s << QString()
                             << u"* 文字 U+0000を含むパスのファイルはコンパイルできません。"_s;
    }
    void pathInTheWay() {
        QFETCH(QString, path);
        QFETCH(QString, line);
        QFETCH(QString, row);
        if (row.isEmpty()) {
            QCOMPARE(CharacterInTheWay(path), QString());
            QCOMPARE(CompilerCommandLine(path), u"lcc86.exe -O -js -w1 -c "_s + line);
        } else {
            QCOMPARE(PathRefusedLine(CharacterInTheWay(path)), row);
        }
    }
    void randomPathsInTheWay() {
        // Blank, tab, double quote and backslash are what the splitting rules
        // change; the last UTF-8 byte of あ and ß is a Shift-JIS lead byte,
        // which pairs with a backslash after it.
        const QString alphabet = u"a/ \t\"\\.表あß😀\n\r"_s;
        QRandomGenerator rng(11);
        for (int round = 0; round < 4000; ++round) {
            QString path = u"/"_s;
            for (int i = rng.bounded(0, 10); i > 0; --i) {
                const int k = rng.bounded(int(alphabet.size()));
                path += alphabet[k].isHighSurrogate() ? alphabet.mid(k, 2)
                        : alphabet[k].isLowSurrogate() ? alphabet.mid(k - 1, 2)
                                                       : alphabet.mid(k, 1);
            }
            const qsizetype at = path.indexOf(QRegularExpression(u"[\n\r]"_s));
            QCOMPARE(CharacterInTheWay(path), at < 0 ? QString() : path.mid(at, 1));
            if (at >= 0) continue;
            const QList<QByteArray> words = SplitCommandLine(QFile::encodeName(CompilerCommandLine(path)));
            QCOMPARE(words.size(), 6);
            QCOMPARE(words.last(), QFile::encodeName(path));
        }
    }

    void isOwnRow_data() {
        QTest::addColumn<QString>("row");
        QTest::addColumn<bool>("own");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("marker alone") << u"-"_s << true;
        QTest::newRow("greater-than") << u">x"_s << true;
        QTest::newRow("message") << u"a.c 1: x"_s << false;
        QTest::newRow("blank first") << u" - x"_s << false;
        QTest::newRow("wide dash") << u"－ x"_s << false;
    }
    void isOwnRow() {
        QFETCH(QString, row);
        QFETCH(bool, own);
        QCOMPARE(IsOwnRow(row), own);
    }

    // Every shape of row; bad is the field text that the error names.
    void messageFields_data() {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("bad");
        QTest::newRow("message") << u"main.c 12: error: x"_s << u"main.c"_s << 12 << QString();
        QTest::newRow("japanese") << u"/ソース/表.c 3: エラー"_s << u"/ソース/表.c"_s << 3 << QString();
        QTest::newRow("drive colon") << u"C:\\SRC\\MAIN.C 7: x"_s << u"C:\\SRC\\MAIN.C"_s << 7 << QString();
        QTest::newRow("first colon") << u"a.c 12: b: 9:"_s << u"a.c"_s << 12 << QString();
        QTest::newRow("two blanks") << u"a.c  12: x"_s << u"a.c"_s << 12 << QString();
        QTest::newRow("signs") << u"a.c -3:x"_s << u"a.c"_s << -3 << QString();
        QTest::newRow("colon before last") << u"a.c 12::"_s << u"a.c"_s << 12 << QString();
        QTest::newRow("colon last") << u"a.c 12:"_s << u"a.c"_s << 0 << QString();
        QTest::newRow("no colon") << u"a.c 12"_s << u"a.c"_s << 0 << QString();
        QTest::newRow("no blank") << u"a.c:12:x"_s << u" "_s << 0 << QString();
        QTest::newRow("empty") << QString() << u" "_s << 0 << QString();
        QTest::newRow("blank first") << u" 12: x"_s << QString() << 12 << QString();
        QTest::newRow("blank before colon") << u"a.c 12 : x"_s << u"a.c"_s << 0 << u" 12 "_s;
        QTest::newRow("empty field") << u"a.c : x"_s << u"a.c"_s << 0 << u" "_s;
        QTest::newRow("not a number") << u"a.c x: y"_s << u"a.c"_s << 0 << u" x"_s;
        // A path holding a blank is cut at it: its document never matches.
        QTest::newRow("blank in path") << u"/my dir/a.c 4: x"_s << u"/my"_s << 0 << u" dir/a.c 4"_s;
    }
    void messageFields() {
        QFETCH(QString, row);
        QFETCH(QString, file);
        QFETCH(int, line);
        QFETCH(QString, bad);
        QCOMPARE(MessageFileName(row), file);
        try {
            QCOMPARE(MessageLineNumber(row), line);
            QVERIFY2(bad.isNull(), "no error raised");
        } catch (const EQvError &e) {
            QCOMPARE(e.Message, u"'%1' は整数ではありません"_s.arg(bad));
        }
    }

    // Where rows lead, random rows against the rules written out plainly:
    // the field before the first blank names a document (ShortPath, in
    // document order) or else the longest prefix before a blank that is a
    // titled document's path; a message for the list is a row whose field
    // (the first, or else the longest prefix before a blank) names a file and
    // whose line field reads as a number of at least 1 followed by a ":" that
    // is not the row's last character.
    void whereRowsLead() {
        // Paths that are each other's prefixes up to a blank, too, and one
        // that reads as a message itself.
        const QStringList paths = {u"/p/a b.c"_s, u"/p/a"_s, u"/p/a b"_s,     u"/p/a b c.c"_s, u"a.c"_s, u"x y z.c"_s,
                                   u"x y"_s,      u"x y 1: z"_s, u"/表 ソ/能.c"_s, u" s.c"_s,       u"1"_s};
        const QStringList pieces = paths + QStringList{u" "_s, u"  "_s, u"12"_s, u"3"_s, u"0"_s, u"-"_s, u"+"_s,
                                                       u":"_s, u"x"_s, u"warning"_s, u"Warning:"_s, u"error"_s,
                                                       u"警告"_s, u"*"_s, u"2147483648"_s};
        QRandomGenerator rng(34);
        int led = 0, prefixed = 0, parsed = 0, longer = 0;
        for (int round = 0; round < 20000; ++round) {
            // Half of the rows in the shape of a message, of some path.
            QString row;
            if (rng.bounded(2)) {
                const QStringList numbers = {u"12"_s, u"3"_s, u"0"_s, u"-3"_s, u"+4"_s, u"x"_s, u" 7"_s};
                row = paths.at(rng.bounded(int(paths.size()))) + u' ' + numbers.at(rng.bounded(int(numbers.size()))) +
                      u':';
            }
            for (int i = rng.bounded(row.isEmpty() ? 1 : 0, 6); i > 0; --i)
                row += pieces.at(rng.bounded(int(pieces.size())));
            QStringList docs;
            for (int i = rng.bounded(0, 5); i > 0; --i)
                docs << (rng.bounded(6) == 0 ? QString() : paths.at(rng.bounded(int(paths.size()))));
            QSet<QString> files;
            for (const QString &p : paths)
                if (rng.bounded(2)) files.insert(p);

            // The model of FindMessageFile.
            int index = -1;
            qsizetype blank = -1;
            if (!IsOwnRow(row)) {
                const qsizetype first = row.indexOf(u' ');
                const QString field = first < 0 ? u" "_s : row.left(first);
                for (int i = 0; i < docs.size() && index < 0; ++i)
                    if ((docs.at(i).isEmpty() ? u" "_s : docs.at(i)) == field) index = i, blank = first;
                if (index < 0) {
                    // Every blank in turn: a longer prefix takes the place of a shorter one.
                    for (qsizetype p = 0; p < row.size(); ++p) {
                        if (row.at(p) != u' ') continue;
                        for (int i = 0; i < docs.size(); ++i)
                            if (!docs.at(i).isEmpty() && docs.at(i) == row.left(p)) {
                                index = i;
                                blank = p;
                                break;
                            }
                    }
                }
            }
            const TMessageFile found = FindMessageFile(row, docs);
            QVERIFY2(found.Index == index && found.Blank == blank,
                     qPrintable(u"[%1] in %2: %3 %4, not %5 %6"_s.arg(row, docs.join(u'|')).arg(found.Index)
                                    .arg(found.Blank).arg(index).arg(blank)));
            if (index >= 0) {
                ++led;
                prefixed += blank != row.indexOf(u' ');
                // The line field after the field that led there.
                int line = 0;
                bool bad = false;
                const qsizetype colon = row.indexOf(u':', blank);
                if (blank >= 0 && colon >= 0 && colon + 1 < row.size()) {
                    try {
                        line = StrToInt(row.mid(blank, colon - blank));
                    } catch (const EQvError &) {
                        bad = true;
                    }
                }
                try {
                    QCOMPARE(MessageLineNumberAt(row, found.Blank), line);
                    QVERIFY(!bad);
                } catch (const EQvError &) {
                    QVERIFY2(bad, qPrintable(row));
                }
            }

            // The model of ParseMessage.
            auto lineAfter = [&](qsizetype p) {
                const qsizetype colon = row.indexOf(u':', p);
                if (colon < 0 || colon + 1 >= row.size()) return 0;
                try {
                    return StrToInt(row.mid(p, colon - p));
                } catch (const EQvError &) {
                    return 0;
                }
            };
            TCompilerMessage expected;
            bool message = false;
            if (!IsOwnRow(row)) {
                QList<qsizetype> blanks;
                for (qsizetype p = 1; p < row.size(); ++p)
                    if (row.at(p) == u' ') blanks << p;
                auto fits = [&](qsizetype p) { return lineAfter(p) >= 1 && files.contains(row.left(p)); };
                qsizetype at = -1;
                if (!blanks.isEmpty() && blanks.first() == row.indexOf(u' ') && fits(blanks.first())) at = blanks.first();
                for (qsizetype k = blanks.size() - 1; at < 0 && k >= 0; --k)
                    if (blanks.at(k) != row.indexOf(u' ') && fits(blanks.at(k))) at = blanks.at(k);
                if (at >= 0) {
                    message = true;
                    expected.File = row.left(at);
                    expected.Line = lineAfter(at);
                    expected.Text = row.mid(row.indexOf(u':', at) + 1);
                    while (expected.Text.startsWith(u' ')) expected.Text.remove(0, 1);
                    expected.Warning = expected.Text.toLower().startsWith(u"warning"_s) ||
                                       expected.Text.startsWith(u"警告"_s);
                }
            }
            TCompilerMessage got;
            got.Line = -7;
            const bool is = ParseMessage(row, [&](const QString &f) { return files.contains(f); }, &got);
            QVERIFY2(is == message, qPrintable(row));
            if (message) {
                ++parsed;
                longer += expected.File != MessageFileName(row);
                QVERIFY2(got == expected, qPrintable(u"[%1]: %2 %3 [%4]"_s.arg(row, got.File).arg(got.Line).arg(got.Text)));
            } else {
                QCOMPARE(got.Line, -7);  // untouched
            }
        }
        // The rows went every way.
        QVERIFY(led > 1000 && prefixed > 200 && parsed > 1000 && longer > 200);
    }

    void strToInt_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("ok");
        QTest::newRow("zero") << u"0"_s << 0 << true;
        QTest::newRow("plus") << u"+7"_s << 7 << true;
        QTest::newRow("leading zeros") << u"007"_s << 7 << true;
        QTest::newRow("largest") << u"2147483647"_s << 2147483647 << true;
        QTest::newRow("smallest") << u"-2147483648"_s << int(-2147483648LL) << true;
        QTest::newRow("too large") << u"2147483648"_s << 0 << false;
        QTest::newRow("too small") << u"-2147483649"_s << 0 << false;
        QTest::newRow("trailing blank") << u"42 "_s << 0 << false;
        QTest::newRow("blank after sign") << u"- 4"_s << 0 << false;
        QTest::newRow("empty") << QString() << 0 << false;
        QTest::newRow("sign alone") << u"-"_s << 0 << false;
        QTest::newRow("tab") << u"\t1"_s << 0 << false;
        QTest::newRow("hex") << u"0x10"_s << 0 << false;
        QTest::newRow("wide digits") << u"１２"_s << 0 << false;
    }
    void strToInt() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(bool, ok);
        try {
            QCOMPARE(StrToInt(text), value);
            QVERIFY(ok);
        } catch (const EQvError &e) {
            QVERIFY(!ok);
            QCOMPARE(e.Message, u"'%1' は整数ではありません"_s.arg(text));
        }
    }
};

QV_TEST_MAIN(TestOutputRows)
#include "tst_outputrows.moc"
