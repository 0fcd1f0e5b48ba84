// The main function of a program of several test classes (testmain.h): it
// runs the class that its first argument names.
#include "testmain.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

struct TRegistry {
    std::map<std::string, qvtest::TRunTests> Runs;
    std::string Twice;  // a name registered twice, if any
};

TRegistry &Registry() {
    static TRegistry registry;
    return registry;
}

}  // namespace

bool qvtest::RegisterTests(const char *sourcePath, TRunTests run) {
    std::string name = sourcePath;
    name.erase(0, name.find_last_of('/') + 1);
    name = name.substr(0, name.find('.'));
    if (!Registry().Runs.emplace(name, run).second) Registry().Twice = name;
    return true;
}

int main(int argc, char **argv) {
    const TRegistry &registry = Registry();
    if (!registry.Twice.empty()) {
        std::fprintf(stderr, "%s: two test classes are registered as %s\n", argv[0], registry.Twice.c_str());
        return 2;
    }
    const auto found = argc >= 2 ? registry.Runs.find(argv[1]) : registry.Runs.end();
    if (found == registry.Runs.end()) {
        std::string names;
        for (const auto &entry : registry.Runs) names += (names.empty() ? "" : " ") + entry.first;
        std::fprintf(stderr, "usage: %s TEST [Qt Test arguments]\nTEST is one of: %s\n", argv[0], names.c_str());
        return 2;
    }
    argv[1] = argv[0];  // Qt Test sees the program's name and the arguments after the test's
    return found->second(argc - 1, argv + 1);
}
