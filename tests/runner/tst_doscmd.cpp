// TDosCommand with real child processes (the qv_emit helper).
#include "cmdline.h"
#include "cmdquote.h"
#include "pipereader.h"
#include "tdoscmd.h"
#include "testmain.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <stdexcept>
#include <thread>

using qvtest::QuoteArgument;
using qvtest::QuoteProgram;

namespace {

QByteArray ToolsDir() {
    QByteArray dir = qgetenv("QV_TOOLS_DIR");
    if (dir.isEmpty()) dir = QFile::encodeName(QCoreApplication::applicationDirPath() + "/../../tools");
    return dir;
}

const int WholeReads = TDosCommand::TPipeReader::WholeRead;  // the reader's own setting

QByteArray EmitPath() { return ToolsDir() + "/qv_emit"; }

QByteArray Command(const QByteArray &program, const QByteArrayList &args) {
    QByteArray line = QuoteProgram(program);
    for (const QByteArray &a : args) line += ' ' + QuoteArgument(a);
    return line;
}

QByteArray Emit(const QByteArrayList &args) { return Command(EmitPath(), args); }

QList<int> OpenDescriptors() {
    QList<int> fds;
    DIR *d = ::opendir("/proc/self/fd");
    const int own = ::dirfd(d);
    while (dirent *e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const int fd = QByteArray(e->d_name).toInt();
        if (fd != own) fds << fd;
    }
    ::closedir(d);
    std::sort(fds.begin(), fds.end());
    return fds;
}

// No child of this process exists, running or unreaped; nothing is reaped by asking.
bool NoChildren() {
    siginfo_t info;
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
}

// The process has ended: gone, or a zombie waiting for whoever adopted it.
bool Dead(pid_t pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray text = stat.readAll();
    const int close = int(text.lastIndexOf(')'));
    return close < 0 || close + 2 >= text.size() || text[close + 2] == 'Z' || text[close + 2] == 'X';
}

int OwnNice() {
    errno = 0;
    return ::getpriority(PRIO_PROCESS, 0);
}

// Whether this process may lower a nice value (raise a priority).
bool MayRaisePriority() {
    bool allowed = false;
    std::thread probe([&] {
        const int tid = int(::syscall(SYS_gettid));
        allowed = ::setpriority(PRIO_PROCESS, id_t(tid), OwnNice() - 1) == 0;
    });
    probe.join();
    return allowed;
}

// Everything the events delivered, and when.
struct Log {
    QByteArray chars;
    QByteArrayList lines;
    QList<int> charsAtLine;  // chars.size() when each line arrived
    int terminations = 0;
    quint32 exitInTerminate = 0xDEAD;
    bool runningInTerminate = false;
    int late = 0;  // events after the component was destroyed
    bool destroyed = false;

    void Attach(TDosCommand &c) {
        c.OnOutputChar = [this](TDosCommand *, char ch) {
            if (destroyed) ++late;
            chars += ch;
        };
        c.OnOutputLine = [this](TDosCommand *, const QByteArray &line) {
            if (destroyed) ++late;
            lines << line;
            charsAtLine << int(chars.size());
        };
        c.OnTerminate = [this](TDosCommand *s) {
            if (destroyed) ++late;
            ++terminations;
            exitInTerminate = s->ExitCode();
            runningInTerminate = s->IsOnExecution();
        };
    }

    QByteArray Value(const QByteArray &key) const {
        for (const QByteArray &l : lines)
            if (l.startsWith(key + '=')) return l.mid(key.size() + 1);
        return QByteArray();
    }
};

// Runs the event loop until the predicate holds or the time is up.
bool WaitFor(const std::function<bool()> &done, int ms = 30000) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    QDeadlineTimer deadline(ms);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || deadline.hasExpired()) loop.quit();
    });
    check.start(1);
    loop.exec();
    return done();
}

bool WaitForEnd(TDosCommand &c) {
    return WaitFor([&] { return !c.IsOnExecution(); });
}

bool Run(TDosCommand &c, const QByteArray &line, const QByteArray &dir = QByteArray()) {
    return c.StartCommand(line, dir) && WaitForEnd(c);
}

// The line that the i-th line of "lines:COUNT:LEN" is, without its LF.
QByteArray NumberedLine(int i, int len) {
    return QByteArray::number(i).rightJustified(10, '0') + QByteArray(len - 11, 'x');
}

}  // namespace

class TestDosCommand : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void lineRules_data();
    void lineRules();
    void bigOutputArrivesWholeAndInOrder();
    void outputLeftInPipeAtTheEndArrives();
    void randomOutputInRandomReads();
    void unsetEventsAreSkipped();
    void exitStatus_data();
    void exitStatus();
    void executionTimeline();
    void startWhileRunningIsRefused();
    void eventsTakenAtStartAndAtEnd();
    void failedStart_data();
    void failedStart();
    void childSeesOnlyThePipe();
    void workingDirectory();
    void programLookup();
    void lookupTakesAbsolutePathEntriesOnly_data();
    void lookupTakesAbsolutePathEntriesOnly();
    void shellCharactersReachTheProgram();
    void grandchildHoldingThePipe_data();
    void grandchildHoldingThePipe();
    void stop_data();
    void stop();
    void priority_data();
    void priority();
    void handlerErrorsAreContained();
    void destroyWhileRunning_data();
    void destroyWhileRunning();
    void destroyFromEvent_data();
    void destroyFromEvent();

private:
    QList<int> BaseDescriptors;
    QByteArrayList Grandchildren;
};

void TestDosCommand::initTestCase() {
    QVERIFY2(QFile::exists(QFile::decodeName(EmitPath())), EmitPath().constData());
    // A first run, so that whatever the toolkit opens once is open before the counts.
    TDosCommand c;
    QVERIFY(Run(c, Emit({"text:warm\n"})));
    BaseDescriptors = OpenDescriptors();
}

