#pragma once
// Compile, Build, Rebuild and Stop: the runner `DosCommand1` and the build
// `BuildRun`, the rows they put in the Output pane, the commands' enabled
// states, and the jump from a compiler message to its file and line.
//
// Compile runs on the active document, saved first when it is changed; a file
// whose object file is up to date gets the "* " row instead of a run. Build
// and Rebuild go through the project's ".c" files (buildrun.h).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QAction;
class QWidget;
class TBuildRun;
class TDocuments;
class TDosCommand;
class TOutputPane;

namespace project {
class Project;
}

class TCompileControl : public QObject {
    Q_OBJECT
public:
    struct Commands {
        QAction *Compile, *Build, *ReBuild, *StopCompile;
    };
    TCompileControl(TDocuments &docs, TOutputPane &pane, const project::Project &project, Commands commands,
                    QWidget *window);
    // Ends a running compile before the rest goes.
    ~TCompileControl() override;

    TDosCommand *DosCommand1 = nullptr;
    TBuildRun *BuildRun = nullptr;

    void CompileClick();
    void BuildClick();    // compiles the project's out-of-date ".c" files one after another
    void ReBuildClick();  // the same for all of them
    void StopCompileClick();  // ends the running compile and build; enabled only while one runs
    bool NeedsCompile(const QString &source) const;
    // The paths of the project's file nodes.
    QStringList ProjectFiles() const;
    bool RunCompiler(const QString &source);
    void DosCommand1OutputLine(TDosCommand *Sender, const QByteArray &Str);
    void DosCommand1Terminate(TDosCommand *Sender);
    // Compile, Build and Rebuild are off while a build runs, Build and Rebuild
    // also while a compile runs; Stop is on while either runs.
    void UpdateCompileItems(bool compiling);

    void AppendOutput(const QString &row);
    // A double-click on a message row: its file's open document shows the line.
    void OutputDblClick();

    TDocuments &Docs;
    QWidget *const Window;

private:
    TOutputPane &Pane;
    const project::Project &Project;
    Commands Items;
};
