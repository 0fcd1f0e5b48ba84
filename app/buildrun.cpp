#include "buildrun.h"

#include "childwin.h"
#include "compile.h"
#include "errorreport.h"
#include "compilecontrol.h"
#include "documents.h"
#include "pathext.h"
#include "tdoscmd.h"

#include <QFileInfo>
#include <QTimer>

namespace {

// A compiler row in the shape that a double-click navigates by: a file field,
// a blank, a line number and ":".
bool IsMessageRow(const QString &row) {
    if (buildcmd::IsOwnRow(row) || buildcmd::MessageFileName(row).trimmed().isEmpty()) return false;
    try {
        return buildcmd::MessageLineNumber(row) > 0;
    } catch (const EQvError &) {
        return false;
    }
}

}  // namespace

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

TBuildRun::TBuildRun(TCompileControl *control) : QObject(control), Form(control) {}

bool TBuildRun::Start(bool everything) {
    if (Running || Form->DosCommand1->IsOnExecution()) return false;
    // The files are those of the tree as it is now; the headers of the
    // up-to-date test are read afresh for each file.
    Files = Sources(Form->ProjectFiles());
    if (Files.isEmpty()) {
        Form->AppendOutput(NoSourcesLine);
        return false;
    }
    Everything = everything;
    Index = 0;
    Compiled = WithMessages = UpToDate = NotCompiled = Failed = 0;
    StopRequested = false;
    Linking = ProgramReady = false;
    ProgramFile.clear();
    Running = true;
    Next();
    return true;
}

void TBuildRun::Stop() {
    if (Running) StopRequested = true;
}

void TBuildRun::CompilerLine(const QString &row) {
    if (Running && IsMessageRow(row)) CurrentHasMessages = true;
}

void TBuildRun::CompilerEnded(quint32 exitCode, bool stopped) {
    if (!Running) return;  // a Compile of its own
    if (Linking) {
        Linking = false;
        if (stopped) StopRequested = true;
        else if (exitCode != 0) Form->AppendOutput(buildcmd::LinkFailedLine(ProgramFile));
        ProgramReady = !stopped && exitCode == 0;
        QTimer::singleShot(0, this, &TBuildRun::Finish);
        return;
    }
    if (stopped) {
        StopRequested = true;
    } else {
        ++Compiled;
        if (CurrentHasMessages || exitCode != 0) ++WithMessages;
        if (exitCode != 0) ++Failed;
    }
    // The runner takes no new command before its end handling is over.
    QTimer::singleShot(0, this, &TBuildRun::Next);
}

void TBuildRun::Next() {
    while (Index < Files.size() && !StopRequested) {
        const QString S = Files.at(Index++);
        bool saved = true;
        for (int i = 0; i < Form->Docs.MDIChildCount(); ++i) {
            TMDIChild *doc = Form->Docs.MDIChildren(i);
            if (doc->FileName != S || !doc->Changed) continue;
            // A failure is reported as Compile reports it; the build goes on.
            saved = Guarded([doc] { doc->Save(); }, Form->Window) && !doc->Changed;
            break;
        }
        if (!saved) {
            Form->AppendOutput(NotSavedLine(S));
            ++NotCompiled;
        } else if (!QFileInfo(S).isFile()) {
            Form->AppendOutput(MissingLine(S));
            ++NotCompiled;
        } else if (!Everything && !Form->NeedsCompile(S)) {
            Form->AppendOutput(buildcmd::NotNeededLine(S));
            ++UpToDate;
        } else {
            Form->AppendOutput(buildcmd::StartLine(S));
            CurrentHasMessages = false;
            if (Form->RunCompiler(S)) return;  // CompilerEnded goes on
            ++NotCompiled;
        }
    }
    Link();
}

void TBuildRun::Link() {
    if (StopRequested) {
        Finish();
        return;
    }
    if (NotCompiled > 0 || Failed > 0) {
        Form->AppendOutput(buildcmd::NotLinkedLine);
        Finish();
        return;
    }
    QStringList objects;
    for (const QString &S : std::as_const(Files)) objects << buildcmd::ObjectPath(S);
    ProgramFile = Form->ProgramPath(Files);
    if (!buildcmd::NeedsLink(ProgramFile, objects, Form->ProjectFile())) {
        Form->AppendOutput(buildcmd::LinkNotNeededLine(ProgramFile));
        ProgramReady = true;
        Finish();
        return;
    }
    Form->AppendOutput(buildcmd::LinkStartLine(ProgramFile));
    Linking = true;
    if (Form->RunLinker(ProgramFile, objects)) return;  // CompilerEnded goes on
    Linking = false;
    Finish();
}

void TBuildRun::Finish() {
    if (StopRequested) Form->AppendOutput(StoppedLine);
    Form->AppendOutput(SummaryLine(Everything, Compiled, WithMessages, UpToDate, NotCompiled));
    const bool ready = ProgramReady && !StopRequested;
    Running = false;
    StopRequested = false;
    Form->UpdateCompileItems(false);
    if (OnFinished) OnFinished(ready);
}
