#pragma once
// Compile, Build, Rebuild, Run and Stop: the runner `DosCommand1`, the build
// `BuildRun` and the program's run `Runner`, the rows they put in the Output
// pane, the commands' enabled states, the note in the status line on how a
// Compile or Build ended, the compiler's messages of each file, and the jump
// from a message row to its file and line.
//
// Compile runs on the active document, saved first when it is changed; a file
// whose object file is up to date gets the "* " row instead of a run. Build
// and Rebuild go through the project's ".c" files, several at once, and link
// them (buildrun.h). Run builds what is out of date and, once the program is
// there, runs it in DOSBox without a window, its output in the pane as rows
// and an end row with its exit code; Run in DOSBox does the same in a DOSBox
// window (runprogram.h). Stop ends whichever of them runs.
//
// A message row leads to the open document that its file field names
// (buildcmd::FindMessageFile: the text before the first blank, or, for a path
// with blanks, the longest part before a blank that is a document's path).
// A double-click on such a row, or F8 / Shift+F8 to the next / previous one
// that names an open document and a line, brings that document forward with
// the line selected.
#include "buildrun.h"
#include "compile.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QLabel;
class QWidget;
class TDocuments;
class TDosCommand;
class TOutputPane;
class TRunProgram;

namespace project {
class Project;
}

class TCompileControl : public QObject, private TBuildHost {
    Q_OBJECT
public:
    struct Commands {
        QAction *Compile, *Build, *ReBuild, *StopCompile;
        QAction *Run = nullptr, *DosBoxRun = nullptr;
    };
    TCompileControl(TDocuments &docs, TOutputPane &pane, const project::Project &project, Commands commands,
                    QWidget *window);
    // Ends a running compile or build before the rest goes.
    ~TCompileControl() override;

    TDosCommand *DosCommand1 = nullptr;
    TBuildRun *BuildRun = nullptr;
    TRunProgram *Runner = nullptr;
    // The project file's path (empty while the project has none); unset, none.
    std::function<QString()> ProjectFileName;

    void CompileClick();
    void BuildClick();    // compiles the project's out-of-date ".c" files, as many at once as there are cores
    void ReBuildClick();  // the same for all of them
    void RunClick();        // builds what is out of date, then runs the program without a window
    void DosBoxRunClick();  // the same in a DOSBox window
    void StopCompileClick();  // ends the running compile, build or program; enabled only while one runs
    // F8 and Shift+F8: the next (previous) row of the Output pane that leads
    // to a line of an open document, after (before) the current row and
    // going round at the end, is selected, shown and followed as a
    // double-click follows it. Nothing happens when no row leads anywhere.
    void NextMessageClick();
    void PrevMessageClick();
    bool NeedsCompile(const QString &source) const override;
    // Compile's step: echoes the compiler's command line and starts it on
    // DosCommand1; false (with its row) when it did not start.
    bool RunCompiler(const QString &source);
    // The same on any runner, the rows going to `row`: the echo, and the row
    // that says why the compiler did not start.
    bool StartCompiler(TDosCommand *runner, const QString &source,
                       const std::function<void(const QString &)> &row) override;
    // Echoes the linker's command line and starts it; false (with its row)
    // when it did not start.
    bool RunLinker(const QString &program, const QStringList &objects) override;
    QString ProjectFile() const override;
    // Where the project's program goes (buildcmd::ProgramPath).
    QString ProgramPath(const QStringList &sources) const override;
    void DosCommand1OutputLine(TDosCommand *Sender, const QByteArray &Str);
    void DosCommand1Terminate(TDosCommand *Sender);
    // Compile, Build and Rebuild are off while a build or a program runs,
    // Build, Rebuild and the two Run entries also while a compile runs; Stop
    // is on while any of them runs.
    void UpdateCompileItems(bool compiling);

    void AppendOutput(const QString &row);
    void AppendCompilerLine(const QByteArray &line);  // decoded whole
    // A double-click on a message row: its file's open document shows the line.
    void OutputDblClick();
    // What a double-click does with row L: the document that L leads to comes
    // forward with the line selected. A line field that is no number throws
    // EQvError before anything moves.
    void NavigateRow(const QString &L);

    // ---- The messages of each file's latest compile ----------------------
    // Every compile of a file (Compile, or one file of a Build or Rebuild)
    // keeps the compiler's rows in the navigable shape (buildcmd::ParseMessage:
    // the file field names the compiled source or an existing file).
    //
    // The messages of the latest compile of `source` (a FileName), in the order
    // the compiler printed them; empty while it compiles and before its first
    // compile.
    QList<buildcmd::TCompilerMessage> Messages(const QString &source) const;
    // Every message that names the file `fileName` (a document's FileName: its
    // ShortPath equals the message's file, as navigation compares them), from
    // the latest compile of each source, sources in path order: a header's
    // messages come from the sources that include it.
    QList<buildcmd::TCompilerMessage> MessagesFor(const QString &fileName) const;
    // The sources whose latest compile's messages are known.
    QStringList CompiledSources() const { return Latest.keys(); }
    // The steps of each compile, for the build and the compile alike.
    void CompileBegun(const QString &source);
    bool NoteCompilerLine(const QString &source, const QByteArray &line) override;  // true for a message row
    void CompileEnded(const QString &source);
    void BuildEnded();

    // The note in the status line on how the latest Compile or Build (or
    // Rebuild, or the build of a Run) ended, kept until the next of these
    // commands begins; a hint covers it only while it shows.
    QLabel *StatusNote = nullptr;
    static QString EndNote(const QString &command, bool stopped, int compiled, int errors, int warnings,
                           int upToDate, int notCompiled);

    TDocuments &Docs;
    QWidget *const Window;

signals:
    // A compile of `source` has started: its earlier messages are gone.
    void CompileStarted(const QString &source);
    // A compile of `source` has ended (or was stopped): Messages(source) holds its rows.
    void CompileMessagesKnown(const QString &source);

private:
    bool SaveDocumentOf(const QString &source) override;
    void StartRun(bool window);
    void BuildFinished(bool programReady);
    void RunnerTerminate(int how, int exitCode);
    void StepMessage(int step);
    void BeginCommand();
    void SetNote(const QString &text);
    QStringList DocumentNames() const;

    enum { NoRun, HeadlessRun, WindowRun } PendingRun = NoRun;  // a Run whose build is under way
    TOutputPane &Pane;
    const project::Project &Project;
    Commands Items;
    QString CompileSource;  // the file of the Compile that DosCommand1 runs
    bool Compiling = false;
    QMap<QString, QList<buildcmd::TCompilerMessage>> Latest;   // by source
    QMap<QString, QList<buildcmd::TCompilerMessage>> Pending;  // compiles under way
    int ErrorRows = 0, WarningRows = 0;  // of the command under way
};
