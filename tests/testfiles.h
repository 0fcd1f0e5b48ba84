#pragma once
// Real files for the tests: reading and writing them whole, and a disk that
// refuses every byte past a limit.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <csignal>
#include <sys/resource.h>

// QV_ADDRESS_SANITIZER is 1 in a build under AddressSanitizer, whichever
// compiler made it (gcc and clang tell it in different ways), else 0.
#if defined(__SANITIZE_ADDRESS__)
#define QV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef QV_ADDRESS_SANITIZER
#define QV_ADDRESS_SANITIZER 0
#endif

namespace qvtest {

// The file's bytes, or "<missing>" when it can't be read.
inline QByteArray ReadFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline bool WriteFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// While it lives, the process may not write files past `bytes` bytes: the
// disk refuses the rest, as a full disk would (SIGXFSZ is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : OldHandler(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &Saved);
        rlimit small = Saved;
        small.rlim_cur = bytes;
        Active = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &Saved);
        std::signal(SIGXFSZ, OldHandler);
    }
    bool IsActive() const { return Active; }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit Saved{};
    void (*OldHandler)(int);
    bool Active = false;
};

}  // namespace qvtest
