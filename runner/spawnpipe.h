#pragma once
// Starting a child with its output on a pipe, without a shell (POSIX). The one
// way programs are started here: the command runner starts the compiler
// through it, and lcc86.exe starts the host C compiler through it.
#include <QByteArray>
#include <QList>

#include <climits>
#include <sys/types.h>

// The file that the command word names: a word holding "/" is a path, taken
// relative to the current directory when it isn't absolute; any other word is
// looked up in the absolute directories of PATH (without PATH, /bin:/usr/bin),
// and the first executable regular file wins. Empty and relative PATH entries
// are passed over: they would name the current directory, or one below it,
// and a program started from an untrusted folder must not run that folder's
// files by name. The result is absolute, so that a working directory given to
// the child doesn't change which program runs. Empty when nothing is found.
QByteArray FindProgram(const QByteArray &word);

// Nice value for the child. KeepNice leaves it at the parent's.
constexpr int KeepNice = INT_MIN;

struct TSpawnOptions {
    QByteArray WorkingDirectory;          // empty: this process's current directory
    char *const *Environment = nullptr;   // null: this process's environment
    bool OwnProcessGroup = true;          // the child leads a new process group
    int Nice = KeepNice;                  // tried; where not allowed, the parent's value
};

struct TSpawnedChild {
    pid_t Pid = -1;      // the child; the caller reaps it
    int ReadEnd = -1;    // read end of its output pipe: close-on-exec
};

// Starts `program` (a path, not looked up) with `args` (args[0] is the name
// the child sees), its standard output and standard error both on the write
// end of one new pipe, its standard input on /dev/null, every signal at its
// default action and none blocked, and no other descriptor of this process.
// Returns false, with an errno-style code in *error, when the pipe can't be
// made or the child can't change to the directory or run the program: such
// failures come back from the child before this returns, and nothing is left
// open and no child is left behind.
bool SpawnWithPipe(const QByteArray &program, const QList<QByteArray> &args, const TSpawnOptions &options,
                   TSpawnedChild *child, int *error = nullptr);

// Waits for the child and returns its exit status as the runner reports it:
// the status it exited with, or 128 + the signal that ended it. -1 when the
// status is not to be had (the child was reaped elsewhere).
int ReapChild(pid_t pid);
