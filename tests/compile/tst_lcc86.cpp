// lcc86.exe, run for real on sources in a temporary directory: it compiles
// and links with the 8086 tool chain bcc, and the programs it makes run in
// DOSBox without a window.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <random>
#include <unistd.h>
#include <vector>

#include "../cmdquote.h"
#include "../testfiles.h"
#include "compile.h"
#include "dosrun.h"
#include "qverror.h"
#include "sjis.h"
#include "spawnpipe.h"
#include "tdoscmd.h"
#include "../testmain.h"

using namespace buildcmd;

extern char **environ;
using namespace Qt::StringLiterals;

namespace {
struct Run {
    int code = -1;
    QStringList rows;  // standard output, decoded as the Output pane does
    QString err;
    QStringList leftovers;  // what the run left in its temporary folder
};

// The tool's temporary folder (TMPDIR), empty before each run.
QString &tmpDir() {
    static QString dir;
    return dir;
}

// Runs the tool with arguments given as bytes, as the IDE's runner does.
Run lcc86(const QList<QByteArray> &args, const QString &workDir, const QByteArray &pathList = QByteArray()) {
    const QByteArray tool = QFile::encodeName(qEnvironmentVariable("QV_TOOLS_DIR") + u"/lcc86.exe"_s);
    QList<QByteArray> words = QList<QByteArray>{"lcc86.exe"} + args;
    std::vector<char *> argv;
    for (QByteArray &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    // The environment, with the tool's temporary folder and any PATH given.
    QList<QByteArray> vars;
    for (char **e = environ; *e; ++e) {
        const QByteArray v(*e);
        if (!v.startsWith("TMPDIR=") && (pathList.isNull() || !v.startsWith("PATH="))) vars << v;
    }
    vars << "TMPDIR=" + QFile::encodeName(tmpDir());
    if (!pathList.isNull()) vars << "PATH=" + pathList;
    std::vector<char *> envp;
    for (QByteArray &v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    QProcess p;
    p.setProgram(QFile::decodeName(tool));
    p.setWorkingDirectory(workDir);
    // Raw bytes reach the tool only through exec itself; nothing is allocated after the fork.
    // In a process group of its own, so that a tool chain that hangs goes with it.
    p.setChildProcessModifier([&tool, &argv, &envp] {
        ::setpgid(0, 0);
        ::execve(tool.constData(), argv.data(), envp.data());
        ::_exit(127);
    });
    Run r;
    p.start();
    if (!p.waitForFinished(60000)) {
        ::kill(-pid_t(p.processId()), SIGKILL);
        p.waitForFinished(5000);
        return r;
    }
    if (p.exitStatus() != QProcess::NormalExit) return r;
    r.code = p.exitCode();
    r.rows = sjis::decode(p.readAllStandardOutput()).split(u'\n');
    if (r.rows.last().isEmpty()) r.rows.removeLast();
    r.err = sjis::decode(p.readAllStandardError());
    r.leftovers = QDir(tmpDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    return r;
}

Run lcc86(const QStringList &args, const QString &workDir, const QByteArray &pathList = QByteArray()) {
    QList<QByteArray> bytes;
    for (const QString &a : args) bytes.append(QFile::encodeName(a));
    return lcc86(bytes, workDir, pathList);
}

// Runs a program in DOSBox without a window: what it wrote to standard
// output, and its exit code (-1 when DOSBox gave none).
struct DosRun {
    QByteArray out;
    int code = -1;
};
DosRun runInDosBox(const QString &program) {
    DosRun r;
    QTemporaryDir run;
    QString error;
    if (!dosrun::PrepareFolder(run.path(), program, QFileInfo(program).absolutePath(), false, &error)) return r;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QByteArray &v : dosrun::HeadlessVariables())
        env.insert(QString::fromLatin1(v.left(v.indexOf('='))), QString::fromLatin1(v.mid(v.indexOf('=') + 1)));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(run.path());
    QStringList args;
    for (const QByteArray &a : dosrun::Arguments(run.path())) args << QFile::decodeName(a);
    p.start(QFile::decodeName(FindProgram("dosbox")), args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.out = qvtest::ReadFile(QDir(run.path()).filePath(QLatin1String(dosrun::OutputFile)));
    r.code = dosrun::ReadExitCode(run.path());
    return r;
}

const QStringList Fixed = {u"-O"_s, u"-js"_s, u"-w1"_s, u"-c"_s};

bool write(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The line a double-click would reach for file, or -1 when no row names it.
int lineFor(const Run &r, const QString &file, const char *kind) {
    for (const QString &row : r.rows)
        if (!IsOwnRow(row) && MessageFileName(row) == file && row.contains(QLatin1String(kind)))
            return MessageLineNumber(row);
    return -1;
}
}  // namespace

class TestLcc86 : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        tmpDir() = tmp.path();
        if (FindProgram("bcc").isEmpty()) QFAIL("bcc is not installed (scripts/setup installs it)");
    }

    // Good sources under awkward names: the object lands where the
    // up-to-date test looks, and nothing in a name is ever run.
    void compiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("relative");
        QTest::newRow("plain") << u"main.c"_s << false;
        QTest::newRow("relative") << u"sub/main.c"_s << true;
        QTest::newRow("japanese") << u"ソース/表.c"_s << false;
        QTest::newRow("no extension") << u"x.y/main"_s << false;
        QTest::newRow("metacharacters") << u"a;b $(touch pwned) `touch pwned` & 'q' > z.c"_s << false;
    }
    void compiles() {
        QFETCH(QString, name);
        QFETCH(bool, relative);
        QTemporaryDir dir;
        const QString path = relative ? name : dir.filePath(name);
        // "const" is no keyword of the 8086 compiler; the tool takes it away.
        const QByteArray source = "const int three = 3;\r\nint twice(int a) { return a * 2; }\r\n";
        QVERIFY(write(dir.filePath(name), source));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.rows, QStringList());
        QCOMPARE(r.leftovers, QStringList());
        QCOMPARE(qvtest::ReadFile(dir.filePath(name)), source);
        QFile object(QDir(dir.path()).filePath(ObjectPath(path)));
        QVERIFY(object.open(QIODevice::ReadOnly));
        QCOMPARE(object.read(2), QByteArray("\xa3\x86"));  // an 8086 object
        QVERIFY(!QFile::exists(dir.filePath(u"pwned"_s)));
        QVERIFY(!QFile::exists(dir.filePath(u"z.c"_s)));
    }

