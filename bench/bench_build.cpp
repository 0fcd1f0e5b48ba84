// The up-to-date test over a large project, the tree's paths taken as Compile
// takes them: every header is read, none is newer.
#include "bench.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "compile.h"
#include "project.h"

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
