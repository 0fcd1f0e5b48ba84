#include "buildrun.h"

#include "compile.h"
#include "pathext.h"
#include "tdoscmd.h"

#include <QFileInfo>
#include <QThread>
#include <QTimer>

// One runner of the build and the compile it runs: the rows of that compile,
// kept until it ends.
struct TBuildRun::TJob {
    TDosCommand *Runner = nullptr;  // a child of the build
    QString Source;
    struct TRow {
        QString Own;       // a row of the build's own
        QByteArray Line;   // or a line of the compiler, decoded when it reaches the pane
        bool IsLine = false;
    };
    std::vector<TRow> Rows;
    bool HasMessages = false;
    bool Busy = false;  // from the start of a compile until its rows are in the pane

    void Own(const QString &row) { Rows.push_back({row, QByteArray(), false}); }
};

const QString TBuildRun::NoSourcesLine = QStringLiteral("* プロジェクトにコンパイルする .c ファイルがありません。");
const QString TBuildRun::StoppedLine = QStringLiteral("* ビルドを中止しました。");

QString TBuildRun::MissingLine(const QString &S) {
    return QStringLiteral("* ") + S + QStringLiteral("が見つからないため、コンパイルしません。");
}

QString TBuildRun::NotSavedLine(const QString &S) {
    return QStringLiteral("* ") + S + QStringLiteral("を保存できなかったため、コンパイルしません。");
}

QString TBuildRun::SummaryLine(bool rebuild, int compiled, int withMessages, int upToDate, int notCompiled) {
    return QStringLiteral("- %1終了: %2 個をコンパイル (エラー・警告あり %3 個)、%4 個は最新、%5 個はコンパイルできませんでした。")
        .arg(rebuild ? QStringLiteral("リビルド") : QStringLiteral("ビルド"))
        .arg(compiled)
        .arg(withMessages)
        .arg(upToDate)
        .arg(notCompiled);
}

QStringList TBuildRun::Sources(const QStringList &paths) {
    QStringList sources;
    for (const QString &path : paths)
        if (PathExtension(path).compare(QLatin1String(".c"), Qt::CaseInsensitive) == 0 && !sources.contains(path))
            sources << path;
    return sources;
}

TBuildRun::TBuildRun(TBuildHost &host, const TDosCommand &settings, QObject *parent)
    : QObject(parent), Host(host), Settings(settings) {}

TBuildRun::~TBuildRun() {
    // Running compiles end with their runners; no handler of theirs runs any more.
    for (const auto &job : Pool) delete job->Runner;
}

int TBuildRun::JobCount() const { return Jobs > 0 ? Jobs : std::max(1, QThread::idealThreadCount()); }

int TBuildRun::RunningCompiles() const {
    int n = 0;
    for (const auto &job : Pool) n += job->Busy;
    return n;
}

bool TBuildRun::Start(bool everything, const QStringList &paths) {
    if (Running) return false;
    // The files are those of the tree as it is now; the headers of the
    // up-to-date test are read afresh for each file.
    Files = Sources(paths);
    if (Files.isEmpty()) {
        emit Row(NoSourcesLine);
        return false;
    }
    Everything = everything;
    Index = 0;
    Count = TCounts();
    StopRequested = Stopped = false;
    Linking = ProgramReady = false;
    ProgramFile.clear();
    Running = true;
    Next();
    return true;
}

void TBuildRun::Stop() {
    if (!Running) return;
    StopRequested = true;
    for (const auto &job : Pool)
        if (job->Busy) job->Runner->StopCommand();
    // Without a compile under way nothing else would carry the build to its end.
    if (!Linking && RunningCompiles() == 0 && !NextQueued) {
        NextQueued = true;
        QTimer::singleShot(0, this, &TBuildRun::Next);
    }
}

TBuildRun::TJob *TBuildRun::FreeJob() {
    const size_t most = size_t(JobCount());
    for (size_t i = 0; i < Pool.size() && i < most; ++i)
        if (!Pool[i]->Busy && !Pool[i]->Runner->IsOnExecution()) return Pool[i].get();
    if (Pool.size() >= most) return nullptr;
    auto job = std::make_unique<TJob>();
    TJob *j = job.get();
    j->Runner = new TDosCommand(this);
    j->Runner->setObjectName(QStringLiteral("BuildRunner%1").arg(Pool.size() + 1));
    j->Runner->OnOutputLine = [this, j](TDosCommand *, const QByteArray &line) {
        j->Rows.push_back({QString(), line, true});
        if (Host.NoteCompilerLine(j->Source, line)) j->HasMessages = true;
    };
    j->Runner->OnTerminate = [this, j](TDosCommand *) { JobEnded(j); };
    Pool.push_back(std::move(job));
    return j;
}

