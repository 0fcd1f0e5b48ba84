// Compile end to end on the real main window: the real runner, the real
// stand-in compiler (and small stand-in scripts where a test needs a slow or
// talkative compiler), the Output pane and the jump to a compiler message.
#include "buildrun.h"
#include "childwin.h"
#include "compile.h"
#include "errorreport.h"
#include "compilecontrol.h"
#include "documents.h"
#include "mainform.h"
#include "searchcontrol.h"
#include "modal.h"
#include "option.h"
#include "projecttree.h"
#include "runprogram.h"
#include "sjis.h"
#include "tdoscmd.h"
#include "textpos.h"
#include "../testfiles.h"
#include "../testmain.h"

#include <QDir>
#include <QFile>
#include <QClipboard>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTest>
#include <memory>
#include <random>

namespace {
void writeFile(const QString &path, const QByteArray &bytes) { QVERIFY(qvtest::WriteFile(path, bytes)); }
void setAge(const QString &path, int secondsAgo) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo), QFileDevice::FileModificationTime));
}
const QString kEnd = QStringLiteral("- コンパイル終了。");
const QString kFailed = QStringLiteral("* コンパイラの起動に失敗しました。");
}  // namespace

class TstCompile : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TMainForm> form;
    QByteArray savedPath, savedTmp;
    QStringList reports;
    std::unique_ptr<qvtest::MessageBoxAnswers> boxes;

    QString path(const QString &name) const { return dir->filePath(name); }
    QStringList rows() const {
        QStringList r;
        for (int i = 0; i < form->Output->count(); ++i) r << form->Output->Row(i);
        return r;
    }
    bool waitForEnd(int ends = 1) {
        return QTest::qWaitFor([&] { return rows().count(kEnd) >= ends; }, 60000);
    }
    // A stand-in compiler script first on PATH.
    void fakeCompiler(const QByteArray &script) {
        QDir(dir->path()).mkdir(QStringLiteral("fake"));
        const QString exe = path(QStringLiteral("fake/lcc86.exe"));
        writeFile(exe, script);
        QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner);
        qputenv("PATH", QFile::encodeName(path(QStringLiteral("fake"))) + ":" + savedPath);
    }
    TMDIChild *open(const QString &name, const QByteArray &text) {
        writeFile(path(name), text);
        form->OpenDocument(path(name));
        return form->ActiveMDIChild();
    }

