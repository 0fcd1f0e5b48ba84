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

#include <QDir>
#include <QFile>
#include <QClipboard>
#include <QFileInfo>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>
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
    // hold; hang: a compiler that never ends on it, stopped once it runs;
    // main: stale, with the program's main; other: a header or any other
    // file, never compiled. A fresh file's object is no 8086 object, so a
    // link that takes it fails. Once every source has compiled the project
    // is linked into P.com beside its first source.
    void buildAndRebuild_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("rebuild");
        const QStringList mixed = {QStringLiteral("fresh a.c"),       QStringLiteral("stale b.C"),
                                   QStringLiteral("missing m.c"),     QStringLiteral("stale 作業 フォルダ/s.c"),
                                   QStringLiteral("error e.c"),       QStringLiteral("stale b.C"),
                                   QStringLiteral("other d.h"),       QStringLiteral("other x.txt"),
                                   QStringLiteral("fresh \"q\" a.c"), QStringLiteral("error 作業 フォルダ/t.c"),
                                   QStringLiteral("deleted x-gone.c"), QStringLiteral("warning w.c")};
        // The tree puts the node made last first, the others after it by label.
        QTest::newRow("build") << mixed << false;
        QTest::newRow("rebuild") << mixed << true;
        QTest::newRow("no project") << QStringList() << false;
        QTest::newRow("no source") << QStringList{QStringLiteral("other d.h"), QStringLiteral("other a.cpp")} << true;
        QTest::newRow("open documents") << QStringList{QStringLiteral("edited a.c"), QStringLiteral("unsavable u.c"),
                                                       QStringLiteral("fresh f.c")}
                                        << false;
        QTest::newRow("stop on the second") << QStringList{QStringLiteral("hang h.c"), QStringLiteral("stale z.c"),
                                                           QStringLiteral("stale a.c")}
                                            << false;
        const QStringList linked = {QStringLiteral("stale 作業 フォルダ/a.c"), QStringLiteral("warning w.c"),
                                    QStringLiteral("main m.c")};
        QTest::newRow("linked") << linked << false;
        QTest::newRow("no main") << QStringList{QStringLiteral("stale a.c"), QStringLiteral("stale b.c")} << false;
        QTest::newRow("an object of another machine")
            << QStringList{QStringLiteral("fresh f.c"), QStringLiteral("main m.c")} << false;
        QTest::newRow("rebuilt and linked") << QStringList{QStringLiteral("fresh f.c"), QStringLiteral("main m.c")}
                                            << true;
    }
    void buildAndRebuild() {
        QFETCH(QStringList, files);
        QFETCH(bool, rebuild);
        // The real compiler, except on h.c, where it hangs; compiling any other
        // file deletes the files named *-gone.c beside it.
        fakeCompiler("#!/bin/sh\ncase \"$1$5\" in -o*) ;; */h.c) echo hanging; exec sleep 60;; */*-gone.c) ;;\n"
                     "*) rm -f \"${5%/*}\"/*-gone.c;; esac\nexec \"$QV_TOOLS_DIR/lcc86.exe\" \"$@\"\n");
        form->Compiler->DosCommand1->StopGraceMs = 300;
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
        // path once; "<compiler>" stands for the compiler's (or linker's) lines.
        const QString compilerLines = QStringLiteral("<compiler>");
        QStringList expected;
        QStringList seen;
        int compiled = 0, withMessages = 0, upToDate = 0, notCompiled = 0, reportsExpected = 0;
        bool stopped = false, failed = false, hasMain = false, oldObject = false;
        for (const QString &S : form->CurrentProject.FilePaths()) {
            if (!S.endsWith(QLatin1String(".c"), Qt::CaseInsensitive) || seen.contains(S)) continue;
            seen << S;
            const QString kind = kinds.value(S);
            if (kind == QLatin1String("missing") || kind == QLatin1String("deleted")) {
                expected << TBuildRun::MissingLine(S);
                ++notCompiled;
            } else if (kind == QLatin1String("unsavable")) {
                expected << TBuildRun::NotSavedLine(S);
                ++notCompiled;
                ++reportsExpected;
            } else if (kind == QLatin1String("fresh") && !rebuild) {
                expected << buildcmd::NotNeededLine(S);
                ++upToDate;
            } else {
                expected << buildcmd::StartLine(S) << buildcmd::EchoLine(buildcmd::CompilerCommandLine(S));
                if (kind == QLatin1String("hang")) {
                    expected << QStringLiteral("hanging") << buildcmd::StoppedLine << kEnd << TBuildRun::StoppedLine;
                    stopped = true;
                    break;
                }
                expected << compilerLines << kEnd;
                ++compiled;
                if (kind == QLatin1String("error") || kind == QLatin1String("warning")) ++withMessages;
            }
            failed |= kind == QLatin1String("error");
            hasMain |= kind == QLatin1String("main");
            oldObject |= kind == QLatin1String("fresh") && !rebuild;
        }
        const QString program = buildcmd::ProgramPath(QString(), QStringLiteral("P"), seen);
        bool linkable = false;
        if (!seen.isEmpty() && !stopped) {
            QStringList objects;
            for (const QString &S : std::as_const(seen)) objects << buildcmd::ObjectPath(S);
            linkable = notCompiled == 0 && !failed;
            if (!linkable)
                expected << buildcmd::NotLinkedLine;
            else
                expected << buildcmd::LinkStartLine(program)
                         << buildcmd::EchoLine(buildcmd::LinkerCommandLine(program, objects)) << compilerLines
                         << buildcmd::LinkEndLine;
            if (linkable && (!hasMain || oldObject)) expected << buildcmd::LinkFailedLine(program);
        }
        if (seen.isEmpty())
            expected << TBuildRun::NoSourcesLine;
        else
            expected << TBuildRun::SummaryLine(rebuild, compiled, withMessages, upToDate, notCompiled);

        (rebuild ? form->ReBuild : form->Build)->trigger();
        const bool started = !seen.isEmpty();
        QCOMPARE(form->StopCompile->isEnabled(), started);
        for (QAction *a : {form->Compile, form->Build, form->ReBuild}) QCOMPARE(a->isEnabled(), !started);
        if (stopped) {
            QVERIFY(QTest::qWaitFor([&] { return rows().contains(QStringLiteral("hanging")); }, 60000));
            form->StopCompile->trigger();
        }
        QVERIFY(QTest::qWaitFor([&] { return !form->Compiler->BuildRun->IsRunning(); }, 60000));
        QTest::qWait(100);

        // The rows against the model; the compiler's lines run up to the end row.
        const QStringList r = rows();
        qsizetype at = 0;
        for (qsizetype e = 0; e < expected.size(); ++e) {
            const QString &row = expected.at(e);
            if (row == compilerLines) {
                while (at < r.size() && r.at(at) != expected.value(e + 1)) ++at;
                continue;
            }
            QVERIFY2(at < r.size() && r.at(at) == row,
                     qPrintable(QStringLiteral("row %1 should be %2 in:\n%3").arg(at).arg(row, r.join(u'\n'))));
            ++at;
        }
        QCOMPARE(at, r.size());
        QCOMPARE(QFile::exists(program), linkable && hasMain && !oldObject);
        QCOMPARE(reports.size(), reportsExpected);
        QVERIFY(untitled->Changed);
        for (QAction *a : {form->Compile, form->Build, form->ReBuild}) QVERIFY(a->isEnabled());
        QVERIFY(!form->StopCompile->isEnabled());
        QVERIFY(!form->Compiler->DosCommand1->IsOnExecution());
        // An edited document was saved before its compile.
        for (int i = 0; i < form->MDIChildCount(); ++i)
            if (kinds.value(form->MDIChildren(i)->FileName) == QLatin1String("edited"))
                QVERIFY(!form->MDIChildren(i)->Changed);
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
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(ran); }, 60000));
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

QTEST_MAIN(TstCompile)
#include "tst_compile.moc"
