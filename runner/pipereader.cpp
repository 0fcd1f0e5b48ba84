#include "pipereader.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int ReadSize = TDosCommand::TPipeReader::WholeRead;
// The pipe's capacity: how far the child may write ahead while the owner
// thread delivers (the system may allow less).
constexpr int PipeSize = 1024 * 1024;
constexpr int FallbackPollMs = 5;    // without a process descriptor: how often the child is looked at

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

// What one hand-over carries: the bytes (only where OnOutputChar wants them)
// and the lines that they end, one after the other in Text, each ending at
// its entry of Ends; the last batch of a run may carry the line that no LF
// ended, after its bytes.
struct TDosCommand::TPipeReader::TBatch {
    QByteArray Bytes;
    QByteArray Text;
    std::vector<qsizetype> Ends;
};

namespace {
// Appends the bytes without their NUL bytes.
void AppendText(QByteArray &to, const char *bytes, qsizetype count) {
    if (!std::memchr(bytes, '\0', size_t(count))) {
        to.append(bytes, count);
        return;
    }
    for (qsizetype i = 0; i < count; ++i)
        if (bytes[i] != '\0') to += bytes[i];
}
}  // namespace


TDosCommand::TPipeReader::TPipeReader(TDosCommand *command, int readEnd, pid_t process,
                                      TOutputCharEvent onOutputChar, TOutputLineEvent onOutputLine)
    : ReadEnd(readEnd),
      Process(process),
      Command(command),
      OnOutputChar(std::move(onOutputChar)),
      OnOutputLine(std::move(onOutputLine)),
      Batch(std::max(1, command->Reading.BatchLimit)) {
    // The child is ours and not reaped yet, so its id can't name another process.
    // glibc 2.36's <sys/pidfd.h> can't be used from C++ (no extern "C"), so
    // the system call is made directly; the descriptor is close-on-exec.
    if (command->Reading.UseProcessFd) ProcessFd = int(::syscall(SYS_pidfd_open, process, 0));
    WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ::fcntl(readEnd, F_SETPIPE_SZ, PipeSize);
}

