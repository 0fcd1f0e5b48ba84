#include "compilecontrol.h"

#include "buildrun.h"
#include "childwin.h"
#include "compile.h"
#include "documents.h"
#include "errorreport.h"
#include "outputpane.h"
#include "project.h"
#include "runprogram.h"
#include "sjis.h"
#include "tabset.h"
#include "tdoscmd.h"

#include <QAction>
#include <QFile>

TCompileControl::TCompileControl(TDocuments &docs, TOutputPane &pane, const project::Project &project,
                                 Commands commands, QWidget *window)
    : QObject(window), Docs(docs), Window(window), Pane(pane), Project(project), Items(commands) {
    DosCommand1 = new TDosCommand(this);
    DosCommand1->setObjectName(QStringLiteral("DosCommand1"));
    DosCommand1->OnOutputLine = [this](TDosCommand *sender, const QByteArray &line) {
        DosCommand1OutputLine(sender, line);
    };
    DosCommand1->OnTerminate = [this](TDosCommand *sender) { DosCommand1Terminate(sender); };
    BuildRun = new TBuildRun(this);
    BuildRun->OnFinished = [this](bool programReady) { BuildFinished(programReady); };
    Runner = new TRunProgram(this);
    Runner->setObjectName(QStringLiteral("Runner"));
    Runner->OnOutputLine = [this](const QByteArray &line) { Pane.Output->AppendLine(line); };
    Runner->OnTerminate = [this](TRunProgram::TEnd how, int exitCode) { RunnerTerminate(how, exitCode); };
    connect(&Pane, &TOutputPane::OutputDoubleClicked, this, [this] { Guarded([this] { OutputDblClick(); }, Window); });
}

TCompileControl::~TCompileControl() {
    delete DosCommand1;  // ends a running compile before the handlers go away
    DosCommand1 = nullptr;
    delete Runner;  // and a running program
    Runner = nullptr;
}

void TCompileControl::CompileClick() {
    TMDIChild *doc = Docs.ActiveMDIChild();
    if (!doc) return;
    // The compile's rows are what the user wants to see now.
    Pane.TabSet1->setCurrentIndex(0);
    if (doc->Changed) doc->Save();
    const QString S = doc->FileName;
    if (NeedsCompile(S)) {
        AppendOutput(buildcmd::StartLine(S));
        RunCompiler(S);
    } else {
        AppendOutput(buildcmd::NotNeededLine(S));
    }
}

QStringList TCompileControl::ProjectFiles() const { return Project.FilePaths(); }

bool TCompileControl::NeedsCompile(const QString &source) const {
    return buildcmd::NeedsCompile(source, Project.FilePaths());
}

bool TCompileControl::RunCompiler(const QString &source) {
    const QString C = buildcmd::CompilerCommandLine(source);
    AppendOutput(buildcmd::EchoLine(C));
    if (const QString inTheWay = buildcmd::CharacterInTheWay(source); !inTheWay.isEmpty()) {
        AppendOutput(buildcmd::PathRefusedLine(inTheWay));
        return false;
    }
    // The program sees its arguments in the file system's encoding.
    const bool ok = DosCommand1->StartCommand(QFile::encodeName(C), QByteArray());
    if (!ok) AppendOutput(buildcmd::StartFailedLine);
    UpdateCompileItems(DosCommand1->IsOnExecution());
    return ok;
}

bool TCompileControl::RunLinker(const QString &program, const QStringList &objects) {
    const QString C = buildcmd::LinkerCommandLine(program, objects);
    AppendOutput(buildcmd::EchoLine(C));
    QStringList paths = objects;
    paths << program;
    for (const QString &path : std::as_const(paths)) {
        if (const QString inTheWay = buildcmd::CharacterInTheWay(path); !inTheWay.isEmpty()) {
            AppendOutput(buildcmd::PathRefusedLine(inTheWay));
            return false;
        }
    }
    const bool ok = DosCommand1->StartCommand(QFile::encodeName(C), QByteArray());
    if (!ok) AppendOutput(buildcmd::LinkerStartFailedLine);
    UpdateCompileItems(DosCommand1->IsOnExecution());
    return ok;
}

QString TCompileControl::ProjectFile() const { return ProjectFileName ? ProjectFileName() : QString(); }

QString TCompileControl::ProgramPath(const QStringList &sources) const {
    // A first node with a path is a file, not the project's name.
    const bool named = !Project.IsEmpty() && !Project.Nodes.first().HasPath;
    return buildcmd::ProgramPath(ProjectFile(), named ? Project.Name() : QString(), sources);
}

void TCompileControl::DosCommand1OutputLine(TDosCommand *, const QByteArray &Str) {
    // Each line is decoded whole, so a double-byte character is never split.
    Pane.Output->AppendLine(Str);
    // A build counts the files whose compiler printed a message; no message
    // is longer than a few lines' worth.
    if (BuildRun->IsRunning() && !BuildRun->IsLinking() && Str.size() < (1 << 16))
        BuildRun->CompilerLine(sjis::decode(Str));
}

