#include "safewrite.h"

#include "qverror.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <new>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray NativePath(const QString &path) { return QFile::encodeName(path); }

bool WriteAll(int fd, const char *p, qint64 n, qint64 offset) {
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, size_t(std::min<qint64>(n, 1 << 30)), off_t(offset));
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = ENOSPC;
            return false;
        }
        p += w;
        n -= w;
        offset += w;
    }
    return true;
}

void SyncFolderOf(const QString &path) {
    const int dir = ::open(NativePath(QFileInfo(path).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    ::fsync(dir);
    ::close(dir);
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

qint64 LargestFileInMemory() {
    qint64 most = std::numeric_limits<qsizetype>::max() / 4;
    const qint64 physical = qint64(::sysconf(_SC_PHYS_PAGES)) * qint64(::sysconf(_SC_PAGESIZE));
    if (physical > 0) most = std::min(most, physical / 3);
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit limit;
        if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            most = std::min(most, qint64(limit.rlim_cur / 4));
    }
    return most;
}

namespace {

QByteArray Native(const QString &path) { return NativePath(path); }

// A file descriptor that is closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : F(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int Get() const { return F; }
    int Release() {
        const int f = F;
        F = -1;
        return f;
    }
    // Closes it now; false when the close reports an error (data that did not reach the disk).
    bool Close() {
        const int f = Release();
        return f < 0 || ::close(f) == 0;
    }
    void Reset() {
        if (F >= 0) ::close(F);
        F = -1;
    }

private:
    int F;
};


// Reads at most `size` bytes from the start of the file.
QByteArray ReadUpTo(int fd, qint64 size, bool &ok) {
    // The text of a file needs several times its size in memory: a file that
    // could not fit is refused before anything is allocated.
    if (size < 0 || size > LargestFileInMemory()) throw std::bad_alloc();
    QByteArray out;
    out.resize(qsizetype(size));
    qint64 got = 0;
    ok = true;
    while (got < size) {
        const ssize_t n = ::pread(fd, out.data() + got, size_t(std::min<qint64>(size - got, 1 << 30)), off_t(got));
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;  // the file has shrunk since it was opened
        got += n;
    }
    out.truncate(qsizetype(got));
    return out;
}

// Opens a regular file for reading; the kind is checked on the descriptor, so a
// name swapped between a check and the open can't slip through. O_NONBLOCK:
// opening a FIFO does not wait for a writer.
int OpenRegular(const QString &path, struct stat &st) {
    if (path.isEmpty()) throw EQvError::CannotOpen(path);
    Fd fd(::open(Native(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) throw EQvError::CannotOpen(path);
    if (S_ISDIR(st.st_mode)) throw EQvError::CannotOpen(path);
    if (!S_ISREG(st.st_mode)) throw EQvError::NotRegularOpen(path);
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) throw EQvError::CannotOpen(path);
    return fd.Release();
}

// The file a path names once symbolic links are followed: a save writes there.
// A link whose target is missing names that target, which the save creates.
QString FinalTarget(const QString &path) {
    QString p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(Native(p).constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        QByteArray link(4096, '\0');
        const ssize_t n = ::readlink(Native(p).constData(), link.data(), size_t(link.size()));
        if (n <= 0 || n >= link.size()) throw EQvError::CannotCreate(path);
        link.truncate(n);
        const QString target = QFile::decodeName(link);
        p = target.startsWith(QLatin1Char('/')) ? target : QFileInfo(p).path() + QLatin1Char('/') + target;
    }
    throw EQvError::CannotCreate(path);  // a loop of links
}

// A new file beside `target` (".name.XXXXXX"), created exclusively.
int CreateBeside(const QString &target, mode_t mode, QString &created) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString name = info.path() + QStringLiteral("/.") + info.fileName() + QLatin1Char('.');
        for (int i = 0; i < 6; ++i) name += QLatin1Char(kChars[QRandomGenerator::global()->bounded(62)]);
        const int fd = ::open(Native(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            created = name;
            return fd;
        }
        if (errno != EEXIST) break;
    }
    return -1;
}

// Nothing can be removed from, or renamed in, an append-only or immutable
// directory: a temporary file made there would stay behind. Such a directory is
// refused before anything is created in it.
bool DirectoryTakesNewNames(const QString &target) {
    Fd dir(::open(Native(QFileInfo(target).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0) return true;  // the create that follows gives the error
    int flags = 0;
    if (::ioctl(dir.Get(), FS_IOC_GETFLAGS, &flags) != 0) return true;  // no such flags here
    return (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) == 0;
}


// Removes a temporary file after a failure; when it cannot be removed the error
// names it.
[[noreturn]] void FailAndRemove(const QString &path, const QString &temporary) {
    if (::unlink(Native(temporary).constData()) != 0 && errno != ENOENT)
        throw EQvError(QStringLiteral("ファイル %1 を作成できません（一時ファイル %2 を削除できませんでした）")
                           .arg(path, temporary));
    throw EQvError::CannotCreate(path);
}

// Puts the bytes written to fd on disk.
bool Flush(int fd) { return ::fsync(fd) == 0; }

// Written and not yet handed to the disk beyond this, the disk is told to
// start on it.
constexpr qint64 kWriteBehind = qint64(4) << 20;

// A new name or a file with one name: a temporary file with the old file's mode,
// owner and group replaces it. False, with nothing left behind, when the source
// cannot make its bytes.
bool ReplaceByRename(const QString &path, const QString &target, const struct stat *old,
                     const std::function<bool(const TByteSink &)> &source) {
    QString temporary;
    Fd fd(CreateBeside(target, old ? 0600 : 0666, temporary));
    if (fd.Get() < 0) throw EQvError::CannotCreate(path);
    qint64 offset = 0, started = 0;
    bool refused = false, made = false;
    try {
        made = source([&](QByteArrayView block) {
            if (!WriteAll(fd.Get(), block.data(), block.size(), offset)) {
                refused = true;
                return false;
            }
            offset += block.size();
            if (offset - started >= kWriteBehind) {
                ::sync_file_range(fd.Get(), started, offset - started, SYNC_FILE_RANGE_WRITE);
                started = offset;
            }
            return true;
        });
    } catch (...) {
        ::unlink(Native(temporary).constData());
        throw;
    }
    if (refused) FailAndRemove(path, temporary);
    if (!made) {
        fd.Close();
        if (::unlink(Native(temporary).constData()) != 0 && errno != ENOENT) FailAndRemove(path, temporary);
        return false;
    }
    if (old) {
        // Owner and group first: a change of owner clears the set-user-ID and
        // set-group-ID bits. A bit that would now belong to another owner or
        // group than the old file's is not given.
        mode_t mode = old->st_mode & 07777;
        if (::fchown(fd.Get(), old->st_uid, old->st_gid) != 0) {
            mode &= ~mode_t(S_ISUID);
            if (::fchown(fd.Get(), uid_t(-1), old->st_gid) != 0) mode &= ~mode_t(S_ISGID);
        }
        if (::fchmod(fd.Get(), mode) != 0) FailAndRemove(path, temporary);
    }
    if (!Flush(fd.Get()) || !fd.Close()) FailAndRemove(path, temporary);
    if (::rename(Native(temporary).constData(), Native(target).constData()) != 0) FailAndRemove(path, temporary);
    SyncFolderOf(target);
    return true;
}

// A file with more than one name is rewritten in place, so that every name
// sees the new content. Its old content is first copied beside it and flushed;
// when the rewrite fails the old content is put back, and when even that fails
// the copy stays and the error names it.
void RewriteInPlace(const QString &path, const QString &target, const struct stat &seen, const QByteArray &bytes) {
    Fd fd(::open(Native(target).constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) throw EQvError::CannotCreate(path);
    if (!S_ISREG(st.st_mode)) throw EQvError::NotRegularCreate(path);
    if (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) throw EQvError::CannotCreate(path);
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) throw EQvError::CannotCreate(path);
    bool ok = false;
    const QByteArray old = ReadUpTo(fd.Get(), st.st_size, ok);
    if (!ok || old.size() != st.st_size) throw EQvError::CannotCreate(path);

    QString copy;
    {
        Fd out(CreateBeside(target, 0600, copy));
        if (out.Get() < 0) throw EQvError::CannotCreate(path);
        if (!WriteAll(out.Get(), old.constData(), old.size(), 0) || !Flush(out.Get()) || !out.Close())
            FailAndRemove(path, copy);
    }

    const bool written = WriteAll(fd.Get(), bytes.constData(), bytes.size(), 0) &&
                         ::ftruncate(fd.Get(), off_t(bytes.size())) == 0 && Flush(fd.Get());
    if (!written) {
        const bool restored = WriteAll(fd.Get(), old.constData(), old.size(), 0) &&
                              ::ftruncate(fd.Get(), off_t(old.size())) == 0 && Flush(fd.Get());
        if (!restored)
            throw EQvError(QStringLiteral("ファイル %1 を保存できません。元の内容は %2 に残っています").arg(path, copy));
        FailAndRemove(path, copy);
    }
    fd.Close();  // everything is on disk already: fsync said so
    if (::unlink(Native(copy).constData()) != 0)
        throw EQvError(QStringLiteral("ファイル %1 に書きましたが、元の内容の写し %2 を削除できませんでした").arg(path, copy));
}

}  // namespace

QByteArray ReadWholeFile(const QString &path) {
    struct stat st;
    Fd fd(OpenRegular(path, st));
    bool ok = false;
    QByteArray bytes = ReadUpTo(fd.Get(), st.st_size, ok);
    if (!ok) throw EQvError::CannotOpen(path);
    return bytes;
}

qint64 OpenRegularFile(const QString &path, QFile &file) {
    struct stat st;
    Fd fd(OpenRegular(path, st));
    if (!file.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) throw EQvError::CannotOpen(path);
    fd.Release();
    return st.st_size;
}

void WriteWholeFile(const QString &path, const QByteArray &bytes) {
    WriteWholeFile(path, [&](const TByteSink &write) { return write(bytes); });
}

bool WriteWholeFile(const QString &path, const std::function<bool(const TByteSink &write)> &source) {
    IgnoreFileSizeSignal();
    if (path.isEmpty()) throw EQvError::CannotCreate(path);
    const QString target = FinalTarget(path);
    struct stat st;
    const bool exists = ::stat(Native(target).constData(), &st) == 0;
    if (!exists && errno != ENOENT) throw EQvError::CannotCreate(path);
    if (exists) {
        if (S_ISDIR(st.st_mode)) throw EQvError::CannotCreate(path);
        if (!S_ISREG(st.st_mode)) throw EQvError::NotRegularCreate(path);
        // A file the user may not write is not replaced behind its back.
        if (::access(Native(target).constData(), W_OK) != 0) throw EQvError::CannotCreate(path);
    }
    if (!DirectoryTakesNewNames(target)) throw EQvError::CannotCreate(path);
    if (!(exists && st.st_nlink > 1)) return ReplaceByRename(path, target, exists ? &st : nullptr, source);
    // Rewritten in place: the bytes are all made before the file is touched.
    QByteArray bytes;
    if (!source([&](QByteArrayView block) {
            bytes.append(block);
            return true;
        }))
        return false;
    RewriteInPlace(path, target, st, bytes);
    return true;
}
