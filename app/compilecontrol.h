#pragma once
// Compile, Build, Rebuild, Run and Stop: the runner `DosCommand1`, the build
// `BuildRun` and the program's run `Runner`, the rows they put in the Output
// pane, the commands' enabled states, and the jump from a compiler message to
// its file and line.
//
// Compile runs on the active document, saved first when it is changed; a file
// whose object file is up to date gets the "* " row instead of a run. Build
// and Rebuild go through the project's ".c" files and link them (buildrun.h).
// Run builds what is out of date and, once the program is there, runs it in
// DOSBox without a window, its output in the pane as rows and an end row with
// its exit code; Run in DOSBox does the same in a DOSBox window
// (runprogram.h). Stop ends whichever of them runs.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QWidget;
class TBuildRun;
class TDocuments;
class TDosCommand;
class TOutputPane;
class TRunProgram;

namespace project {
class Project;
}

class TCompileControl : public QObject {
    Q_OBJECT
public:
    struct Commands {
        QAction *Compile, *Build, *ReBuild, *StopCompile;
        QAction *Run = nullptr, *DosBoxRun = nullptr;
    };
    TCompileControl(TDocuments &docs, TOutputPane &pane, const project::Project &project, Commands commands,
                    QWidget *window);
    // Ends a running compile before the rest goes.
    ~TCompileControl() override;

    TDosCommand *DosCommand1 = nullptr;
    TBuildRun *BuildRun = nullptr;
    TRunProgram *Runner = nullptr;
    // The project file's path (empty while the project has none); unset, none.
    std::function<QString()> ProjectFileName;

    void CompileClick();
    void BuildClick();    // compiles the project's out-of-date ".c" files one after another
    void ReBuildClick();  // the same for all of them
    void RunClick();        // builds what is out of date, then runs the program without a window
    void DosBoxRunClick();  // the same in a DOSBox window
    void StopCompileClick();  // ends the running compile, build or program; enabled only while one runs
    bool NeedsCompile(const QString &source) const;
    // The paths of the project's file nodes.
    QStringList ProjectFiles() const;
    bool RunCompiler(const QString &source);
    // Echoes the linker's command line and starts it; false (with its row)
    // when it did not start.
    bool RunLinker(const QString &program, const QStringList &objects);
    QString ProjectFile() const;
    // Where the project's program goes (buildcmd::ProgramPath).
    QString ProgramPath(const QStringList &sources) const;
    void DosCommand1OutputLine(TDosCommand *Sender, const QByteArray &Str);
    void DosCommand1Terminate(TDosCommand *Sender);
    // Compile, Build and Rebuild are off while a build or a program runs,
    // Build, Rebuild and the two Run entries also while a compile runs; Stop
    // is on while any of them runs.
    void UpdateCompileItems(bool compiling);

    void AppendOutput(const QString &row);
    // A double-click on a message row: its file's open document shows the line.
    void OutputDblClick();

    TDocuments &Docs;
    QWidget *const Window;

private:
    void StartRun(bool window);
    void BuildFinished(bool programReady);
    void RunnerTerminate(int how, int exitCode);

    enum { NoRun, HeadlessRun, WindowRun } PendingRun = NoRun;  // a Run whose build is under way
    TOutputPane &Pane;
    const project::Project &Project;
    Commands Items;
};