void TestDosCommand::cleanup() {
    for (const QByteArray &g : Grandchildren) ::kill(pid_t(g.toInt()), SIGKILL);
    Grandchildren.clear();
    QVERIFY(WaitFor([] { return NoChildren(); }, 5000));
    QCOMPARE(OpenDescriptors(), BaseDescriptors);
}

void TestDosCommand::lineRules_data() {
    QTest::addColumn<QByteArrayList>("args");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArrayList>("lines");
    // The reader waits on a pidfd and hands over what one read got, or looks
    // every few ms and hands over one byte at a time.
    QTest::addColumn<bool>("processFd");

    struct Row {
        QByteArray name;
        QByteArrayList args;
        QByteArray bytes;
        QByteArrayList lines;
    };
    QList<Row> rows;
    auto row = [&](const char *name, const QByteArray &bytes, const QByteArrayList &lines) {
        rows << Row{name, {"out:" + bytes.toHex()}, bytes, lines};
    };
    rows << Row{"nothing", {}, {}, {}};
    row("one line", "abc\n", {"abc"});
    row("no final LF", "abc\ndef", {"abc", "def"});
    row("CR LF ends, CR LF gives empty line", "x\r\n\r\ny", {"x", "", "y"});
    row("CR CR LF keeps one CR", "a\r\r\nb\n", {"a\r", "b"});
    row("lone CR ends nothing", "a\rb\nc\r", {"a\rb", "c"});
    row("single CR as last fragment", "a\n\r", {"a", ""});
    row("LF first", "\nz\n", {"", "z"});
    row("two LFs", "a\n\n", {"a", ""});
    row("NUL is not part of the line", QByteArray("a\0b\n", 4), {"ab"});
    row("NUL alone makes no line", QByteArray("\0", 1), {});
    row("NUL then LF", QByteArray("\0\n", 2), {""});
    row("Shift-JIS passes unchanged", "\x82\xa0\x95\x5c\n\x95\x5c", {"\x82\xa0\x95\x5c", "\x95\x5c"});
    QByteArray all, first, second;  // 0..255: the LF is 10, the NUL 0
    for (int b = 0; b < 256; ++b) all += char(b);
    for (int b = 1; b < 10; ++b) first += char(b);
    for (int b = 11; b < 256; ++b) second += char(b);
    row("every byte value", all, {first, second});

    rows << Row{"line across pauses",
                {"out:6162", "sleep:30", "out:63", "sleep:30", "out:0d", "sleep:30", "out:0a64"},
                "abc\r\nd",
                {"abc", "d"}};
    rows << Row{"CR and LF in two reads", {"out:610d", "sleep:30", "out:0a62"}, "a\r\nb", {"a", "b"}};
    rows << Row{"double-byte character in two reads", {"out:4182", "sleep:30", "out:a00a", "sleep:30", "out:95"},
                "A\x82\xa0\n\x95", {"A\x82\xa0", "\x95"}};
    rows << Row{"stdout and stderr in one stream",
                {"out:41", "err:42", "out:43", "err:0a", "err:45", "out:0d0a"},
                "ABC\nE\r\n",
                {"ABC", "E"}};
    rows << Row{"text then end without LF after a pause", {"text:one\n", "sleep:50", "text:two"}, "one\ntwo",
                {"one", "two"}};
    rows << Row{"outputs closed, then a pause", {"text:a\n", "close", "sleep:50"}, "a\n", {"a"}};
    for (bool processFd : {true, false}) {
        for (const Row &r : std::as_const(rows))
            QTest::newRow((r.name + (processFd ? "" : ", no pidfd, bytewise")).constData())
                << r.args << r.bytes << r.lines << processFd;
    }
}

void TestDosCommand::lineRules() {
    QFETCH(QByteArrayList, args);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArrayList, lines);
    QFETCH(bool, processFd);

    TDosCommand c;
    c.Reading.UseProcessFd = processFd;
    c.Reading.BatchLimit = processFd ? WholeReads : 1;
    Log log;
    log.Attach(c);
    QVERIFY(Run(c, Emit(args)));
    QCOMPARE(log.chars, bytes);
    QCOMPARE(log.lines, lines);
    QCOMPARE(log.terminations, 1);

    // Each line arrives right after the byte that ends it, a last fragment
    // after every byte.
    QList<int> expectedAt;
    for (int i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n') expectedAt << i + 1;
    if (expectedAt.size() < lines.size()) expectedAt << int(bytes.size());
    QCOMPARE(log.charsAtLine, expectedAt);
}

void TestDosCommand::bigOutputArrivesWholeAndInOrder() {
    // 5 MiB of short lines with a line of 3 MB amid them.
    const QList<std::pair<int, int>> parts = {{32768, 80}, {1, 3000000}, {32767, 80}};
    QByteArrayList args, expected;
    QList<int> ends;
    for (const auto &[lines, len] : parts) {
        args << "lines:" + QByteArray::number(lines) + ":" + QByteArray::number(len);
        for (int i = 0; i < lines; ++i) {
            expected << NumberedLine(i, len);
            ends << (ends.isEmpty() ? 0 : ends.last()) + len;
        }
    }
    const int count = int(expected.size());
    TDosCommand c;
    Log log;
    log.Attach(c);
    // Now and then a handler runs an event loop of its own, in which later
    // output must not overtake it, nor the end.
    int linesAtEnd = -1;
    c.OnOutputLine = [&, next = c.OnOutputLine](TDosCommand *s, const QByteArray &line) {
        next(s, line);
        if (log.lines.size() % 8192 == 1 || log.lines.size() == count - 1) QTest::qWait(20);
    };
    c.OnTerminate = [&, next = c.OnTerminate](TDosCommand *s) {
        linesAtEnd = int(log.lines.size());
        next(s);
    };
    QVERIFY(Run(c, Emit(args << "exit:3")));
    QCOMPARE(linesAtEnd, count);
    QCOMPARE(log.chars.size(), qsizetype(ends.last()));
    QCOMPARE(log.lines.size(), count);
    for (int i = 0; i < count; ++i) {
        if (log.lines[i] != expected[i]) QFAIL(qPrintable(QString("line %1 differs").arg(i)));
        if (log.charsAtLine[i] != ends[i]) QFAIL(qPrintable(QString("line %1 came early or late").arg(i)));
    }
    QCOMPARE(log.exitInTerminate, 3u);
}

