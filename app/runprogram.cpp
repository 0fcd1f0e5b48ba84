#include "runprogram.h"

#include "dosrun.h"
#include "spawnpipe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {
constexpr int LogLines = 40;

void SignalGroup(pid_t pid, int sig) {
    ::kill(-pid, sig);
    ::kill(pid, sig);
}
}  // namespace

const QString TRunProgram::StoppedEndLine = QStringLiteral("- 実行終了。");
const QString TRunProgram::StoppedLine = QStringLiteral("* 実行を中止しました。");
const QString TRunProgram::TooMuchLine = QStringLiteral("* 出力が多すぎるため、実行を中止しました。");
const QString TRunProgram::FailedLine = QStringLiteral("* DOSBox がプログラムを最後まで実行できませんでした。");
const QString TRunProgram::NoDosBoxLine =
    QStringLiteral("* DOSBox (dosbox) が見つかりません。パッケージ dosbox をインストールしてください。");
const QString TRunProgram::NotBuiltLine = QStringLiteral("* ビルドが成功しなかったため、実行しません。");

QString TRunProgram::StartLine(const QString &program, bool window) {
    return window ? QStringLiteral("- ") + program + QStringLiteral("を DOSBox のウィンドウで実行します…")
                  : QStringLiteral("- ") + program + QStringLiteral("の実行を開始します…");
}

QString TRunProgram::EndLine(int exitCode) { return QStringLiteral("- 実行終了 (終了コード %1)。").arg(exitCode); }

QString TRunProgram::NoProgramLine(const QString &program) {
    return QStringLiteral("* プログラム ") + program + QStringLiteral(" がありません。");
}

QString TRunProgram::CannotPrepareLine(const QString &why) {
    return QStringLiteral("* DOSBox での実行を準備できませんでした (%1)。").arg(why);
}

TRunProgram::TRunProgram(QObject *parent) : QObject(parent), Timer(new QTimer(this)), Grace(new QTimer(this)) {
    connect(Timer, &QTimer::timeout, this, &TRunProgram::Poll);
    Grace->setSingleShot(true);
    connect(Grace, &QTimer::timeout, this, [this] {
        // Not reaped yet, so the id (and the group's) is still DOSBox's.
        if (Pid > 0) SignalGroup(Pid, SIGKILL);
    });
}

TRunProgram::~TRunProgram() {
    if (Pid > 0) {
        SignalGroup(Pid, SIGKILL);
        ReapChild(Pid);
        Pid = -1;
    }
    if (LogFd >= 0) ::close(LogFd);
}

QString TRunProgram::RunFolder() const { return Folder && IsRunning() ? Folder->path() : QString(); }

TRunProgram::TStart TRunProgram::Start(const QString &program, bool window, QString *error) {
    QString dummy;
    if (!error) error = &dummy;
    if (IsRunning()) return Busy;
    const QByteArray dosbox = FindProgram("dosbox");
    if (dosbox.isEmpty()) return NoDosBox;
    if (!QFileInfo(program).isFile()) return NoProgram;

    auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/quelvane-run-XXXXXX"));
    if (!folder->isValid()) {
        *error = folder->errorString();
        return CannotPrepare;
    }
    if (!dosrun::PrepareFolder(folder->path(), program, QFileInfo(program).absolutePath(), window, error))
        return CannotPrepare;

    // Without a window SDL gets its dummy drivers, whatever the user's are.
    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e) {
        const QByteArray v(*e);
        if (!window && (v.startsWith("SDL_VIDEODRIVER=") || v.startsWith("SDL_AUDIODRIVER="))) continue;
        env.push_back(v);
    }
    if (!window)
        for (const QByteArray &v : dosrun::HeadlessVariables()) env.push_back(v);
    std::vector<char *> envp;
    for (QByteArray &v : env) envp.push_back(v.data());
    envp.push_back(nullptr);

    TSpawnOptions options;
    options.Environment = envp.data();
    options.WorkingDirectory = QFile::encodeName(folder->path());
    TSpawnedChild child;
    int e = 0;
    if (!SpawnWithPipe(dosbox, QList<QByteArray>{"dosbox"} + dosrun::Arguments(folder->path()), options, &child, &e)) {
        *error = QString::fromLocal8Bit(std::strerror(e));
        return CannotPrepare;
    }
    ::fcntl(child.ReadEnd, F_SETFL, ::fcntl(child.ReadEnd, F_GETFL) | O_NONBLOCK);
    Folder = std::move(folder);
    Pid = child.Pid;
    LogFd = child.ReadEnd;
    Window = window;
    Stopping = OverLimit = false;
    Offset = 0;
    Pending.clear();
    LogPending.clear();
    Log.clear();
    Timer->start(PollMs);
    return Started;
}

