#include "spawn.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char **environ;

namespace {

bool IsExecutableFile(const QByteArray &path) {
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.constData(), X_OK) == 0;
}

QByteArray CurrentDirectory() {
    QByteArray buf(4096, '\0');
    for (;;) {
        if (::getcwd(buf.data(), size_t(buf.size()))) return QByteArray(buf.constData());
        if (errno != ERANGE) return QByteArray();
        buf.resize(buf.size() * 2);
    }
}

QByteArray Absolute(const QByteArray &path) {
    if (path.startsWith('/')) return path;
    const QByteArray cwd = CurrentDirectory();
    if (cwd.isEmpty()) return QByteArray();
    return cwd.endsWith('/') ? cwd + path : cwd + '/' + path;
}

void CloseQuietly(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Moves a descriptor above the standard three, so that the child's dup2 onto
// 0, 1 and 2 can never overwrite one of the descriptors it still needs.
bool LiftAboveStandard(int &fd) {
    if (fd > 2) return true;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (moved < 0) return false;
    ::close(fd);
    fd = moved;
    return true;
}

[[noreturn]] void ChildFails(int statusWrite) {
    int err = errno;
    ssize_t ignored = ::write(statusWrite, &err, sizeof err);
    (void)ignored;
    ::_exit(127);
}

}  // namespace

QByteArray FindProgram(const QByteArray &word) {
    if (word.isEmpty()) return QByteArray();
    if (word.contains('/')) {
        // Reported by exec when it can't run: a missing file is found out here.
        const QByteArray path = Absolute(word);
        struct stat st;
        return (!path.isEmpty() && ::stat(path.constData(), &st) == 0) ? path : QByteArray();
    }
    const char *env = ::getenv("PATH");
    const QByteArray pathList = env ? QByteArray(env) : QByteArray("/bin:/usr/bin");
    for (const QByteArray &dir : pathList.split(':')) {
        const QByteArray candidate = Absolute((dir.isEmpty() ? QByteArray(".") : dir) + '/' + word);
        if (!candidate.isEmpty() && IsExecutableFile(candidate)) return candidate;
    }
    return QByteArray();
}

bool SpawnWithPipe(const QByteArray &program, const QList<QByteArray> &args,
                   const QByteArray &workingDirectory, int nice, TSpawnedChild *child,
                   int *error) {
    int dummy;
    if (!error) error = &dummy;
    *error = 0;
    if (program.isEmpty() || args.isEmpty()) {
        *error = ENOENT;
        return false;
    }

    // Everything the child needs is prepared now: after fork only
    // async-signal-safe calls are made.
    std::vector<QByteArray> argStore(args.begin(), args.end());
    std::vector<char *> argv;
    for (QByteArray &a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    const char *dir = workingDirectory.isEmpty() ? nullptr : workingDirectory.constData();

    int out[2] = {-1, -1}, status[2] = {-1, -1}, devNull = -1;
    auto closeAll = [&] {
        int saved = errno;
        CloseQuietly(out[0]);
        CloseQuietly(out[1]);
        CloseQuietly(status[0]);
        CloseQuietly(status[1]);
        CloseQuietly(devNull);
        errno = saved;
    };
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(status, O_CLOEXEC) != 0 ||
        (devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) < 0 ||
        !LiftAboveStandard(out[0]) || !LiftAboveStandard(out[1]) ||
        !LiftAboveStandard(status[1]) || !LiftAboveStandard(devNull) ||
        ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK) != 0) {
        *error = errno;
        closeAll();
        return false;
    }

    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = errno;
        closeAll();
        return false;
    }
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl;
        std::memset(&dfl, 0, sizeof dfl);
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        ::setpgid(0, 0);
        if (::dup2(devNull, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(out[1], 2) < 0)
            ChildFails(status[1]);
        if (dir && ::chdir(dir) != 0) ChildFails(status[1]);
        if (nice != KeepNice) ::setpriority(PRIO_PROCESS, 0, nice);  // refused: stays
        // Whatever else this process has open, even without close-on-exec,
        // does not reach the program.
        if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            const long max = ::sysconf(_SC_OPEN_MAX);
            for (long fd = 3; fd < (max > 0 && max < 65536 ? max : 65536); ++fd)
                ::fcntl(int(fd), F_SETFD, FD_CLOEXEC);
        }
        ::execve(program.constData(), argv.data(), environ);
        ChildFails(status[1]);
    }

    CloseQuietly(out[1]);
    CloseQuietly(devNull);
    CloseQuietly(status[1]);
    // The status pipe closes at a successful exec; a failure arrives as errno.
    int childError = 0;
    ssize_t got;
    do {
        got = ::read(status[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    CloseQuietly(status[0]);
    if (got > 0) {
        ReapChild(pid);
        *error = childError ? childError : ENOEXEC;
        CloseQuietly(out[0]);
        return false;
    }
    child->Pid = pid;
    child->ReadEnd = out[0];
    return true;
}

int ReapChild(pid_t pid) {
    int st = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &st, 0);
    } while (r < 0 && errno == EINTR);
    if (r != pid) return -1;
    if (WIFEXITED(st)) return WEXITSTATUS(st);
    if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
    return -1;
}
