// The up-to-date test over a large project, the tree's paths taken as Compile
// takes them: every header is read, none is newer. And Build through the main
// window with as many compiles at once as there are cores, against the same
// Build one file at a time.
#include "bench.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <cstring>
#include <memory>
#include <vector>

#include "buildrun.h"
#include "compile.h"
#include "compilecontrol.h"
#include "mainform.h"
#include "outputpane.h"
#include "project.h"
#include "spawnpipe.h"

namespace {
void touch(const QString &path, const QDateTime &when) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.setFileTime(when, QFileDevice::FileModificationTime);
}

void walk(const char *what, const QString &ext) {
    const int headers = 5000;
    QTemporaryDir dir;
    const QDateTime base = QDateTime::currentDateTime().addDays(-1);
    const QString source = dir.filePath(QStringLiteral("main.c"));
    touch(source, base);
    touch(dir.filePath(QStringLiteral("main.obj")), base.addSecs(60));
    project::Project proj = project::Project::Named(QStringLiteral("proj"));
    for (int i = 0; i < headers; ++i) {
        const QString path = dir.filePath(QStringLiteral("h%1").arg(i) + ext);
        touch(path, base.addSecs(-60));
        proj.Nodes.append(project::Node{path, path, true});
    }
    int calls = 0;
    bool needed = false;
    const double start = bench::seconds();
    double now = start;
    while (now - start < 1.0) {
        needed |= buildcmd::NeedsCompile(source, proj.FilePaths());
        ++calls;
        now = bench::seconds();
    }
    std::printf("%s: %d nodes, %d calls, %.3f ms per call, %.2f us per node%s\n", what, headers, calls,
                (now - start) * 1e3 / calls, (now - start) * 1e6 / calls / headers,
                needed ? " (WRONG: compile needed)" : "");
}
}  // namespace

QV_BENCH(needs_compile_5000_headers) {
    walk("headers, all older than the source", QStringLiteral(".h"));
    walk("sources, skipped by extension", QStringLiteral(".c"));
}

namespace {
// Build of the window's project until it ends; its seconds. The event loop
// sleeps between its looks, as the program's own does.
double BuildOnce(TMainForm &form) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (!form.Compiler->BuildRun->IsRunning()) loop.quit();
    });
    const double t0 = bench::seconds();
    form.Build->trigger();
    check.start(1);
    if (form.Compiler->BuildRun->IsRunning()) loop.exec();
    return bench::seconds() - t0;
}
}  // namespace

// 20 files whose compile takes 0.2 s each (tools/standin), built from
// scratch: as many at once as there are cores, against one at a time, rounds
// taken by turns; the stand-in computes (as a compiler does) or sleeps.
QV_BENCH(build_20_files_at_once) {
    const QString standin = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/standin");
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(standin) + ':' + savedPath);
    if (FindProgram("lcc86.exe") != QFile::encodeName(standin + QStringLiteral("/lcc86.exe"))) {
        std::printf("  the stand-in compiler is not in %s\n", qPrintable(standin));
        qputenv("PATH", savedPath);
        return;
    }
    QTemporaryDir dir;
    auto form = std::make_unique<TMainForm>();
    form->CurrentProject = project::Project::Named(QStringLiteral("bench"));
    for (int i = 0; i < 20; ++i) {
        const QString name = QStringLiteral("f%1.c").arg(i, 2, 10, QLatin1Char('0'));
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::WriteOnly)) f.write("int f(void) { return 0; }\n");
        form->CurrentProject.AddFile(name, dir.filePath(name));
    }
    form->SaveDialog1.FileName = dir.filePath(QStringLiteral("bench.prj"));
    const int cores = form->Compiler->BuildRun->JobCount();
    // What else runs here takes cores from the computing stand-in.
    QFile load(QStringLiteral("/proc/loadavg"));
    const QByteArray loadavg = load.open(QIODevice::ReadOnly) ? load.readLine().trimmed() : QByteArray("?");
    std::printf("  %d cores here (load average %s); 20 files of 0.2 s each, 5 rounds each way, medians\n", cores,
                loadavg.constData());
    // What the machine allows: the same compiles from a shell, as many at
    // once and one at a time (xargs -P).
    auto byHand = [&](int jobs) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        const double t0 = bench::seconds();
        p.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("printf '%s\\n' *.c | xargs -P %1 -n 1 lcc86.exe -O -js -w1 -c "
                                                      ">/dev/null && lcc86.exe -o bench.com *.obj").arg(jobs)});
        if (!p.waitForFinished(120000) || p.exitCode() != 0) std::printf("  WRONG: the shell failed\n");
        return bench::seconds() - t0;
    };
    for (const char *mode : {"work", "sleep"}) {
        qputenv("QV_STANDIN_MODE", mode);
        std::vector<double> together, alone, handTogether, handAlone;
        for (int round = 0; round < 5; ++round) {
            for (int jobs : {0, 1}) {
                QDir d(dir.path());
                for (const QString &f : d.entryList({QStringLiteral("*.obj"), QStringLiteral("*.com")}, QDir::Files))
                    d.remove(f);
                form->Output->clear();
                form->Compiler->BuildRun->Jobs = jobs;
                (jobs == 0 ? together : alone).push_back(BuildOnce(*form));
                if (form->Compiler->BuildRun->Counts().Compiled != 20) std::printf("  WRONG: not every file compiled\n");
                (jobs == 0 ? handTogether : handAlone).push_back(byHand(jobs == 0 ? cores : 1));
            }
        }
        const double a = bench::median(together), b = bench::median(alone);
        const double c = bench::median(handTogether), h = bench::median(handAlone);
        std::printf("  stand-in that %-8s Build %d at once %.3f s, one at a time %.3f s: ratio %.2f"
                    " (by hand with xargs: %.3f s against %.3f s, ratio %.2f)\n",
                    std::strcmp(mode, "work") == 0 ? "computes" : "sleeps", cores, a, b, a / b, c, h, c / h);
    }
    qunsetenv("QV_STANDIN_MODE");
    qputenv("PATH", savedPath);
}
