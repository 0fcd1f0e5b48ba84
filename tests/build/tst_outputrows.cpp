// The Output pane's own rows and the fields of compiler messages.
#include <QTest>

#include "compile.h"
#include "qverror.h"
#include "sjis.h"

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
        // Every row the pane writes itself must survive Shift-JIS, and a
        // double-click passes it by.
        for (const QString &row : {StartLine(u"ソース.c"_s), NotNeededLine(u"表.c"_s),
                                   EchoLine(u"x"_s), StartFailedLine, EndLine}) {
            QByteArray bytes;
            QVERIFY2(sjis::encode(row, bytes), qPrintable(row));
            QVERIFY(IsOwnRow(row));
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

QTEST_MAIN(TestOutputRows)
#include "tst_outputrows.moc"