bool TRunProgram::Stop() {
    if (!IsRunning() || Stopping) return false;
    Stopping = true;
    SignalGroup(Pid, SIGTERM);
    Grace->start(std::max(0, StopGraceMs));
    return true;
}

// DOSBox's own lines (its version, the configuration it read, SDL's
// complaints): the last few are kept for a run that fails.
void TRunProgram::ReadLog() {
    if (LogFd < 0) return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(LogFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        LogPending.append(buf, n);
    }
    qsizetype nl;
    while ((nl = LogPending.indexOf('\n')) >= 0) {
        Log << LogPending.left(std::min<qsizetype>(nl, 500)).trimmed();
        LogPending.remove(0, nl + 1);
        if (Log.size() > LogLines) Log.removeFirst();
    }
    if (LogPending.size() > 4096) LogPending.clear();
}

void TRunProgram::ReadOutput(bool last) {
    if (Window || !Folder) return;
    QFile out(QDir(Folder->path()).filePath(QLatin1String(dosrun::OutputFile)));
    if (out.open(QIODevice::ReadOnly) && out.size() > Offset && out.seek(Offset)) {
        const QByteArray bytes = out.read(std::min<qint64>(out.size() - Offset, 16 * 1024 * 1024));
        Offset += bytes.size();
        Pending += bytes;
    }
    QPointer<TRunProgram> alive(this);
    qsizetype from = 0, nl;
    QList<QByteArray> lines;
    while ((nl = Pending.indexOf('\n', from)) >= 0) {
        const qsizetype end = nl > from && Pending.at(nl - 1) == '\r' ? nl - 1 : nl;
        lines << Pending.mid(from, end - from);
        from = nl + 1;
    }
    Pending.remove(0, from);
    if (last && !Pending.isEmpty()) {
        lines << Pending;
        Pending.clear();
    }
    for (const QByteArray &line : std::as_const(lines)) {
        if (OnOutputLine) OnOutputLine(line);
        if (!alive) return;
    }
    if (!last && Offset > OutputLimit && !OverLimit) {
        OverLimit = true;
        Stop();
    }
}

void TRunProgram::Poll() {
    if (Pid <= 0) return;
    ReadLog();
    // Looked at without reaping: until it is reaped, DOSBox's id is its own.
    siginfo_t info{};
    if (::waitid(P_PID, id_t(Pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0) {
        ReadOutput(false);
        return;
    }
    Finish();
}

void TRunProgram::Finish() {
    Timer->stop();
    Grace->stop();
    // A stopped run leaves nothing of its process group behind.
    if (Stopping) SignalGroup(Pid, SIGKILL);
    ReapChild(Pid);
    Pid = -1;
    ReadLog();
    ::close(LogFd);
    LogFd = -1;
    QPointer<TRunProgram> alive(this);
    ReadOutput(true);
    if (!alive) return;
    const int code = Folder ? dosrun::ReadExitCode(Folder->path()) : -1;
    Folder.reset();  // the run folder goes
    TEnd how = Ended;
    if (OverLimit) how = TooMuchOutput;
    else if (Stopping) how = Stopped;
    else if (code < 0) how = DosBoxFailed;
    Stopping = false;
    if (OnTerminate) OnTerminate(how, how == Ended ? code : -1);
}