void TestDosCommand::outputLeftInPipeAtTheEndArrives() {
    // The child fills a large pipe and is gone before the reader has taken
    // more than a part of it: the rest still comes.
    const int count = 12000, len = 80;
    TDosCommand c;
    Log log;
    log.Attach(c);
    QVERIFY(c.StartCommand(Emit({"pipe:1048576", "lines:" + QByteArray::number(count) + ":80"}), QByteArray()));
    ::usleep(300 * 1000);  // this thread takes no hand-over meanwhile
    QVERIFY(WaitForEnd(c));
    QCOMPARE(c.ExitCode(), 0u);
    QCOMPARE(log.lines.size(), count);
    QCOMPARE(log.lines.last(), NumberedLine(count - 1, len));
}

// Random output in pieces with pauses between them, so that reads end
// anywhere: amid a CR LF, after a CR, amid a double-byte character, in a
// line longer than one read. The lines against the rules applied to all the
// bytes at once; with and without OnOutputChar.
void TestDosCommand::randomOutputInRandomReads() {
    const QByteArrayList pieces = {"a", "Z", " ", "\r", "\n", "\r\n", "\r\r\n", QByteArray(1, '\0'), "\x82\xa0",
                                   "\x95\x5c", "\n\n", "xyz"};
    std::mt19937 random(34);
    for (int round = 0; round < 10; ++round) {
        QByteArrayList args;
        QByteArray bytes;
        for (int chunk = int(random() % 40) + 10; chunk > 0; --chunk) {
            if (random() % 12 == 0) {
                // A line longer than a read, or two lines that fill more than one.
                const int len = random() % 2 ? WholeReads + 1000 + int(random() % 5000) : WholeReads / 2 + 7;
                const int count = len > WholeReads ? 1 : 2;
                args << "lines:" + QByteArray::number(count) + ":" + QByteArray::number(len);
                for (int i = 0; i < count; ++i) bytes += NumberedLine(i, len) + '\n';
                continue;
            }
            QByteArray part;
            for (int n = int(random() % 60) + 1; n > 0; --n) part += pieces[int(random() % pieces.size())];
            args << "out:" + part.toHex();
            bytes += part;
            if (random() % 3 == 0) args << "sleep:" + QByteArray::number(int(random() % 4));
        }
        // Each LF ends a line; what follows the last one is a line when
        // anything but NULs is left of it.
        QByteArrayList model = bytes.split('\n');
        const QByteArray rest = model.takeLast().replace('\0', QByteArray());
        if (!rest.isEmpty()) model << rest;
        for (QByteArray &line : model) {
            line.replace('\0', QByteArray());
            if (line.endsWith('\r')) line.chop(1);
        }

        TDosCommand c;
        Log log;
        log.Attach(c);
        const bool chars = round % 2 == 0;
        if (!chars) c.OnOutputChar = nullptr;
        QVERIFY(Run(c, Emit(args)));
        if (chars) QCOMPARE(log.chars, bytes);
        QCOMPARE(log.lines.size(), model.size());
        for (qsizetype i = 0; i < model.size(); ++i)
            if (log.lines[i] != model[i]) QFAIL(qPrintable(QString("round %1, line %2 differs").arg(round).arg(i)));
        QCOMPARE(log.terminations, 1);
    }
}

void TestDosCommand::unsetEventsAreSkipped() {
    TDosCommand c;
    QVERIFY(Run(c, Emit({"text:a\nb", "exit:4"})));
    QCOMPARE(c.ExitCode(), 4u);

    // Lines are still assembled without OnOutputLine; nothing else changes.
    QByteArray chars;
    c.OnOutputChar = [&](TDosCommand *s, char ch) {
        QCOMPARE(s, &c);
        chars += ch;
    };
    QVERIFY(Run(c, Emit({"text:a\r\nb"})));
    QCOMPARE(chars, QByteArray("a\r\nb"));
}

void TestDosCommand::exitStatus_data() {
    QTest::addColumn<QByteArrayList>("args");
    QTest::addColumn<quint32>("exitCode");
    QTest::addColumn<bool>("processFd");
    QTest::newRow("0") << QByteArrayList{} << 0u << true;
    QTest::newRow("1") << QByteArrayList{"exit:1"} << 1u << true;
    QTest::newRow("255") << QByteArrayList{"text:x", "exit:255"} << 255u << true;
    QTest::newRow("259 keeps its low byte") << QByteArrayList{"exit:259"} << 3u << true;
    QTest::newRow("killed") << QByteArrayList{"text:x\n", "kill:9"} << 137u << true;
    QTest::newRow("terminated") << QByteArrayList{"kill:15"} << 143u << true;
    QTest::newRow("hung up") << QByteArrayList{"kill:1"} << 129u << true;
    QTest::newRow("bad argument") << QByteArrayList{"bogus"} << 2u << true;
    // The reader sleeps while the child does: a closed pipe wakes nobody.
    for (const bool processFd : {true, false})
        QTest::newRow(processFd ? "outputs closed long before the end" : "outputs closed long before the end, no pidfd")
            << QByteArrayList{"text:a\n", "close", "sleep:500", "exit:5"} << 5u << processFd;
}

