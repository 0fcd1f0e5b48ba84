#include "compilecontrol.h"

#include "buildrun.h"
#include "childwin.h"
#include "compile.h"
#include "documents.h"
#include "errorreport.h"
#include "messagemarks.h"
#include "outputpane.h"
#include "project.h"
#include "qverror.h"
#include "runprogram.h"
#include "sjis.h"
#include "tabset.h"
#include "tdoscmd.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>

TCompileControl::TCompileControl(TDocuments &docs, TOutputPane &pane, const project::Project &project,
                                 Commands commands, QWidget *window)
    : QObject(window), Docs(docs), Window(window), Pane(pane), Project(project), Items(commands) {
    DosCommand1 = new TDosCommand(this);
    DosCommand1->setObjectName(QStringLiteral("DosCommand1"));
    DosCommand1->OnOutputLine = [this](TDosCommand *sender, const QByteArray &line) {
        DosCommand1OutputLine(sender, line);
    };
    DosCommand1->OnTerminate = [this](TDosCommand *sender) { DosCommand1Terminate(sender); };
    BuildRun = new TBuildRun(*this, *DosCommand1, this);
    connect(BuildRun, &TBuildRun::Row, this, &TCompileControl::AppendOutput);
    connect(BuildRun, &TBuildRun::CompilerLine, this, &TCompileControl::AppendCompilerLine);
    connect(BuildRun, &TBuildRun::CompileEnded, this, &TCompileControl::CompileEnded);
    connect(BuildRun, &TBuildRun::Changed, this, [this] { UpdateCompileItems(DosCommand1->IsOnExecution()); });
    connect(BuildRun, &TBuildRun::Finished, this, [this](bool programReady) {
        UpdateCompileItems(false);
        BuildEnded();
        BuildFinished(programReady);
    });
    Runner = new TRunProgram(this);
    Runner->setObjectName(QStringLiteral("Runner"));
    Runner->OnOutputLine = [this](const QByteArray &line) { Pane.Output->AppendLine(line); };
    Runner->OnTerminate = [this](TRunProgram::TEnd how, int exitCode) { RunnerTerminate(how, exitCode); };
    connect(&Pane, &TOutputPane::OutputDoubleClicked, this, [this] { Guarded([this] { OutputDblClick(); }, Window); });
    // The note on how the latest compile or build ended: a normal field of the
    // status line, which a hint covers while it shows.
    if (QStatusBar *status = Docs.StatusLine()) {
        StatusNote = new QLabel(status);
        StatusNote->setObjectName(QStringLiteral("StatusNote"));
        status->addWidget(StatusNote, 1);
    }
    // Rebuild's key with Alt is the system's on many desktops (a switch of
    // virtual terminals); the one with Shift reaches the window everywhere.
    Items.ReBuild->setShortcuts({Items.ReBuild->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F7)});
    new TMessageMarks(*this, docs);  // the messages as marks in the documents' margins
}

TCompileControl::~TCompileControl() {
    delete BuildRun;  // ends the running compiles of a build before the handlers go away
    BuildRun = nullptr;
    delete DosCommand1;  // and a running compile
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
    // A Compile refused because one runs leaves the note to that one.
    const bool busy = DosCommand1->IsOnExecution();
    if (!busy) BeginCommand();
    const QString S = doc->FileName;
    if (NeedsCompile(S)) {
        AppendOutput(buildcmd::StartLine(S));
        if (!RunCompiler(S) && !busy) SetNote(EndNote(QStringLiteral("コンパイル"), false, 0, 0, 0, 0, 1));
    } else {
        AppendOutput(buildcmd::NotNeededLine(S));
        if (!busy) SetNote(EndNote(QStringLiteral("コンパイル"), false, 0, 0, 0, 1, 0));
    }
}

bool TCompileControl::NeedsCompile(const QString &source) const {
    return buildcmd::NeedsCompile(source, Project.FilePaths());
}

