#pragma once
// TDosCommand: runs one console command at a time as a hidden child process
// and hands everything it writes to standard output and standard error, byte
// by byte and line by line, to the thread that owns the component (the GUI
// thread), followed by one OnTerminate when the child has ended.
//
// Bytes pass unconverted (Shift-JIS stays Shift-JIS). What makes a line:
// LF ends a line and is not part of it; one CR right before the LF is cut
// (CR CR LF keeps one CR); a lone CR ends nothing; a byte 0 reaches
// OnOutputChar but not the line; the text after the last LF arrives as one
// more line once the child has ended. Every byte, the LF included, reaches
// OnOutputChar before its line reaches OnOutputLine.
//
// Starting:
//  - The command line is split into words by SplitCommandLine (cmdline.h);
//    no shell is involved, so ; | $(...) and backquotes reach the program as
//    plain text. The first word is the program: a word holding "/" is a path
//    (relative to the runner's current directory), anything else is looked
//    up in the absolute directories of PATH only: an empty or relative entry
//    would run a program from whatever directory the runner was started in
//    (FindProgram, spawnpipe.h).
//  - An empty working directory runs the child in the runner's current
//    directory; otherwise the child starts in the given one.
//  - The child's standard output and standard error are the write end of one
//    pipe, its standard input is /dev/null, and no other descriptor of this
//    process reaches it. It leads a process group of its own.
//  - StartCommand returns false, changing nothing, while a run is in progress
//    (also from within OnTerminate). It returns false, keeping ExitCode, when
//    the command line holds no program, the program is not found or can't be
//    run (also when the arguments are too long for the system), or the working
//    directory doesn't exist: exec and chdir failures in the child come back
//    to the parent before StartCommand returns.
//  - The command line and the working directory end at their first NUL
//    byte, if they hold one.
//
// Priority, as the child's nice value:
//    dcpIdle      19, the lowest priority;
//    dcpHigh      -10, when the runner may raise priorities and its own nice
//                 value is higher; otherwise the runner's own value;
//    dcpRealTime  -20, under the same condition (no real-time scheduling);
//    dcpNormal and any value outside the enumeration: the runner's own value.
//
// ExitCode: 0 after a successful start; once the run has ended, the status the
// child exited with (0..255: the system keeps only the low byte, so 259 comes
// out as 3), or 128 + the number of the signal that ended it; it stays 0 when
// the status is lost (a process that ignores SIGCHLD has the system discard
// its children's statuses). The child is
// reaped exactly once, by the owner thread; until then its process id can't be
// reused, so signalling it is always safe.
//
// Threads: each run has its own TPipeReader thread. It sleeps in one poll on
// the pipe, on a process descriptor of the child (pidfd, readable once the
// child has ended) and on an eventfd that a stop request writes to, so it
// wakes only when there is something to do; where no process descriptor can
// be had it looks at the child (waitid without reaping) every 5 ms instead.
// The pipe is made to hold 1 MiB where the system allows it, so that the
// child can write ahead while the owner thread is busy. The reader reads what
// is there (up to 256 KiB at a time) straight into the buffer of the next
// batch, behind the line that the last read left open, so that a CR LF or a
// double-byte character cut by a read's end still comes out whole; it finds
// the LFs with memchr and posts the bytes and the finished lines (spans of
// that buffer) to the owner thread as one batch,
// QMetaObject::invokeMethod(reader, ..., Qt::QueuedConnection). The buffers
// of delivered batches serve later reads again. It runs at
// most four batches ahead of the owner thread: then it waits (a condition
// variable) until one has been delivered, and the child, once the pipe is
// full, waits for the reader. A line longer than one read travels in a batch
// of its own. On the owner thread the batches are delivered in the order they
// were posted: the bytes to OnOutputChar one by one, each line right after
// the LF that ends it, exactly as if each byte had been its own hand-over;
// without OnOutputChar only the lines. Should a handler run an event loop of
// its own, batches that arrive meanwhile wait until the delivery under way
// has returned, and so does the end of the run. Other events of the owner
// thread can't slip in between two bytes or lines of one batch, which a
// hand-over per byte does not promise either. The line that OnOutputLine
// gets is valid for the call; a handler that keeps a copy has it to itself.
// When the child has ended, the reader takes what is in the pipe at that
// moment (a grandchild that keeps the pipe open doesn't hold the run up),
// hands over the last fragment and returns; the end
// handling (CommandFinished) then runs on the owner thread from the thread's
// queued finished signal: it joins and deletes the reader (which closes the
// read end it owns), reaps the child into ExitCode, calls OnTerminate and
// only then clears IsOnExecution. Members of the component are used on the
// owner thread only; the reader works on its own copies of the pid, the read
// end (whose ownership it takes over) and the two output events.
//
// Destruction during a run: a stop flag (atomic) is set, which the reader
// tests before every hand-over and the owner side tests after every event
// call, and which wakes a reader that waits for room; the child's process
// group gets SIGKILL. The reader is then joined while any batch it has
// posted meanwhile is removed, unrun, from the owner thread's queue. Then the
// child is reaped and the reader deleted, which closes the read end: no
// descriptor is closed while the reader may still use it, and nothing
// reaches the destroyed component. If the component is destroyed from within
// one of its own output events (the owner thread is then inside a delivery),
// the reader can't be deleted there; it stops by itself and deletes itself
// through the owner thread's event loop once that delivery has returned.
//
// Stopping a run: StopCommand sends SIGTERM to the child's process group and,
// if the child is still there StopGraceMs later, SIGKILL. The run then ends
// as every run does: the output the child wrote is delivered, then its last
// line, then OnTerminate (with IsStopping true and ExitCode 128 + the signal,
// or whatever status the child chose on its way out). Whatever is left of the
// child's process group when the child has ended (a helper that ignored the
// SIGTERM and keeps the pipe) gets SIGKILL before the child is reaped, while
// the group's id is still certainly the child's. StopCommand returns false,
// changing nothing, when no run is in progress, the run is already being
// stopped, or the child has already been reaped (within OnTerminate).
//
// An exception that escapes an event handler is caught, reported with
// qWarning and dropped; delivery goes on with the next byte.
//
// The owner thread must run an event loop while a command runs.
#include <QByteArray>
#include <QObject>

