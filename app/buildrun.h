#pragma once
// Build and Rebuild: every ".c" file of the project tree, in tree order and
// each path once, goes through the Compile command's steps with its own path
// in place of the active document's: its open document is saved when it is
// changed, Build skips it with the "* " up-to-date row when its object file is
// up to date (Rebuild never does), and otherwise its start row, the echo, the
// compiler's lines and the end row follow. One file at a time: the next one
// starts when the runner has ended the previous run. A file that can't be
// compiled (missing, its document can't be saved, a path the command line
// can't carry, a compiler that won't start) gets its row and the build goes
// on. At the end one summary row; a file counts as having messages when the
// compiler printed a row in the navigable shape ("FILE LINE: text") or ended
// with a nonzero status (the messages of a path with a blank never have that
// shape). A stop ends the running compile and the rest of the build.
//
// Once every source has compiled without failing (or was up to date), the
// project's objects are linked, in tree order, into its program
// (buildcmd::ProgramPath): the link's start row, the echo of the linker's
// command line, the linker's lines and the end row, then
// "* P を作成できませんでした。" when it failed. The link is skipped with its
// "* " row when the program is newer than every object and the project file;
// when a source could not be compiled or its compiler failed nothing is linked
// and one "* " row says so. The summary row comes last.
//
// The rows go to the Output pane through the compile controller's AppendOutput,
// the compiles through its NeedsCompile and RunCompiler, the link through its
// RunLinker; the controller hands every compiler line and the end of every run
// on (CompilerLine, CompilerEnded).
#include <QObject>
#include <QStringList>

#include <functional>

class TCompileControl;

class TBuildRun : public QObject {
    Q_OBJECT
public:
    explicit TBuildRun(TCompileControl *control);

    // Build (everything = false) or Rebuild (true). Does nothing while a build
    // or a compile runs. True when a build started (a project without
    // sources gets its row and no build).
    bool Start(bool everything);
    // Called once a started build has written its summary row: true when the
    // program is there and up to date (everything compiled and linked).
    std::function<void(bool programReady)> OnFinished;
    // The program of the latest build.
    QString Program() const { return ProgramFile; }
    // Asks the build to end after the run in progress, which the caller stops.
    void Stop();
    bool IsRunning() const { return Running; }

    void CompilerLine(const QString &row);
    // The end of a compile, or of the link while one runs.
    void CompilerEnded(quint32 exitCode, bool stopped);
    bool IsLinking() const { return Linking; }

    // The sources of a build: the ".c" paths (any letter case) among paths,
    // in their order, each once.
    static QStringList Sources(const QStringList &paths);

    // The build's own rows.
    static const QString NoSourcesLine;  // "* プロジェクトにコンパイルする .c ファイルがありません。"
    static const QString StoppedLine;    // "* ビルドを中止しました。"
    static QString MissingLine(const QString &S);
    static QString NotSavedLine(const QString &S);
    static QString SummaryLine(bool rebuild, int compiled, int withMessages, int upToDate, int notCompiled);

private:
    void Next();
    void Link();
    void Finish();

    TCompileControl *Form;
    QStringList Files;
    qsizetype Index = 0;
    bool Everything = false;
    bool Running = false;
    bool StopRequested = false;
    bool CurrentHasMessages = false;
    bool Linking = false;
    bool ProgramReady = false;
    QString ProgramFile;
    int Compiled = 0, WithMessages = 0, UpToDate = 0, NotCompiled = 0, Failed = 0;
};
