#pragma once
// The benchmark program: each case registers itself and prints its own figures.
#include <cstdio>

namespace bench {
using Fn = void (*)();
int add(const char *name, Fn fn);
double seconds();             // a monotonic clock
long residentKiB();           // the process's resident memory now
}  // namespace bench

#define QV_BENCH(name)                                          \
    static void name();                                         \
    [[maybe_unused]] static int name##_reg = bench::add(#name, name); \
    static void name()