void TBuildRun::Next() {
    NextQueued = false;
    if (!Running || Linking) return;
    while (Index < Files.size() && !StopRequested) {
        TJob *job = FreeJob();
        if (!job) break;  // the end of a compile brings the next file
        const QString S = Files.at(Index++);
        // A failure to save is reported; the build goes on. The report's own
        // event loop may end compiles meanwhile: their rows come, and this
        // loop goes on where it was.
        job->Busy = true;
        const bool saved = Host.SaveDocumentOf(S);
        job->Busy = false;
        if (!Running) return;  // the window went while a report was up
        if (!saved) {
            emit Row(NotSavedLine(S));
            ++Count.NotCompiled;
        } else if (!QFileInfo(S).isFile()) {
            emit Row(MissingLine(S));
            ++Count.NotCompiled;
        } else if (!Everything && !Host.NeedsCompile(S)) {
            emit Row(buildcmd::NotNeededLine(S));
            ++Count.UpToDate;
        } else {
            // The job's runner: settings as the host's runner has them now.
            job->Runner->StopGraceMs = Settings.StopGraceMs;
            job->Runner->Priority = Settings.Priority;
            job->Runner->Reading = Settings.Reading;
            job->Rows.clear();
            job->Source = S;
            job->HasMessages = false;
            job->Own(buildcmd::StartLine(S));
            if (Host.StartCompiler(job->Runner, S, [job](const QString &row) { job->Own(row); })) {
                job->Busy = true;
                continue;
            }
            for (const TJob::TRow &row : job->Rows) emit Row(row.Own);
            job->Rows.clear();
            ++Count.NotCompiled;
        }
    }
    emit Changed();
    if (RunningCompiles() == 0) Link();  // every file had its turn, or the build was stopped
}

void TBuildRun::JobEnded(TJob *job) {
    if (!job->Busy) return;
    const bool stopped = job->Runner->IsStopping();
    const quint32 exitCode = job->Runner->ExitCode();
    if (stopped) job->Own(buildcmd::StoppedLine);
    job->Own(buildcmd::EndLine);
    for (const TJob::TRow &row : job->Rows) {
        if (row.IsLine)
            emit CompilerLine(row.Line);
        else
            emit Row(row.Own);
    }
    job->Rows.clear();
    job->Rows.shrink_to_fit();
    job->Busy = false;
    if (stopped) {
        StopRequested = true;
    } else {
        ++Count.Compiled;
        if (job->HasMessages || exitCode != 0) ++Count.WithMessages;
        if (exitCode != 0) ++Count.Failed;
    }
    emit CompileEnded(job->Source);
    // The runner takes no new command before its end handling is over.
    if (!NextQueued) {
        NextQueued = true;
        QTimer::singleShot(0, this, &TBuildRun::Next);
    }
}

void TBuildRun::LinkEnded(quint32 exitCode, bool stopped) {
    if (!Running || !Linking) return;
    Linking = false;
    if (stopped) StopRequested = true;
    else if (exitCode != 0) emit Row(buildcmd::LinkFailedLine(ProgramFile));
    ProgramReady = !stopped && exitCode == 0;
    QTimer::singleShot(0, this, &TBuildRun::Finish);
}

void TBuildRun::Link() {
    if (StopRequested) {
        Finish();
        return;
    }
    if (Count.NotCompiled > 0 || Count.Failed > 0) {
        emit Row(buildcmd::NotLinkedLine);
        Finish();
        return;
    }
    QStringList objects;
    for (const QString &S : std::as_const(Files)) objects << buildcmd::ObjectPath(S);
    ProgramFile = Host.ProgramPath(Files);
    if (!buildcmd::NeedsLink(ProgramFile, objects, Host.ProjectFile())) {
        emit Row(buildcmd::LinkNotNeededLine(ProgramFile));
        ProgramReady = true;
        Finish();
        return;
    }
    emit Row(buildcmd::LinkStartLine(ProgramFile));
    Linking = true;
    if (Host.RunLinker(ProgramFile, objects)) return;  // LinkEnded goes on
    Linking = false;
    Finish();
}

void TBuildRun::Finish() {
    if (!Running) return;
    Stopped = StopRequested;
    if (StopRequested) emit Row(StoppedLine);
    emit Row(SummaryLine(Everything, Count.Compiled, Count.WithMessages, Count.UpToDate, Count.NotCompiled));
    const bool ready = ProgramReady && !StopRequested;
    Running = false;
    StopRequested = false;
    emit Finished(ready);
}