void TCompileControl::DosCommand1Terminate(TDosCommand *) {
    const bool linking = BuildRun->IsLinking();
    if (DosCommand1->IsStopping()) AppendOutput(linking ? buildcmd::LinkStoppedLine : buildcmd::StoppedLine);
    AppendOutput(linking ? buildcmd::LinkEndLine : buildcmd::EndLine);
    UpdateCompileItems(false);  // the run is over once this returns
    BuildRun->CompilerEnded(DosCommand1->ExitCode(), DosCommand1->IsStopping());
}

void TCompileControl::StopCompileClick() {
    PendingRun = NoRun;  // a stopped build runs nothing afterwards
    BuildRun->Stop();
    DosCommand1->StopCommand();
    Runner->Stop();
}

void TCompileControl::RunClick() { StartRun(false); }

void TCompileControl::DosBoxRunClick() { StartRun(true); }

void TCompileControl::StartRun(bool window) {
    if (BuildRun->IsRunning() || DosCommand1->IsOnExecution() || Runner->IsRunning()) return;
    Pane.TabSet1->setCurrentIndex(0);
    PendingRun = window ? WindowRun : HeadlessRun;
    if (!BuildRun->Start(false)) PendingRun = NoRun;
}

void TCompileControl::BuildFinished(bool programReady) {
    const auto pending = PendingRun;
    PendingRun = NoRun;
    if (pending == NoRun) return;
    if (!programReady) {
        AppendOutput(TRunProgram::NotBuiltLine);
        return;
    }
    const QString P = BuildRun->Program();
    const bool window = pending == WindowRun;
    AppendOutput(TRunProgram::StartLine(P, window));
    QString why;
    switch (Runner->Start(P, window, &why)) {
    case TRunProgram::Started:
    case TRunProgram::Busy: break;
    case TRunProgram::NoDosBox: AppendOutput(TRunProgram::NoDosBoxLine); break;
    case TRunProgram::NoProgram: AppendOutput(TRunProgram::NoProgramLine(P)); break;
    case TRunProgram::CannotPrepare: AppendOutput(TRunProgram::CannotPrepareLine(why)); break;
    }
    UpdateCompileItems(DosCommand1->IsOnExecution());
}

void TCompileControl::RunnerTerminate(int how, int exitCode) {
    switch (how) {
    case TRunProgram::Ended: AppendOutput(TRunProgram::EndLine(exitCode)); break;
    case TRunProgram::Stopped: AppendOutput(TRunProgram::StoppedLine); break;
    case TRunProgram::TooMuchOutput: AppendOutput(TRunProgram::TooMuchLine); break;
    default: {
        // DOSBox's last words say why.
        AppendOutput(TRunProgram::FailedLine);
        const QList<QByteArray> log = Runner->DosBoxLog();
        for (qsizetype i = std::max<qsizetype>(0, log.size() - 8); i < log.size(); ++i)
            AppendOutput(QStringLiteral("  ") + QString::fromLocal8Bit(log.at(i)));
        break;
    }
    }
    if (how != TRunProgram::Ended) AppendOutput(TRunProgram::StoppedEndLine);
    UpdateCompileItems(DosCommand1->IsOnExecution());
}

void TCompileControl::BuildClick() {
    Pane.TabSet1->setCurrentIndex(0);
    BuildRun->Start(false);
}

void TCompileControl::ReBuildClick() {
    Pane.TabSet1->setCurrentIndex(0);
    BuildRun->Start(true);
}

void TCompileControl::UpdateCompileItems(bool compiling) {
    const bool building = BuildRun->IsRunning();
    const bool running = Runner && Runner->IsRunning();
    Items.Compile->setEnabled(!building && !running);
    for (QAction *a : {Items.Build, Items.ReBuild, Items.Run, Items.DosBoxRun})
        if (a) a->setEnabled(!building && !compiling && !running);
    Items.StopCompile->setEnabled(building || compiling || running);
}

void TCompileControl::AppendOutput(const QString &row) { Pane.Output->Append(row); }

void TCompileControl::OutputDblClick() {
    TOutputList *Output = Pane.Output;
    const int count = Output->count();
    if (count == 0) return;
    const int T = Output->TopRow();
    const int R = Output->height() / Output->RowHeight();
    for (int i = 0; i < R; ++i) {
        const int k = T + i;
        if (k >= count) break;
        if (!Output->IsSelected(k)) continue;
        const QString L = Output->Row(k);
        if (buildcmd::IsOwnRow(L)) return;
        const QString F = buildcmd::MessageFileName(L);
        for (int d = 0; d < Docs.MDIChildCount(); ++d) {
            TMDIChild *doc = Docs.MDIChildren(d);
            if (ShortPath(doc->FileName) != F) continue;
            const int n = buildcmd::MessageLineNumber(L);  // a bad number throws before anything moves
            Docs.BringToFront(doc);
            GoToLine(doc, n);
            return;
        }
        return;
    }
}
