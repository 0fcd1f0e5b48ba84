#include "pipereader.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int ReadSize = 64 * 1024;  // one pipe's worth

void PauseOneMs() {
    timespec ts{0, 1000 * 1000};
    ::nanosleep(&ts, nullptr);
}

template <class F>
void CallHandler(const char *what, F &&call) {
    try {
        call();
    } catch (const std::exception &e) {
        qWarning("TDosCommand: %s raised an error: %s", what, e.what());
    } catch (...) {
        qWarning("TDosCommand: %s raised an error", what);
    }
}
}  // namespace

int TDosCommand::TPipeReader::BatchLimit = ReadSize;

TDosCommand::TPipeReader::TPipeReader(TDosCommand *command, int readEnd, pid_t process,
                                      TOutputCharEvent onOutputChar, TOutputLineEvent onOutputLine)
    : ReadEnd(readEnd),
      Process(process),
      Command(command),
      OnOutputChar(std::move(onOutputChar)),
      OnOutputLine(std::move(onOutputLine)),
      Batch(std::max(1, BatchLimit)) {}

TDosCommand::TPipeReader::~TPipeReader() {
    // Joined before it is deleted; a reader that never started is not running either.
    wait();
    if (ReadEnd >= 0) ::close(ReadEnd);
}

// The child has ended: it is looked at without being reaped, so its process
// id stays reserved until the owner thread reaps it.
bool TDosCommand::TPipeReader::ChildEnded() const {
    siginfo_t info;
    info.si_pid = 0;
    if (::waitid(P_PID, id_t(Process), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
        return info.si_pid == Process;
    return errno != EINTR;  // reaped by someone else: it has ended all the same
}

void TDosCommand::TPipeReader::run() {
    std::vector<char> buf(ReadSize);
    bool ended = false;
    bool closed = false;  // every write end is gone: nothing more can come
    while (!StopRequested()) {
        bool available = false;
        for (;;) {
            if (closed) {
                PauseOneMs();
            } else {
                pollfd p{ReadEnd, POLLIN, 0};
                if (::poll(&p, 1, 1) > 0) {
                    if (p.revents & POLLIN)
                        available = true;
                    else if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
                        closed = true;
                }
            }
            ended = ChildEnded();
            if (available || ended || StopRequested()) break;
        }
        if (available) {
            ssize_t n;
            do {
                n = ::read(ReadEnd, buf.data(), buf.size());
            } while (n < 0 && errno == EINTR);
            if (n > 0)
                HandOver(buf.data(), int(n));
            else if (n == 0)
                closed = true;
        }
        if (ended) break;
    }

    if (ended && !StopRequested()) {
        // What the child wrote before it ended is all in the pipe now; what a
        // grandchild may add later is not waited for.
        int pending = 0;
        if (::ioctl(ReadEnd, FIONREAD, &pending) != 0) pending = 0;
        while (pending > 0 && !StopRequested()) {
            ssize_t n = ::read(ReadEnd, buf.data(), size_t(std::min<int>(pending, ReadSize)));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            HandOver(buf.data(), int(n));
            pending -= int(n);
        }
    }

    // Line is only touched on the owner thread during a hand-over, and every
    // hand-over has returned by now.
    if (!Line.isEmpty() && !StopRequested()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                ++Delivering;
                if (!StopRequested()) DeliverLine();
                --Delivering;
            },
            Qt::BlockingQueuedConnection);
    }
}

void TDosCommand::TPipeReader::HandOver(const char *bytes, int count) {
    for (int off = 0; off < count && !StopRequested(); off += Batch) {
        const int piece = std::min(Batch, count - off);
        // If the component is destroyed meanwhile, this pending call is
        // removed unrun, which releases the wait.
        QMetaObject::invokeMethod(
            this, [this, bytes, off, piece] { DeliverBytes(bytes + off, piece); },
            Qt::BlockingQueuedConnection);
    }
}

void TDosCommand::TPipeReader::DeliverBytes(const char *bytes, int count) {
    ++Delivering;
    for (int i = 0; i < count && !StopRequested(); ++i) {
        Buffer = bytes[i];
        DeliverChar();
        if (StopRequested()) break;  // the component went away in the handler
        if (Buffer == '\n') {
            DeliverLine();
            Line.clear();
        } else if (Buffer != '\0') {
            Line += Buffer;
        }
    }
    --Delivering;
}

void TDosCommand::TPipeReader::DeliverChar() {
    if (OnOutputChar) CallHandler("OnOutputChar", [this] { OnOutputChar(Command, Buffer); });
}

void TDosCommand::TPipeReader::DeliverLine() {
    if (!Line.isEmpty() && Line.endsWith('\r')) Line.chop(1);
    if (OnOutputLine) CallHandler("OnOutputLine", [this] { OnOutputLine(Command, Line); });
}
