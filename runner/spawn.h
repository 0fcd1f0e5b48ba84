#pragma once
// Starting a child with its output on a pipe, without a shell (POSIX).
#include <QByteArray>
#include <QList>

#include <climits>
#include <sys/types.h>

// The file that the command word names: a word holding "/" is a path, taken
// relative to the current directory when it isn't absolute; any other word is
// looked up in the directories of PATH (an empty entry is the current
// directory; without PATH, /bin:/usr/bin), and the first executable regular
// file wins. The result is absolute, so that a working directory given to the
// child doesn't change which program runs. Empty when nothing is found.
QByteArray FindProgram(const QByteArray &word);

// Nice value for the child. KeepNice leaves it at the parent's.
constexpr int KeepNice = INT_MIN;

struct TSpawnedChild {
    pid_t Pid = -1;      // the child; the caller reaps it
    int ReadEnd = -1;    // read end of its output pipe: close-on-exec and non-blocking
};

// Starts `program` with `args` (args[0] is the name the child sees) in
// `workingDirectory` (empty: the current directory), its standard output and
// standard error both on the write end of one new pipe, its standard input
// on /dev/null, and no other descriptor of this process. The child leads a
// process group of its own so that it and its helpers can be ended together.
// `nice` is tried in the child; where it is not allowed the child keeps the
// parent's value.
// Returns false, with errno-style code in *error, when the pipe can't be made
// or the child can't change to the directory or run the program; nothing is
// left open and no child is left behind in that case.
bool SpawnWithPipe(const QByteArray &program, const QList<QByteArray> &args,
                   const QByteArray &workingDirectory, int nice, TSpawnedChild *child,
                   int *error = nullptr);

// Waits for the child and returns its exit status as the runner reports it:
// the status it exited with, or 128 + the signal that ended it. -1 when the
// status is not to be had (the child was reaped elsewhere).
int ReapChild(pid_t pid);
