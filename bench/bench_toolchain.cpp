// Build, Rebuild and 実行 on the real tool chain, through the main window,
// against the same work done by hand: bcc and DOSBox run from a shell loop.
// Taken by turns in one run; medians of 5.
//
//   build_20_files      Build of a 20-file project with no objects yet, and
//                       Rebuild of the same project right after
//   run_10000_lines     実行 of a built program that prints 10,000 lines
#include "bench.h"

#include "buildrun.h"
#include "compilecontrol.h"
#include "dosrun.h"
#include "mainform.h"
#include "outputpane.h"
#include "project.h"
#include "runprogram.h"
#include "spawnpipe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QEventLoop>

#include <functional>

namespace {

constexpr int Rounds = 5;

bool Write(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The project: 19 files of a few functions each and a main that calls them.
QStringList WriteProject(const QString &dir) {
    QStringList sources;
    QByteArray main = "#include <stdio.h>\n";
    QByteArray calls;
    for (int i = 0; i < 19; ++i) {
        const QByteArray n = QByteArray::number(i);
        QByteArray f = "#include <string.h>\n/* part " + n + " */\n";
        for (int k = 0; k < 6; ++k) {
            const QByteArray name = "f" + n + "_" + QByteArray::number(k);
            f += "int " + name + "(int x)\n{\n    char buf[32];\n    int i, s = 0;\n"
                 "    strcpy(buf, \"part " + n + "\");\n    for (i = 0; i < x; i++)\n"
                 "        s += buf[i % 6] * " + QByteArray::number(k + 1) + ";\n    return s + (int)strlen(buf);\n}\n";
            main += "int " + name + "(int x);\n";
            calls += "    total += " + name + "(" + QByteArray::number(k + 3) + ");\n";
        }
        const QString path = dir + QStringLiteral("/part%1.c").arg(i, 2, 10, QLatin1Char('0'));
        Write(path, f);
        sources << path;
    }
    main += "int main(void)\n{\n    long total = 0;\n" + calls + "    printf(\"%ld\\n\", total);\n    return 0;\n}\n";
    Write(dir + QStringLiteral("/main.c"), main);
    sources << dir + QStringLiteral("/main.c");
    return sources;
}

// The program that prints 10,000 lines.
void WriteTalker(const QString &dir) {
    Write(dir + QStringLiteral("/talk.c"),
          "#include <stdio.h>\nint main(void)\n{\n    int i;\n    for (i = 0; i < 10000; i++)\n"
          "        printf(\"line %d of the output\\n\", i);\n    return 0;\n}\n");
}

void Remove(const QString &dir, const QStringList &filters) {
    QDir d(dir);
    for (const QString &f : d.entryList(filters, QDir::Files)) d.remove(f);
}

// A shell command in `dir`; its seconds, or -1 when it failed.
double Shell(const QString &dir, const QByteArray &script, const QStringList &env = {}) {
    QProcess p;
    p.setWorkingDirectory(dir);
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString &v : env) e.insert(v.section(u'=', 0, 0), v.section(u'=', 1));
    p.setProcessEnvironment(e);
    const double t0 = bench::seconds();
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLocal8Bit(script)});
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::printf("  the shell failed: %s\n", p.readAllStandardError().constData());
        return -1;
    }
    return bench::seconds() - t0;
}

// The window's command until `done` holds; its seconds. The event loop waits
// as the program's own does (a loop that kept asking for events would take a
// core from the compiler).
double Through(TMainForm &, QAction *command, const std::function<bool()> &done) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    const double t0 = bench::seconds();
    command->trigger();
    check.start(1);
    if (!done()) loop.exec();
    return bench::seconds() - t0;
}

struct Project {
    QTemporaryDir dir;
    std::unique_ptr<TMainForm> form;
    explicit Project(const QStringList &sources) : form(std::make_unique<TMainForm>()) {
        form->CurrentProject = project::Project::Named(QStringLiteral("bench"));
        for (const QString &S : sources) form->CurrentProject.AddFile(QFileInfo(S).fileName(), S);
        form->SaveDialog1.FileName = QFileInfo(sources.first()).absolutePath() + QStringLiteral("/bench.prj");
        form->show();
        QCoreApplication::processEvents();
    }
    bool building() const { return form->Compiler->BuildRun->IsRunning(); }
};

// The command lines that lcc86.exe gives bcc, written by hand.
const QByteArray CompileLoop = "for f in *.c; do bcc -ansi -Md -Dconst= -Dvolatile= -O -c \"$f\" -o \"${f%.c}.obj\" "
                               "|| exit 1; done && bcc -Md -o bench.com *.obj";

