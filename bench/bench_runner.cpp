// The command runner: how fast a child's output reaches OnOutputLine on the
// GUI thread, and how long its first line takes to get there.
#include "bench.h"
#include "cmdline.h"
#include "cmdquote.h"
#include "pipereader.h"
#include "spawnpipe.h"
#include "tdoscmd.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <algorithm>
#include <ctime>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using qvtest::QuoteArgument;
using qvtest::QuoteProgram;

namespace {

const int Whole = TDosCommand::TPipeReader::WholeRead;  // what one read got, in one hand-over

QByteArray EmitCommand(const QByteArrayList &args) {
    QByteArray line = QuoteProgram(QFile::encodeName(QCoreApplication::applicationDirPath() + "/../tools/qv_emit"));
    for (const QByteArray &a : args) line += ' ' + QuoteArgument(a);
    return line;
}

qint64 MonotonicNs() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Figures {
    double seconds = 0;        // from StartCommand to OnTerminate
    qint64 lineBytes = 0;      // bytes of the lines delivered, LFs counted
    qint64 lines = 0;
    qint64 chars = 0;          // OnOutputChar calls
    double firstLineMs = -1;   // the child's first write to its first line here
    bool ok = false;
};

// Runs the child once; its first line is "stamp=<ns>", written just before the rest.
Figures RunOnce(const QByteArrayList &args, bool withCharEvent, int batch) {
    Figures f;
    TDosCommand c;
    c.Reading.BatchLimit = batch;
    c.OnOutputLine = [&](TDosCommand *, const QByteArray &line) {
        if (f.lines == 0 && line.startsWith("stamp="))
            f.firstLineMs = double(MonotonicNs() - line.mid(6).toLongLong()) / 1e6;
        f.lineBytes += line.size() + 1;
        ++f.lines;
    };
    if (withCharEvent) c.OnOutputChar = [&](TDosCommand *, char) { ++f.chars; };
    QEventLoop loop;
    c.OnTerminate = [&](TDosCommand *) { loop.quit(); };
    const double t0 = bench::seconds();
    if (!c.StartCommand(EmitCommand(args), QByteArray())) {
        std::printf("  could not start the helper\n");
        return f;
    }
    loop.exec();
    f.seconds = bench::seconds() - t0;
    f.ok = c.ExitCode() == 0;
    return f;
}

// The contender: the same child read on this thread by a plain loop of reads
// of its pipe, the lines counted with memchr. Seconds from the start to the
// end of the output; -1 when the child can't be started.
double PlainReadLoop(qint64 count, qint64 *lines) {
    const QByteArray program = QFile::encodeName(QCoreApplication::applicationDirPath() + "/../tools/qv_emit");
    const double t0 = bench::seconds();
    TSpawnedChild child;
    if (!SpawnWithPipe(program, {program, "lines:" + QByteArray::number(count) + ":80"}, TSpawnOptions(), &child))
        return -1;
    ::fcntl(child.ReadEnd, F_SETPIPE_SZ, 1024 * 1024);  // the pipe that the runner makes
    std::vector<char> buf(256 * 1024);                  // and what it reads at a time
    *lines = 0;
    for (;;) {
        const ssize_t n = ::read(child.ReadEnd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (const char *p = buf.data(), *end = p + n; (p = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p))));
             ++p)
            ++*lines;
    }
    ReapChild(child.Pid);
    const double seconds = bench::seconds() - t0;
    ::close(child.ReadEnd);
    return seconds;
}

// Runs of the runner into OnOutputLine alternate with runs of the plain loop.
void AgainstPlainLoop(qint64 totalBytes, int runs) {
    const qint64 count = totalBytes / 80;
    std::vector<double> runner, plain;
    for (int i = 0; i < runs; ++i) {
        const Figures f = RunOnce({"lines:" + QByteArray::number(count) + ":80"}, false, Whole);
        qint64 lines = 0;
        const double p = PlainReadLoop(count, &lines);
        if (!f.ok || f.lines != count || p < 0 || lines != count) {
            std::printf("  the runs failed or lost lines\n");
            return;
        }
        runner.push_back(f.seconds);
        plain.push_back(p);
    }
    std::sort(runner.begin(), runner.end());
    std::sort(plain.begin(), plain.end());
    const double r = runner[runner.size() / 2], p = plain[plain.size() / 2];
    const double mb = double(count * 80) / 1e6;
    std::printf("  %.0f MB of 80-byte lines, %d runs each, medians: runner to OnOutputLine %.3f s (%.0f MB/s),"
                " plain read loop %.3f s (%.0f MB/s): runner at %.0f %% of the plain loop\n",
                mb, runs, r, mb / r, p, mb / p, 100.0 * p / r);
}