void TestDosCommand::exitStatus() {
    QFETCH(QByteArrayList, args);
    QFETCH(quint32, exitCode);
    QFETCH(bool, processFd);
    TDosCommand c;
    c.Reading.UseProcessFd = processFd;
    Log log;
    log.Attach(c);
    const auto cpuMs = [] {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
    };
    QElapsedTimer wall;
    wall.start();
    const long cpuBefore = cpuMs();
    QVERIFY(Run(c, Emit(args)));
    const long cpu = cpuMs() - cpuBefore;
    if (args.contains("close"))
        QVERIFY2(cpu * 4 < wall.elapsed(), qPrintable(QString("%1 ms of CPU in %2 ms").arg(cpu).arg(wall.elapsed())));
    QCOMPARE(log.terminations, 1);
    QCOMPARE(log.exitInTerminate, exitCode);
    QCOMPARE(c.ExitCode(), exitCode);
}

void TestDosCommand::executionTimeline() {
    TDosCommand c;
    QCOMPARE(c.IsOnExecution(), false);
    QCOMPARE(c.ExitCode(), 0u);
    QCOMPARE(c.property("IsOnExecution").toBool(), false);

    Log log;
    log.Attach(c);
    bool inStart = false;
    int eventsInStart = 0;
    auto line = c.OnOutputLine;
    c.OnOutputLine = [&](TDosCommand *s, const QByteArray &l) {
        if (inStart) ++eventsInStart;
        line(s, l);
    };
    inStart = true;
    QVERIFY(c.StartCommand(Emit({"text:at once\n", "exit:7"}), QByteArray()));
    inStart = false;
    QCOMPARE(c.IsOnExecution(), true);
    QCOMPARE(c.ExitCode(), 0u);
    QVERIFY(WaitForEnd(c));
    QCOMPARE(eventsInStart, 0);
    QCOMPARE(log.lines, QByteArrayList{"at once"});
    QCOMPARE(log.runningInTerminate, true);
    QCOMPARE(log.exitInTerminate, 7u);
    QCOMPARE(c.ExitCode(), 7u);
    QCOMPARE(c.property("ExitCode").toUInt(), 7u);

    // A new run starts from 0 again.
    QVERIFY(c.StartCommand(Emit({"sleep:50", "exit:9"}), QByteArray()));
    QCOMPARE(c.ExitCode(), 0u);
    QCOMPARE(c.property("IsOnExecution").toBool(), true);
    QVERIFY(WaitForEnd(c));
    QCOMPARE(c.ExitCode(), 9u);
    QCOMPARE(log.terminations, 2);
}

void TestDosCommand::startWhileRunningIsRefused() {
    TDosCommand c;
    Log log;
    log.Attach(c);
    QList<bool> startsInLine, startsInTerminate;
    auto line = c.OnOutputLine;
    c.OnOutputLine = [&](TDosCommand *s, const QByteArray &l) {
        startsInLine << s->StartCommand(Emit({"text:intruder\n"}), QByteArray());
        line(s, l);
    };
    auto terminate = c.OnTerminate;
    c.OnTerminate = [&](TDosCommand *s) {
        startsInTerminate << s->StartCommand(Emit({"text:intruder\n"}), QByteArray());
        terminate(s);
    };

    QVERIFY(c.StartCommand(Emit({"text:first\n", "sleep:100", "text:second\n", "exit:5"}), QByteArray()));
    QCOMPARE(c.StartCommand(Emit({"text:intruder\n"}), QByteArray()), false);
    QCOMPARE(c.IsOnExecution(), true);
    QCOMPARE(c.ExitCode(), 0u);
    QVERIFY(WaitForEnd(c));

    QCOMPARE(log.lines, (QByteArrayList{"first", "second"}));
    QCOMPARE(startsInLine, (QList<bool>{false, false}));
    QCOMPARE(startsInTerminate, QList<bool>{false});
    QCOMPARE(c.ExitCode(), 5u);
    QCOMPARE(log.terminations, 1);

    // Once the run is over the component takes a new one.
    c.OnOutputLine = nullptr;
    c.OnTerminate = nullptr;
    QVERIFY(Run(c, Emit({"exit:6"})));
    QCOMPARE(c.ExitCode(), 6u);
}

void TestDosCommand::eventsTakenAtStartAndAtEnd() {
    TDosCommand c;
    QByteArrayList first, second;
    int firstEnds = 0, secondEnds = 0;
    c.OnOutputLine = [&](TDosCommand *, const QByteArray &l) { first << l; };
    c.OnTerminate = [&](TDosCommand *) { ++firstEnds; };
    QVERIFY(c.StartCommand(Emit({"sleep:100", "text:one\n"}), QByteArray()));
    c.OnOutputLine = [&](TDosCommand *, const QByteArray &l) { second << l; };
    c.OnTerminate = [&](TDosCommand *) { ++secondEnds; };
    QVERIFY(WaitForEnd(c));
    QCOMPARE(first, QByteArrayList{"one"});
    QCOMPARE(second, QByteArrayList{});
    QCOMPARE(firstEnds, 0);
    QCOMPARE(secondEnds, 1);

    QVERIFY(Run(c, Emit({"text:two\n"})));
    QCOMPARE(second, QByteArrayList{"two"});
}

