#pragma once
// How a built program runs in DOSBox: the folder that one run uses and what
// DOSBox is told. QtCore only; the main window's run (runprogram.h) starts
// DOSBox on it and reads the results back.
//
// DOS sees names of at most 8 + 3 characters, so the program never runs
// under its own name: a copy of it, PROG.COM, stands in a run folder of its
// own, mounted as drive Q:, beside the batch file RUN.BAT that runs it and
// the files the run leaves there. The program's own folder (the project's)
// is drive C: and the current drive, so that files the program opens by a
// bare name are those beside it; DOSBox shows C:'s long names in forms of its
// own. A folder whose path holds a double quote can't be mounted and is left
// out (the program then starts on drive Z:).
//
//  - Without a window (DOSBox on SDL's dummy video and audio drivers, as fast
//    as the host allows): standard input is an empty file, so that a program
//    reading it sees its end at once, and standard output goes to OUT.TXT.
//  - In a window: the program has the DOSBox screen and keyboard; once it has
//    ended, DOSBox waits for a key before it closes.
// Either way the program's ERRORLEVEL (0..255) is written to RC.TXT, as
// decimal digits, after it has ended, and DOSBox then ends itself.
#include <QByteArray>
#include <QList>
#include <QString>

namespace dosrun {

inline constexpr char ProgramFile[] = "PROG.COM";
inline constexpr char BatchFile[] = "RUN.BAT";
inline constexpr char ConfigFile[] = "DOSBOX.CNF";
inline constexpr char InputFile[] = "IN.TXT";
inline constexpr char OutputFile[] = "OUT.TXT";
inline constexpr char ExitCodeFile[] = "RC.TXT";

// The DOSBox configuration: the machine, and an [autoexec] that mounts
// `workFolder` as C: and `runFolder` as Q:, runs the batch file and exits.
QByteArray Config(const QString &runFolder, const QString &workFolder, bool window);
// The batch file (CR LF lines).
QByteArray Batch(bool window);

// Fills `runFolder` (which exists) for a run of `program` with `workFolder` as
// C:. False, with the reason in *error, when a file can't be copied or written.
bool PrepareFolder(const QString &runFolder, const QString &program, const QString &workFolder, bool window,
                   QString *error);

// DOSBox's arguments after the program name, for the configuration in runFolder.
QList<QByteArray> Arguments(const QString &runFolder);
// What the environment gets for a run without a window.
QList<QByteArray> HeadlessVariables();

// The ERRORLEVEL that the batch wrote, or -1 when it wrote none.
int ReadExitCode(const QString &runFolder);

}  // namespace dosrun
