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
// The rows go to the Output pane through the compile controller's AppendOutput,
// and the compiles through its NeedsCompile and RunCompiler; the controller
// hands every compiler line and the end of every run on (CompilerLine,
// CompilerEnded).
#include <QObject>
#include <QStringList>

class TCompileControl;

class TBuildRun : public QObject {
    Q_OBJECT
public:
    explicit TBuildRun(TCompileControl *control);

    // Build (everything = false) or Rebuild (true). Does nothing while a build
    // or a compile runs.
    void Start(bool everything);
    // Asks the build to end after the run in progress, which the caller stops.
    void Stop();
    bool IsRunning() const { return Running; }

    void CompilerLine(const QString &row);
    void CompilerEnded(quint32 exitCode, bool stopped);

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
    void Finish();

    TCompileControl *Form;
    QStringList Files;
    qsizetype Index = 0;
    bool Everything = false;
    bool Running = false;
    bool StopRequested = false;
    bool CurrentHasMessages = false;
    int Compiled = 0, WithMessages = 0, UpToDate = 0, NotCompiled = 0;
};