private slots:
    void initTestCase() {
        savedPath = qgetenv("PATH");
        savedTmp = qgetenv("TMPDIR");
    }
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        // The compiler's and the runs' temporary folders, to see that they go.
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("tmp")));
        qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
        qputenv("PATH", qgetenv("QV_TOOLS_DIR") + ":" + savedPath);
        reports.clear();
        // Error reports are collected; a question about a changed document is
        // answered with Discard.
        boxes = std::make_unique<qvtest::MessageBoxAnswers>([this](QMessageBox &box) {
            if (box.icon() != QMessageBox::Critical) return QMessageBox::Discard;
            reports << qvtest::ReportMessage(box);
            return QMessageBox::Ok;
        });
        form = std::make_unique<TMainForm>();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void cleanup() {
        form.reset();
        boxes.reset();
        qputenv("PATH", savedPath);
        if (savedTmp.isNull()) qunsetenv("TMPDIR");
        else qputenv("TMPDIR", savedTmp);
        QDir::setCurrent(QDir::tempPath());
    }

    void noDocumentNoRow() {
        form->Compile->trigger();
        QCOMPARE(form->Output->count(), 0);
    }

    void anErrorCompilesAndItsRowLeadsToTheLine() {
        TMDIChild *bad = open(QStringLiteral("bad.c"), "int f(void)\r\n{\r\n    return undeclared_x;\r\n}\r\n");
        const QString S = bad->FileName;
        TMDIChild *other = open(QStringLiteral("other.c"), "int g;\r\n");
        QCOMPARE(form->ActiveMDIChild(), other);
        form->ClientArea->setActiveSubWindow(bad);
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        const QStringList r = rows();
        QCOMPARE(r.first(), QStringLiteral("- ") + S + QStringLiteral("のコンパイルを開始します…"));
        QCOMPARE(r.at(1), QStringLiteral("> lcc86.exe -O -js -w1 -c ") + S);
        QCOMPARE(r.last(), kEnd);
        QCOMPARE(r.count(kEnd), 1);
        const int errorRow = r.indexOf(QRegularExpression(QRegularExpression::escape(S) + QStringLiteral(" 3:.*")));
        QVERIFY2(errorRow > 1, qPrintable(r.join(QLatin1Char('\n'))));
        QVERIFY(!QFile::exists(path(QStringLiteral("bad.obj"))));

        // Double-click on the error row: the document comes forward with line 3 selected.
        form->ClientArea->setActiveSubWindow(other);
        form->Output->ScrollToRow(errorRow);
        const QRect rect = form->Output->RowRect(errorRow);
        QTest::mouseClick(form->Output->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(form->Output->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(form->ActiveMDIChild(), bad);
        QCOMPARE(SelStart(bad->RichEdit1), 16);   // after "int f(void)", "{" and their CR LFs
        QCOMPARE(SelLength(bad->RichEdit1), 26);  // the line and its CR LF
        QVERIFY(reports.isEmpty());
    }

    void anUpToDateObjectNeedsNoCompileUntilAHeaderIsNewer() {
        TMDIChild *doc = open(QStringLiteral("good.c"), "int good(void) { return 1; }\r\n");
        const QString S = doc->FileName;
        setAge(S, 100);
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        QVERIFY(QFile::exists(path(QStringLiteral("good.obj"))));
        form->Output->clear();
        form->Compile->trigger();
        QCOMPARE(rows(), QStringList{QStringLiteral("* ") + S + QStringLiteral("のコンパイルは必要ありません。")});
        // A project header newer than the source forces the compile again.
        writeFile(path(QStringLiteral("defs.H")), "#define X 1\r\n");
        form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        form->CurrentProject.AddFile(QStringLiteral("defs.H"), path(QStringLiteral("defs.H")));
        form->Output->clear();
        form->Compile->trigger();
        QCOMPARE(rows().first(), QStringLiteral("- ") + S + QStringLiteral("のコンパイルを開始します…"));
        QVERIFY(waitForEnd());
    }

    void aChangedDocumentIsSavedFirst() {
        TMDIChild *doc = open(QStringLiteral("c.c"), "int c;\r\n");
        setAge(doc->FileName, 100);
        writeFile(path(QStringLiteral("c.obj")), "old");
        setAge(path(QStringLiteral("c.obj")), 50);
        QTest::keyClicks(doc->RichEdit1, "/*x*/");
        form->TabSet1->setCurrentIndex(1);  // the search results were on show
        form->Compile->trigger();
        QCOMPARE(form->TabSet1->currentIndex(), 0);
        QVERIFY(form->Output->isVisible());
        QVERIFY(!doc->Changed);
        QVERIFY(rows().first().startsWith(QStringLiteral("- ")));
        QVERIFY(waitForEnd());
    }

    void aCompileDuringACompileIsRefused() {
        fakeCompiler("#!/bin/sh\nsleep 1\necho first-line\n");
        TMDIChild *doc = open(QStringLiteral("slow.c"), "int s;\r\n");
        form->Compile->trigger();
        QVERIFY(form->Compiler->DosCommand1->IsOnExecution());
        QVERIFY(!form->Build->isEnabled() && !form->ReBuild->isEnabled());  // no build under a running compile
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        QTest::qWait(200);
        QVERIFY(form->Build->isEnabled() && form->ReBuild->isEnabled());
        const QString S = doc->FileName;
        const QStringList expected = {
            QStringLiteral("- ") + S + QStringLiteral("のコンパイルを開始します…"),
            QStringLiteral("> lcc86.exe -O -js -w1 -c ") + S,
            QStringLiteral("- ") + S + QStringLiteral("のコンパイルを開始します…"),
            QStringLiteral("> lcc86.exe -O -js -w1 -c ") + S,
            kFailed,
            QStringLiteral("first-line"),
            kEnd,
        };
        QCOMPARE(rows(), expected);
    }

    void noCompilerOnThePath() {
        qputenv("PATH", QFile::encodeName(dir->path()));
        open(QStringLiteral("n.c"), "int n;\r\n");
        form->Compile->trigger();
        QCOMPARE(rows().size(), 3);
        QCOMPARE(rows().last(), kFailed);
        QTest::qWait(100);
        QCOMPARE(rows().size(), 3);
        QVERIFY(!form->Compiler->DosCommand1->IsOnExecution());
    }

    void relativePathEntriesAreNotSearched_data() {
        QTest::addColumn<QByteArray>("pathList");
        for (const char *p : {"", ":/usr/bin", "/usr/bin:", "/usr/bin::/bin", "rel:/usr/bin"})
            QTest::newRow(p) << QByteArray(p);
    }
    void relativePathEntriesAreNotSearched() {
        QFETCH(QByteArray, pathList);
        // A compiler in the current directory and one below it, which must not run.
        QDir(dir->path()).mkdir(QStringLiteral("rel"));
        for (const QString &exe : {path(QStringLiteral("lcc86.exe")), path(QStringLiteral("rel/lcc86.exe"))}) {
            writeFile(exe, "#!/bin/sh\ntouch \"$0.ran\"\n");
            QFile::setPermissions(exe, QFile::permissions(exe) | QFileDevice::ExeOwner);
        }
        qputenv("PATH", pathList);
        open(QStringLiteral("r.c"), "int r;\r\n");
        form->Compile->trigger();
        QCOMPARE(rows().size(), 3);
        QCOMPARE(rows().last(), kFailed);
        QTest::qWait(100);
        QVERIFY(!QFile::exists(path(QStringLiteral("lcc86.exe.ran"))));
        QVERIFY(!QFile::exists(path(QStringLiteral("rel/lcc86.exe.ran"))));
    }

    // Every path reaches the compiler as one word, quoted on the echoed line
    // where it has to be; only what no quoting carries is refused, and then
    // nothing is started.
    void thePathReachesTheCompilerWhole_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("blank") << QStringLiteral("a b/s.c") << QString();
        QTest::newRow("tab") << QStringLiteral("a\tb.c") << QString();
        QTest::newRow("double quote") << QStringLiteral("vic\"tim.c") << QString();
        QTest::newRow("line feed") << QStringLiteral("a\nb.c")
                                   << QStringLiteral("* 改行を含むパスのファイルはコンパイルできません。");
    }
    void thePathReachesTheCompilerWhole() {
        QFETCH(QString, name);
        QFETCH(QString, refusal);
        fakeCompiler("#!/bin/sh\nfor a; do printf '[%s]\\n' \"$a\"; done\n");
        QDir(dir->path()).mkdir(QStringLiteral("a b"));
        TMDIChild *doc = open(name, "int x;\r\n");
        const QString S = doc->FileName;
        const QString word = S.contains(QRegularExpression(QStringLiteral("[ \t\"]")))
                                 ? QLatin1Char('"') + QString(S).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                                       QLatin1Char('"')
                                 : S;
        QStringList expected = {QStringLiteral("- ") + S + QStringLiteral("のコンパイルを開始します…"),
                                QStringLiteral("> lcc86.exe -O -js -w1 -c ") + word};
        form->Compile->trigger();
        if (refusal.isEmpty()) {
            QVERIFY(waitForEnd());
            expected << QStringLiteral("[-O]") << QStringLiteral("[-js]") << QStringLiteral("[-w1]")
                     << QStringLiteral("[-c]") << QLatin1Char('[') + S + QLatin1Char(']') << kEnd;
        } else {
            expected << refusal;
            QVERIFY(!form->Compiler->DosCommand1->IsOnExecution());
            QTest::qWait(100);
        }
        QCOMPARE(rows(), expected);
    }

    void aRunningCompileCanBeStopped_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::newRow("ends at SIGTERM") << QByteArray("#!/bin/sh\necho started\nexec sleep 60\n");
        QTest::newRow("ignores SIGTERM")
            << QByteArray("#!/bin/sh\ntrap '' TERM\necho started\nwhile :; do sleep 1; done\n");
    }
    void aRunningCompileCanBeStopped() {
        QFETCH(QByteArray, script);
        QAction *stop = form->StopCompile;
        const QList<QAction *> menu = form->Proj->actions();
        QCOMPARE(menu.indexOf(stop), menu.indexOf(form->ReBuild) + 1);
        QCOMPARE(stop->text(), QStringLiteral("コンパイル中止(&S)"));
        QVERIFY(!stop->isEnabled());
        fakeCompiler(script);
        form->Compiler->DosCommand1->StopGraceMs = 300;
        open(QStringLiteral("h.c"), "int h;\r\n");
        form->Compile->trigger();
        QVERIFY(stop->isEnabled());
        QVERIFY(QTest::qWaitFor([&] { return rows().contains(QStringLiteral("started")); }));
        form->Compile->trigger();  // refused: the stop stays enabled for the running one
        QVERIFY(stop->isEnabled());
        stop->trigger();
        QVERIFY(waitForEnd());
        QTest::qWait(100);
        const QStringList r = rows();
        QCOMPARE(r.mid(r.size() - 3),
                 (QStringList{kFailed, QStringLiteral("* コンパイルを中止しました。"), kEnd}));
        QCOMPARE(r.count(kEnd), 1);
        QVERIFY(!stop->isEnabled());
        QVERIFY(!form->Compiler->DosCommand1->IsOnExecution());

        // The next compile runs as usual and ends without the stop row.
        fakeCompiler("#!/bin/sh\necho done\n");
        form->Output->clear();
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        QCOMPARE(rows().mid(2), (QStringList{QStringLiteral("done"), kEnd}));
        QVERIFY(!stop->isEnabled());
    }

    // Build and Rebuild over a real project, checked against a model of the
    // steps. Each entry of files is "KIND NAME": a tree node, in tree order.
    // fresh: object newer than the source; stale: no object; error: a source
    // with an error, no object; deleted: stale, deleted by the compile of a
    // file before it in the tree; warning: one with a warning alone (the
    // compiler succeeds), no object; missing: no file; edited: fresh on disk, open
    // and edited; unsavable: open, edited with a character Shift-JIS can't
    // hold; hang: a compiler that never ends on it, stopped once it runs (and
    // every compile that can run beside it has ended);
    // main: stale, with the program's main; other: a header or any other
    // file, never compiled. A fresh file's object is no 8086 object, so a
    // link that takes it fails. Once every source has compiled the project
    // is linked into P.com beside its first source.
    //
    // jobs is how many files compile at once (0: as many as there are cores).
    // With one, the rows come in tree order, exactly as the model lists them.
    // With more, the files are still taken in tree order, and each compiled
    // file's rows come together, whole, in the order the compiles end; the
    // rows of the files that are not compiled keep their order among
    // themselves; the link's rows and the summary come last. A file is taken
    // when a runner is free, so the build stands still once every runner
    // holds a hung compile: the files after that never get their turn.
    void buildAndRebuild_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("rebuild");
        QTest::addColumn<int>("jobs");
        const QStringList mixed = {QStringLiteral("fresh a.c"),       QStringLiteral("stale b.C"),
                                   QStringLiteral("missing m.c"),     QStringLiteral("stale 作業 フォルダ/s.c"),
                                   QStringLiteral("error e.c"),       QStringLiteral("stale b.C"),
                                   QStringLiteral("other d.h"),       QStringLiteral("other x.txt"),
                                   QStringLiteral("fresh \"q\" a.c"), QStringLiteral("error 作業 フォルダ/t.c"),
                                   QStringLiteral("deleted x-gone.c"), QStringLiteral("warning w.c")};
        // Which compile deletes x-gone.c first is a matter of timing when
        // several run: the file goes for the runs side by side.
        QStringList side = mixed;
        side.removeAll(QStringLiteral("deleted x-gone.c"));
        // The tree puts the node made last first, the others after it by label.
        const QStringList linked = {QStringLiteral("stale 作業 フォルダ/a.c"), QStringLiteral("warning w.c"),
                                    QStringLiteral("main m.c")};
        const struct {
            const char *name;
            QStringList files;
            bool rebuild;
        } rows[] = {
            {"build", mixed, false},
            {"rebuild", mixed, true},
            {"no project", {}, false},
            {"no source", {QStringLiteral("other d.h"), QStringLiteral("other a.cpp")}, true},
            {"open documents",
             {QStringLiteral("edited a.c"), QStringLiteral("unsavable u.c"), QStringLiteral("fresh f.c")},
             false},
            {"stop on the second", {QStringLiteral("hang h.c"), QStringLiteral("stale z.c"), QStringLiteral("stale a.c")},
             false},
            {"linked", linked, false},
            {"no main", {QStringLiteral("stale a.c"), QStringLiteral("stale b.c")}, false},
            {"an object of another machine", {QStringLiteral("fresh f.c"), QStringLiteral("main m.c")}, false},
            {"rebuilt and linked", {QStringLiteral("fresh f.c"), QStringLiteral("main m.c")}, true},
        };
        for (const auto &r : rows) {
            QTest::newRow(r.name) << r.files << r.rebuild << 1;
            QStringList files = r.files;
            if (files == mixed) files = side;
            QTest::newRow(qPrintable(QStringLiteral("%1, every core").arg(QLatin1String(r.name))))
                << files << r.rebuild << 0;
        }
        QTest::newRow("build, 3 at once") << side << false << 3;
        QTest::newRow("rebuild, 3 at once") << side << true << 3;
        // Stop ends every compile that runs; the files after them never start.
        // In the tree: f.c, a.c, h.c, h2.c, k.c, z.c.
        const QStringList hung = {QStringLiteral("stale a.c"), QStringLiteral("hang h.c"), QStringLiteral("stale k.c"),
                                  QStringLiteral("hang h2.c"), QStringLiteral("stale z.c"),
                                  QStringLiteral("fresh f.c")};
        QTest::newRow("stop ends both, 2 at once") << hung << false << 2;
        QTest::newRow("stop ends both, 3 at once") << hung << false << 3;
    }
    void buildAndRebuild() {
        QFETCH(QStringList, files);
        QFETCH(bool, rebuild);
        QFETCH(int, jobs);
        // The real compiler, except on h.c and h2.c, where it hangs (and says
        // so in a file beside the source); compiling any other file deletes
        // the files named *-gone.c beside it.
        fakeCompiler("#!/bin/sh\ncase \"$1$5\" in -o*) ;;\n"
                     "*/h.c|*/h2.c) echo hanging; : > \"$5.running\"; exec sleep 60;; */*-gone.c) ;;\n"
                     "*) rm -f \"${5%/*}\"/*-gone.c;; esac\nexec \"$QV_TOOLS_DIR/lcc86.exe\" \"$@\"\n");
        form->Compiler->DosCommand1->StopGraceMs = 300;
        form->Compiler->BuildRun->Jobs = jobs;
        const int J = form->Compiler->BuildRun->JobCount();
        QCOMPARE(J, jobs > 0 ? jobs : std::max(1, QThread::idealThreadCount()));
        // An untitled changed document outside the project is left alone.
        form->FileNewItemClick();
        QTest::keyClicks(form->ActiveMDIChild()->RichEdit1, "int u;");
        TMDIChild *untitled = form->ActiveMDIChild();

        QMap<QString, QString> kinds;  // path -> kind
        if (!files.isEmpty()) form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        for (const QString &entry : std::as_const(files)) {
            const QString kind = entry.section(QLatin1Char(' '), 0, 0);
            const QString S = path(entry.section(QLatin1Char(' '), 1));
            kinds[S] = kind;
            form->CurrentProject.AddFile(QFileInfo(S).fileName(), S);
            if (kind == QLatin1String("missing")) continue;
            QDir().mkpath(QFileInfo(S).path());
            writeFile(S, kind == QLatin1String("error")     ? QByteArray("int f(void) { return nothing; }\r\n")
                         : kind == QLatin1String("warning") ? QByteArray("char *f(void) { return \"\\q\"; }\r\n")
                         : kind == QLatin1String("main")    ? QByteArray("int main(void) { return 0; }\r\n")
                                                            : QByteArray("int ok;\r\n"));
            setAge(S, 100);
            if (kind == QLatin1String("fresh") || kind == QLatin1String("edited")) {
                writeFile(buildcmd::ObjectPath(S), "old");
                setAge(buildcmd::ObjectPath(S), 50);
            }
            if (kind == QLatin1String("edited") || kind == QLatin1String("unsavable")) {
                form->OpenDocument(S);
                QTest::keyClicks(form->ActiveMDIChild()->RichEdit1, "/*x*/");
                if (kind == QLatin1String("unsavable"))
                    form->ActiveMDIChild()->RichEdit1->insertPlainText(QStringLiteral("😀"));
            }
        }

        // The model: the rows each source should bring, in tree order, each
        // path once: one row for a file that is not compiled, a group for one
        // that is; "<compiler>" stands for the compiler's (or linker's) lines.
        const QString compilerLines = QStringLiteral("<compiler>");
        QList<QStringList> steps;  // a row alone, or a compile's group
        QStringList tail;          // after every compile
        QStringList seen, hangs;
        int compiled = 0, withMessages = 0, upToDate = 0, notCompiled = 0, reportsExpected = 0, groups = 0;
        bool stopped = false, failed = false, hasMain = false, oldObject = false;
        for (const QString &S : form->CurrentProject.FilePaths()) {
            if (!S.endsWith(QLatin1String(".c"), Qt::CaseInsensitive) || seen.contains(S)) continue;
            seen << S;
            const QString kind = kinds.value(S);
            if (kind == QLatin1String("missing") || kind == QLatin1String("deleted")) {
                steps << QStringList{TBuildRun::MissingLine(S)};
                ++notCompiled;
            } else if (kind == QLatin1String("unsavable")) {
                steps << QStringList{TBuildRun::NotSavedLine(S)};
                ++notCompiled;
                ++reportsExpected;
            } else if (kind == QLatin1String("fresh") && !rebuild) {
                steps << QStringList{buildcmd::NotNeededLine(S)};
                ++upToDate;
            } else {
                QStringList group = {buildcmd::StartLine(S), buildcmd::EchoLine(buildcmd::CompilerCommandLine(S))};
                if (kind == QLatin1String("hang")) {
                    steps << (group << QStringLiteral("hanging") << buildcmd::StoppedLine << kEnd);
                    stopped = true;
                    hangs << S;
                    if (hangs.size() == J) break;  // every runner holds a hung compile
                    continue;
                }
                steps << (group << compilerLines << kEnd);
                ++groups;
                ++compiled;
                if (kind == QLatin1String("error") || kind == QLatin1String("warning")) ++withMessages;
            }
            failed |= kind == QLatin1String("error");
            hasMain |= kind == QLatin1String("main");
            oldObject |= kind == QLatin1String("fresh") && !rebuild;
        }
        const QString program = buildcmd::ProgramPath(QString(), QStringLiteral("P"), seen);
        bool linkable = false;
        if (stopped) tail << TBuildRun::StoppedLine;
        if (!seen.isEmpty() && !stopped) {
            QStringList objects;
            for (const QString &S : std::as_const(seen)) objects << buildcmd::ObjectPath(S);
            linkable = notCompiled == 0 && !failed;
            if (!linkable)
                tail << buildcmd::NotLinkedLine;
            else
                tail << buildcmd::LinkStartLine(program)
                     << buildcmd::EchoLine(buildcmd::LinkerCommandLine(program, objects)) << compilerLines
                     << buildcmd::LinkEndLine;
            if (linkable && (!hasMain || oldObject)) tail << buildcmd::LinkFailedLine(program);
        }
        if (seen.isEmpty())
            tail << TBuildRun::NoSourcesLine;
        else
            tail << TBuildRun::SummaryLine(rebuild, compiled, withMessages, upToDate, notCompiled);

        (rebuild ? form->ReBuild : form->Build)->trigger();
        const bool started = !seen.isEmpty();
        QCOMPARE(form->StopCompile->isEnabled(), started);
        for (QAction *a : {form->Compile, form->Build, form->ReBuild}) QCOMPARE(a->isEnabled(), !started);
        if (stopped) {
            // Stopped once the hung compiles run and every other one that
            // could run has ended.
            QVERIFY(QTest::qWaitFor(
                [&] {
                    for (const QString &S : std::as_const(hangs))
                        if (!QFile::exists(S + QStringLiteral(".running"))) return false;
                    return rows().count(kEnd) == groups;
                },
                60000));
            QTest::qWait(50);
            QCOMPARE(form->Compiler->BuildRun->RunningCompiles(), int(hangs.size()));
            QVERIFY(!rows().contains(QStringLiteral("hanging")));  // a compile's rows come when it ends
            form->StopCompile->trigger();
        }
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 60000));
        QTest::qWait(100);

        // The rows against the model; the compiler's lines run up to the end row.
        const QStringList r = rows();
        qsizetype at = 0;
        auto match = [&](const QStringList &expected) {
            for (qsizetype e = 0; e < expected.size(); ++e) {
                const QString &row = expected.at(e);
                if (row == compilerLines) {
                    while (at < r.size() && r.at(at) != expected.value(e + 1)) ++at;
                    continue;
                }
                if (at >= r.size() || r.at(at) != row) {
                    qWarning("row %lld should be %s in:\n%s", qint64(at), qPrintable(row), qPrintable(r.join(u'\n')));
                    return false;
                }
                ++at;
            }
            return true;
        };
        if (J == 1) {
            // One at a time: exactly in tree order.
            for (const QStringList &step : std::as_const(steps)) QVERIFY(match(step));
        } else {
            // Each row alone in its order; each group whole, wherever it comes.
            QList<QStringList> alone, pending;
            for (const QStringList &step : std::as_const(steps)) (step.size() == 1 ? alone : pending) << step;
            qsizetype nextAlone = 0;
            while (nextAlone < alone.size() || !pending.isEmpty()) {
                QVERIFY2(at < r.size(), qPrintable(r.join(u'\n')));
                if (nextAlone < alone.size() && r.at(at) == alone.at(nextAlone).first()) {
                    ++at;
                    ++nextAlone;
                    continue;
                }
                qsizetype g = 0;
                while (g < pending.size() && pending.at(g).first() != r.at(at)) ++g;
                QVERIFY2(g < pending.size(),
                         qPrintable(QStringLiteral("row %1 is no step's in:\n%2").arg(at).arg(r.join(u'\n'))));
                QVERIFY(match(pending.takeAt(g)));
            }
        }
        QVERIFY(match(tail));
        QCOMPARE(at, r.size());
        QCOMPARE(QFile::exists(program), linkable && hasMain && !oldObject);
        QCOMPARE(reports.size(), reportsExpected);
        QVERIFY(untitled->Changed);
        for (QAction *a : {form->Compile, form->Build, form->ReBuild}) QVERIFY(a->isEnabled());
        QVERIFY(!form->StopCompile->isEnabled());
        QVERIFY(!form->Compiler->DosCommand1->IsOnExecution());
        QCOMPARE(form->Compiler->BuildRun->RunningCompiles(), 0);
        // An edited document was saved before its compile.
        for (int i = 0; i < form->MDIChildCount(); ++i)
            if (kinds.value(form->MDIChildren(i)->FileName) == QLatin1String("edited"))
                QVERIFY(!form->MDIChildren(i)->Changed);
    }

    // Several compiles at once: each file's rows come together when its
    // compile ends, in the order the compiles end, none of a running one's
    // before; never more at once than the build allows, and as many as that
    // when the files are there. The stand-in compiler says how many run at
    // once (the markers beside the sources) and takes as long as its file asks.
    void buildGroupsComeAsTheirCompilesEnd() {
        fakeCompiler("#!/bin/sh\ncase \"$1\" in -o) echo linked; exit 0;; esac\n"
                     "f=\"$5\"; : > \"$f.run\"; set -- \"${f%/*}\"/*.run; echo \"${f##*/} at once $#\"\n"
                     "sleep $(cat \"$f\"); echo \"${f##*/} done\"; rm \"$f.run\"\n");
        form->Compiler->BuildRun->Jobs = 3;
        form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        // In the tree: a.c (made last), b.c, c.c, d.c; each holds its seconds.
        const QList<std::pair<QString, QByteArray>> files = {
            {QStringLiteral("b.c"), "0.6"}, {QStringLiteral("c.c"), "0"}, {QStringLiteral("d.c"), "0.2"},
            {QStringLiteral("a.c"), "1.5"}};
        for (const auto &[name, seconds] : files) {
            writeFile(path(name), seconds);
            form->CurrentProject.AddFile(name, path(name));
        }
        form->Build->trigger();
        // d.c starts when c.c ends, beside a.c and b.c; it ends before them.
        QVERIFY(QTest::qWaitFor([&] { return rows().contains(QStringLiteral("d.c done")); }, 20000));
        QVERIFY(!rows().contains(buildcmd::StartLine(path(QStringLiteral("a.c")))));
        QVERIFY(!rows().contains(buildcmd::StartLine(path(QStringLiteral("b.c")))));
        QCOMPARE(form->Compiler->BuildRun->RunningCompiles(), 2);
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 20000));
        QStringList expected;
        for (const char *name : {"c.c", "d.c", "b.c", "a.c"}) {
            const QString S = path(QLatin1String(name));
            expected << buildcmd::StartLine(S) << buildcmd::EchoLine(buildcmd::CompilerCommandLine(S))
                     << QLatin1String(name) + QStringLiteral(" at once N") << QLatin1String(name) + QStringLiteral(" done")
                     << kEnd;
        }
        QStringList r = rows();
        QCOMPARE(r.mid(r.size() - 2).first().left(2), QStringLiteral("- "));  // the link's end row
        r = r.mid(0, expected.size());
        int most = 0;
        for (QString &row : r) {
            const qsizetype at = row.indexOf(QStringLiteral(" at once "));
            if (at < 0) continue;
            most = std::max(most, row.mid(at + 9).toInt());
            if (row.startsWith(QStringLiteral("d.c"))) QCOMPARE(row.mid(at + 9), QStringLiteral("3"));
            row = row.left(at) + QStringLiteral(" at once N");
        }
        QCOMPARE(r, expected);
        QCOMPARE(most, 3);
    }

    // Compile, Build, Rebuild and Stop have keys, shown in the Project menu
    // with the two steps through the messages; no key of the window's menus
    // belongs to two entries.
    void theKeysOfTheProjectMenu() {
        const struct {
            QAction *action;
            QList<QKeySequence> keys;
        } table[] = {
            {form->Compile, {QKeySequence(Qt::CTRL | Qt::Key_F7)}},
            {form->Build, {QKeySequence(Qt::Key_F7)}},
            {form->ReBuild, {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F7), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F7)}},
            {form->StopCompile, {QKeySequence(Qt::CTRL | Qt::Key_Pause)}},
            {form->NextMessageItem, {QKeySequence(Qt::Key_F8)}},
            {form->PrevMessageItem, {QKeySequence(Qt::SHIFT | Qt::Key_F8)}},
            {form->Run, {QKeySequence(Qt::Key_F5)}},
            {form->DosBoxRun, {QKeySequence(Qt::CTRL | Qt::Key_F5)}},
        };
        const QList<QAction *> menu = form->Proj->actions();
        for (const auto &t : table) {
            QVERIFY(menu.contains(t.action));
            QCOMPARE(t.action->shortcuts(), t.keys);
            // The menu shows the first key beside the caption.
            QCOMPARE(t.action->shortcut(), t.keys.first());
        }
        QCOMPARE(menu.indexOf(form->NextMessageItem), menu.indexOf(form->DosBoxRun) + 2);
        QCOMPARE(menu.indexOf(form->PrevMessageItem), menu.indexOf(form->NextMessageItem) + 1);
        QMap<QString, QString> owner;
        for (QAction *a : form->findChildren<QAction *>()) {
            if (a->shortcutContext() == Qt::WidgetShortcut) continue;  // the tree's own
            for (const QKeySequence &key : a->shortcuts()) {
                QVERIFY2(!owner.contains(key.toString()),
                         qPrintable(key.toString() + u' ' + owner.value(key.toString()) + u' ' + a->objectName()));
                owner.insert(key.toString(), a->objectName());
            }
        }

        // The keys reach their entries from an editor.
        fakeCompiler("#!/bin/sh\necho started; exec sleep 60\n");
        form->Compiler->DosCommand1->StopGraceMs = 300;
        TMDIChild *doc = open(QStringLiteral("k.c"), "int k;\r\n");
        doc->RichEdit1->setFocus();
        QTest::keyClick(doc->RichEdit1, Qt::Key_F7, Qt::ControlModifier);
        QVERIFY(form->Compiler->DosCommand1->IsOnExecution());
        QVERIFY(form->StopCompile->isEnabled());
        QTest::keyClick(doc->RichEdit1, Qt::Key_Pause, Qt::ControlModifier);
        QVERIFY(waitForEnd());
        QVERIFY(rows().contains(buildcmd::StoppedLine));
        QCOMPARE(rows().count(kEnd), 1);
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            bool rebuild;
        } builds[] = {{Qt::Key_F7, {}, false},
                      {Qt::Key_F7, Qt::ControlModifier | Qt::AltModifier, true},
                      {Qt::Key_F7, Qt::ControlModifier | Qt::ShiftModifier, true}};
        for (const auto &b : builds) {
            form->Output->clear();
            QTest::keyClick(doc->RichEdit1, b.key, b.modifiers);
            QCOMPARE(rows(), QStringList{TBuildRun::NoSourcesLine});  // no project: nothing to build
            QVERIFY(!form->Compiler->BuildRun->IsRunning());
        }
    }

    // When a Compile or a Build ends, the status line says how: files
    // compiled, rows of errors and warnings, stopped or not; pointing at
    // things doesn't take it away, a hint covers it while it shows, and the
    // next of these commands takes it away.
    void theStatusLineSaysHowItEnded() {
        QLabel *note = form->Compiler->StatusNote;
        auto says = [&](const QString &text) {
            return note->text() == text && note->isVisible() && form->StatusBar->isAncestorOf(note);
        };
        TMDIChild *doc = open(QStringLiteral("m.c"), "int f(void)\r\n{\r\n  char *s = \"\\q\";\r\n  return nothing;\r\n}\r\n");
        QCOMPARE(note->text(), QString());
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        QVERIFY(says(QStringLiteral("コンパイル終了: 1 個をコンパイル、エラー 1 行、警告 1 行")));
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(doc->RichEdit1, &enter);
        QVERIFY(says(QStringLiteral("コンパイル終了: 1 個をコンパイル、エラー 1 行、警告 1 行")));
        form->StatusBar->showMessage(QStringLiteral("ヒント"));
        QVERIFY(!note->isVisible());
        form->StatusBar->showMessage(QString());
        QVERIFY(note->isVisible());

        // Fixed and compiled, then up to date.
        doc->RichEdit1->selectAll();
        QTest::keyClicks(doc->RichEdit1, "int f(void) { return 0; }");
        form->Compile->trigger();
        QVERIFY(waitForEnd(2));
        QVERIFY(says(QStringLiteral("コンパイル終了: 1 個をコンパイル、エラー 0 行、警告 0 行")));
        form->Compile->trigger();
        QVERIFY(says(QStringLiteral("コンパイル終了: 0 個をコンパイル、エラー 0 行、警告 0 行、1 個は最新")));

        // A build: a file with an error in a folder with a blank, an up-to-date
        // one, a missing one.
        form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        QDir().mkpath(path(QStringLiteral("my dir")));
        writeFile(path(QStringLiteral("my dir/e.c")), "int e(void) { return nothing; }\r\n");
        for (const QString &name : {QStringLiteral("m.c"), QStringLiteral("my dir/e.c"), QStringLiteral("gone.c")})
            form->CurrentProject.AddFile(name, path(name));
        form->Build->trigger();
        QCOMPARE(note->text(), QString());  // until it ends
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 20000));
        QVERIFY(says(QStringLiteral("ビルド終了: 1 個をコンパイル、エラー 1 行、警告 0 行、1 個は最新、"
                                    "1 個はコンパイルできませんでした")));
        form->ReBuild->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 20000));
        QVERIFY(says(QStringLiteral("リビルド終了: 2 個をコンパイル、エラー 1 行、警告 0 行、"
                                    "1 個はコンパイルできませんでした")));

        // Stopped, a compile and a build.
        fakeCompiler("#!/bin/sh\necho started; exec sleep 60\n");
        form->Compiler->DosCommand1->StopGraceMs = 300;
        QVERIFY(QFile::remove(buildcmd::ObjectPath(doc->FileName)));
        form->Compile->trigger();
        QCOMPARE(note->text(), QString());
        form->StopCompile->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->DosCommand1->IsOnExecution(); }, 10000));
        QVERIFY(says(QStringLiteral("コンパイルを中止しました: 0 個をコンパイル、エラー 0 行、警告 0 行")));
        form->ReBuild->trigger();
        QVERIFY(QTest::qWaitFor([&] { return form->Compiler->BuildRun->RunningCompiles() > 0; }, 10000));
        form->StopCompile->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 10000));
        QVERIFY2(note->text().startsWith(QStringLiteral("リビルドを中止しました: 0 個をコンパイル、エラー 0 行、警告 0 行")),
                 qPrintable(note->text()));
    }

    // Which open document a row leads to, and which line: the file field
    // before the first blank first, as always; then, for a path with blanks,
    // the longest part of the row before a blank that is a document's path.
    void messageRowsLeadToTheirDocuments_data() {
        QTest::addColumn<QString>("row");  // "@name" stands for the path of the document name
        QTest::addColumn<QString>("document");  // the one that comes forward; empty: none
        QTest::addColumn<int>("line");  // the line selected; 0: none
        QTest::addColumn<QString>("report");  // the error reported
        const struct {
            const char *row, *document;
            int line;
            const char *report;
        } table[] = {
            {"@my dir/b c.c 3: warning: y", "my dir/b c.c", 3, ""},
            {"@my dir/b c.c  2:", "my dir/b c.c", 0, ""},  // the colon is the row's last character
            {"@my dir/b c.c 2: @a.c 1: z", "my dir/b c.c", 2, ""},
            {"@my dir/b c.c 4 : x", "", 0, "' 4 ' は整数ではありません"},  // nothing moves
            {"@my dir/b c.c", "", 0, ""},  // nothing follows the path: no blank after it
            {"@my dir/b c.c x", "my dir/b c.c", 0, ""},  // no colon: line 0, the document comes forward
            {"@my dir/b 3: x", "", 0, ""},  // no such document
            {"@my 1: x", "", 0, ""},
            // The document "my" is open too: the field before the first blank wins,
            // and its line field is no number.
            {"@my dir/b c.c 3: x|my", "", 0, "' dir/b c.c 3' は整数ではありません"},
            {"@a b/a b.c 5: x|a b/a b.c|a b/a", "a b/a b.c", 5, ""},
            {"* @my dir/b c.c 2: x", "", 0, ""},
        };
        for (const auto &t : table)
            QTest::newRow(t.row) << QString::fromUtf8(t.row) << QString::fromUtf8(t.document) << t.line
                                 << QString::fromUtf8(t.report);
    }
    void messageRowsLeadToTheirDocuments() {
        QFETCH(QString, row);
        QFETCH(QString, document);
        QFETCH(int, line);
        QFETCH(QString, report);
        // Every document holds lines of three characters with CR LF.
        QStringList names = {QStringLiteral("a.c"), QStringLiteral("my dir/b c.c")};
        const QStringList more = row.split(u'|');
        row = more.first();
        names << more.mid(1);
        QMap<QString, TMDIChild *> docs;
        for (const QString &name : std::as_const(names)) {
            QDir().mkpath(QFileInfo(path(name)).path());
            if (!QFileInfo(path(name)).isDir()) docs[name] = open(name, "a\r\nb\r\nc\r\nd\r\ne\r\n");
        }
        TMDIChild *other = open(QStringLiteral("other.c"), "x\r\n");
        row.replace(u'@', dir->path() + u'/');
        form->Output->Append(QStringLiteral("- start"));
        form->Output->Append(row);
        form->Output->SelectRow(1);
        form->ClientArea->setActiveSubWindow(other);
        QTest::mouseDClick(form->Output->viewport(), Qt::LeftButton, {}, form->Output->RowRect(1).center());
        QCOMPARE(reports, report.isEmpty() ? QStringList() : QStringList{report});
        QCOMPARE(form->ActiveMDIChild(), document.isEmpty() ? other : docs.value(document));
        if (line > 0) {
            QCOMPARE(SelStart(docs.value(document)->RichEdit1), 3 * (line - 1));
            QCOMPARE(SelLength(docs.value(document)->RichEdit1), 3);
        }
    }

    // F8 and Shift+F8 go to the next and the previous row that leads to a
    // line of an open document, select it and follow it; round at the ends.
    void f8StepsThroughTheMessages() {
        TMDIChild *a = open(QStringLiteral("a.c"), "a\r\nb\r\nc\r\nd\r\n");
        QDir().mkpath(path(QStringLiteral("my dir")));
        TMDIChild *b = open(QStringLiteral("my dir/b c.c"), "a\r\nb\r\nc\r\nd\r\n");
        TMDIChild *other = open(QStringLiteral("other.c"), "x\r\n");
        const QString A = a->FileName, B = b->FileName;
        const QStringList lines = {
            buildcmd::StartLine(A),                 // 0
            A + QStringLiteral(" 2: error: x"),      // 1 leads
            QStringLiteral("  lcc86.exe: note"),     // 2
            path(QStringLiteral("nope.c 1: x")),     // 3 not open
            B + QStringLiteral(" 3: warning: y"),    // 4 leads
            A + QStringLiteral(" 2 : bad number"),   // 5 skipped: no number
            A + QStringLiteral(" no colon"),         // 6 skipped: no line
            kEnd,                                    // 7
            B + QStringLiteral(" 4: error: z"),      // 8 leads
            kEnd,                                    // 9
        };
        for (const QString &row : lines) form->Output->Append(row);
        form->TabSet1->setCurrentIndex(1);
        const struct {
            bool back;
            int row;
            TMDIChild *doc;
            int line;
        } steps[] = {{false, 1, a, 2}, {false, 4, b, 3}, {false, 8, b, 4}, {false, 1, a, 2},
                     {true, 8, b, 4},  {true, 4, b, 3},  {true, 1, a, 2}};
        for (const auto &s : steps) {
            form->ClientArea->setActiveSubWindow(other);
            QTest::keyClick(form.get(), Qt::Key_F8, s.back ? Qt::ShiftModifier : Qt::NoModifier);
            QCOMPARE(form->TabSet1->currentIndex(), 0);
            QCOMPARE(form->Output->CurrentRow(), s.row);
            QVERIFY(form->Output->IsSelected(s.row) && !form->Output->IsSelected(s.row + 1));
            QCOMPARE(form->ActiveMDIChild(), s.doc);
            QCOMPARE(SelStart(s.doc->RichEdit1), 3 * (s.line - 1));
        }
        // From no selection, Shift+F8 starts at the end.
        form->Output->SelectRow(-1);
        QTest::keyClick(form.get(), Qt::Key_F8, Qt::ShiftModifier);
        QCOMPARE(form->Output->CurrentRow(), 8);
        QVERIFY(reports.isEmpty());
        // Without a document to lead to, nothing moves.
        a->close();
        b->close();
        QTRY_COMPARE(form->MDIChildCount(), 1);
        form->Output->SelectRow(2);
        QTest::keyClick(form.get(), Qt::Key_F8);
        QCOMPARE(form->Output->CurrentRow(), 2);
        QCOMPARE(form->ActiveMDIChild(), other);
    }

    // The messages of each file's latest compile, as the margin marks take
    // them: file, line, error or warning, text; a signal when a file's
    // compile starts (its old messages gone) and when its messages are known.
    void theMessagesOfEachCompile() {
        form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        QDir().mkpath(path(QStringLiteral("my dir")));
        const QList<std::pair<QString, QByteArray>> sources = {
            {QStringLiteral("a.c"), "int f(void)\r\n{\r\n  char *s = \"\\q\";\r\n  return missing;\r\n}\r\n"},
            {QStringLiteral("inc.h"), "int g(void);\r\nint h(void) { return nothing; }\r\n"},
            {QStringLiteral("b.c"), "#include \"inc.h\"\r\nint g(void) { return 1; }\r\n"},
            {QStringLiteral("c.c"), "int c;\r\n"},
            {QStringLiteral("my dir/d e.c"), "int d(void) { return none; }\r\n"},
        };
        for (const auto &[name, text] : sources) {
            writeFile(path(name), text);
            form->CurrentProject.AddFile(name, path(name));
        }
        const QString A = path(QStringLiteral("a.c")), B = path(QStringLiteral("b.c")), C = path(QStringLiteral("c.c")),
                      D = path(QStringLiteral("my dir/d e.c")), H = path(QStringLiteral("inc.h"));
        using M = buildcmd::TCompilerMessage;
        QMap<QString, QList<M>> expected = {
            {A, {M{A, 3, true, QStringLiteral("warning: nonstandard escape sequence")},
                 M{A, 4, false, QStringLiteral("error: missing undeclared")}}},
            {B, {M{H, 2, false, QStringLiteral("error: nothing undeclared")}}},
            {C, {}},
            {D, {M{D, 1, false, QStringLiteral("error: none undeclared")}}},
        };
        QStringList events;
        connect(form->Compiler, &TCompileControl::CompileStarted, this, [&](const QString &S) {
            events << QStringLiteral("start ") + S;
            if (!form->Compiler->Messages(S).isEmpty()) events << QStringLiteral("old messages of ") + S;
            if (!form->Compiler->MessagesFor(S).isEmpty()) events << QStringLiteral("old marks of ") + S;
        });
        connect(form->Compiler, &TCompileControl::CompileMessagesKnown, this, [&](const QString &S) {
            events << QStringLiteral("known ") + S;
            if (form->Compiler->Messages(S) != expected.value(S)) events << QStringLiteral("wrong messages of ") + S;
        });
        form->Compiler->BuildRun->Jobs = 2;
        form->Build->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 30000));
        for (auto e = expected.begin(); e != expected.end(); ++e) {
            QCOMPARE(form->Compiler->Messages(e.key()), e.value());
            const qsizetype started = events.indexOf(QStringLiteral("start ") + e.key());
            QVERIFY2(started >= 0 && started < events.indexOf(QStringLiteral("known ") + e.key()),
                     qPrintable(events.join(u'\n')));
        }
        QCOMPARE(events.size(), 2 * expected.size());
        QCOMPARE(form->Compiler->MessagesFor(H), expected.value(B));
        QCOMPARE(form->Compiler->MessagesFor(D), expected.value(D));
        QCOMPARE(form->Compiler->MessagesFor(B), QList<M>());

        QCOMPARE(form->Compiler->MessagesFor(A), expected.value(A));

        // Compiled again, fixed: its messages go at the start, none come back.
        open(QStringLiteral("a.c"), "int f(void) { return 0; }\r\n");
        expected[A] = {};
        events.clear();
        form->Output->clear();
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        QCOMPARE(events, (QStringList{QStringLiteral("start ") + A, QStringLiteral("known ") + A}));
        QCOMPARE(form->Compiler->Messages(A), QList<M>());
        QCOMPARE(form->Compiler->MessagesFor(A), QList<M>());
        QCOMPARE(form->Compiler->MessagesFor(H), expected.value(B));
    }

    void anUntitledDocumentRunsTheCompilerWithTheEmptyPath() {
        form->FileNewItemClick();
        QTest::keyClicks(form->ActiveMDIChild()->RichEdit1, "int u;");
        form->Compile->trigger();
        QVERIFY(form->ActiveMDIChild()->Changed);  // nowhere to save it
        QVERIFY(waitForEnd());
        const QStringList r = rows();
        QCOMPARE(r.at(0), QStringLiteral("- のコンパイルを開始します…"));
        QVERIFY(r.at(1).startsWith(QStringLiteral("> lcc86.exe -O -js -w1 -c ")));
        QVERIFY(r.size() > 3);  // the compiler's own complaint
        QCOMPARE(r.last(), kEnd);
    }

    void compilerLinesAreShiftJisDecodedWhole() {
        // "エラー" in Shift-JIS, with a CR LF line end and no final line break.
        fakeCompiler("#!/bin/sh\nprintf '\\203\\107\\203\\211\\201\\133\\r\\nlast'\n");
        open(QStringLiteral("j.c"), "int j;\r\n");
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        const QStringList r = rows();
        QCOMPARE(r.mid(2), (QStringList{QStringLiteral("エラー"), QStringLiteral("last"), kEnd}));
    }

    // A long row is drawn up to its 4,000th character and then "…", never
    // ending between the two halves of a surrogate pair; its tooltip is what
    // is drawn, in lines of at most 120 characters that never cut a pair.
    void longRowsAreDrawnUpToTheirCut_data() {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("drawn");
        const QString pair = QString::fromUcs4(U"\U0001F600");  // two halves
        const QString ellipsis = QStringLiteral("…");
        const QString x3998(3998, u'x'), x3999(3999, u'x'), x4000(4000, u'x');
        QTest::newRow("3,999 characters") << x3999 << x3999;
        QTest::newRow("4,000 characters") << x4000 << x4000;
        QTest::newRow("4,001 characters") << x4000 + u'y' << x4000 + ellipsis;
        QTest::newRow("a pair across the cut") << x3999 + pair + u'z' << x3999 + ellipsis;
        QTest::newRow("a pair that ends at the cut") << x3998 + pair + u'z' << x3998 + pair + ellipsis;
        QTest::newRow("a pair just after the cut") << x4000 + pair << x4000 + ellipsis;
        QTest::newRow("a pair across a tooltip line") << QString(119, u'x') + pair + u'z' << QString(119, u'x') + pair + u'z';
    }
    void longRowsAreDrawnUpToTheirCut() {
        QFETCH(QString, row);
        QFETCH(QString, drawn);
        TOutputList *out = form->Output;
        out->Append(QStringLiteral("before"));
        out->Append(row);
        QCOMPARE(out->Row(1), row);  // the row itself stays whole
        out->ScrollToRow(1);
        const QPoint at = out->RowRect(1).center();
        QHelpEvent tip(QEvent::ToolTip, at, out->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(out->viewport(), &tip);
        const QStringList lines = QToolTip::text().split(u'\n');
        QToolTip::hideText();
        QCOMPARE(lines.join(QString()), drawn);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QVERIFY2(lines[i].size() <= 120, qPrintable(QString::number(i)));
            QVERIFY2(!lines[i].back().isHighSurrogate(), qPrintable(QString::number(i)));
            if (i + 1 < lines.size()) QVERIFY2(lines[i].size() >= 119, qPrintable(QString::number(i)));
        }
    }

    // A compiler that prints random bytes (NULs, lone and doubled CRs, valid
    // and broken Shift-JIS, rows far wider than the pane, one of megabytes):
    // the pane gets the model's rows, and every row can be read and copied.
    void randomCompilerOutputReachesThePaneWhole() {
        std::mt19937 random(23);
        const QByteArrayList pieces = {"a", "Z", "9", " ", ":", "\t", QByteArray(1, '\0'), "\r", "\r\r",
                                       "\x82\xa0", "\x95\x5c", "\xb1", "\x81", "\x80", "\xff", "\xef\x40"};
        QByteArray bytes;
        for (int line = 0; line < 3000; ++line) {
            const int length = line == 1234 ? 3000000 : line % 97 == 0 ? 5000 : int(random() % 120);
            for (int i = 0; i < length;) {
                const QByteArray &p = pieces[random() % pieces.size()];
                bytes += p;
                i += int(p.size());
            }
            bytes += random() % 2 ? "\n" : "\r\n";
        }
        bytes += "last\x82";  // no line break, half a character
        writeFile(path(QStringLiteral("out.bin")), bytes);
        fakeCompiler("#!/bin/sh\ncat out.bin\n");

        QStringList model;  // LF ends a row, one CR before it goes, NULs go
        for (QByteArray line : bytes.split('\n')) {
            line.replace('\0', QByteArray());
            if (line.endsWith('\r')) line.chop(1);
            model << sjis::decode(line);
        }
        open(QStringLiteral("r.c"), "int r;\r\n");
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        TOutputList *out = form->Output;
        QCOMPARE(rows().mid(2), model << kEnd);

        // The scroll bar reaches the end of the widest row that has been on
        // screen, and of the longest of each batch.
        const int wide = 1233 - 1233 % 97 + 2;  // a row of about 5000 bytes
        out->ScrollToRow(wide);
        QTRY_VERIFY(out->horizontalScrollBar()->maximum() + out->viewport()->width() >=
                    out->fontMetrics().horizontalAdvance(TOutputList::ShownText(out->Row(wide))));
        const int huge = 1234 + 2;
        QCOMPARE(TOutputList::ShownText(out->Row(huge)),
                 out->Row(huge).left(TOutputList::ShownLength) + QStringLiteral("…"));
        QVERIFY(out->horizontalScrollBar()->maximum() + out->viewport()->width() >=
                out->fontMetrics().horizontalAdvance(TOutputList::ShownText(out->Row(huge))));

        // Its tooltip is the row as drawn, wrapped.
        out->ScrollToRow(wide);
        const QPoint at = out->RowRect(wide).center();
        QHelpEvent tip(QEvent::ToolTip, at, out->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(out->viewport(), &tip);
        QCOMPARE(QToolTip::text(), TOutputList::TipText(out->Row(wide)));
        QCOMPARE(QToolTip::text().remove(u'\n'), TOutputList::ShownText(out->Row(wide)));
        QToolTip::hideText();

        // Keys move the current row and keep it in view; Shift extends the
        // selection from where it began.
        out->setFocus();
        const int page = out->viewport()->height() / out->RowHeight(), last = out->count() - 1;
        const struct {
            int key;
            Qt::KeyboardModifiers modifiers;
            int current, first;  // the current row, the first one selected
        } keys[] = {
            {Qt::Key_Home, {}, 0, 0},
            {Qt::Key_Down, Qt::ShiftModifier, 1, 0},
            {Qt::Key_PageDown, Qt::ShiftModifier, 1 + page, 0},
            {Qt::Key_Up, {}, page, page},
            {Qt::Key_End, {}, last, last},
            {Qt::Key_Down, {}, last, last},
            {Qt::Key_PageUp, Qt::ShiftModifier, last - page, last - page},
        };
        for (const auto &k : keys) {
            QTest::keyClick(out, Qt::Key(k.key), k.modifiers);
            QCOMPARE(out->CurrentRow(), k.current);
            QVERIFY(out->IsSelected(k.first) && !out->IsSelected(k.first - 1));
            QVERIFY(out->TopRow() <= k.current && k.current < out->TopRow() + page);
        }
        out->ScrollToRow(wide);
        QTest::keyClick(out, Qt::Key_Right);
        QVERIFY(out->horizontalScrollBar()->value() > 0);
        QTest::keyClick(out, Qt::Key_Left);
        QCOMPARE(out->horizontalScrollBar()->value(), 0);

        // A click and a Shift+click select a range; Ctrl+C copies it, one row a line.
        QClipboard *clipboard = QApplication::clipboard();
        out->ScrollToRow(10);
        QTest::mouseClick(out->viewport(), Qt::LeftButton, {}, out->RowRect(10).center());
        QTest::mouseClick(out->viewport(), Qt::LeftButton, Qt::ShiftModifier, out->RowRect(out->TopRow()).center());
        out->setFocus();
        clipboard->clear();
        QTest::keyClick(out, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), rows().mid(out->TopRow(), 11 - out->TopRow()).join(u'\n') + u'\n');
        // The context menu: nothing to copy without a selection; select all,
        // and every row is copied, the megabyte row whole.
        out->SelectRow(-1);
        std::unique_ptr<QMenu> menu(out->CreateContextMenu());
        QVERIFY(!menu->actions().at(0)->isEnabled());
        menu->actions().at(1)->trigger();
        QTest::keyClick(out, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), rows().join(u'\n') + u'\n');

        // A clear while a long line is decoded aside drops it and the rows
        // behind it; after that, rows follow such a line in order again.
        const QByteArray longLine(TOutputList::DecodeAside + 1, 'y');
        out->AppendLine(longLine);
        out->Append(QStringLiteral("behind"));
        out->clear();
        out->AppendLine("a");
        out->AppendLine(longLine);
        out->Append(QStringLiteral("after"));
        QTest::qWait(50);
        QTRY_COMPARE(rows(), (QStringList{QStringLiteral("a"), QString::fromLatin1(longLine), QStringLiteral("after")}));
    }

    void doubleClicksThatDoNothingOrFail() {
        TMDIChild *doc = open(QStringLiteral("d.c"), "a\r\nb\r\nc\r\n");
        const QString S = doc->FileName;
        TMDIChild *other = open(QStringLiteral("e.c"), "x\r\n");
        auto dbl = [&](const QString &row) {
            form->Output->clear();
            form->Output->Append(row);
            form->Output->SelectRow(0);
            form->ClientArea->setActiveSubWindow(other);
            const QPoint at = form->Output->RowRect(0).center();
            QTest::mouseDClick(form->Output->viewport(), Qt::LeftButton, {}, at);
        };
        for (const QString &row : {QStringLiteral("- ") + S + QStringLiteral(" 2: x"), QStringLiteral("* x"),
                                   QStringLiteral("> ") + S, QString(), S, QStringLiteral("nofile.c 2: x"),
                                   QStringLiteral(" ") + S + QStringLiteral(" 2: x")}) {
            dbl(row);
            QCOMPARE(form->ActiveMDIChild(), other);
        }
        // A blank before the colon: the conversion fails, the report names the field.
        dbl(S + QStringLiteral(" 2 : x"));
        QCOMPARE(reports, QStringList{QStringLiteral("' 2 ' は整数ではありません")});
        QCOMPARE(form->ActiveMDIChild(), other);
        // Two blanks before the number work.
        dbl(S + QStringLiteral("  2: x"));
        QCOMPARE(form->ActiveMDIChild(), doc);
        QCOMPARE(SelStart(doc->RichEdit1), 3);
        QCOMPARE(SelLength(doc->RichEdit1), 3);
        // No colon: the document comes forward, line 0 changes nothing.
        SetSelection(doc->RichEdit1, 0, 0);
        dbl(S + QStringLiteral(" 2"));
        QCOMPARE(form->ActiveMDIChild(), doc);
        // The rows stay whichever tab is chosen.
        form->TabSet1->setCurrentIndex(1);
        QCOMPARE(form->Output->count(), 1);
    }

    void theSettingsDialogChangesNothing() {
        qvtest::AnswerModal<TOption>([](TOption &dlg) { dlg.Optimize->setProperty("dummy", 1); });
        form->ProjOpt->trigger();
        fakeCompiler("#!/bin/sh\necho \"$@\"\n");
        TMDIChild *doc = open(QStringLiteral("o.c"), "int o;\r\n");
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        QCOMPARE(rows().at(1), QStringLiteral("> lcc86.exe -O -js -w1 -c ") + doc->FileName);
        QCOMPARE(rows().at(2), QStringLiteral("-O -js -w1 -c ") + doc->FileName);
    }

    // ---- Link and run: the real tool chain and DOSBox without a window ----

    // A project of `files` (name, Shift-JIS text) in `folder` below the test's
    // folder, named `name`, its project file saved there; the program's path.
    QString makeProject(const QString &folder, const QString &name, const QList<std::pair<QString, QString>> &files) {
        const QString where = path(folder);
        QDir().mkpath(where);
        form->CurrentProject = project::Project::Named(name);
        for (const auto &[file, text] : files) {
            writeFile(where + u'/' + file, sjis::encodeLossy(text));
            form->CurrentProject.AddFile(file, where + u'/' + file);
        }
        form->SaveDialog1.FileName = where + u'/' + name + QStringLiteral(".prj");
        form->ProjSaveItem->trigger();
        return where + u'/' + name + QStringLiteral(".com");
    }
    // Runs 実行 (or DOSBoxで実行) until its last row.
    bool runToTheEnd(QAction *run) {
        run->trigger();
        return QTest::qWaitFor(
            [&] {
                const QStringList r = rows();
                return !form->Compiler->BuildRun->IsRunning() && !form->Compiler->Runner->IsRunning() && !r.isEmpty() &&
                       (r.last().startsWith(QStringLiteral("- 実行終了")) || r.last().startsWith(QStringLiteral("* ")));
            },
            90000);
    }
    QStringList leftovers() const {
        return QDir(path(QStringLiteral("tmp"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    // The ids of running DOSBox processes whose command line names `text`.
    static QList<int> dosBoxesWith(const QString &text) {
        QList<int> found;
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const int pid = entry.toInt(&number);
            if (!number) continue;
            const QByteArray cmdline = qvtest::ReadFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
            const QByteArray stat = qvtest::ReadFile(QStringLiteral("/proc/%1/stat").arg(pid));
            const int close = int(stat.lastIndexOf(')'));
            const bool zombie = close > 0 && stat.mid(close + 2, 1) == "Z";
            if (cmdline.startsWith("dosbox") && cmdline.contains(QFile::encodeName(text)) && !zombie) found << pid;
        }
        return found;
    }

    // 実行 on a project with a Japanese name with a blank, in a folder with a
    // blank: the sources compile, the objects link in tree order into the
    // program beside the project file, and the program runs; its output comes
    // as Shift-JIS rows, byte for byte, then the end row with its exit code.
    // A second 実行 builds nothing and runs it again. Nothing is left behind.
    void runBuildsLinksAndRunsTheProgram() {
        const QString P = makeProject(
            QStringLiteral("作業 フォルダ"), QStringLiteral("テスト プロジェクト"),
            {{QStringLiteral("util.h"), QStringLiteral("/* 道具の表 */\r\nint twice(int x);\r\n#define GREETING \"表示\"\r\n")},
             {QStringLiteral("util.c"), QStringLiteral("#include \"util.h\"\r\nint twice(int x) { return x * 2; }\r\n")},
             {QStringLiteral("main.c"),
              QStringLiteral("#include <stdio.h>\r\n#include \"util.h\"\r\n// 予定表\r\nint main(void) {\r\n"
                             "  printf(\"%s\\n\", GREETING);\r\n  printf(\"表ソ能\\n\");\r\n"
                             "  printf(\"%d\\n\", twice(21));\r\n  printf(\"\\n\");\r\n  printf(\"no line break\");\r\n"
                             "  return 7;\r\n}\r\n")}});
        QStringList sources, objects;
        for (const QString &S : form->CurrentProject.FilePaths())
            if (S.endsWith(QLatin1String(".c"))) sources << S, objects << buildcmd::ObjectPath(S);
        QCOMPARE(P, buildcmd::ProgramPath(form->SaveDialog1.FileName, QStringLiteral("テスト プロジェクト"), sources));

        form->Run->trigger();
        QVERIFY(QTest::qWaitFor([&] { return form->Compiler->Runner->IsRunning(); }, 60000));
        for (QAction *a : {form->Compile, form->Build, form->ReBuild, form->Run, form->DosBoxRun}) QVERIFY(!a->isEnabled());
        QVERIFY(!form->RunBtn->isEnabled());
        QVERIFY(form->StopCompile->isEnabled());
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->Runner->IsRunning(); }, 60000));
        QStringList r = rows();
        const QStringList program = {TRunProgram::StartLine(P, false),
                                     QStringLiteral("表示"),
                                     QStringLiteral("表ソ能"),
                                     QStringLiteral("42"),
                                     QString(),
                                     QStringLiteral("no line break"),
                                     TRunProgram::EndLine(7)};
        QCOMPARE(r.mid(r.size() - program.size()), program);
        QCOMPARE(sjis::encodeLossy(r.at(r.size() - 5)), QByteArray("\x95\x5c\x83\x5c\x94\x5c"));
        QCOMPARE(sjis::encodeLossy(r.at(r.size() - 6)), QByteArray("\x95\x5c\x8e\xa6"));
        const QStringList link = {buildcmd::LinkStartLine(P),
                                  buildcmd::EchoLine(buildcmd::LinkerCommandLine(P, objects)), buildcmd::LinkEndLine,
                                  TBuildRun::SummaryLine(false, 2, 0, 0, 0)};
        QCOMPARE(r.mid(r.size() - program.size() - link.size(), link.size()), link);
        QVERIFY(QFile::exists(P));
        for (QAction *a : {form->Compile, form->Build, form->ReBuild, form->Run, form->DosBoxRun}) QVERIFY(a->isEnabled());
        QVERIFY(form->RunBtn->isEnabled());
        QVERIFY(!form->StopCompile->isEnabled());

        // Everything is up to date: the program runs again, from the button.
        form->Output->clear();
        form->RunBtn->click();
        QVERIFY(QTest::qWaitFor([&] { return !rows().isEmpty() && rows().last() == TRunProgram::EndLine(7); }, 60000));
        r = rows();
        QStringList again;
        for (const QString &S : sources) again << buildcmd::NotNeededLine(S);
        again << buildcmd::LinkNotNeededLine(P) << TBuildRun::SummaryLine(false, 0, 0, 2, 0);
        QCOMPARE(r, again + program);
        QTRY_COMPARE(leftovers(), QStringList());
    }

    // The two entries after Stop in the Project menu, their keys and the tool
    // button; F5 without a project has nothing to build.
    void theRunEntries() {
        const QList<QAction *> menu = form->Proj->actions();
        QCOMPARE(menu.indexOf(form->Run), menu.indexOf(form->StopCompile) + 1);
        QCOMPARE(menu.indexOf(form->DosBoxRun), menu.indexOf(form->Run) + 1);
        QCOMPARE(form->Run->text(), QStringLiteral("実行(&X)"));
        QCOMPARE(form->Run->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(form->DosBoxRun->text(), QStringLiteral("DOSBoxで実行(&D)"));
        QCOMPARE(form->DosBoxRun->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F5));
        QCOMPARE(form->RunBtn->geometry(), QRect(177, 2, 25, 25));
        QCOMPARE(form->RunBtn->toolTip(), QStringLiteral("実行"));
        QVERIFY(!form->RunBtn->icon().isNull());
        QTest::keyClick(form.get(), Qt::Key_F5);
        QCOMPARE(rows(), QStringList{TBuildRun::NoSourcesLine});
        QVERIFY(form->Run->isEnabled() && form->RunBtn->isEnabled());
    }

    // Stop during the link: the link's rows say so, then the build's, and
    // nothing is run.
    void aLinkCanBeStopped() {
        fakeCompiler("#!/bin/sh\ncase \"$1\" in -o) echo linking; exec sleep 60;; esac\n"
                     "exec \"$QV_TOOLS_DIR/lcc86.exe\" \"$@\"\n");
        form->Compiler->DosCommand1->StopGraceMs = 300;
        const QString P = makeProject(QStringLiteral("p"), QStringLiteral("s"),
                                      {{QStringLiteral("s.c"), QStringLiteral("int main(void) { return 0; }\r\n")}});
        form->Run->trigger();
        QVERIFY(QTest::qWaitFor([&] { return rows().contains(QStringLiteral("linking")); }, 60000));
        form->StopCompile->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 10000));
        QTest::qWait(100);
        const QStringList r = rows();
        QCOMPARE(r.mid(r.size() - 5), (QStringList{QStringLiteral("linking"), buildcmd::LinkStoppedLine,
                                                   buildcmd::LinkEndLine, TBuildRun::StoppedLine,
                                                   TBuildRun::SummaryLine(false, 1, 0, 0, 0)}));
        QVERIFY(!form->Compiler->Runner->IsRunning());
        QVERIFY(!QFile::exists(P));
    }

    // The program's exit code, at both ends of its range.
    void theEndRowCarriesTheExitCode_data() {
        QTest::addColumn<int>("code");
        QTest::newRow("0") << 0;
        QTest::newRow("255") << 255;
    }
    void theEndRowCarriesTheExitCode() {
        QFETCH(int, code);
        makeProject(QStringLiteral("p"), QStringLiteral("rc"),
                    {{QStringLiteral("rc.c"), QStringLiteral("int main(void) { return %1; }\r\n").arg(code)}});
        QVERIFY(runToTheEnd(form->Run));
        QCOMPARE(rows().last(), TRunProgram::EndLine(code));
    }

    // What doesn't build doesn't run: a compile error (its row leads to its
    // line) or a link error (the linker's message).
    void whatDoesNotBuildDoesNotRun() {
        const QString P = makeProject(
            QStringLiteral("p"), QStringLiteral("bad"),
            {{QStringLiteral("lib.c"), QStringLiteral("int helper(void)\r\n{\r\n    return missing_x;\r\n}\r\n")}});
        TMDIChild *doc = open(QStringLiteral("p/lib.c"), qvtest::ReadFile(path(QStringLiteral("p/lib.c"))));
        TMDIChild *other = open(QStringLiteral("other.c"), "int g;\r\n");
        QVERIFY(runToTheEnd(form->Run));
        QStringList r = rows();
        QCOMPARE(r.mid(r.size() - 3), (QStringList{buildcmd::NotLinkedLine, TBuildRun::SummaryLine(false, 1, 1, 0, 0),
                                                   TRunProgram::NotBuiltLine}));
        const int errorRow = int(r.indexOf(doc->FileName + QStringLiteral(" 3: error: missing_x undeclared")));
        QVERIFY2(errorRow > 0, qPrintable(r.join(u'\n')));
        QCOMPARE(form->ActiveMDIChild(), other);
        form->Output->ScrollToRow(errorRow);
        const QPoint at = form->Output->RowRect(errorRow).center();
        QTest::mouseClick(form->Output->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(form->Output->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(form->ActiveMDIChild(), doc);
        QCOMPARE(SelStart(doc->RichEdit1), 21);  // line 3
        QVERIFY(!QFile::exists(P));

        // Fixed, it compiles, but there is no main to link.
        doc->RichEdit1->selectAll();
        QTest::keyClicks(doc->RichEdit1, "int helper(void) { return 1; }");
        form->Output->clear();
        QVERIFY(runToTheEnd(form->Run));
        r = rows();
        QVERIFY(!doc->Changed);
        QVERIFY2(r.contains(QStringLiteral("  undefined symbol: _main")), qPrintable(r.join(u'\n')));
        QCOMPARE(r.mid(r.size() - 4), (QStringList{buildcmd::LinkEndLine, buildcmd::LinkFailedLine(P),
                                                   TBuildRun::SummaryLine(false, 1, 0, 0, 0), TRunProgram::NotBuiltLine}));
        QVERIFY(!QFile::exists(P));
        QVERIFY(dosBoxesWith(path(QString())).isEmpty());
    }

    // Stop during a program that never ends: DOSBox goes, and its run folder.
    void stopEndsARunningProgram() {
        makeProject(QStringLiteral("p"), QStringLiteral("loop"),
                    {{QStringLiteral("loop.c"), QStringLiteral("int main(void)\r\n{\r\n  for (;;) ;\r\n}\r\n")}});
        form->Run->trigger();
        QVERIFY(QTest::qWaitFor([&] { return form->Compiler->Runner->IsRunning(); }, 60000));
        const QString folder = form->Compiler->Runner->RunFolder();
        QVERIFY(QDir(folder).exists());
        QVERIFY(QTest::qWaitFor([&] { return !dosBoxesWith(folder).isEmpty(); }, 10000));
        const QList<int> dosboxes = dosBoxesWith(folder);
        QTest::qWait(300);
        QVERIFY(form->StopCompile->isEnabled());
        QVERIFY(!form->Run->isEnabled() && !form->Compile->isEnabled());
        form->StopCompile->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->Runner->IsRunning(); }, 10000));
        QStringList r = rows();
        QCOMPARE(r.mid(r.size() - 2), (QStringList{TRunProgram::StoppedLine, TRunProgram::StoppedEndLine}));
        QVERIFY(!QDir(folder).exists());
        for (int pid : dosboxes) QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
        QVERIFY(form->Run->isEnabled() && !form->StopCompile->isEnabled());
        QTRY_COMPARE(leftovers(), QStringList());
    }

    // A program that prints without end: its rows come while it runs, in
    // order, and it is stopped once its output passes the limit.
    void endlessOutputIsStopped() {
        makeProject(QStringLiteral("p"), QStringLiteral("talk"),
                    {{QStringLiteral("talk.c"), QStringLiteral("#include <stdio.h>\r\nint main(void)\r\n{\r\n"
                                                               "  long i;\r\n  for (i = 0; ; i++) printf(\"line %ld\\n\", i);\r\n}\r\n")}});
        form->Compiler->Runner->OutputLimit = 128 * 1024;
        form->Run->trigger();
        QVERIFY(QTest::qWaitFor([&] { return rows().contains(QStringLiteral("line 1000")); }, 60000));
        QVERIFY(form->Compiler->Runner->IsRunning());  // rows arrive while the program runs
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->Runner->IsRunning(); }, 60000));
        const QStringList r = rows();
        QCOMPARE(r.mid(r.size() - 2), (QStringList{TRunProgram::TooMuchLine, TRunProgram::StoppedEndLine}));
        const qsizetype first = r.indexOf(QStringLiteral("line 0"));
        QVERIFY(first > 0);
        const qsizetype count = r.size() - 2 - first;
        QVERIFY(count > 10000);
        // Every row in order; the last may be cut where the program was stopped.
        for (qsizetype i = 0; i + 1 < count; ++i) QCOMPARE(r.at(first + i), QStringLiteral("line %1").arg(i));
        QVERIFY(QStringLiteral("line %1").arg(count - 1).startsWith(r.at(first + count - 1)));
    }

    // DOSBoxで実行: the program has the project's folder as its current
    // drive (the file it writes lands there) and DOSBox waits for a key
    // afterwards, until Stop.
    void runInADosBoxWindow() {
        // No display here: SDL's dummy drivers stand in for the window.
        qputenv("SDL_VIDEODRIVER", "dummy");
        qputenv("SDL_AUDIODRIVER", "dummy");
        const QString P = makeProject(QStringLiteral("長い フォルダ名"), QStringLiteral("窓"),
                                      {{QStringLiteral("w.c"), QStringLiteral("#include <stdio.h>\r\nint main(void)\r\n{\r\n"
                                                                              "  FILE *f = fopen(\"RAN.TXT\", \"w\");\r\n"
                                                                              "  fputs(\"ran\", f);\r\n  fclose(f);\r\n"
                                                                              "  return 3;\r\n}\r\n")}});
        form->DosBoxRun->trigger();
        const QString ran = path(QStringLiteral("長い フォルダ名/RAN.TXT"));
        // The file is there from its fopen on, its bytes only from the fclose.
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(ran) && QFileInfo(ran).size() > 0; }, 60000));
        QCOMPARE(qvtest::ReadFile(ran), QByteArray("ran"));
        QVERIFY(rows().contains(TRunProgram::StartLine(P, true)));
        QTest::qWait(300);
        QVERIFY(form->Compiler->Runner->IsRunning());  // waiting for a key
        form->StopCompile->trigger();
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->Runner->IsRunning(); }, 10000));
        QCOMPARE(rows().mid(rows().size() - 3),
                 (QStringList{TRunProgram::StartLine(P, true), TRunProgram::StoppedLine, TRunProgram::StoppedEndLine}));
        qunsetenv("SDL_VIDEODRIVER");
        qunsetenv("SDL_AUDIODRIVER");
    }

    // Without DOSBox 実行 builds and says so; without bcc a compile says so
    // in one line, and nothing falls back to the host's compiler.
    void missingTools() {
        const QString P = makeProject(QStringLiteral("p"), QStringLiteral("t"),
                                      {{QStringLiteral("t.c"), QStringLiteral("int main(void) { return 0; }\r\n")}});
        QDir(dir->path()).mkdir(QStringLiteral("bin"));
        QVERIFY(QFile::link(QStringLiteral("/usr/bin/bcc"), path(QStringLiteral("bin/bcc"))));
        qputenv("PATH", qgetenv("QV_TOOLS_DIR") + ":" + QFile::encodeName(path(QStringLiteral("bin"))));
        QVERIFY(runToTheEnd(form->Run));
        QCOMPARE(rows().mid(rows().size() - 2), (QStringList{TRunProgram::StartLine(P, false), TRunProgram::NoDosBoxLine}));
        QVERIFY(QFile::exists(P));
        QVERIFY(form->Run->isEnabled());

        qputenv("PATH", qgetenv("QV_TOOLS_DIR") + ":/nonexistent");
        form->Output->clear();
        TMDIChild *doc = open(QStringLiteral("p/t.c"), "int main(void) { return 1; }\r\n");
        QVERIFY(QFile::remove(buildcmd::ObjectPath(doc->FileName)));
        form->Compile->trigger();
        QVERIFY(waitForEnd());
        QCOMPARE(rows(), (QStringList{buildcmd::StartLine(doc->FileName),
                                      buildcmd::EchoLine(buildcmd::CompilerCommandLine(doc->FileName)),
                                      QStringLiteral("lcc86.exe: 8086 用の C コンパイラ bcc が見つかりません。"
                                                     "パッケージ bcc、bin86、elks-libc をインストールしてください。"),
                                      kEnd}));
    }

    // Closing the window while a build compiles several files ends them all.
    void closingDuringABuildIsSafe() {
        fakeCompiler("#!/bin/sh\necho $$ > \"$5.pid\"\nwhile :; do echo busy; sleep 0.01; done\n");
        form->CurrentProject = project::Project::Named(QStringLiteral("P"));
        for (const QString &name : {QStringLiteral("a.c"), QStringLiteral("b.c"), QStringLiteral("c.c")}) {
            writeFile(path(name), "int x;\r\n");
            form->CurrentProject.AddFile(name, path(name));
        }
        form->Compiler->BuildRun->Jobs = 2;  // in the tree: c.c (made last), a.c, b.c
        form->Build->trigger();
        QVERIFY(QTest::qWaitFor([&] {
            return QFile::exists(path(QStringLiteral("c.c.pid"))) && QFile::exists(path(QStringLiteral("a.c.pid")));
        }));
        QCOMPARE(form->Compiler->BuildRun->RunningCompiles(), 2);
        form->close();
        form.reset();
        for (const char *name : {"c.c.pid", "a.c.pid"}) {
            const QByteArray pid = qvtest::ReadFile(path(QLatin1String(name))).trimmed();
            QVERIFY(!pid.isEmpty());
            QVERIFY2(!QFile::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)), pid.constData());
        }
        QVERIFY(!QFile::exists(path(QStringLiteral("b.c.pid"))));
    }

    void closingDuringACompileIsSafe() {
        fakeCompiler("#!/bin/sh\nwhile :; do echo busy; sleep 0.01; done\n");
        open(QStringLiteral("z.c"), "int z;\r\n");
        form->Compile->trigger();
        QTRY_VERIFY(form->Output->count() > 3);
        form->close();
        form.reset();  // the compiler is ended; no handler runs on a dead window
        QTest::qWait(50);
    }
};

QV_TEST_MAIN(TstCompile)
#include "tst_compile.moc"