#include <functional>
#include <sys/types.h>

class QTimer;

class TDosCommand : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool IsOnExecution READ IsOnExecution)
    Q_PROPERTY(quint32 ExitCode READ ExitCode)
    Q_PROPERTY(bool IsStopping READ IsStopping)
public:
    enum TDosCommandPriorityType : quint8 { dcpRealTime = 0, dcpHigh = 1, dcpNormal = 2, dcpIdle = 3 };
    using TOutputCharEvent = std::function<void(TDosCommand *Sender, char Ch)>;
    using TOutputLineEvent = std::function<void(TDosCommand *Sender, const QByteArray &Str)>;
    using TNotifyEvent = std::function<void(TDosCommand *Sender)>;

    explicit TDosCommand(QObject *owner = nullptr);
    ~TDosCommand() override;

    bool StartCommand(const QByteArray &commandLine, const QByteArray &workingDirectory);
    bool StopCommand();
    bool IsOnExecution() const;
    bool IsStopping() const;  // from a StopCommand that took effect until the run's end
    quint32 ExitCode() const;

    TDosCommandPriorityType Priority = dcpNormal;  // may also hold any other byte value
    TOutputCharEvent OnOutputChar;   // copied at each start
    TOutputLineEvent OnOutputLine;   // copied at each start
    TNotifyEvent OnTerminate;        // read when the run ends
    // How the reader of a run hands the output over, taken when a run starts;
    // the program keeps the defaults, tests and benchmarks vary them.
    struct TReading {
        // Bytes handed over per batch at most. 1 makes one batch per byte; the
        // default hands over what one read got.
        int BatchLimit = 256 * 1024;
        // Whether the reader waits for the child's end through a process
        // descriptor (pidfd) together with the pipe. Where none can be had, or
        // with this false, it looks at the child every few milliseconds instead.
        bool UseProcessFd = true;
    } Reading;
    int StopGraceMs = 1000;          // from SIGTERM to SIGKILL when a run is stopped

    class TPipeReader;  // a QThread, one per run (pipereader.h)

private:
    void CommandFinished(QObject *Sender);

    TPipeReader *Reader = nullptr;  // the reader of the run in progress
    pid_t Process = -1;             // the child of that run, not yet reaped
    bool FIsOnExecution = false;
    bool FIsStopping = false;
    quint32 FExitCode = 0;
    QTimer *Grace = nullptr;        // the SIGKILL of a stopped run that outlives its grace
};
