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
// and the lines that they end, each a span of Text (its LF and the CR before
// it left out); the last batch of a run may carry the line that no LF ended.
struct TDosCommand::TPipeReader::TBatch {
    QByteArray Bytes;
    QByteArray Text;
    std::vector<std::pair<qsizetype, qsizetype>> Lines;  // start and length in Text
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

// The span of the line that ends with the LF at `lf`: from `start`, without
// one CR right before the LF.
std::pair<qsizetype, qsizetype> LineSpan(const QByteArray &text, qsizetype start, qsizetype lf) {
    qsizetype end = lf;
    if (end > start && text.at(end - 1) == '\r') --end;
    return {start, end - start};
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

int TDosCommand::TPipeReader::ReadAvailable(char *into, int most, bool exact) {
    int filled = 0;
    while (filled < most) {
        int want = most - filled;
        if (!exact && filled > 0) {
            // What else is there already goes along in the same hand-over.
            int pending = 0;
            if (::ioctl(ReadEnd, FIONREAD, &pending) != 0 || pending <= 0) break;
            want = std::min(pending, want);
        }
        const ssize_t n = ::read(ReadEnd, into + filled, size_t(want));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return filled > 0 ? filled : int(n);
        filled += int(n);
    }
    return filled;
}

bool TDosCommand::TPipeReader::ReadAndHandOver(int exactly) {
    // Read straight into the text of the next batch, after the line that the
    // last one left open, unless that line is long or batches are small.
    const bool direct = Batch >= ReadSize && Line.size() < ReadSize;
    QByteArray text = TakeBuffer();
    const qsizetype at = direct ? Line.size() : 0;
    if (direct) text.append(Line.constData(), Line.size());
    const int most = exactly > 0 ? exactly : ReadSize;
    text.resize(at + most);
    const int n = ReadAvailable(text.data() + at, most, exactly > 0);
    if (n <= 0) {
        GiveBack(std::move(text));
        return n == 0 ? false : true;
    }
    text.resize(at + n);
    if (direct) {
        HandOverText(std::move(text), at);
    } else {
        HandOver(text.constData(), n);
        GiveBack(std::move(text));
    }
    return true;
}

void TDosCommand::TPipeReader::run() {
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
        if (available && !ReadAndHandOver(0)) closed = true;
    }

    if (ended && !StopRequested()) {
        // What the child wrote before it ended is all in the pipe now; what a
        // grandchild may add later is not waited for.
        int pending = 0;
        if (::ioctl(ReadEnd, FIONREAD, &pending) != 0) pending = 0;
        while (pending > 0 && !StopRequested()) {
            const int now = std::min(pending, ReadSize);
            pending -= now;
            if (!ReadAndHandOver(now)) break;
        }
    }

    // The text after the last LF.
    if (!Line.isEmpty() && !StopRequested()) {
        if (Line.endsWith('\r')) Line.chop(1);
        auto batch = std::make_shared<TBatch>();
        batch->Text = std::move(Line);
        batch->Lines.emplace_back(0, batch->Text.size());
        Post(std::move(batch));
    }
}

void TDosCommand::TPipeReader::HandOver(const char *bytes, int count) {
    for (int off = 0; off < count && !StopRequested(); off += Batch) {
        const int piece = std::min(Batch, count - off);
        const char *at = bytes + off;
        const char *const end = at + piece;
        if (Line.size() >= ReadSize) {
            // A long line goes in a batch of its own, and on without a copy.
            const char *lf = static_cast<const char *>(std::memchr(at, '\n', size_t(piece)));
            if (!lf) {
                AppendText(Line, at, piece);
                if (OnOutputChar) {
                    auto bytesOnly = std::make_shared<TBatch>();
                    bytesOnly->Bytes = QByteArray(at, piece);
                    Post(std::move(bytesOnly));
                }
                continue;
            }
            auto alone = std::make_shared<TBatch>();
            if (OnOutputChar) alone->Bytes = QByteArray(at, lf - at + 1);
            AppendText(Line, at, lf - at);
            alone->Text = std::move(Line);
            Line = QByteArray();
            alone->Lines.push_back(LineSpan(alone->Text, 0, alone->Text.size()));
            Post(std::move(alone));
            at = lf + 1;
            if (at == end) continue;
        }
        // The lines' text: what the last batch left open, then these bytes,
        // copied once; the lines are spans of it.
        auto batch = std::make_shared<TBatch>();
        if (OnOutputChar) batch->Bytes = QByteArray(at, end - at);
        QByteArray &text = batch->Text;
        text = std::move(Line);
        Line = QByteArray();
        text.reserve(text.size() + (end - at));
        AppendText(text, at, end - at);
        const char *const data = text.constData();
        const qsizetype size = text.size();
        qsizetype start = 0;
        while (const void *found = std::memchr(data + start, '\n', size_t(size - start))) {
            const qsizetype lf = static_cast<const char *>(found) - data;
            batch->Lines.push_back(LineSpan(text, start, lf));
            start = lf + 1;
        }
        // What no LF ended yet goes on in the next batch.
        if (start < size) Line = QByteArray(data + start, size - start);
        if (!batch->Bytes.isEmpty() || !batch->Lines.empty()) Post(std::move(batch));
    }
}

void TDosCommand::TPipeReader::HandOverText(QByteArray text, qsizetype fresh) {
    if (StopRequested()) return;
    auto batch = std::make_shared<TBatch>();
    if (OnOutputChar) batch->Bytes = QByteArray(text.constData() + fresh, text.size() - fresh);
    // NUL bytes leave the lines' text.
    if (std::memchr(text.constData() + fresh, '\0', size_t(text.size() - fresh))) {
        char *d = text.data();
        qsizetype to = fresh;
        for (qsizetype i = fresh; i < text.size(); ++i)
            if (d[i] != '\0') d[to++] = d[i];
        text.resize(to);
    }
    Line = QByteArray();  // it leads the text now
    const char *const data = text.constData();
    const qsizetype size = text.size();
    qsizetype start = 0;
    while (const void *found = std::memchr(data + start, '\n', size_t(size - start))) {
        const qsizetype lf = static_cast<const char *>(found) - data;
        batch->Lines.push_back(LineSpan(text, start, lf));
        start = lf + 1;
    }
    // What no LF ended yet goes on in the next batch.
    if (start < size) Line = QByteArray(data + start, size - start);
    batch->Text = std::move(text);
    if (!batch->Bytes.isEmpty() || !batch->Lines.empty())
        Post(std::move(batch));
    else
        GiveBack(std::move(batch->Text));
}

QByteArray TDosCommand::TPipeReader::TakeBuffer() {
    std::lock_guard<std::mutex> lock(Gate);
    if (Spare.empty()) return QByteArray();
    QByteArray b = std::move(Spare.back());
    Spare.pop_back();
    return b;
}

void TDosCommand::TPipeReader::GiveBack(QByteArray &&buffer) {
    // Kept with its room, unless someone else holds it or it grew for a long line.
    if (!buffer.isDetached() || buffer.capacity() > 2 * ReadSize) return;
    buffer.resize(0);
    std::lock_guard<std::mutex> lock(Gate);
    if (Spare.size() <= size_t(MaxInFlight)) Spare.push_back(std::move(buffer));
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
        GiveBack(std::move(next->Text));
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
        const auto [from, size] = batch.Lines[next];
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
    while (next < batch.Lines.size() && !StopRequested()) deliverLine();
}

void TDosCommand::TPipeReader::DeliverChar() {
    if (OnOutputChar) CallHandler("OnOutputChar", [this] { OnOutputChar(Command, Buffer); });
}

void TDosCommand::TPipeReader::DeliverLine(const QByteArray &line) {
    if (OnOutputLine) CallHandler("OnOutputLine", [this, &line] { OnOutputLine(Command, line); });
}
