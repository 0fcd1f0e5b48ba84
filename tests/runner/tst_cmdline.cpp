// Splitting command lines into program arguments, and quoting them back.
#include "cmdline.h"
#include "cmdquote.h"
#include "testmain.h"

#include <QRandomGenerator>
#include <QTest>

using qvtest::QuoteArgument;
using qvtest::QuoteProgram;

class TestCmdLine : public QObject {
    Q_OBJECT
private slots:
    void split_data();
    void split();
    void quotedArgumentsComeBackUnchanged_data();
    void quotedArgumentsComeBackUnchanged();
    void randomArgumentsComeBackUnchanged();
    void quotedProgram_data();
    void quotedProgram();
};

void TestCmdLine::split_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArrayList>("words");

    QTest::newRow("empty") << QByteArray() << QByteArrayList{};
    QTest::newRow("blanks only") << QByteArray(" \t  ") << QByteArrayList{};
    QTest::newRow("one word") << QByteArray("prog") << QByteArrayList{"prog"};
    QTest::newRow("blank runs and ends") << QByteArray("  prog  a \t b  ") << QByteArrayList{"prog", "a", "b"};
    QTest::newRow("tabs separate") << QByteArray("prog\ta\tb") << QByteArrayList{"prog", "a", "b"};
    QTest::newRow("quoted program") << QByteArray("\"my prog\" a") << QByteArrayList{"my prog", "a"};
    QTest::newRow("program keeps backslashes")
        << QByteArray("\"C:\\dir\\\" x") << QByteArrayList{"C:\\dir\\", "x"};
    QTest::newRow("program: backslash does not escape")
        << QByteArray("C:\\a\\\"b c\" d") << QByteArrayList{"C:\\a\\b c", "d"};
    QTest::newRow("program: quote inside word") << QByteArray("ab\"c d\"e") << QByteArrayList{"abc de"};
    QTest::newRow("program: unterminated quote")
        << QByteArray("\"my prog a") << QByteArrayList{"my prog a"};
    QTest::newRow("empty program") << QByteArray("\"\" a") << QByteArrayList{"", "a"};
    QTest::newRow("quoted argument") << QByteArray("prog \"a b\" c") << QByteArrayList{"prog", "a b", "c"};
    QTest::newRow("quote inside argument") << QByteArray("prog ab\"c d\"e") << QByteArrayList{"prog", "abc de"};
    QTest::newRow("empty argument") << QByteArray("prog \"\"") << QByteArrayList{"prog", ""};
    QTest::newRow("two empty arguments")
        << QByteArray("prog \"\" \"\"") << QByteArrayList{"prog", "", ""};
    QTest::newRow("unterminated argument")
        << QByteArray("prog \"a b ") << QByteArrayList{"prog", "a b "};
    QTest::newRow("backslashes alone are literal")
        << QByteArray("prog a\\\\b c\\") << QByteArrayList{"prog", "a\\\\b", "c\\"};
    QTest::newRow("four backslashes at the end")
        << QByteArray("prog \\\\\\\\") << QByteArrayList{"prog", "\\\\\\\\"};
    QTest::newRow("odd backslashes: literal quote")
        << QByteArray("prog a\\\"b") << QByteArrayList{"prog", "a\"b"};
    QTest::newRow("three backslashes: one and a quote")
        << QByteArray("prog a\\\\\\\"b") << QByteArrayList{"prog", "a\\\"b"};
    QTest::newRow("even backslashes: quote toggles")
        << QByteArray("prog a\\\\\"b c\"") << QByteArrayList{"prog", "a\\b c"};
    QTest::newRow("backslash before closing quote")
        << QByteArray("prog \"a\\\\\" b") << QByteArrayList{"prog", "a\\", "b"};
    QTest::newRow("doubled quote inside quotes")
        << QByteArray("prog \"a\"\"b\" c") << QByteArrayList{"prog", "a\"b", "c"};
    QTest::newRow("doubled quote keeps quoting")
        << QByteArray("prog \"a\"\"b c\"") << QByteArrayList{"prog", "a\"b c"};
    QTest::newRow("four quotes") << QByteArray("prog \"\"\"\"") << QByteArrayList{"prog", "\""};
    QTest::newRow("shell characters are plain")
        << QByteArray("prog x;y $(z) `w` a|b >f &")
        << QByteArrayList{"prog", "x;y", "$(z)", "`w`", "a|b", ">f", "&"};
    QTest::newRow("double-byte backslash before quote")
        << QByteArray("prog \"\x95\x5c\" b") << QByteArrayList{"prog", "\x95\x5c", "b"};
    QTest::newRow("double-byte backslash in a bare word")
        << QByteArray("prog \x95\x5c\"a b\"") << QByteArrayList{"prog", "\x95\x5c" "a b"};
    QTest::newRow("lead byte last") << QByteArray("prog a\x95") << QByteArrayList{"prog", "a\x95"};
    QTest::newRow("lead byte before blank")
        << QByteArray("prog \x95 b") << QByteArrayList{"prog", "\x95", "b"};
}

void TestCmdLine::split() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArrayList, words);
    QCOMPARE(SplitCommandLine(line), words);
}

void TestCmdLine::quotedArgumentsComeBackUnchanged_data() {
    QTest::addColumn<QByteArray>("arg");
    for (const char *a : {"plain", "a b", "a\tb", "a\"b", "\"", "a\\", "a\\\\", "\\\"", "a\\\\\"b",
                          "\\", " ", "x;y|z", "$(touch x)", "\x95\x5c", "\x95\x5c\"", "\x95", "\x95\"", "a\x95\"b c"})
        QTest::newRow(a) << QByteArray(a);
    QTest::newRow("empty") << QByteArray("");
}

void TestCmdLine::quotedArgumentsComeBackUnchanged() {
    QFETCH(QByteArray, arg);
    const QByteArrayList words = SplitCommandLine("prog " + QuoteArgument(arg) + " next");
    QCOMPARE(words, (QByteArrayList{"prog", arg, "next"}));
}

void TestCmdLine::randomArgumentsComeBackUnchanged() {
    const char alphabet[] = {'a', ' ', '\t', '"', '\\', '\x95', '\x5c', ';'};
    QRandomGenerator rng(20240611);
    for (int round = 0; round < 3000; ++round) {
        QByteArrayList args{"prog"};
        QByteArray line = "prog";
        const int count = rng.bounded(1, 5);
        for (int k = 0; k < count; ++k) {
            QByteArray arg;
            const int len = rng.bounded(0, 8);
            for (int i = 0; i < len; ++i) arg += alphabet[rng.bounded(int(sizeof alphabet))];
            args << arg;
            line += ' ' + QuoteArgument(arg);
        }
        QCOMPARE(SplitCommandLine(line), args);
    }
}

void TestCmdLine::quotedProgram_data() {
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << QByteArray("/usr/bin/cc") << QByteArray("/usr/bin/cc");
    QTest::newRow("blank") << QByteArray("/opt/my tools/cc") << QByteArray("/opt/my tools/cc");
    QTest::newRow("backslashes") << QByteArray("C:\\dir\\") << QByteArray("C:\\dir\\");
    QTest::newRow("quote is dropped") << QByteArray("a\"b") << QByteArray("ab");
    QTest::newRow("empty") << QByteArray("") << QByteArray("");
}

void TestCmdLine::quotedProgram() {
    QFETCH(QByteArray, program);
    QFETCH(QByteArray, expected);
    QCOMPARE(SplitCommandLine(QuoteProgram(program) + " x"), (QByteArrayList{expected, "x"}));
}

QV_TEST_MAIN(TestCmdLine)
#include "tst_cmdline.moc"
