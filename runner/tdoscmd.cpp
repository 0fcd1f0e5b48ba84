#include "tdoscmd.h"

#include "cmdline.h"
#include "pipereader.h"
#include "spawnpipe.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

bool IsDirectory(const QByteArray &path) {
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QByteArray UpToNul(const QByteArray &s) {
    const qsizetype nul = s.indexOf('\0');
    return nul < 0 ? s : s.first(nul);
}

// The child's nice value for a priority (see tdoscmd.h).
int NiceFor(quint8 priority) {
    int target;
    switch (priority) {
    case TDosCommand::dcpIdle: return 19;
    case TDosCommand::dcpHigh: target = -10; break;
    case TDosCommand::dcpRealTime: target = -20; break;
    default: return KeepNice;
    }
    errno = 0;
    const int own = ::getpriority(PRIO_PROCESS, 0);
    if (errno != 0 || own <= target) return KeepNice;  // never lower it by asking for more
    return target;
}

// Signals the child's process group and, should it have left that group, the child.
void SignalChild(pid_t pid, int sig) {
    ::kill(-pid, sig);
    ::kill(pid, sig);
}

}  // namespace

TDosCommand::TDosCommand(QObject *owner) : QObject(owner), Grace(new QTimer(this)) {
    Grace->setSingleShot(true);
    connect(Grace, &QTimer::timeout, this, [this] {
        // Not reaped yet, so the id (and the group id) still names our child.
        if (FIsStopping && Process > 0) SignalChild(Process, SIGKILL);
    });
}

TDosCommand::~TDosCommand() {
    if (Reader) {
        QObject::disconnect(Reader, nullptr, this, nullptr);
        Reader->RequestStop();
    }
    if (Process > 0) {
        // Not reaped yet, so the id (and the group id) still names our child.
        SignalChild(Process, SIGKILL);
    }
    if (Reader) {
        if (Reader->InDelivery()) {
            // Destroyed from within an output event: the delivery under way
            // still runs on this thread's stack. The reader stops by itself
            // and is joined and deleted once that delivery has returned.
            Reader->Orphan();
        } else {
            while (!Reader->wait(5))
                QCoreApplication::removePostedEvents(Reader, QEvent::MetaCall);
            QCoreApplication::removePostedEvents(Reader, QEvent::MetaCall);
            delete Reader;
        }
        Reader = nullptr;
    }
    if (Process > 0) ReapChild(Process);
    Process = -1;
}

bool TDosCommand::IsOnExecution() const { return FIsOnExecution; }

bool TDosCommand::IsStopping() const { return FIsStopping; }

bool TDosCommand::StopCommand() {
    if (!FIsOnExecution || FIsStopping || Process <= 0) return false;
    FIsStopping = true;
    SignalChild(Process, SIGTERM);
    Grace->start(std::max(0, StopGraceMs));
    return true;
}

quint32 TDosCommand::ExitCode() const { return FExitCode; }

bool TDosCommand::StartCommand(const QByteArray &commandLine, const QByteArray &workingDirectory) {
    if (FIsOnExecution) return false;

    // Both strings end at a NUL byte, as C strings do.
    const QByteArray line = UpToNul(commandLine);
    const QByteArray dir = UpToNul(workingDirectory);
    const QList<QByteArray> words = SplitCommandLine(line);
    if (words.isEmpty() || words.first().isEmpty()) return false;
    if (!dir.isEmpty() && !IsDirectory(dir)) return false;
    const QByteArray program = FindProgram(words.first());
    if (program.isEmpty()) return false;

    TSpawnOptions options;
    options.WorkingDirectory = dir;
    options.Nice = NiceFor(Priority);
    TSpawnedChild child;
    if (!SpawnWithPipe(program, words, options, &child)) return false;

    auto *reader = new TPipeReader(this, child.ReadEnd, child.Pid, OnOutputChar, OnOutputLine);
    QObject::connect(reader, &QThread::finished, this, [this, reader] { CommandFinished(reader); },
                     Qt::QueuedConnection);
    reader->start();
    if (!reader->isRunning() && !reader->isFinished()) {
        // No thread could be made: the run is taken back.
        SignalChild(child.Pid, SIGKILL);
        ReapChild(child.Pid);
        delete reader;
        return false;
    }
    Reader = reader;
    Process = child.Pid;
    FExitCode = 0;
    FIsOnExecution = true;
    return true;
}

void TDosCommand::CommandFinished(QObject *Sender) {
    if (Sender != Reader || !Reader) return;
    if (Reader->InDelivery()) {
        // A handler runs an event loop of its own: the end comes after it has
        // returned and the batches that wait behind it are delivered.
        QTimer::singleShot(1, this, [this, Sender] { CommandFinished(Sender); });
        return;
    }
    delete Reader;  // joins the thread (its body has returned) and closes the read end
    Reader = nullptr;
    Grace->stop();
    if (Process > 0) {
        // A stopped run leaves nothing of its process group behind.
        if (FIsStopping) SignalChild(Process, SIGKILL);
        const int status = ReapChild(Process);
        if (status >= 0) FExitCode = quint32(status);
        Process = -1;
    }

    const TNotifyEvent onTerminate = OnTerminate;  // the handler may replace it or destroy us
    QPointer<TDosCommand> alive(this);
    if (onTerminate) {
        try {
            onTerminate(this);
        } catch (const std::exception &e) {
            qWarning("TDosCommand: OnTerminate raised an error: %s", e.what());
        } catch (...) {
            qWarning("TDosCommand: OnTerminate raised an error");
        }
    }
    if (alive) {
        FIsOnExecution = false;
        FIsStopping = false;
    }
}