void TestDosCommand::failedStart_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("dir");
    QTest::addColumn<QByteArray>("makeFile");  // a file made in the temporary directory first
    QTest::addColumn<int>("mode");

    QTest::newRow("empty command line") << QByteArray() << QByteArray() << QByteArray() << 0;
    QTest::newRow("blanks only") << QByteArray(" \t ") << QByteArray() << QByteArray() << 0;
    QTest::newRow("empty program") << QByteArray("\"\" x") << QByteArray() << QByteArray() << 0;
    QTest::newRow("program not on PATH")
        << QByteArray("qv-no-such-program-here x") << QByteArray() << QByteArray() << 0;
    QTest::newRow("program path missing")
        << QByteArray("/nonexistent/qv_emit") << QByteArray() << QByteArray() << 0;
    QTest::newRow("directory as program") << QByteArray("%T") << QByteArray() << QByteArray() << 0;
    QTest::newRow("program not executable")
        << QByteArray("%T/plain") << QByteArray() << QByteArray("plain") << 0644;
    QTest::newRow("executable of no known format")
        << QByteArray("%T/noformat") << QByteArray() << QByteArray("noformat") << 0755;
    QTest::newRow("missing working directory")
        << Emit({"text:x"}) << QByteArray("/nonexistent/dir") << QByteArray() << 0;
    QTest::newRow("file as working directory")
        << Emit({"text:x"}) << QByteArray("%T/afile") << QByteArray("afile") << 0644;
    QTest::newRow("argument too long for the system")
        << Emit({"args", QByteArray(200 * 1024, 'a')}) << QByteArray() << QByteArray() << 0;
    QTest::newRow("NUL before the program") << QByteArray(1, '\0') + Emit({"text:x"}) << QByteArray()
                                            << QByteArray() << 0;
}

void TestDosCommand::failedStart() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, dir);
    QFETCH(QByteArray, makeFile);
    QFETCH(int, mode);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QByteArray t = QFile::encodeName(tmp.path());
    if (!makeFile.isEmpty()) {
        QFile f(tmp.filePath(QString::fromLatin1(makeFile)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("just some text\n");
        f.close();
        QVERIFY(::chmod(QFile::encodeName(f.fileName()).constData(), mode_t(mode)) == 0);
    }
    line.replace("%T", t);
    dir.replace("%T", t);

    TDosCommand c;
    Log log;
    log.Attach(c);
    QVERIFY(Run(c, Emit({"exit:42"})));
    const QList<int> before = OpenDescriptors();

    QCOMPARE(c.StartCommand(line, dir), false);
    QCOMPARE(c.IsOnExecution(), false);
    QCOMPARE(c.ExitCode(), 42u);
    QCOMPARE(OpenDescriptors(), before);
    QVERIFY(NoChildren());
    QTest::qWait(20);
    QCOMPARE(log.terminations, 1);  // the earlier run's only
    QVERIFY(log.chars.isEmpty());

    // The component is none the worse for it.
    QVERIFY(Run(c, Emit({"exit:8"})));
    QCOMPARE(c.ExitCode(), 8u);
}

void TestDosCommand::childSeesOnlyThePipe() {
    // A descriptor that this process left inheritable, a signal it ignores and
    // one it blocks do not reach the child, started directly or (with a nice
    // value of its own) from a helper thread; the child leads its own group.
    const int leaky = ::open("/dev/null", O_RDONLY);
    QVERIFY(leaky >= 0);
    struct sigaction ignore {}, savedTerm {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGTERM, &ignore, &savedTerm);
    sigset_t usr1, savedMask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &usr1, &savedMask);
    QList<Log> logs;
    bool ran = true;
    for (auto priority : {TDosCommand::dcpNormal, TDosCommand::dcpIdle}) {
        TDosCommand c;
        c.Priority = priority;
        logs << Log();
        logs.last().Attach(c);
        ran = Run(c, Emit({"fds", "signals", "stdin"})) && ran;
    }
    ::pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
    ::sigaction(SIGTERM, &savedTerm, nullptr);
    ::close(leaky);
    QVERIFY(ran);
    for (const Log &log : std::as_const(logs)) {
        QCOMPARE(log.Value("fds"), QByteArray("0,1,2"));
        QCOMPARE(log.Value("stdin"), QByteArray("0"));
        QCOMPARE(log.Value("sigblk"), QByteArray("0000000000000000"));
        // No signal 1..31 is ignored (glibc's posix_spawn leaves its own two
        // internal signals, 32 and 33, ignored in the child).
        QCOMPARE(log.Value("sigign").trimmed().toULongLong(nullptr, 16) & 0x7fffffffu, 0u);
        QCOMPARE(log.Value("leader"), QByteArray("1"));
    }
}

void TestDosCommand::workingDirectory() {
    QTemporaryDir given, current;
    QVERIFY(given.isValid() && current.isValid());
    const QByteArray givenPath = QFile::encodeName(QDir(given.path()).canonicalPath());
    const QByteArray currentPath = QFile::encodeName(QDir(current.path()).canonicalPath());
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(current.path()));

    TDosCommand c;
    Log log;
    log.Attach(c);
    QVERIFY(Run(c, Emit({"pwd"}), givenPath));
    QVERIFY(Run(c, Emit({"pwd"}), QByteArray()));
    // A relative program path means the runner's directory, not the child's.
    const bool copied = QFile::copy(QFile::decodeName(EmitPath()), current.filePath("emit-copy"));
    const bool relativeRan = copied && Run(c, Command("./emit-copy", {"pwd"}), givenPath);
    QDir::setCurrent(saved);
    QVERIFY(copied);
    QVERIFY(relativeRan);
    QCOMPARE(log.lines, (QByteArrayList{"pwd=" + givenPath, "pwd=" + currentPath, "pwd=" + givenPath}));

    // Both strings end at a NUL byte.
    log = Log();
    log.Attach(c);
    QVERIFY(Run(c, Emit({"pwd"}) + QByteArray("\0 exit:3", 8), givenPath + QByteArray("\0/junk", 6)));
    QCOMPARE(log.lines, QByteArrayList{"pwd=" + givenPath});
    QCOMPARE(c.ExitCode(), 0u);
}