TDosCommand::TPipeReader::~TPipeReader() {
    // Joined before it is deleted; a reader that never started is not running either.
    wait();
    for (int fd : {ReadEnd, ProcessFd, WakeFd})
        if (fd >= 0) ::close(fd);
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

void TDosCommand::TPipeReader::RequestStop() {
    Stop.store(true, std::memory_order_release);
    if (WakeFd >= 0) ::eventfd_write(WakeFd, 1);
    { std::lock_guard<std::mutex> lock(Gate); }  // a Post about to wait sees the stop
    Room.notify_all();
}

void TDosCommand::TPipeReader::run() {
    std::vector<char> buf(ReadSize);
    bool ended = false;
    bool closed = false;  // every write end is gone: nothing more can come
    // With both descriptors the reader sleeps until the pipe, the child's end
    // or a stop request wakes it; otherwise it looks again every few ms.
    const int timeout = ProcessFd >= 0 && WakeFd >= 0 ? -1 : FallbackPollMs;
    while (!StopRequested() && !ended) {
        pollfd fds[3];
        nfds_t count = 0;
        int pipeAt = -1, processAt = -1;
        if (!closed) {
            pipeAt = int(count);
            fds[count++] = {ReadEnd, POLLIN, 0};
        }
        if (ProcessFd >= 0) {
            processAt = int(count);
            fds[count++] = {ProcessFd, POLLIN, 0};
        }
        if (WakeFd >= 0) fds[count++] = {WakeFd, POLLIN, 0};
        const int ready = ::poll(fds, count, timeout);
        if (ready < 0 && errno != EINTR) PauseOneMs();  // out of kernel memory: try again shortly
        bool available = false;
        if (ready > 0 && pipeAt >= 0) {
            if (fds[pipeAt].revents & POLLIN)
                available = true;
            else if (fds[pipeAt].revents & (POLLHUP | POLLERR | POLLNVAL))
                closed = true;
        }
        if (processAt >= 0)
            ended = ready > 0 && (fds[processAt].revents & (POLLIN | POLLHUP));
        else
            ended = ChildEnded();
        if (available) {
            ssize_t n;
            do {
                n = ::read(ReadEnd, buf.data(), buf.size());
            } while (n < 0 && errno == EINTR);
            if (n > 0) {
                // What else is there already goes along in the same hand-over.
                int filled = int(n), pending = 0;
                while (filled < ReadSize && ::ioctl(ReadEnd, FIONREAD, &pending) == 0 && pending > 0) {
                    n = ::read(ReadEnd, buf.data() + filled, size_t(std::min(pending, ReadSize - filled)));
                    if (n < 0 && errno == EINTR) continue;
                    if (n <= 0) break;
                    filled += int(n);
                }
                HandOver(buf.data(), filled);
            } else if (n == 0) {
                closed = true;
            }
        }
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

    // The text after the last LF.
    if (!Line.isEmpty() && !StopRequested()) {
        if (Line.endsWith('\r')) Line.chop(1);
        auto batch = std::make_shared<TBatch>();
        batch->Text = std::move(Line);
        batch->Ends.push_back(batch->Text.size());
        Post(std::move(batch));
    }
}

void TDosCommand::TPipeReader::HandOver(const char *bytes, int count) {
    for (int off = 0; off < count && !StopRequested(); off += Batch) {
        const int piece = std::min(Batch, count - off);
        const char *at = bytes + off;
        const char *from = at;  // the batch's first byte
        const char *const end = at + piece;
        auto batch = std::make_shared<TBatch>();
        QByteArray &text = batch->Text;
        while (const void *lf = std::memchr(at, '\n', size_t(end - at))) {
            const char *next = static_cast<const char *>(lf);
            const qsizetype start = batch->Ends.empty() ? 0 : batch->Ends.back();
            if (!Line.isEmpty() && Line.size() < ReadSize) {
                // The first line goes on from what the last batch left open.
                text += Line;
                Line = QByteArray();
            }
            QByteArray &line = Line.isEmpty() ? text : Line;
            AppendText(line, at, next - at);
            // One CR right before the LF belongs to the line end.
            if (line.size() > start && line.endsWith('\r')) line.chop(1);
            at = next + 1;
            if (&line == &Line) {
                // A long line goes in a batch of its own, and on without a copy.
                auto alone = std::make_shared<TBatch>();
                if (OnOutputChar) alone->Bytes = QByteArray(from, at - from);
                alone->Text = std::move(Line);
                Line = QByteArray();
                alone->Ends.push_back(alone->Text.size());
                Post(std::move(alone));
                from = at;
                continue;
            }
            batch->Ends.push_back(text.size());
        }
        AppendText(Line, at, end - at);
        if (OnOutputChar) batch->Bytes = QByteArray(from, end - from);
        if (!batch->Bytes.isEmpty() || !batch->Ends.empty()) Post(std::move(batch));
    }
}

void TDosCommand::TPipeReader::Post(std::shared_ptr<TBatch> batch) {
    {
        std::unique_lock<std::mutex> lock(Gate);
        Room.wait(lock, [this] { return InFlight < MaxInFlight || StopRequested(); });
        if (StopRequested()) return;
        ++InFlight;
    }
    // If the component is destroyed meanwhile, the pending call is removed unrun.
    QMetaObject::invokeMethod(
        this, [this, batch = std::move(batch)]() mutable { Receive(std::move(batch)); }, Qt::QueuedConnection);
}

void TDosCommand::TPipeReader::Receive(std::shared_ptr<TBatch> batch) {
    Waiting.push_back(std::move(batch));
    // Within a handler (its own event loop took this call up) the batch waits
    // for the delivery under way, which takes it next.
    if (Delivering > 0) return;
    ++Delivering;
    while (!Waiting.empty() && !StopRequested()) {
        const std::shared_ptr<TBatch> next = std::move(Waiting.front());
        Waiting.pop_front();
        DeliverBatch(*next);
        {
            std::lock_guard<std::mutex> lock(Gate);
            --InFlight;
        }
        Room.notify_one();
    }
    if (--Delivering == 0 && Orphaned) deleteLater();
}

void TDosCommand::TPipeReader::DeliverBatch(const TBatch &batch) {
    size_t next = 0;  // the line that the next LF ends
    auto deliverLine = [&] {
        const qsizetype from = next ? batch.Ends[next - 1] : 0, size = batch.Ends[next] - from;
        ++next;
        if (!OnOutputLine) return;  // assembled, and dropped
        if (size == batch.Text.size()) return DeliverLine(batch.Text);
        // Shown is used again from line to line: a handler that keeps a copy
        // has it to itself (it is detached before it is written to).
        if (Shown.capacity() > 4 * size + 4096) Shown = QByteArray();
        Shown.resize(size);
        if (size > 0) std::memcpy(Shown.data(), batch.Text.constData() + from, size_t(size));
        DeliverLine(Shown);
    };
    if (OnOutputChar) {
        for (qsizetype i = 0; i < batch.Bytes.size() && !StopRequested(); ++i) {
            Buffer = batch.Bytes[i];
            DeliverChar();
            if (Buffer == '\n' && !StopRequested()) deliverLine();
        }
    }
    while (next < batch.Ends.size() && !StopRequested()) deliverLine();
}

void TDosCommand::TPipeReader::DeliverChar() {
    if (OnOutputChar) CallHandler("OnOutputChar", [this] { OnOutputChar(Command, Buffer); });
}

void TDosCommand::TPipeReader::DeliverLine(const QByteArray &line) {
    if (OnOutputLine) CallHandler("OnOutputLine", [this, &line] { OnOutputLine(Command, line); });
}
