// qv_emit: a child process for the runner's tests and benchmark. It carries
// out its arguments in order and then exits with status 0:
//   out:HEX            write the bytes to standard output
//   err:HEX            write the bytes to standard error
//   text:TEXT          write TEXT as it is to standard output
//   sleep:MS           pause
//   lines:COUNT:LEN    write COUNT lines of LEN bytes each, LF included: the
//                      line number in 10 digits, then 'x' up to the LF
//   stamp              write "stamp=<CLOCK_MONOTONIC in ns>" and LF
//   nice | pwd | pid   write "nice=N", "pwd=DIR" or "pid=N" and LF
//   exe                write "exe=<the program file that runs>" and LF
//   signals            write "sigblk=HEX", "sigign=HEX" (blocked and ignored
//                      signals, as the system lists them) and "leader=1" when
//                      it leads its own process group (0 otherwise), each with LF
//   ignore:SIG         ignore the signal (a grandchild started later inherits that)
//   default:SIG        give the signal its default action again
//   fds                write "fds=" and the open descriptors, e.g. "fds=0,1,2"
//   stdin              read standard input to its end, write "stdin=<count>"
//   args               write each remaining argument as "arg=<argument>" and LF,
//                      then stop reading arguments
//   grandchild:MS:HEX  start a grandchild that keeps the outputs, sleeps MS and
//                      writes the bytes; write "gpid=N" and LF, and go on
//   pipe:BYTES         make the pipe on standard output hold that many bytes
//   close              close standard output and standard error
//   kill:SIG           send itself the signal
//   exit:N             exit with status N now
// An unknown argument is reported on standard error and gives status 2.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void WriteAll(int fd, const char *p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            ::_exit(3);
        }
        p += w;
        n -= size_t(w);
    }
}

void WriteAll(int fd, const std::string &s) { WriteAll(fd, s.data(), s.size()); }

bool Hex(const std::string &hex, std::string *out) {
    if (hex.size() % 2) return false;
    out->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        char *end = nullptr;
        const std::string pair = hex.substr(i, 2);
        long v = std::strtol(pair.c_str(), &end, 16);
        if (*end) return false;
        out->push_back(char(v));
    }
    return true;
}

void SleepMs(long ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void Lines(long long count, int len) {
    if (len < 12) len = 12;
    std::string block;
    const size_t flushAt = 64 * 1024;
    char num[32];
    for (long long i = 0; i < count; ++i) {
        std::snprintf(num, sizeof num, "%010lld", i);
        block += num;
        block.append(size_t(len - 11), 'x');
        block += '\n';
        if (block.size() >= flushAt) {
            WriteAll(1, block);
            block.clear();
        }
    }
    WriteAll(1, block);
}

bool StartsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

[[noreturn]] void Usage(const std::string &arg) {
    WriteAll(2, "qv_emit: unknown argument: " + arg + "\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        std::string bytes;
        if (StartsWith(a, "out:") || StartsWith(a, "err:")) {
            if (!Hex(a.substr(4), &bytes)) Usage(a);
            WriteAll(a[0] == 'o' ? 1 : 2, bytes);
        } else if (StartsWith(a, "text:")) {
            WriteAll(1, a.substr(5));
        } else if (StartsWith(a, "sleep:")) {
            SleepMs(std::atol(a.c_str() + 6));
        } else if (StartsWith(a, "lines:")) {
            long long count = 0;
            int len = 0;
            if (std::sscanf(a.c_str() + 6, "%lld:%d", &count, &len) != 2) Usage(a);
            Lines(count, len);
        } else if (a == "stamp") {
            timespec ts;
            ::clock_gettime(CLOCK_MONOTONIC, &ts);
            WriteAll(1, "stamp=" + std::to_string((long long)ts.tv_sec * 1000000000LL + ts.tv_nsec) + "\n");
        } else if (a == "nice") {
            errno = 0;
            int n = ::getpriority(PRIO_PROCESS, 0);
            WriteAll(1, "nice=" + std::to_string(n) + "\n");
        } else if (a == "pwd") {
            char buf[4096];
            WriteAll(1, std::string("pwd=") + (::getcwd(buf, sizeof buf) ? buf : "?") + "\n");
        } else if (a == "pid") {
            WriteAll(1, "pid=" + std::to_string(::getpid()) + "\n");
        } else if (a == "exe") {
            char buf[4096];
            const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
            WriteAll(1, "exe=" + std::string(buf, n > 0 ? size_t(n) : 0) + "\n");
        } else if (a == "signals") {
            FILE *status = std::fopen("/proc/self/status", "r");
            char line[256];
            while (status && std::fgets(line, sizeof line, status)) {
                std::string l(line);
                if (StartsWith(l, "SigBlk:\t")) WriteAll(1, "sigblk=" + l.substr(8));
                if (StartsWith(l, "SigIgn:\t")) WriteAll(1, "sigign=" + l.substr(8));
            }
            if (status) std::fclose(status);
            WriteAll(1, std::string("leader=") + (::getpgrp() == ::getpid() ? "1" : "0") + "\n");
        } else if (StartsWith(a, "ignore:") || StartsWith(a, "default:")) {
            const bool ignore = a[0] == 'i';
            ::signal(std::atoi(a.c_str() + (ignore ? 7 : 8)), ignore ? SIG_IGN : SIG_DFL);
        } else if (a == "fds") {
            std::string list;
            DIR *d = ::opendir("/proc/self/fd");
            const int own = d ? ::dirfd(d) : -1;
            std::vector<int> fds;
            while (d) {
                dirent *e = ::readdir(d);
                if (!e) break;
                if (e->d_name[0] == '.') continue;
                int fd = std::atoi(e->d_name);
                if (fd != own) fds.push_back(fd);
            }
            if (d) ::closedir(d);
            for (size_t k = 0; k < fds.size(); ++k) list += (k ? "," : "") + std::to_string(fds[k]);
            WriteAll(1, "fds=" + list + "\n");
        } else if (a == "stdin") {
            char buf[4096];
            long long total = 0;
            for (;;) {
                ssize_t n = ::read(0, buf, sizeof buf);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) {
                    total = -1;
                    break;
                }
                if (n == 0) break;
                total += n;
            }
            WriteAll(1, "stdin=" + std::to_string(total) + "\n");
        } else if (a == "args") {
            for (int k = i + 1; k < argc; ++k) WriteAll(1, std::string("arg=") + argv[k] + "\n");
            break;
        } else if (StartsWith(a, "grandchild:")) {
            long ms = 0;
            char hex[4096] = {0};
            if (std::sscanf(a.c_str() + 11, "%ld:%4095s", &ms, hex) < 1) Usage(a);
            if (!Hex(hex, &bytes)) Usage(a);
            pid_t g = ::fork();
            if (g == 0) {
                SleepMs(ms);
                WriteAll(1, bytes);
                ::_exit(0);
            }
            WriteAll(1, "gpid=" + std::to_string(g) + "\n");
        } else if (StartsWith(a, "pipe:")) {
            if (::fcntl(1, F_SETPIPE_SZ, std::atoi(a.c_str() + 5)) < 0) {
                WriteAll(2, "qv_emit: standard output is no pipe of that size\n");
                std::exit(2);
            }
        } else if (a == "close") {
            ::close(1);
            ::close(2);
        } else if (StartsWith(a, "kill:")) {
            ::kill(::getpid(), std::atoi(a.c_str() + 5));
            SleepMs(10000);
        } else if (StartsWith(a, "exit:")) {
            std::exit(std::atoi(a.c_str() + 5));
        } else {
            Usage(a);
        }
    }
    return 0;
}
