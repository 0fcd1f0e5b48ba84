#pragma once
// Build and Rebuild: every ".c" file of the project tree, in tree order and
// each path once, goes through the Compile command's steps with its own path
// in place of the active document's: its open document is saved when it is
// changed, Build skips it with the "* " up-to-date row when its object file is
// up to date (Rebuild never does), and otherwise it is compiled. A file that
// can't be compiled (missing, its document can't be saved, a path the command
// line can't carry, a compiler that won't start) gets its row and the build
// goes on.
//
// Up to JobCount() files compile at once, each on a runner of its own (as
// many as there are cores unless Jobs says otherwise); the files are taken
// in tree order whenever a runner is free. The rows of one file's compile
// stay together: its start row, the echo, the compiler's lines and the end
// row reach the pane at once when that compile ends, so the files' groups
// come in the order their compiles end. A file that is not compiled gets its
// row when its turn comes. Stop ends every running compile; each of them
// still brings its group, with the stop row. At the end one summary row; a
// file counts as having messages when the compiler printed a row in the
// navigable shape (buildcmd::ParseMessage) or ended with a nonzero status.
//
// Once every source has compiled without failing (or was up to date), the
// project's objects are linked, in tree order, into its program
// (buildcmd::ProgramPath) by the controller's runner DosCommand1: the link's
// start row, the echo of the linker's command line, the linker's lines as
// they come and the end row, then "* P を作成できませんでした。" when it
// failed. The link is skipped with its "* " row when the program is newer
// than every object and the project file; when a source could not be
// compiled or its compiler failed nothing is linked and one "* " row says
// so. The summary row comes last.
//
// A build asks what it needs of its host (TBuildHost, which the compile
// controller is): the save, the up-to-date test and the start of each
// compile, and the link on the host's own runner, whose end the host hands on
// (LinkEnded). It tells what it does through its signals: the rows for the
// Output pane, the end of each compile, a change of what runs, and its end.
#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class TDosCommand;

// What a build asks of the one who runs it: the steps that Compile takes as
// well, and the link.
class TBuildHost {
public:
    // Saves the open document of `source` when it is changed: false when it
    // stays changed (a failure is reported as Compile reports it).
    virtual bool SaveDocumentOf(const QString &source) = 0;
    virtual bool NeedsCompile(const QString &source) const = 0;
    // Echoes the compiler's command line and starts it on `runner`; the rows
    // go to `row`. False (with its row) when it did not start.
    virtual bool StartCompiler(TDosCommand *runner, const QString &source,
                               const std::function<void(const QString &)> &row) = 0;
    // A line that the compiler of `source` printed: true for a message row.
    virtual bool NoteCompilerLine(const QString &source, const QByteArray &line) = 0;
    // Where the program of `sources` goes, and the project file it is newer than.
    virtual QString ProgramPath(const QStringList &sources) const = 0;
    virtual QString ProjectFile() const = 0;
    // Echoes the linker's command line and starts it; false (with its row)
    // when it did not start.
    virtual bool RunLinker(const QString &program, const QStringList &objects) = 0;

protected:
    ~TBuildHost() = default;
};

class TBuildRun : public QObject {
    Q_OBJECT
public:
    // Each compile's runner takes the settings that `settings` has when the
    // compile starts (the host's own runner in the program).
    TBuildRun(TBuildHost &host, const TDosCommand &settings, QObject *parent);
    ~TBuildRun() override;

    // Build (everything = false) or Rebuild (true) of the ".c" files among
    // `paths` (the project's files). Does nothing while a build runs. True
    // when a build started (a project without sources gets its row and no
    // build).
    bool Start(bool everything, const QStringList &paths);
    // The program of the latest build.
    QString Program() const { return ProgramFile; }
    // Ends every running compile and the rest of the build; a link under way
    // is the caller's to stop (it runs on the controller's runner).
    void Stop();
    bool IsRunning() const { return Running; }
    // The end of the link.
    void LinkEnded(quint32 exitCode, bool stopped);
    bool IsLinking() const { return Linking; }

    // How many files compile at once at most; 0 (the default) or less: as many
    // as there are cores. Read when a build starts.
    int Jobs = 0;
    int JobCount() const;
    // The compiles running now.
    int RunningCompiles() const;

    // What the latest build did, for the status line.
    struct TCounts {
        int Compiled = 0, WithMessages = 0, UpToDate = 0, NotCompiled = 0, Failed = 0;
    };
    const TCounts &Counts() const { return Count; }
    bool WasStopped() const { return Stopped; }
    bool IsRebuild() const { return Everything; }

    // The sources of a build: the ".c" paths (any letter case) among paths,
    // in their order, each once.
    static QStringList Sources(const QStringList &paths);

    // The build's own rows.
    static const QString NoSourcesLine;  // "* プロジェクトにコンパイルする .c ファイルがありません。"
    static const QString StoppedLine;    // "* ビルドを中止しました。"
    static QString MissingLine(const QString &S);
    static QString NotSavedLine(const QString &S);
    static QString SummaryLine(bool rebuild, int compiled, int withMessages, int upToDate, int notCompiled);

signals:
    // A row of the build's own for the Output pane, and a line of a compiler,
    // decoded when it reaches the pane.
    void Row(const QString &row);
    void CompilerLine(const QByteArray &line);
    // The compile of `source` has ended; its rows are in the pane.
    void CompileEnded(const QString &source);
    // The compiles running changed.
    void Changed();
    // A started build has written its summary row: programReady when the
    // program is there and up to date (everything compiled and linked).
    void Finished(bool programReady);

private:
    struct TJob;
    void Next();
    void JobEnded(TJob *job);
    void Link();
    void Finish();
    TJob *FreeJob();

    TBuildHost &Host;
    const TDosCommand &Settings;
    std::vector<std::unique_ptr<TJob>> Pool;  // one runner each, made when first needed
    QStringList Files;
    qsizetype Index = 0;
    bool Everything = false;
    bool Running = false;
    bool StopRequested = false;
    bool Stopped = false;
    bool Linking = false;
    bool ProgramReady = false;
    bool NextQueued = false;
    QString ProgramFile;
    TCounts Count;
};
