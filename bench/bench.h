#pragma once
// The benchmark program: each case registers itself and prints its own figures.
#include <cstdio>
#include <vector>

namespace bench {
using Fn = void (*)();
int add(const char *name, Fn fn);
double seconds();             // a monotonic clock
long residentKiB();           // the process's resident memory now
// The peak of the resident memory since the last ResetPeak (the kernel's high
// water mark; -1 where the kernel cannot reset it).
long peakKiB();
void resetPeak();
long heapBytes();             // bytes the C library's allocator has handed out
double median(std::vector<double> values);
}  // namespace bench

#define QV_BENCH(name)                                          \
    static void name();                                         \
    [[maybe_unused]] static int name##_reg = bench::add(#name, name); \
    static void name()