bool TCompileControl::SaveDocumentOf(const QString &source) {
    for (int i = 0; i < Docs.MDIChildCount(); ++i) {
        TMDIChild *doc = Docs.MDIChildren(i);
        if (doc->FileName != source || !doc->Changed) continue;
        return Guarded([doc] { doc->Save(); }, Window) && !doc->Changed;
    }
    return true;
}

bool TCompileControl::RunCompiler(const QString &source) {
    const bool ok = StartCompiler(DosCommand1, source, [this](const QString &row) { AppendOutput(row); });
    if (ok) {
        CompileSource = source;
        Compiling = true;
    }
    UpdateCompileItems(DosCommand1->IsOnExecution());
    return ok;
}

bool TCompileControl::StartCompiler(TDosCommand *runner, const QString &source,
                                    const std::function<void(const QString &)> &row) {
    const QString C = buildcmd::CompilerCommandLine(source);
    row(buildcmd::EchoLine(C));
    if (const QString inTheWay = buildcmd::CharacterInTheWay(source); !inTheWay.isEmpty()) {
        row(buildcmd::PathRefusedLine(inTheWay));
        return false;
    }
    // The program sees its arguments in the file system's encoding.
    if (!runner->StartCommand(QFile::encodeName(C), QByteArray())) {
        row(buildcmd::StartFailedLine);
        return false;
    }
    CompileBegun(source);
    return true;
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
    AppendCompilerLine(Str);
    if (Compiling) NoteCompilerLine(CompileSource, Str);
}

void TCompileControl::DosCommand1Terminate(TDosCommand *) {
    const bool linking = BuildRun->IsLinking();
    const bool stopped = DosCommand1->IsStopping();
    if (stopped) AppendOutput(linking ? buildcmd::LinkStoppedLine : buildcmd::StoppedLine);
    AppendOutput(linking ? buildcmd::LinkEndLine : buildcmd::EndLine);
    UpdateCompileItems(false);  // the run is over once this returns
    if (linking) {
        BuildRun->LinkEnded(DosCommand1->ExitCode(), stopped);
    } else if (Compiling) {
        Compiling = false;
        CompileEnded(CompileSource);
        SetNote(EndNote(QStringLiteral("コンパイル"), stopped, stopped ? 0 : 1, ErrorRows, WarningRows, 0, 0));
    }
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
    BeginCommand();
    PendingRun = window ? WindowRun : HeadlessRun;
    if (!BuildRun->Start(false, Project.FilePaths())) PendingRun = NoRun;
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
    if (BuildRun->IsRunning() || DosCommand1->IsOnExecution()) return;
    BeginCommand();
    if (!BuildRun->Start(false, Project.FilePaths())) SetNote(TBuildRun::NoSourcesLine.mid(2));
}

void TCompileControl::ReBuildClick() {
    Pane.TabSet1->setCurrentIndex(0);
    if (BuildRun->IsRunning() || DosCommand1->IsOnExecution()) return;
    BeginCommand();
    if (!BuildRun->Start(true, Project.FilePaths())) SetNote(TBuildRun::NoSourcesLine.mid(2));
}

void TCompileControl::BuildEnded() {
    const TBuildRun::TCounts &c = BuildRun->Counts();
    SetNote(EndNote(BuildRun->IsRebuild() ? QStringLiteral("リビルド") : QStringLiteral("ビルド"),
                    BuildRun->WasStopped(), c.Compiled, ErrorRows, WarningRows, c.UpToDate, c.NotCompiled));
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

void TCompileControl::AppendCompilerLine(const QByteArray &line) { Pane.Output->AppendLine(line); }

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
        NavigateRow(Output->Row(k));
        return;
    }
}

QStringList TCompileControl::DocumentNames() const {
    QStringList names;
    for (int d = 0; d < Docs.MDIChildCount(); ++d) names << Docs.MDIChildren(d)->FileName;
    return names;
}