    // Errors and warnings come back navigable for the path exactly as given,
    // and no row names any other file.
    void messages() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ソース/bad.c"_s);
        QVERIFY(write(path, "int main(void) {\n  char *odd = \"\\q\";\n  return missing;\n}\n"));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        QVERIFY(r.code > 0);
        QCOMPARE(r.leftovers, QStringList());
        QCOMPARE(lineFor(r, path, "error"), 3);
        QCOMPARE(lineFor(r, path, "warning"), 2);
        QVERIFY(!QFile::exists(ObjectPath(path)));
        for (const QString &row : r.rows)
            QVERIFY2(row.isEmpty() || MessageFileName(row) == path || MessageFileName(row).isEmpty(),
                     qPrintable(row));
        // Without -w1 the warning is gone; the error stays.
        const Run quiet = lcc86({u"-c"_s, path}, dir.path());
        QVERIFY(quiet.code > 0);
        QCOMPARE(lineFor(quiet, path, "warning"), -1);
        QCOMPARE(lineFor(quiet, path, "error"), 3);
        // A warning alone doesn't stop the compile.
        QVERIFY(write(path, "int main(void) {\n  char *odd = \"\\q\";\n  return 0;\n}\n"));
        const Run warned = lcc86(Fixed + QStringList{path}, dir.path());
        QCOMPARE(warned.code, 0);
        QCOMPARE(lineFor(warned, path, "warning"), 2);
        QVERIFY(QFile::exists(ObjectPath(path)));
    }

    // The IDE may hand the path over in Shift-JIS: the file is still found,
    // messages name the path as the IDE wrote it, the object lands beside it.
    void shiftJisCommandLine() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ソース/表.c"_s);
        QVERIFY(write(path, "int f(void) {\n  return missing;\n}\n"));
        const QList<QByteArray> args = {"-c", sjis::encodeLossy(path)};
        const Run bad = lcc86(args, dir.path());
        QVERIFY(bad.code > 0);
        QCOMPARE(lineFor(bad, path, "error"), 2);
        QVERIFY(write(path, "int f(void) { return 0; }\n"));
        QCOMPARE(lcc86(args, dir.path()).code, 0);
        QVERIFY(QFile::exists(ObjectPath(path)));
    }

    // A message about an included header names the header.
    void headerMessage() {
        QTemporaryDir dir;
        QVERIFY(write(dir.filePath(u"inc.h"_s), "\nint broken(void) { return nothing; }\n"));
        const QString path = dir.filePath(u"use.c"_s);
        QVERIFY(write(path, "#include \"inc.h\"\n"));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        QVERIFY(r.code > 0);
        QCOMPARE(lineFor(r, dir.filePath(u"inc.h"_s), "error"), 2);
        QCOMPARE(lineFor(r, path, "error"), -1);
    }

    // A path with blanks is written as it is: its messages lead to its open
    // document by the longest part of the row before a blank that is the
    // document's path, a header's too; what names no place keeps its two
    // leading blanks.
    void blankInPath_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("ascii") << u"my dir"_s;
        QTest::newRow("japanese") << u"my dir/作業 1"_s;
    }
    void blankInPath() {
        QFETCH(QString, folder);
        QTemporaryDir dir;
        const QString path = dir.filePath(folder + u"/bad c.c"_s), header = dir.filePath(folder + u"/in c.h"_s);
        QVERIFY(write(header, "int h;\nint k(void) { return nowhere; }\n"));
        QVERIFY(write(path, "#include \"in c.h\"\nint f(void) {\n  char *s = \"\\q\";\n  return missing;\n}\n"));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        QVERIFY(r.code > 0);
        QCOMPARE(r.leftovers, QStringList());
        QStringList places;
        for (const QString &row : r.rows) {
            const TMessageFile found = FindMessageFile(row, {u"/elsewhere.c"_s, path, header});
            if (found.Index < 0) {
                QVERIFY2(row.startsWith(u"  "_s), qPrintable(row));
                continue;
            }
            const QString file = found.Index == 1 ? u"source"_s : u"header"_s;
            places << u"%1 %2 %3"_s.arg(file).arg(MessageLineNumberAt(row, found.Blank))
                          .arg(row.contains(u"warning"_s) ? u"warning"_s : u"error"_s);
        }
        places.sort();
        QCOMPARE(places, (QStringList{u"header 2 error"_s, u"source 3 warning"_s, u"source 4 error"_s}));
    }

    // A Shift-JIS source: a comment ending in 表 (second byte 0x5C) must not
    // swallow the next line, and strings keep their Shift-JIS bytes.
    void shiftJisSource() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"sjis.c"_s);
        const QByteArray text = sjis::encodeLossy(
            u"/* ソースの説明 */\n// 予定表\nint ok = 1;\nconst char *s = \"表示\";\n"
            u"int f(void) { return ok; }\n"_s);
        QVERIFY(write(path, text));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        QCOMPARE(r.code, 0);
        QFile object(ObjectPath(path));
        QVERIFY(object.open(QIODevice::ReadOnly));
        QVERIFY(object.readAll().contains(sjis::encodeLossy(u"表示"_s)));
        // Read without -js the comment runs on and the next line is lost.
        QVERIFY(lcc86({u"-c"_s, path}, dir.path()).code > 0);
    }

    // Lines of the preprocessor's messages, which it counts one line late
    // after some directives, and of messages at the end of the file.
    void messageLines_data() {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("line");
        QTest::newRow("missing header before another include")
            << QByteArray("#include \"missing.h\"\n#include <stdio.h>\nint a;\n") << u"error"_s << 1;
        QTest::newRow("missing header before code")
            << QByteArray("int a;\n#include \"missing.h\"\nint b;\n") << u"error"_s << 2;
        QTest::newRow("#error") << QByteArray("int a;\n#error stop here\nint b;\n") << u"#error stop"_s << 2;
        QTest::newRow("#warning before a directive")
            << QByteArray("int a;\n#warning careful\n#define X 1\nint b;\n") << u"#warning careful"_s << 2;
        QTest::newRow("macro defined again on the last line")
            << QByteArray("#define A 1\n#define A 2\n") << u"redefined"_s << 2;
        QTest::newRow("unknown directive") << QByteArray("int a;\n#foo\nint b;\n") << u"Unknown"_s << 2;
        QTest::newRow("unmatched #endif after a directive")
            << QByteArray("#if 1\nint a;\n#endif\n#endif\nint b;\n") << u"Unmatched"_s << 4;
        QTest::newRow("continued directive") << QByteArray("#define X 1 + \\\n  2\n#error done\nint a;\n")
                                             << u"#error done"_s << 3;
        QTest::newRow("#error on the last line, no line break")
            << QByteArray("int a;\n#error end") << u"#error end"_s << 2;
        QTest::newRow("end of file") << QByteArray("int f(void) {\n  return 1;\n") << u"error"_s << 2;
        QTest::newRow("CR LF") << QByteArray("int a;\r\nint b = zz;\r\n") << u"zz undeclared"_s << 2;
        QTest::newRow("comment ending in a second byte 5C")
            << sjis::encodeLossy(u"// 予定表\nint b = zz;\n"_s) << u"zz undeclared"_s << 2;
        QTest::newRow("parenthesis never closed") << QByteArray("int f(void)\n{\n    int x = (1 + 2;\n    return x;\n}\n")
                                                  << u"error: unmatched '('"_s << 3;
        QTest::newRow("bracket never closed, CR LF")
            << QByteArray("int a[3];\r\nint f(void)\r\n{\r\n    return a[1;\r\n}\r\n") << u"need ']'"_s << 4;
        QTest::newRow("line comment going on after a backslash")
            << QByteArray("// ends in \\\nint b = zz;\nint c = yy;\n") << u"yy undeclared"_s << 3;
    }
    void messageLines() {
        QFETCH(QByteArray, source);
        QFETCH(QString, kind);
        QFETCH(int, line);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"m.c"_s);
        QVERIFY(write(path, source));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        int found = -1;
        for (const QString &row : r.rows)
            if (MessageFileName(row) == path && row.contains(kind)) found = MessageLineNumber(row);
        QVERIFY2(found == line, qPrintable(r.rows.join(u'\n')));
        QCOMPARE(r.leftovers, QStringList());
    }

    // The compiler's preprocessor would never end on a comment that is not
    // closed: the tool names its line instead.
    void unclosedComment() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"open.c"_s), header = dir.filePath(u"open.h"_s);
        QVERIFY(write(header, "int h;\n/* never closed\n"));
        QVERIFY(write(path, "#include \"open.h\"\nint a;\n\n/* open\nint b;\n"));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        QCOMPARE(r.code, 1);
        QCOMPARE(r.rows, (QStringList{path + u" 4: error: コメント /* が閉じていません"_s,
                                      header + u" 2: error: コメント /* が閉じていません"_s}));
        QVERIFY(!QFile::exists(ObjectPath(path)));
        QCOMPARE(r.leftovers, QStringList());
    }

    // Without bcc the tool says so in one line and compiles nothing with
    // anything else.
    void toolChainMissing() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"bin"_s));
        // A host compiler on the path changes nothing.
        QVERIFY(QFile::link(u"/usr/bin/gcc"_s, dir.filePath(u"bin/cc"_s)));
        QVERIFY(write(dir.filePath(u"a.c"_s), "int a;\n"));
        QVERIFY(write(dir.filePath(u"a.obj"_s), "\xa3\x86 old"));
        const QString line = u"lcc86.exe: 8086 用の C コンパイラ bcc が見つかりません。"
                             u"パッケージ bcc、bin86、elks-libc をインストールしてください。"_s;
        const QByteArray pathList = QFile::encodeName(dir.filePath(u"bin"_s));
        const Run compile = lcc86(Fixed + QStringList{dir.filePath(u"a.c"_s)}, dir.path(), pathList);
        QCOMPARE(compile.code, 1);
        QCOMPARE(compile.rows, QStringList{line});
        QCOMPARE(qvtest::ReadFile(dir.filePath(u"a.obj"_s)), QByteArray("\xa3\x86 old"));
        const Run link = lcc86({u"-o"_s, dir.filePath(u"p.com"_s), dir.filePath(u"a.obj"_s)}, dir.path(), pathList);
        QCOMPARE(link.code, 1);
        QCOMPARE(link.rows, QStringList{line});
        QVERIFY(!QFile::exists(dir.filePath(u"p.com"_s)));
    }

    // The link form: what it refuses, and what the linker says. A failed
    // link leaves the program that was there as it was.
    void linkFailures_data() {
        QTest::addColumn<QStringList>("objects");  // kind:name; "good", "nomain", "undefined", "junk", "missing"
        QTest::addColumn<QStringList>("rows");     // rows expected among the tool's, %1 the folder
        QTest::newRow("no main") << QStringList{u"nomain:lib.obj"_s}
                                 << QStringList{u"  undefined symbol: _main"_s,
                                                u"lcc86.exe: 関数 main がありません。プログラムには main 関数が必要です。"_s};
        QTest::newRow("undefined function") << QStringList{u"undefined:main.obj"_s, u"nomain:lib.obj"_s}
                                            << QStringList{u"  undefined symbol: _ext"_s};
        QTest::newRow("object of another machine")
            << QStringList{u"good:main.obj"_s, u"junk:old.obj"_s}
            << QStringList{u"lcc86.exe: %1/old.obj は 8086 のオブジェクトファイルではありません。リビルドしてください。"_s};
        QTest::newRow("missing object") << QStringList{u"good:main.obj"_s, u"missing:gone.obj"_s}
                                        << QStringList{u"lcc86.exe: ファイル %1/gone.obj を開けません"_s};
    }
    void linkFailures() {
        QFETCH(QStringList, objects);
        QFETCH(QStringList, rows);
        QTemporaryDir dir;
        QStringList args = {u"-o"_s, dir.filePath(u"作業 フォルダ/プログラム.com"_s)};
        QVERIFY(write(args.last(), "old program"));
        for (const QString &entry : std::as_const(objects)) {
            const QString kind = entry.section(u':', 0, 0), object = dir.filePath(entry.section(u':', 1));
            args << object;
            const QString source = object.left(object.size() - 4) + u".c"_s;
            if (kind == u"good"_s) QVERIFY(write(source, "int main(void) { return 0; }\n"));
            if (kind == u"nomain"_s) QVERIFY(write(source, "int ext(void) { return 1; }\n"));
            if (kind == u"undefined"_s) QVERIFY(write(source, "int ext2(void);\nint main(void) { return ext2(); }\n"));
            if (kind == u"junk"_s) QVERIFY(write(object, "\x7f" "ELF not for the 8086"));
            if (QFile::exists(source)) QCOMPARE(lcc86({u"-c"_s, source}, dir.path()).code, 0);
        }
        if (objects.contains(u"undefined:main.obj"_s)) rows = {u"  undefined symbol: _ext2"_s};
        const Run r = lcc86(args, dir.path());
        QVERIFY(r.code != 0);
        for (const QString &row : std::as_const(rows))
            QVERIFY2(r.rows.contains(QString(row).replace(u"%1"_s, dir.path())), qPrintable(r.rows.join(u'\n')));
        QCOMPARE(qvtest::ReadFile(args.at(1)), QByteArray("old program"));
        QCOMPARE(QDir(dir.filePath(u"作業 フォルダ"_s)).entryList(QDir::Files | QDir::Hidden), QStringList{u"プログラム.com"_s});
    }

    // A program of Shift-JIS strings, comments and a header, all written at
    // random around the second bytes the compiler would misread: compiled
    // with -js, linked and run in DOSBox, it prints exactly the bytes of its
    // strings. Without -js it doesn't compile.
    void shiftJisProgramRuns() {
        std::mt19937 random(32);
        // Double-byte characters whose second byte is "\", "{", "|", "}",
        // "~", "@", "[", "]", "`" or "^", some others, half-width kana and ASCII.
        const QStringList pool = {u"表"_s, u"ソ"_s, u"能"_s, u"十"_s, u"予"_s, u"申"_s, u"構"_s, u"ポ"_s,
                                  u"暴"_s, u"ー"_s, u"＼"_s, u"〜"_s, u"あ"_s, u"漢"_s, u"字"_s, u"ｶ"_s,
                                  u"ﾅ"_s,  u"A"_s,  u"z"_s,  u" "_s,  u"%"_s,  u"{"_s};
        const auto text = [&](int maxLength) {
            QString t;
            const int n = int(random() % (maxLength + 1));
            for (int i = 0; i < n; ++i) t += pool.at(int(random() % pool.size()));
            return t;
        };
        QByteArray program = "#include <stdio.h>\n#include \"" + sjis::encodeLossy(u"見出し表.h"_s) + "\"\n";
        QByteArray expected;
        QByteArray header = sjis::encodeLossy(u"/* 見出しの表 */\n// 見出し表\n#define TITLE \"見出し表\"\n"_s);
        program += "int main(void) {\n  puts(TITLE);\n";
        expected += sjis::encodeLossy(u"見出し表"_s) + "\r\n";
        QStringList strings = {u"表"_s, u"ソ"_s, u"能"_s};
        for (int i = 0; i < 40; ++i) strings << text(12);
        for (const QString &s : std::as_const(strings)) {
            QByteArray literal;
            for (char c : sjis::encodeLossy(s)) {
                if (c == '%') literal += "%%";
                else literal += c;
            }
            // A comment between statements, a line comment that ends in a
            // character whose second byte is "\" (the next statement must
            // still print), escapes of their own.
            switch (random() % 4) {
            case 0: program += "  /* " + sjis::encodeLossy(text(6)) + " */\n"; break;
            case 1: program += "  // " + sjis::encodeLossy(text(6) + u"表"_s) + "\n"; break;
            case 2: literal += "\\\\\\\""; break;
            default: break;
            }
            program += "  printf(\"" + literal + "\\n\");\n";
            expected += sjis::encodeLossy(s) + (literal.endsWith("\\\"") ? "\\\"" : "") + "\r\n";
        }
        program += "  return 0;\n}\n";

        QTemporaryDir dir;
        const QString folder = dir.filePath(u"作業 フォルダ"_s);
        QVERIFY(write(folder + u"/見出し表.h"_s, header));
        QVERIFY(write(folder + u"/表示.c"_s, program));
        const Run plain = lcc86({u"-c"_s, folder + u"/表示.c"_s}, dir.path());
        QVERIFY(plain.code != 0);
        const Run compiled = lcc86(Fixed + QStringList{folder + u"/表示.c"_s}, dir.path());
        QVERIFY2(compiled.code == 0, qPrintable(compiled.rows.join(u'\n')));
        QCOMPARE(qvtest::ReadFile(folder + u"/表示.c"_s), program);  // the source stays as it was
        const QString exe = folder + u"/テスト プログラム.com"_s;
        const Run linked = lcc86({u"-o"_s, exe, folder + u"/表示.obj"_s}, dir.path());
        QVERIFY2(linked.code == 0, qPrintable(linked.rows.join(u'\n')));
        QCOMPARE(linked.rows, QStringList());
        const DosRun run = runInDosBox(exe);
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out, expected);
    }

    void badCommandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("options only") << Fixed;
        QTest::newRow("unknown option") << QStringList{u"-x"_s, u"a.c"_s};
        QTest::newRow("near option") << QStringList{u"-O2"_s, u"a.c"_s};
        QTest::newRow("two sources") << QStringList{u"-c"_s, u"a.c"_s, u"b.c"_s};
        QTest::newRow("empty argument") << QStringList{u"-c"_s, QString()};
        QTest::newRow("link without objects") << QStringList{u"-o"_s, u"p.com"_s};
        QTest::newRow("link without program") << QStringList{u"-o"_s};
        QTest::newRow("link with a compile option") << QStringList{u"-o"_s, u"p.com"_s, u"-c"_s, u"a.obj"_s};
        QTest::newRow("two programs") << QStringList{u"-o"_s, u"p.com"_s, u"-o"_s, u"q.com"_s, u"a.obj"_s};
    }
    void badCommandLine() {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        QVERIFY(write(dir.filePath(u"a.c"_s), "int a;\n"));
        QVERIFY(write(dir.filePath(u"b.c"_s), "int b;\n"));
        const Run r = lcc86(args, dir.path());
        QCOMPARE(r.code, 2);
        QCOMPARE(r.rows, QStringList());
        QVERIFY2(r.err.startsWith(u"使い方: lcc86.exe"_s), qPrintable(r.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

    void unreadableSource_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << u"gone.c"_s;
        QTest::newRow("directory") << u"folder.c"_s;
    }
    void unreadableSource() {
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"folder.c"_s));
        const Run r = lcc86(Fixed + QStringList{dir.filePath(name)}, dir.path());
        QCOMPARE(r.code, 1);
        QCOMPARE(r.rows, QStringList{u"lcc86.exe: ファイル %1 を開けません"_s.arg(dir.filePath(name))});
        QVERIFY(!QFile::exists(ObjectPath(dir.filePath(name))));
    }

    // A stopped compile ends cc too: the tool keeps cc in the process group
    // that the runner stops, whatever cc does with SIGTERM.
    void stopEndsCcToo_data() {
        QTest::addColumn<QByteArray>("trap");  // what the stand-in bcc does first
        QTest::newRow("bcc ends at SIGTERM") << QByteArray();
        QTest::newRow("bcc ignores SIGTERM") << QByteArray("trap '' TERM\n");
    }
    void stopEndsCcToo() {
        QFETCH(QByteArray, trap);
        QTemporaryDir dir;
        const QString cc = dir.filePath(u"bin/bcc"_s), pidFile = dir.filePath(u"cc.pid"_s);
        // The tool runs its compiler in a folder of its own: the pid goes where the test looks.
        const QByteArray pidName = QFile::encodeName(pidFile);
        QVERIFY(write(cc, "#!/bin/sh\n" + trap + "echo $$ > '" + pidName + ".new' && mv '" + pidName + ".new' '" + pidName +
                              "'\nexec sleep 60\n"));
        QVERIFY(QFile::setPermissions(cc, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(write(dir.filePath(u"a.c"_s), "int a;\n"));
        TDosCommand c;
        c.StopGraceMs = 200;
        bool ended = false;
        c.OnTerminate = [&](TDosCommand *) { ended = true; };
        const QByteArray path = qgetenv("PATH"), tmp = qgetenv("TMPDIR");
        qputenv("PATH", QFile::encodeName(dir.filePath(u"bin"_s)) + ':' + path);
        qputenv("TMPDIR", QFile::encodeName(tmpDir()));
        const QByteArray tool = QFile::encodeName(qEnvironmentVariable("QV_TOOLS_DIR") + u"/lcc86.exe"_s);
        const bool started = c.StartCommand(qvtest::QuoteProgram(tool) + " -c a.c", QFile::encodeName(dir.path()));
        qputenv("PATH", path);
        qputenv("TMPDIR", tmp);
        QVERIFY(started);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), 20000);
        const pid_t pid = pid_t(qvtest::ReadFile(pidFile).trimmed().toInt());
        QVERIFY(pid > 0);
        const auto gone = [pid] {  // ended: no such process, or a zombie
            const QByteArray stat = qvtest::ReadFile(u"/proc/%1/stat"_s.arg(pid));
            const int close = int(stat.lastIndexOf(')'));
            return stat == "<missing>" || (close > 0 && QByteArray("ZX").contains(stat.mid(close + 2, 1)));
        };
        const auto leftover = qScopeGuard([&] {
            if (!gone()) ::kill(pid, SIGKILL);
        });
        QVERIFY(c.StopCommand());
        QTRY_VERIFY_WITH_TIMEOUT(ended, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(gone(), 5000);
        // The tool's folder went with it.
        QCOMPARE(QDir(tmpDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }
};

QV_TEST_MAIN(TestLcc86)
#include "tst_lcc86.moc"