void TestDosCommand::programLookup() {
    QTemporaryDir decoy, spaced;
    QVERIFY(decoy.isValid() && spaced.isValid());
    // An earlier PATH entry holding a non-executable file of that name is passed over.
    QFile notRunnable(decoy.filePath("qv_emit"));
    QVERIFY(notRunnable.open(QIODevice::WriteOnly));
    notRunnable.close();
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(decoy.path()) + "::" + ToolsDir() + ":" + savedPath);
    TDosCommand c;
    Log log;
    log.Attach(c);
    const bool byName = Run(c, "qv_emit text:found\\n\" quoted\"");
    qputenv("PATH", savedPath);
    QVERIFY(byName);
    QCOMPARE(log.chars, QByteArray("found\\n quoted"));

    // A program path with blanks and shell characters, quoted as the program word.
    const QString dir = spaced.filePath("my tools;x");
    QVERIFY(QDir().mkpath(dir));
    const QString program = dir + "/qv emit";
    QVERIFY(QFile::copy(QFile::decodeName(EmitPath()), program));
    log = Log();
    log.Attach(c);
    QVERIFY(Run(c, Command(QFile::encodeName(program), {"text:ran"})));
    QCOMPARE(log.chars, QByteArray("ran"));
}

void TestDosCommand::lookupTakesAbsolutePathEntriesOnly_data() {
    QTest::addColumn<QByteArray>("path");  // %A: an absolute directory holding the program
    QTest::addColumn<bool>("runs");        // false: nothing is started
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("empty entry first") << QByteArray(":/usr/bin") << false;
    QTest::newRow("empty entry last") << QByteArray("/usr/bin:") << false;
    QTest::newRow("empty entry between") << QByteArray("/usr/bin::/bin") << false;
    QTest::newRow("relative entry") << QByteArray("rel:/usr/bin") << false;
    QTest::newRow("dot") << QByteArray(".:/usr/bin") << false;
    QTest::newRow("dot slash") << QByteArray("./rel") << false;
    QTest::newRow("unset: /bin and /usr/bin") << QByteArray("(unset)") << false;
    QTest::newRow("relative ones passed over") << QByteArray(":rel:.:%A") << true;
    QTest::newRow("trailing slash") << QByteArray("%A/") << true;
}

void TestDosCommand::lookupTakesAbsolutePathEntriesOnly() {
    QFETCH(QByteArray, path);
    QFETCH(bool, runs);
    // The program lies in the current directory, in a directory below it, and
    // in an absolute one.
    QTemporaryDir current, absolute;
    QVERIFY(current.isValid() && absolute.isValid());
    QVERIFY(QDir(current.path()).mkdir("rel"));
    const QString emitFile = QFile::decodeName(EmitPath());
    for (const QString &copy : {current.filePath("qv_probe"), current.filePath("rel/qv_probe"),
                                absolute.filePath("qv_probe")})
        QVERIFY(QFile::copy(emitFile, copy));
    const QByteArray absoluteDir = QFile::encodeName(QDir(absolute.path()).canonicalPath());
    path.replace("%A", absoluteDir);

    const QString savedDir = QDir::currentPath();
    const QByteArray savedPath = qgetenv("PATH");
    QVERIFY(QDir::setCurrent(current.path()));
    if (path == "(unset)")
        qunsetenv("PATH");
    else
        qputenv("PATH", path);
    TDosCommand c;
    Log log;
    log.Attach(c);
    const bool started = c.StartCommand("qv_probe exe", QByteArray());
    const bool ended = !started || WaitForEnd(c);
    qputenv("PATH", savedPath);
    QDir::setCurrent(savedDir);
    QVERIFY(ended);
    QCOMPARE(started, runs);
    QCOMPARE(log.Value("exe"), runs ? absoluteDir + "/qv_probe" : QByteArray());
}

void TestDosCommand::shellCharactersReachTheProgram() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QByteArray name = "a;touch P1;$(touch P2)`touch P3`|touch P4 &&touch P5 >P6 \"q\" 'z'.c";
    TDosCommand c;
    Log log;
    log.Attach(c);
    QVERIFY(Run(c, Emit({"args", name, "x;touch P7", "$HOME"}) + " ;touch P8 | touch P9",
                QFile::encodeName(tmp.path())));
    QCOMPARE(log.lines, (QByteArrayList{"arg=" + name, "arg=x;touch P7", "arg=$HOME", "arg=;touch",
                                        "arg=P8", "arg=|", "arg=touch", "arg=P9"}));
    QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestDosCommand::grandchildHoldingThePipe_data() {
    QTest::addColumn<bool>("processFd");
    QTest::newRow("pidfd") << true;
    QTest::newRow("no pidfd") << false;
}

void TestDosCommand::grandchildHoldingThePipe() {
    QFETCH(bool, processFd);
    TDosCommand c;
    c.Reading.UseProcessFd = processFd;
    Log log;
    bool grandchildAliveAtEnd = false;
    log.Attach(c);
    auto terminate = c.OnTerminate;
    c.OnTerminate = [&](TDosCommand *s) {
        const QByteArray g = log.Value("gpid");
        grandchildAliveAtEnd = !g.isEmpty() && ::kill(pid_t(g.toInt()), 0) == 0;
        terminate(s);
    };
    // The grandchild keeps the write end for a minute; the run ends with the child.
    QVERIFY(Run(c, Emit({"text:before\n", "grandchild:60000:6c617465", "text:last", "exit:4"})));
    Grandchildren << log.Value("gpid");
    QVERIFY(grandchildAliveAtEnd);
    QCOMPARE(log.lines.first(), QByteArray("before"));
    QCOMPARE(log.lines.last(), QByteArray("last"));
    QCOMPARE(log.lines.size(), 3);
    QCOMPARE(c.ExitCode(), 4u);
}