void Report(const char *what, const std::vector<double> &ide, const std::vector<double> &hand) {
    const double a = bench::median(ide), b = bench::median(hand);
    std::printf("  %-34s Quelvane %.3f s, by hand %.3f s: ratio %.2f\n", what, a, b, b > 0 ? a / b : 0.0);
}

bool ToolsThere() {
    if (FindProgram("bcc").isEmpty() || FindProgram("dosbox").isEmpty() || FindProgram("lcc86.exe").isEmpty()) {
        std::printf("  needs bcc, dosbox and lcc86.exe on PATH (out/<build>/tools)\n");
        return false;
    }
    return true;
}

void PutToolsOnPath() {
    const QByteArray tools = QFile::encodeName(QCoreApplication::applicationDirPath() + QStringLiteral("/../tools"));
    if (!qgetenv("PATH").startsWith(tools)) qputenv("PATH", tools + ':' + qgetenv("PATH"));
}

}  // namespace

QV_BENCH(build_20_files) {
    PutToolsOnPath();
    if (!ToolsThere()) return;
    QTemporaryDir dir;
    const QStringList sources = WriteProject(dir.path());
    Project p(sources);
    std::vector<double> ide, hand, ideRe, handRe;
    for (int round = 0; round < Rounds; ++round) {
        Remove(dir.path(), {QStringLiteral("*.obj"), QStringLiteral("*.com")});
        p.form->Output->clear();
        ide.push_back(Through(*p.form, p.form->Build, [&] { return !p.building(); }));
        if (!QFile::exists(dir.filePath(QStringLiteral("bench.com")))) std::printf("  WRONG: no program\n");
        ideRe.push_back(Through(*p.form, p.form->ReBuild, [&] { return !p.building(); }));
        Remove(dir.path(), {QStringLiteral("*.obj"), QStringLiteral("*.com")});
        hand.push_back(Shell(dir.path(), CompileLoop));
        handRe.push_back(Shell(dir.path(), CompileLoop));
    }
    Report("Build, 20 files and the link", ide, hand);
    Report("Rebuild, 20 files and the link", ideRe, handRe);
    std::printf("  (by hand: one bcc per file and one to link, from a shell loop)\n");
}

QV_BENCH(run_10000_lines) {
    PutToolsOnPath();
    if (!ToolsThere()) return;
    QTemporaryDir dir;
    WriteTalker(dir.path());
    Project p({dir.filePath(QStringLiteral("talk.c"))});
    // Built once; each 実行 then finds it up to date.
    Through(*p.form, p.form->Build, [&] { return !p.building(); });
    const QString program = dir.filePath(QStringLiteral("bench.com"));
    if (!QFile::exists(program)) {
        std::printf("  WRONG: the program was not built\n");
        return;
    }
    // By hand: the same DOSBox configuration, the output read back with cat.
    QTemporaryDir run;
    QString error;
    dosrun::PrepareFolder(run.path(), program, dir.path(), false, &error);
    const QByteArray byHand = "dosbox -conf " + QFile::encodeName(run.filePath(QLatin1String(dosrun::ConfigFile))) +
                              " -noconsole >/dev/null 2>&1 && cat OUT.TXT | wc -l >/dev/null";
    // And with DOSBox's own speed settings, as a first try by hand would run it.
    Write(run.filePath(QStringLiteral("plain.conf")),
          "[autoexec]\nmount c \"" + QFile::encodeName(run.path()) + "\"\nc:\nPROG.COM > OUT.TXT\nexit\n");
    const QByteArray plain = "dosbox -conf plain.conf -noconsole >/dev/null 2>&1 && cat OUT.TXT | wc -l >/dev/null";
    const QStringList headless = {QStringLiteral("SDL_VIDEODRIVER=dummy"), QStringLiteral("SDL_AUDIODRIVER=dummy")};
    std::vector<double> ide, hand, handPlain;
    int rows = 0;
    for (int round = 0; round < Rounds; ++round) {
        p.form->Output->clear();
        ide.push_back(Through(*p.form, p.form->Run, [&] {
            const int n = p.form->Output->count();
            return !p.building() && !p.form->Compiler->Runner->IsRunning() && n > 0 &&
                   p.form->Output->Row(n - 1).startsWith(QStringLiteral("- 実行終了"));
        }));
        rows = p.form->Output->count();
        hand.push_back(Shell(run.path(), byHand, headless));
        handPlain.push_back(Shell(run.path(), plain, headless));
    }
    std::printf("  %d rows in the pane (10,000 of the program's)\n", rows);
    Report("実行, 10,000 lines", ide, hand);
    std::printf("  by hand with DOSBox's own cpu settings: %.3f s (%.2f of the run by hand above)\n",
                bench::median(handPlain), bench::median(handPlain) / bench::median(hand));
}