void Throughput(const char *label, qint64 totalBytes, bool withCharEvent, int batch, int runs) {
    const qint64 count = totalBytes / 80;
    std::vector<Figures> all;
    for (int i = 0; i < runs; ++i) {
        const Figures f = RunOnce({"stamp", "lines:" + QByteArray::number(count) + ":80"}, withCharEvent, batch);
        if (!f.ok || f.lines != count + 1) {
            std::printf("  %s: the run failed or lost lines\n", label);
            return;
        }
        all.push_back(f);
    }
    std::sort(all.begin(), all.end(), [](const Figures &a, const Figures &b) { return a.seconds < b.seconds; });
    const Figures &best = all.front(), &median = all[all.size() / 2];
    std::vector<double> firsts;
    for (const Figures &f : all) firsts.push_back(f.firstLineMs);
    std::sort(firsts.begin(), firsts.end());
    auto rate = [](const Figures &f) { return double(f.lineBytes) / 1e6 / f.seconds; };
    std::printf("  %-36s %2d runs: median %7.1f MB/s %9.0f lines/s (%.3f s), best %7.1f MB/s %9.0f lines/s;"
                " first line after median %.3f ms\n",
                label, runs, rate(median), double(median.lines) / median.seconds, median.seconds, rate(best),
                double(best.lines) / best.seconds, firsts[firsts.size() / 2]);
}

}  // namespace

QV_BENCH(runner_against_plain_read_loop) { AgainstPlainLoop(10 << 20, 21); }

QV_BENCH(runner_output_throughput) {
    std::printf("  lines of 80 bytes from qv_emit, counted on the GUI thread; resident %ld KiB\n",
                bench::residentKiB());
    Throughput("1 MB, OnOutputLine", 1 << 20, false, Whole, 7);
    Throughput("10 MB, OnOutputLine", 10 << 20, false, Whole, 5);
    Throughput("1 MB, OnOutputChar + OnOutputLine", 1 << 20, true, Whole, 7);
    Throughput("10 MB, OnOutputChar + OnOutputLine", 10 << 20, true, Whole, 5);
    // One synchronous call per byte, for comparison.
    Throughput("1 MB, one hand-over per byte", 1 << 20, true, 1, 1);
    std::printf("  resident afterwards %ld KiB\n", bench::residentKiB());
}

QV_BENCH(runner_first_line_delay) {
    // The child waits first, so the reader is in its idle poll when the line comes.
    std::vector<double> delays;
    for (int i = 0; i < 30; ++i) {
        const Figures f = RunOnce({"sleep:20", "stamp"}, false, Whole);
        if (f.ok && f.firstLineMs >= 0) delays.push_back(f.firstLineMs);
    }
    if (delays.empty()) return;
    std::sort(delays.begin(), delays.end());
    std::printf("  idle reader, %zu runs: first line after min %.3f ms, median %.3f ms, max %.3f ms\n",
                delays.size(), delays.front(), delays[delays.size() / 2], delays.back());

    // A child that prints nothing: StartCommand itself (posix_spawn, which
    // returns once the exec has succeeded, and the reader started), then the
    // wait for the end.
    std::vector<double> starts, ends;
    for (int i = 0; i < 30; ++i) {
        TDosCommand c;
        QEventLoop loop;
        double tEnd = 0;
        c.OnTerminate = [&](TDosCommand *) {
            tEnd = bench::seconds();
            loop.quit();
        };
        const double t0 = bench::seconds();
        if (!c.StartCommand(EmitCommand({}), QByteArray())) return;
        const double t1 = bench::seconds();
        loop.exec();
        starts.push_back((t1 - t0) * 1e3);
        ends.push_back((tEnd - t1) * 1e3);
    }
    std::sort(starts.begin(), starts.end());
    std::sort(ends.begin(), ends.end());
    std::printf("  a child that prints nothing: StartCommand median %.3f ms (max %.3f), then OnTerminate"
                " after median %.3f ms (max %.3f)\n",
                starts[starts.size() / 2], starts.back(), ends[ends.size() / 2], ends.back());
}

QV_BENCH(runner_idle_cpu) {
    // A compiler that prints nothing for 10 s: the CPU time that this whole
    // process (GUI thread and reader) spends meanwhile.
    auto cpuSeconds = [] {
        timespec ts;
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
    };
    auto switches = [] {
        rusage ru;
        ::getrusage(RUSAGE_SELF, &ru);
        return ru.ru_nvcsw;
    };
    TDosCommand c;
    QEventLoop loop;
    c.OnTerminate = [&](TDosCommand *) { loop.quit(); };
    const double cpu0 = cpuSeconds(), t0 = bench::seconds();
    const long sw0 = switches();
    if (!c.StartCommand(EmitCommand({"sleep:10000"}), QByteArray())) return;
    loop.exec();
    const double cpu = cpuSeconds() - cpu0, wall = bench::seconds() - t0;
    std::printf("  child sleeping 10 s: %.3f s wall, %.3f s CPU in this process (%.2f %%), %ld voluntary"
                " context switches\n",
                wall, cpu, 100.0 * cpu / wall, switches() - sw0);
}