void TestDosCommand::stop_data() {
    QTest::addColumn<QByteArrayList>("args");  // the child says "ready" when it is set
    QTest::addColumn<int>("graceMs");
    QTest::addColumn<quint32>("exitCode");
    QTest::addColumn<QByteArrayList>("lines");
    const QByteArray late = "grandchild:60000:6c617465";  // keeps the pipe for a minute
    QTest::newRow("ends at SIGTERM, last fragment still comes")
        << QByteArrayList{"text:ready\npartial", "sleep:60000"} << 60000 << 143u
        << QByteArrayList{"ready", "partial"};
    QTest::newRow("ignores SIGTERM: SIGKILL after the grace")
        << QByteArrayList{"ignore:15", "text:ready\n", "sleep:60000"} << 200 << 137u << QByteArrayList{"ready"};
    // The run ends with the child, long before the grace, though the pipe stays open.
    QTest::newRow("grandchild ignores SIGTERM and keeps the pipe")
        << QByteArrayList{"ignore:15", late, "default:15", "text:ready\n", "sleep:60000"} << 60000 << 143u
        << QByteArrayList{"ready"};
    QTest::newRow("both ignore SIGTERM, grandchild keeps the pipe")
        << QByteArrayList{"ignore:15", late, "text:ready\n", "sleep:60000"} << 200 << 137u
        << QByteArrayList{"ready"};
    QTest::newRow("ends on its own before the stop is seen")
        << QByteArrayList{"text:ready\n", "exit:5"} << 60000 << 5u << QByteArrayList{"ready"};
}

void TestDosCommand::stop() {
    QFETCH(QByteArrayList, args);
    QFETCH(int, graceMs);
    QFETCH(quint32, exitCode);
    QFETCH(QByteArrayList, lines);
    TDosCommand c;
    c.StopGraceMs = graceMs;
    Log log;
    log.Attach(c);
    QList<bool> stopsInTerminate, stoppingInTerminate;
    c.OnTerminate = [&, next = c.OnTerminate](TDosCommand *s) {
        stoppingInTerminate << s->IsStopping();
        stopsInTerminate << s->StopCommand();
        next(s);
    };
    // The stop comes from within the event of the line "ready", so that no
    // end handling can slip in before it.
    QList<bool> stops;
    bool stoppingAfterStop = false;
    c.OnOutputLine = [&, next = c.OnOutputLine](TDosCommand *s, const QByteArray &l) {
        next(s, l);
        if (l != "ready") return;
        if (exitCode == 5u) {  // gone, but its end not handled yet
            QDeadlineTimer deadline(10000);
            while (!Dead(pid_t(log.Value("pid").toInt())) && !deadline.hasExpired()) ::usleep(1000);
        }
        stops << s->StopCommand();
        stoppingAfterStop = s->IsStopping() && s->property("IsStopping").toBool();
        stops << s->StopCommand();  // already under way
    };
    QCOMPARE(c.StopCommand(), false);  // nothing runs
    QVERIFY(c.StartCommand(Emit(QByteArrayList{"pid"} + args), QByteArray()));
    QVERIFY(WaitFor([&] { return !stops.isEmpty(); }));
    const QByteArray grandchild = log.Value("gpid");
    if (!grandchild.isEmpty()) Grandchildren << grandchild;
    QCOMPARE(stops, (QList<bool>{true, false}));
    QVERIFY(stoppingAfterStop);
    QVERIFY(WaitFor([&] { return !c.IsOnExecution(); }, 20000));
    QByteArrayList childLines = log.lines;
    childLines.removeIf([](const QByteArray &l) { return l.startsWith("pid=") || l.startsWith("gpid="); });
    QCOMPARE(childLines, lines);
    QCOMPARE(log.terminations, 1);
    QCOMPARE(log.exitInTerminate, exitCode);
    QCOMPARE(stoppingInTerminate, QList<bool>{true});
    QCOMPARE(stopsInTerminate, QList<bool>{false});
    QCOMPARE(c.IsStopping(), false);
    // Nothing of the child's process group is left.
    if (!grandchild.isEmpty()) QVERIFY(WaitFor([&] { return Dead(pid_t(grandchild.toInt())); }, 10000));

    // The next run is an ordinary one.
    QVERIFY(Run(c, Emit({"text:again\n", "exit:6"})));
    QCOMPARE(c.ExitCode(), 6u);
    QCOMPARE(stoppingInTerminate, (QList<bool>{true, false}));
}

void TestDosCommand::priority_data() {
    QTest::addColumn<int>("priority");
    QTest::addColumn<int>("wanted");  // the nice value asked for; 99: the runner's own
    QTest::newRow("idle") << int(TDosCommand::dcpIdle) << 19;
    QTest::newRow("normal") << int(TDosCommand::dcpNormal) << 99;
    QTest::newRow("high") << int(TDosCommand::dcpHigh) << -10;
    QTest::newRow("real time") << int(TDosCommand::dcpRealTime) << -20;
    QTest::newRow("4, outside") << 4 << 99;
    QTest::newRow("255, outside") << 255 << 99;
}

