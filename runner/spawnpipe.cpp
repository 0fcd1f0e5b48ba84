// Programs are started with glibc's posix_spawn: it runs the file actions and
// the exec in a child that shares the parent's memory until the exec (no copy
// of a large parent's page tables), and it reports a failure of any step
// (chdir, open, dup2, setpgid, exec) back as its result. What it can't do is
// set a nice value; the child inherits that of the thread that calls
// posix_spawn, so a child that wants another one is started from a short
// helper thread that sets its own nice value first.
#include "spawnpipe.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <system_error>
#include <thread>
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

// One posix_spawn; 0 or an errno value.
int Spawn(const QByteArray &program, char *const *argv, const TSpawnOptions &options, int writeEnd,
          pid_t *pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (int e = posix_spawn_file_actions_init(&actions)) return e;
    if (int e = posix_spawnattr_init(&attr)) {
        posix_spawn_file_actions_destroy(&actions);
        return e;
    }
    // The two outputs first, then standard input: whichever of 0, 1 and 2 the
    // write end happens to be, nothing is overwritten that is still needed.
    int e = posix_spawn_file_actions_adddup2(&actions, writeEnd, 1);
    if (!e) e = posix_spawn_file_actions_adddup2(&actions, writeEnd, 2);
    if (!e) e = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // Whatever else this process has open, close-on-exec or not, stays here.
    if (!e) e = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!e && !options.WorkingDirectory.isEmpty())
        e = posix_spawn_file_actions_addchdir_np(&actions, options.WorkingDirectory.constData());
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    if (!e) e = posix_spawnattr_setsigmask(&attr, &none);
    if (!e) e = posix_spawnattr_setsigdefault(&attr, &all);
    if (!e) e = posix_spawnattr_setpgroup(&attr, 0);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.OwnProcessGroup) flags |= POSIX_SPAWN_SETPGROUP;
    if (!e) e = posix_spawnattr_setflags(&attr, flags);
    if (!e)
        e = posix_spawn(pid, program.constData(), &actions, &attr, argv,
                        options.Environment ? options.Environment : environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return e;
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
        if (!dir.startsWith('/')) continue;
        const QByteArray candidate = dir.endsWith('/') ? dir + word : dir + '/' + word;
        if (IsExecutableFile(candidate)) return candidate;
    }
    return QByteArray();
}

bool SpawnWithPipe(const QByteArray &program, const QList<QByteArray> &args, const TSpawnOptions &options,
                   TSpawnedChild *child, int *error) {
    int dummy;
    if (!error) error = &dummy;
    *error = 0;
    if (program.isEmpty() || args.isEmpty()) {
        *error = ENOENT;
        return false;
    }
    std::vector<QByteArray> argStore(args.begin(), args.end());
    std::vector<char *> argv;
    for (QByteArray &a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *error = errno;
        return false;
    }
    pid_t pid = -1;
    int e = EAGAIN;
    if (options.Nice == KeepNice) {
        e = Spawn(program, argv.data(), options, out[1], &pid);
    } else {
        try {
            std::thread helper([&] {
                ::setpriority(PRIO_PROCESS, id_t(::gettid()), options.Nice);  // refused: stays
                e = Spawn(program, argv.data(), options, out[1], &pid);
            });
            helper.join();
        } catch (const std::system_error &) {
            e = EAGAIN;
        }
    }
    ::close(out[1]);
    if (e != 0) {
        ::close(out[0]);
        *error = e;
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
