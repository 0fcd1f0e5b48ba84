// A stand-in for lcc86.exe in the build benchmark: it takes the same command
// lines, spends a fixed time on each compile and writes what the real one
// writes, so that the figures measure the build and not the compiler.
//
//   lcc86.exe [-O] [-js] [-w1] [-c] SOURCE   prints "SOURCE 1: warning: stand-in",
//                                            writes SOURCE's object file
//                                            (its extension replaced by .obj)
//   lcc86.exe -o PROGRAM OBJECT...           writes PROGRAM
//
// QV_STANDIN_MS is the time of a compile in milliseconds (200 unless set);
// QV_STANDIN_MODE=sleep sleeps it, anything else spends it computing (the
// process's own CPU time), as a compiler does.
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double CpuSeconds() {
    timespec ts;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void Spend(long ms, bool sleep) {
    if (sleep) {
        timespec ts{ms / 1000, (ms % 1000) * 1000000L};
        while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
        return;
    }
    const double until = CpuSeconds() + double(ms) / 1000.0;
    volatile unsigned long sink = 0;
    unsigned long x = 88172645463325252UL;
    while (CpuSeconds() < until) {
        for (int i = 0; i < 20000; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
        }
        sink = sink + x;
    }
}

// The object path: the extension (from the last "." after the last "/")
// replaced by ".obj", or ".obj" appended.
std::string ObjectPath(const std::string &source) {
    const size_t slash = source.rfind('/');
    const size_t dot = source.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return source + ".obj";
    return source.substr(0, dot) + ".obj";
}

bool Write(const std::string &path, const char *text) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fputs(text, f) >= 0;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv) {
    const char *msEnv = std::getenv("QV_STANDIN_MS");
    const char *modeEnv = std::getenv("QV_STANDIN_MODE");
    const long ms = msEnv ? std::atol(msEnv) : 200;
    const bool sleep = modeEnv && std::strcmp(modeEnv, "sleep") == 0;
    if (argc >= 3 && std::strcmp(argv[1], "-o") == 0) return Write(argv[2], "stand-in program\n") ? 0 : 1;
    const char *source = nullptr;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '-') source = argv[i];
    if (!source) {
        std::fputs("lcc86.exe (stand-in): no source\n", stderr);
        return 2;
    }
    Spend(ms, sleep);
    std::printf("%s 1: warning: stand-in\n", source);
    return Write(ObjectPath(source), "stand-in object\n") ? 0 : 1;
}
