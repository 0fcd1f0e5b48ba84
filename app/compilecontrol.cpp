#include "compilecontrol.h"

#include "buildrun.h"
#include "childwin.h"
#include "compile.h"
#include "documents.h"
#include "errorreport.h"
#include "outputpane.h"
#include "project.h"
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
    connect(&Pane, &TOutputPane::OutputDoubleClicked, this, [this] { Guarded([this] { OutputDblClick(); }, Window); });
}

TCompileControl::~TCompileControl() {
    delete DosCommand1;  // ends a running compile before the handlers go away
    DosCommand1 = nullptr;
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

void TCompileControl::DosCommand1OutputLine(TDosCommand *, const QByteArray &Str) {
    // Each line is decoded whole, so a double-byte character is never split.
    Pane.Output->AppendLine(Str);
    // A build counts the files whose compiler printed a message; no message
    // is longer than a few lines' worth.
    if (BuildRun->IsRunning() && Str.size() < (1 << 16)) BuildRun->CompilerLine(sjis::decode(Str));
}

void TCompileControl::DosCommand1Terminate(TDosCommand *) {
    if (DosCommand1->IsStopping()) AppendOutput(buildcmd::StoppedLine);
    AppendOutput(buildcmd::EndLine);
    UpdateCompileItems(false);  // the run is over once this returns
    BuildRun->CompilerEnded(DosCommand1->ExitCode(), DosCommand1->IsStopping());
}

void TCompileControl::StopCompileClick() {
    BuildRun->Stop();
    DosCommand1->StopCommand();
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
    Items.Compile->setEnabled(!building);
    Items.Build->setEnabled(!building && !compiling);
    Items.ReBuild->setEnabled(!building && !compiling);
    Items.StopCompile->setEnabled(building || compiling);
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