void TestDosCommand::priority() {
    QFETCH(int, priority);
    QFETCH(int, wanted);
    const int own = OwnNice();
    int expected = own;
    if (wanted == 19)
        expected = 19;
    else if (wanted != 99 && wanted < own && MayRaisePriority())
        expected = wanted;

    TDosCommand c;
    QCOMPARE(c.Priority, TDosCommand::dcpNormal);
    c.Priority = TDosCommand::TDosCommandPriorityType(priority);
    Log log;
    log.Attach(c);
    QVERIFY(Run(c, Emit({"nice"})));
    QCOMPARE(log.Value("nice").toInt(), expected);
    QCOMPARE(OwnNice(), own);
}

void TestDosCommand::handlerErrorsAreContained() {
    TDosCommand c;
    Log log;
    log.Attach(c);
    auto line = c.OnOutputLine;
    c.OnOutputLine = [&](TDosCommand *s, const QByteArray &l) {
        line(s, l);
        if (l == "b") throw std::runtime_error("line handler failed");
    };
    auto terminate = c.OnTerminate;
    c.OnTerminate = [&](TDosCommand *s) {
        terminate(s);
        throw 17;
    };
    QTest::ignoreMessage(QtWarningMsg, "TDosCommand: OnOutputLine raised an error: line handler failed");
    QTest::ignoreMessage(QtWarningMsg, "TDosCommand: OnTerminate raised an error");
    QVERIFY(Run(c, Emit({"text:a\nb\nc\n", "exit:1"})));
    QCOMPARE(log.lines, (QByteArrayList{"a", "b", "c"}));
    QCOMPARE(log.terminations, 1);
    QCOMPARE(c.IsOnExecution(), false);
    QCOMPARE(c.ExitCode(), 1u);
}

void TestDosCommand::destroyWhileRunning_data() {
    QTest::addColumn<QByteArrayList>("args");
    QTest::addColumn<int>("linesFirst");  // lines to see first; -1: the child ends unseen
    QTest::newRow("child waits, a helper with it")
        << QByteArrayList{"grandchild:60000:", "text:partial\n", "sleep:60000"} << 2;
    // The reader is busy handing over: what it has posted meanwhile must
    // neither block the destruction nor run afterwards.
    for (int n : {1, 50, 3000})
        QTest::newRow(qPrintable(QString("heavy output, %1 lines").arg(n)))
            << QByteArrayList{"lines:1000000000:80"} << n;
    QTest::newRow("child over, end handling not run yet") << QByteArrayList{"exit:3"} << -1;
}

void TestDosCommand::destroyWhileRunning() {
    QFETCH(QByteArrayList, args);
    QFETCH(int, linesFirst);
    auto *c = new TDosCommand;
    Log log;
    log.Attach(*c);
    QVERIFY(c->StartCommand(Emit(args), QByteArray()));
    if (linesFirst < 0)
        ::usleep(200 * 1000);  // no events are processed meanwhile
    else
        QVERIFY(WaitFor([&] { return log.lines.size() >= linesFirst; }));
    const pid_t grandchild = pid_t(log.Value("gpid").toInt());
    if (grandchild > 0) Grandchildren << log.Value("gpid");

    log.destroyed = true;
    delete c;
    QVERIFY(NoChildren());
    QCOMPARE(OpenDescriptors(), BaseDescriptors);
    // The child's helpers go with it.
    if (grandchild > 0) QVERIFY(WaitFor([&] { return Dead(grandchild); }, 10000));
    QTest::qWait(20);
    QCOMPARE(log.late, 0);
    QCOMPARE(log.terminations, 0);
}

void TestDosCommand::destroyFromEvent_data() {
    QTest::addColumn<QByteArray>("event");
    QTest::newRow("OnOutputChar") << QByteArray("char");
    QTest::newRow("OnOutputLine") << QByteArray("line");
    QTest::newRow("OnTerminate") << QByteArray("terminate");
}

void TestDosCommand::destroyFromEvent() {
    QFETCH(QByteArray, event);
    auto *c = new TDosCommand;
    Log log;
    log.Attach(*c);
    auto destroy = [&](TDosCommand *s) {
        log.destroyed = true;
        delete s;
    };
    c->OnOutputChar = [&, next = c->OnOutputChar](TDosCommand *s, char b) {
        next(s, b);
        if (event == "char" && log.chars.endsWith("last")) destroy(s);
    };
    c->OnOutputLine = [&, next = c->OnOutputLine](TDosCommand *s, const QByteArray &l) {
        next(s, l);
        if (event == "line" && l == "last words") destroy(s);
    };
    c->OnTerminate = [&, next = c->OnTerminate](TDosCommand *s) {
        next(s);
        if (event == "terminate") destroy(s);
    };
    QVERIFY(c->StartCommand(Emit({"text:last words\nnever seen\n",
                                  event == "terminate" ? "exit:2" : "sleep:60000"}),
                            QByteArray()));
    QVERIFY(WaitFor([&] { return log.destroyed; }));
    QVERIFY(NoChildren());
    // A reader stopped from within its own hand-over goes away through the event loop.
    QVERIFY(WaitFor([&] { return OpenDescriptors() == BaseDescriptors; }, 10000));
    QTest::qWait(20);
    QCOMPARE(log.late, 0);
    if (event == "char") {
        QCOMPARE(log.chars, QByteArray("last"));
        QCOMPARE(log.lines, QByteArrayList{});
    } else if (event == "line") {
        QCOMPARE(log.chars, QByteArray("last words\n"));
        QCOMPARE(log.lines, QByteArrayList{"last words"});
    } else {
        QCOMPARE(log.lines, (QByteArrayList{"last words", "never seen"}));
        QCOMPARE(log.exitInTerminate, 2u);
    }
}

QV_TEST_MAIN(TestDosCommand)
#include "tst_doscmd.moc"
