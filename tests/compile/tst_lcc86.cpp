// The stand-in compiler lcc86.exe, run for real on sources in a temporary directory.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>
#include <vector>

#include "../cmdquote.h"
#include "../testfiles.h"
#include "compile.h"
#include "qverror.h"
#include "sjis.h"
#include "tdoscmd.h"

using namespace buildcmd;
using namespace Qt::StringLiterals;

namespace {
struct Run {
    int code = -1;
    QStringList rows;  // standard output, decoded as the Output pane does
    QString err;
};

// Runs the tool with arguments given as bytes, as the IDE's runner does.
Run lcc86(const QList<QByteArray> &args, const QString &workDir) {
    const QByteArray tool = QFile::encodeName(qEnvironmentVariable("QV_TOOLS_DIR") + u"/lcc86.exe"_s);
    QList<QByteArray> words = QList<QByteArray>{"lcc86.exe"} + args;
    std::vector<char *> argv;
    for (QByteArray &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    QProcess p;
    p.setProgram(QFile::decodeName(tool));
    p.setWorkingDirectory(workDir);
    // Raw bytes reach the tool only through exec itself; nothing is allocated after the fork.
    p.setChildProcessModifier([&tool, &argv] {
        ::execv(tool.constData(), argv.data());
        ::_exit(127);
    });
    Run r;
    p.start();
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) return r;
    r.code = p.exitCode();
    r.rows = sjis::decode(p.readAllStandardOutput()).split(u'\n');
    if (r.rows.last().isEmpty()) r.rows.removeLast();
    r.err = sjis::decode(p.readAllStandardError());
    return r;
}

Run lcc86(const QStringList &args, const QString &workDir) {
    QList<QByteArray> bytes;
    for (const QString &a : args) bytes.append(QFile::encodeName(a));
    return lcc86(bytes, workDir);
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
private slots:
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
        QVERIFY(write(dir.filePath(name), "int twice(int a) { return a * 2; }\n"));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.rows, QStringList());
        QFile object(QDir(dir.path()).filePath(ObjectPath(path)));
        QVERIFY(object.open(QIODevice::ReadOnly));
        QCOMPARE(object.read(4), QByteArray("\x7f" "ELF"));
        QVERIFY(!QFile::exists(dir.filePath(u"pwned"_s)));
        QVERIFY(!QFile::exists(dir.filePath(u"z.c"_s)));
    }

    // Errors and warnings come back navigable for the path exactly as given,
    // and no row names any other file.
    void messages() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ソース/bad.c"_s);
        QVERIFY(write(path, "int main(void) {\n  int unused;\n  return missing;\n}\n"));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        QVERIFY(r.code > 0);
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

    // A path with a blank can't be a file field: its messages are printed
    // so that their file field is empty.
    void blankInPath() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"my dir/bad.c"_s);
        QVERIFY(write(path, "int f(void) { return missing; }\n"));
        const Run r = lcc86(Fixed + QStringList{path}, dir.path());
        QVERIFY(r.code > 0);
        QVERIFY(!r.rows.isEmpty());
        for (const QString &row : r.rows) QVERIFY2(MessageFileName(row).isEmpty(), qPrintable(row));
        QVERIFY(r.rows.join(u'\n').contains(u"missing"_s));
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

    void badCommandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("options only") << Fixed;
        QTest::newRow("unknown option") << QStringList{u"-x"_s, u"a.c"_s};
        QTest::newRow("near option") << QStringList{u"-O2"_s, u"a.c"_s};
        QTest::newRow("two sources") << QStringList{u"-c"_s, u"a.c"_s, u"b.c"_s};
        QTest::newRow("empty argument") << QStringList{u"-c"_s, QString()};
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
        QTest::addColumn<QByteArray>("trap");  // what the stand-in cc does first
        QTest::newRow("cc ends at SIGTERM") << QByteArray();
        QTest::newRow("cc ignores SIGTERM") << QByteArray("trap '' TERM\n");
    }
    void stopEndsCcToo() {
        QFETCH(QByteArray, trap);
        QTemporaryDir dir;
        const QString cc = dir.filePath(u"bin/cc"_s), pidFile = dir.filePath(u"cc.pid"_s);
        QVERIFY(write(cc, "#!/bin/sh\n" + trap + "echo $$ > cc.pid.new && mv cc.pid.new cc.pid\nexec sleep 60\n"));
        QVERIFY(QFile::setPermissions(cc, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(write(dir.filePath(u"a.c"_s), "int a;\n"));
        TDosCommand c;
        c.StopGraceMs = 200;
        bool ended = false;
        c.OnTerminate = [&](TDosCommand *) { ended = true; };
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.filePath(u"bin"_s)) + ':' + path);
        const QByteArray tool = QFile::encodeName(qEnvironmentVariable("QV_TOOLS_DIR") + u"/lcc86.exe"_s);
        const bool started = c.StartCommand(qvtest::QuoteProgram(tool) + " -c a.c", QFile::encodeName(dir.path()));
        qputenv("PATH", path);
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
    }
};

QTEST_MAIN(TestLcc86)
#include "tst_lcc86.moc"
