// The project tree and its file at 10,000 files: open, save, read back, and
// files added one by one.
#include "bench.h"
#include "projectfile.h"
#include "projecttree.h"

#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

namespace {

// QV_BENCH_FILES=n runs the cases with another number of files.
const int kFiles = qEnvironmentVariableIntValue("QV_BENCH_FILES") > 0 ? qEnvironmentVariableIntValue("QV_BENCH_FILES") : 10000;

QByteArray bigProject() {
    QByteArray out = "#QV:1\r\nBIG\r\n";
    for (int i = 0; i < kFiles; ++i) {
        // Labels in a scrambled order, so that every insertion has to find its place.
        const QByteArray label = "F" + QByteArray::number((i * 7919) % kFiles).rightJustified(5, '0') + ".C";
        out += label + "\r\n/home/user/work/big/src/" + label + "\r\n";
    }
    return out;
}

}  // namespace

QV_BENCH(project_open_save_10000) {
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("big.prj")), out = dir.filePath(QStringLiteral("out.prj"));
    const QByteArray bytes = bigProject();
    {
        QFile f(in);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
            std::printf("cannot write %s\n", qPrintable(in));
            return;
        }
    }
    QTreeWidget tree;
    project::Project proj;
    project::SetupTree(&tree);
    tree.resize(137, 400);
    tree.show();
    QListWidget output;
    TFileDialog open1(TFileDialog::Open), save1(TFileDialog::Save);
    project::SetupOpenDialog1(open1);
    project::SetupSaveDialog1(save1);
    // The window as the project commands see it.
    struct View : project::TProjectView {
        QTreeWidget &Tree;
        QListWidget &Output;
        TFileDialog &Open1, &Save1;
        View(QTreeWidget &t, QListWidget &o, TFileDialog &a, TFileDialog &b) : Tree(t), Output(o), Open1(a), Save1(b) {}
        void ShowProject(const project::Project &p) override { project::ShowProject(&Tree, p); }
        void ClearOutput() override { Output.clear(); }
        TFileDialog &OpenDialog1() override { return Open1; }
        TFileDialog &SaveDialog1() override { return Save1; }
        QWidget *DialogParent() override { return nullptr; }
    } view(tree, output, open1, save1);

    const long rss0 = bench::residentKiB();
    open1.Prompt = [&](TFileDialog &d) {
        d.FileName = in;
        return true;
    };
    double t = bench::seconds();
    project::ProjOpenItemClick(proj, view);
    const double openS = bench::seconds() - t;
    const long rss1 = bench::residentKiB();

    save1.FileName = out;
    t = bench::seconds();
    project::ProjSaveItemClick(proj, view);
    const double saveS = bench::seconds() - t;

    t = bench::seconds();
    const project::ReadResult back = project::ReadProjectFile(out);
    const double readS = bench::seconds() - t;

    const bool ok = project::NodeCount(&tree) == kFiles + 1 && back.status == project::ReadStatus::Ok &&
                    back.project.Count() == kFiles + 1;
    std::printf("file: %d pairs, %lld bytes\n", kFiles, static_cast<long long>(bytes.size()));
    std::printf("open project (dialog hook, read, build tree, expand): %.1f ms\n", openS * 1e3);
    std::printf("save project: %.1f ms\n", saveS * 1e3);
    std::printf("read the saved file back (no tree): %.1f ms\n", readS * 1e3);
    std::printf("resident memory for the open project: %ld KiB\n", rss1 - rss0);
    std::printf("result: %s\n", ok ? "correct" : "WRONG");
}

QV_BENCH(project_add_file_10000) {
    QTreeWidget tree;
    project::SetupTree(&tree);
    tree.resize(137, 400);
    tree.show();
    TFileDialog open(TFileDialog::Open);
    project::Project proj = project::Project::Named(QStringLiteral("ADD"));
    project::ShowProject(&tree, proj);
    int i = 0;
    open.Prompt = [&](TFileDialog &d) {
        d.FileName = QStringLiteral("/home/user/work/big/src/F%1.C").arg((i * 7919) % kFiles, 5, 10, QLatin1Char('0'));
        return true;
    };
    const double t = bench::seconds();
    for (i = 0; i < kFiles; ++i) project::AddFileClick(proj, &tree, open, nullptr);
    const double s = bench::seconds() - t;
    std::printf("Add file x %d (duplicate scan, sort, expand, select each time): %.1f ms total, %.1f us each\n",
                kFiles, s * 1e3, s * 1e6 / kFiles);
    std::printf("result: %s\n", project::NodeCount(&tree) == kFiles + 1 ? "correct" : "WRONG");
}
