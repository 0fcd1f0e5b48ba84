#include "bench.h"

#include <QApplication>
#include <QByteArray>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace bench {
namespace {
struct Case {
    const char *name;
    Fn fn;
};
std::vector<Case> &cases() {
    static std::vector<Case> c;
    return c;
}
}  // namespace

int add(const char *name, Fn fn) {
    cases().push_back({name, fn});
    return int(cases().size());
}

double seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

long residentKiB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

namespace {
bool peakResets = false;
}

void resetPeak() {
    std::ofstream f("/proc/self/clear_refs");
    f << "5";
    f.flush();
    peakResets = bool(f);
}

long peakKiB() {
    if (!peakResets) return -1;
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

long heapBytes() {
#ifdef __GLIBC__
    const struct mallinfo2 m = mallinfo2();
    return long(m.uordblks + m.hblkhd);
#else
    return -1;
#endif
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
}  // namespace bench

// Usage: qv_bench [case-name-substring...]
int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (const auto &c : bench::cases()) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i)
            if (std::strstr(c.name, argv[i])) wanted = true;
        if (!wanted) continue;
        std::printf("== %s\n", c.name);
        std::fflush(stdout);
        c.fn();
        std::fflush(stdout);
    }
    return 0;
}