void TCompileControl::NavigateRow(const QString &L) {
    if (buildcmd::IsOwnRow(L)) return;
    const buildcmd::TMessageFile found = buildcmd::FindMessageFile(L, DocumentNames());
    if (found.Index < 0) return;
    TMDIChild *doc = Docs.MDIChildren(found.Index);
    const int n = buildcmd::MessageLineNumberAt(L, found.Blank);  // a bad number throws before anything moves
    Docs.BringToFront(doc);
    GoToLine(doc, n);
}

namespace {
// Whether row L leads to one of the documents (their FileName) and to a line
// of it: a line field that reads as a number of at least 1.
bool LeadsToLine(const QString &L, const QStringList &names) {
    const buildcmd::TMessageFile found = buildcmd::FindMessageFile(L, names);
    if (found.Index < 0) return false;
    try {
        return buildcmd::MessageLineNumberAt(L, found.Blank) > 0;
    } catch (const EQvError &) {
        return false;
    }
}
}  // namespace

void TCompileControl::NextMessageClick() { StepMessage(1); }

void TCompileControl::PrevMessageClick() { StepMessage(-1); }

void TCompileControl::StepMessage(int step) {
    TOutputList *Output = Pane.Output;
    const int count = Output->count();
    if (count == 0) return;
    const QStringList names = DocumentNames();
    const int from = Output->CurrentRow() >= 0 ? Output->CurrentRow() : step > 0 ? -1 : count;
    for (int k = 1; k <= count; ++k) {
        const int row = int(((qint64(from) + qint64(step) * k) % count + count) % count);
        const QString &L = Output->Row(row);
        if (!LeadsToLine(L, names)) continue;
        Pane.TabSet1->setCurrentIndex(0);
        Output->SelectRow(row);
        Output->ScrollToRow(row);
        NavigateRow(L);
        return;
    }
}

// ---- Messages and the status line's note --------------------------------------

void TCompileControl::BeginCommand() {
    ErrorRows = WarningRows = 0;
    SetNote(QString());
}

void TCompileControl::SetNote(const QString &text) {
    if (StatusNote) StatusNote->setText(text);
}

QString TCompileControl::EndNote(const QString &command, bool stopped, int compiled, int errors, int warnings,
                                 int upToDate, int notCompiled) {
    QString note = command + (stopped ? QStringLiteral("を中止しました") : QStringLiteral("終了")) +
                   QStringLiteral(": %1 個をコンパイル、エラー %2 行、警告 %3 行").arg(compiled).arg(errors).arg(warnings);
    if (upToDate > 0) note += QStringLiteral("、%1 個は最新").arg(upToDate);
    if (notCompiled > 0) note += QStringLiteral("、%1 個はコンパイルできませんでした").arg(notCompiled);
    return note;
}

void TCompileControl::CompileBegun(const QString &source) {
    Latest.remove(source);
    Pending.insert(source, {});
    emit CompileStarted(source);
}

bool TCompileControl::NoteCompilerLine(const QString &source, const QByteArray &line) {
    // A message is a short row with a blank and a colon.
    if (line.size() >= (1 << 16) || !line.contains(' ') || !line.contains(':')) return false;
    buildcmd::TCompilerMessage message;
    const auto isFile = [&source](const QString &file) {
        return (!source.isEmpty() && file == source) || QFileInfo(file).isFile();
    };
    if (!buildcmd::ParseMessage(sjis::decode(line), isFile, &message)) return false;
    (message.Warning ? WarningRows : ErrorRows) += 1;
    Pending[source].append(message);
    return true;
}

void TCompileControl::CompileEnded(const QString &source) {
    Latest.insert(source, Pending.take(source));
    emit CompileMessagesKnown(source);
}

QList<buildcmd::TCompilerMessage> TCompileControl::Messages(const QString &source) const {
    return Latest.value(source);
}

QList<buildcmd::TCompilerMessage> TCompileControl::MessagesFor(const QString &fileName) const {
    const QString path = ShortPath(fileName);
    QList<buildcmd::TCompilerMessage> found;
    for (const QList<buildcmd::TCompilerMessage> &list : Latest)
        for (const buildcmd::TCompilerMessage &m : list)
            if (m.File == path) found << m;
    return found;
}
