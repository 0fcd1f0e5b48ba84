#include "recoverystore.h"

#include "diskstate.h"
#include "qverror.h"
#include "safewrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>

#include <algorithm>
#include <map>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace recovery {

namespace {

QByteArray Native(const QString &path) { return NativePath(path); }

QString Errno(int e) { return QString::fromLocal8Bit(std::strerror(e)); }

const QByteArray kMagic = "QVRECOVER 1";

// Takes the exclusive lock on `path` without waiting, creating the file when it
// is missing; -1 when another process holds it or it can't be opened. The name
// must still lead to the locked file afterwards: a lock file that its last
// holder removed meanwhile counts for nothing.
int TakeLock(const QString &path, bool *busy) {
    *busy = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(Native(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *busy = errno == EWOULDBLOCK;
            ::close(fd);
            return -1;
        }
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::stat(Native(path).constData(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return fd;
        ::close(fd);
    }
    return -1;
}

// The instance id at the start of a file name in the folder; empty for a name
// that is none of the folder's own.
QString OwnerOf(const QString &name, bool *temporary, bool *lock) {
    *temporary = name.startsWith(QLatin1Char('.'));
    *lock = false;
    const QString bare = *temporary ? name.mid(1) : name;
    const qsizetype dot = bare.indexOf(QLatin1Char('.'));
    if (dot <= 0) return QString();
    const QString rest = bare.mid(dot);
    if (*temporary) {
        if (!rest.contains(QLatin1String(".qvr."))) return QString();
    } else if (rest == QLatin1String(".lock")) {
        *lock = true;
    } else if (!rest.endsWith(QLatin1String(".qvr"))) {
        return QString();
    }
    return bare.left(dot);
}

}  // namespace

QString DefaultFolder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.startsWith(QLatin1Char('/'))) state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(state + QStringLiteral("/quelvane/recovery"));
}

namespace {

bool Fail(QString *why, const QString &reason) {
    if (why) *why = reason;
    return false;
}

// One directory of the folder's path: real, this user's, and with no more
// modes than `most` allows (narrowed when it has more).
bool CheckDirectory(const QString &path, mode_t most, QString *why, bool *missing) {
    struct stat st;
    if (::lstat(Native(path).constData(), &st) != 0) {
        if (missing && errno == ENOENT) *missing = true;
        return Fail(why, QStringLiteral("%1: %2").arg(path, Errno(errno)));
    }
    if (S_ISLNK(st.st_mode)) return Fail(why, QStringLiteral("%1 はシンボリックリンクです").arg(path));
    if (!S_ISDIR(st.st_mode)) return Fail(why, QStringLiteral("%1 はフォルダではありません").arg(path));
    if (st.st_uid != ::geteuid()) return Fail(why, QStringLiteral("%1 の所有者が別のユーザーです").arg(path));
    if ((st.st_mode & 07777 & ~most) != 0 && ::chmod(Native(path).constData(), st.st_mode & most) != 0)
        return Fail(why, QStringLiteral("%1 の権限を変更できません: %2").arg(path, Errno(errno)));
    return true;
}

// A file of the folder opened for reading, never through a link: a regular
// file of this user, mode 0600, with one name, as the writer makes them; -1,
// with the reason, for anything else.
int OpenOwnFile(int dir, const QByteArray &name, struct stat &st, QString *why) {
    const int fd = ::openat(dir, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ELOOP ? QStringLiteral("シンボリックリンクです") : Errno(errno);
        return -1;
    }
    if (::fstat(fd, &st) != 0)
        *why = Errno(errno);
    else if (!S_ISREG(st.st_mode))
        *why = QStringLiteral("通常のファイルではありません");
    else if (st.st_uid != ::geteuid())
        *why = QStringLiteral("所有者が別のユーザーです");
    else if ((st.st_mode & 07777) != 0600)
        *why = QStringLiteral("権限が %1 です").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    else if (st.st_nlink != 1)
        *why = QStringLiteral("別の名前があります");
    else
        return fd;
    ::close(fd);
    return -1;
}

// Reads up to `n` bytes at `offset`; false on a read error.
bool ReadAt(int fd, char *to, qint64 n, qint64 offset, qint64 *got) {
    *got = 0;
    while (*got < n) {
        const ssize_t r = ::pread(fd, to + *got, size_t(std::min<qint64>(n - *got, 1 << 30)), off_t(offset + *got));
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) break;
        *got += r;
    }
    return true;
}

// A header is never longer than this (a path of 4096 bytes, each percent-encoded).
constexpr qint64 kLongestHeader = 16384;

// A non-negative decimal number written with digits alone.
bool Digits(const QByteArray &text, qint64 &value) {
    if (text.isEmpty() || text.size() > 18) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    value = text.toLongLong();
    return true;
}

}  // namespace

bool CheckFolder(const QString &folder, QString *why, bool *missing) {
    if (missing) *missing = false;
    const QString clean = QDir::cleanPath(folder);
    if (!clean.startsWith(QLatin1Char('/')) || clean == QLatin1String("/"))
        return Fail(why, QStringLiteral("%1 は絶対パスではありません").arg(folder));
    // The folder's parent: nobody else may rename the folder or put another in its place.
    return CheckDirectory(QFileInfo(clean).path(), 0755, why, missing) && CheckDirectory(clean, 0700, why, missing);
}

bool PrepareFolder(const QString &folder, QString *why) {
    const QString clean = QDir::cleanPath(folder);
    if (!clean.startsWith(QLatin1Char('/')) || clean == QLatin1String("/"))
        return Fail(why, QStringLiteral("%1 は絶対パスではありません").arg(folder));
    // Missing parts are made one by one, each for the user alone.
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString &part : parts) {
        path += QLatin1Char('/') + part;
        if (::mkdir(Native(path).constData(), 0700) != 0 && errno != EEXIST)
            return Fail(why, QStringLiteral("%1 を作成できません: %2").arg(path, Errno(errno)));
    }
    return CheckFolder(clean, why);
}

QByteArray Header(const Entry &e) {
    QByteArray h = kMagic + '\n';
    h += "path " + Native(e.Path).toPercentEncoding("/") + '\n';
    h += "changed " + QByteArray::number(e.Changed.toMSecsSinceEpoch()) + '\n';
    h += "lineend " + QByteArray::number(e.LineEnd) + '\n';
    if (!e.Disk.isEmpty()) h += "disk " + e.Disk + '\n';
    h += "size " + QByteArray::number(e.Bytes.size()) + "\n\n";
    return h;
}

bool ParseHeader(const QByteArray &head, Entry &e) {
    qsizetype at = 0;
    // The next header line, which must start with key and a blank.
    auto field = [&](const char *key, QByteArray &value) {
        const qsizetype end = head.indexOf('\n', at);
        if (end < 0) return false;
        const QByteArray line = head.mid(at, end - at);
        at = end + 1;
        const QByteArray prefix = QByteArray(key) + ' ';
        if (!line.startsWith(prefix)) return false;
        value = line.mid(prefix.size());
        return true;
    };
    const qsizetype first = head.indexOf('\n');
    if (first < 0 || head.left(first) != kMagic) return false;
    at = first + 1;
    QByteArray path, changed, lineEnd, disk, size;
    if (!field("path", path) || !field("changed", changed) || !field("lineend", lineEnd)) return false;
    // The disk line may be left out.
    const qsizetype beforeDisk = at;
    if (!field("disk", disk))
        at = beforeDisk;
    else if (TDiskState::Decode(disk).Kind == TDiskState::Unknown)
        return false;
    if (!field("size", size)) return false;
    qint64 ms = 0, end = 0, n = 0;
    if (!Digits(changed, ms) || !Digits(lineEnd, end) || end > 2 || !Digits(size, n)) return false;
    if (at >= head.size() || head.at(at) != '\n') return false;
    const QByteArray native = QByteArray::fromPercentEncoding(path);
    if (native.contains('\0') || (native.isEmpty() && !path.isEmpty())) return false;
    e.Path = QFile::decodeName(native);
    if (e.Path.isEmpty() != native.isEmpty()) return false;
    e.Changed = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    e.LineEnd = int(end);
    e.Disk = disk;
    e.Offset = at + 1;
    e.Size = n;
    return true;
}

bool Parse(const QByteArray &data, Entry &e) {
    if (!ParseHeader(data, e) || data.size() - e.Offset != e.Size) return false;
    e.Bytes = data.mid(e.Offset);
    return true;
}

QByteArray ReadBytes(const Entry &e) {
    const QFileInfo info(e.File);
    const int dir = ::open(Native(info.path()).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) throw EQvError::CannotOpen(e.File);
    struct stat st;
    QString why;
    const int fd = OpenOwnFile(dir, Native(info.fileName()), st, &why);
    ::close(dir);
    if (fd < 0) throw EQvError(QStringLiteral("ファイル %1 を開けません: %2").arg(e.File, why));
    struct Closer {
        int F;
        ~Closer() { ::close(F); }
    } closer{fd};
    if (quint64(st.st_dev) != e.Device || quint64(st.st_ino) != e.Inode || st.st_size != e.Offset + e.Size)
        throw EQvError(QStringLiteral("ファイル %1 は読み込んだ後で変わりました").arg(e.File));
    if (e.Size > LargestFileInMemory()) throw std::bad_alloc();
    QByteArray bytes(qsizetype(e.Size), Qt::Uninitialized);
    qint64 got = 0;
    if (!ReadAt(fd, bytes.data(), e.Size, e.Offset, &got) || got != e.Size) throw EQvError::CannotOpen(e.File);
    return bytes;
}

void RemoveClaimed(const Entry &e) {
    struct stat st;
    if (::lstat(Native(e.File).constData(), &st) == 0 && quint64(st.st_dev) == e.Device &&
        quint64(st.st_ino) == e.Inode)
        ::unlink(Native(e.File).constData());
}

namespace {

// Whether the folder holds a recovery file (or a temporary one) of `owner`.
bool AnyFileOf(const QString &folder, const QString &owner) {
    DIR *d = ::opendir(Native(folder).constData());
    if (!d) return true;  // not known: the lock stays
    bool any = false;
    while (const dirent *de = ::readdir(d)) {
        bool temporary = false, lock = false;
        if (OwnerOf(QFile::decodeName(de->d_name), &temporary, &lock) == owner && !lock) any = true;
    }
    ::closedir(d);
    return any;
}

}  // namespace

TLeftovers::~TLeftovers() {
    for (const Held &held : Locks) {
        struct stat mine, named;
        if (!AnyFileOf(QFileInfo(held.Path).path(), held.Owner) && ::fstat(held.Fd, &mine) == 0 &&
            ::lstat(Native(held.Path).constData(), &named) == 0 && mine.st_dev == named.st_dev &&
            mine.st_ino == named.st_ino)
            ::unlink(Native(held.Path).constData());
        ::close(held.Fd);
    }
}

TLeftovers::TLeftovers(TLeftovers &&other) noexcept
    : Entries(std::move(other.Entries)), Damaged(std::move(other.Damaged)), TooLarge(std::move(other.TooLarge)),
      Refused(std::move(other.Refused)), Unusable(std::move(other.Unusable)), Locks(std::move(other.Locks)) {
    other.Locks.clear();
}

TLeftovers Claim(const QString &folder, const QString &ownId) {
    TLeftovers out;
    bool missing = false;
    if (!CheckFolder(folder, &out.Unusable, &missing)) {
        if (missing) out.Unusable.clear();  // nothing written yet: nothing to offer
        return out;
    }
    const int dir = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        out.Unusable = QStringLiteral("%1: %2").arg(folder, Errno(errno));
        return out;
    }
    struct DirCloser {
        int F;
        ~DirCloser() { ::close(F); }
    } dirCloser{dir};
    // The folder's names by instance.
    struct Names {
        QStringList Files, Temporaries;
    };
    QMap<QString, Names> byOwner;
    if (DIR *d = ::fdopendir(::dup(dir))) {
        while (const dirent *de = ::readdir(d)) {
            const QString name = QFile::decodeName(de->d_name);
            bool temporary = false, lock = false;
            const QString owner = OwnerOf(name, &temporary, &lock);
            if (owner.isEmpty() || owner == ownId) continue;
            Names &n = byOwner[owner];
            if (temporary)
                n.Temporaries << name;
            else if (!lock)
                n.Files << name;
        }
        ::closedir(d);
    }
    const qint64 largest = LargestFileInMemory();
    for (auto it = byOwner.cbegin(); it != byOwner.cend(); ++it) {
        const QString lockPath = folder + QLatin1Char('/') + it.key() + QStringLiteral(".lock");
        bool busy = false;
        const int lockFd = TakeLock(lockPath, &busy);
        if (lockFd < 0) continue;  // a running instance's, or nothing to claim with
        // Each document's copies: its file and the temporary files that were
        // to replace it. The newest complete one is offered under the file's name.
        struct Copy {
            QString Name;
            Entry About;
            bool Complete = false;
        };
        std::map<QString, std::vector<Copy>> byDocument;
        int kept = 0;
        for (const QString &name : it->Files + it->Temporaries) {
            const bool temporary = name.startsWith(QLatin1Char('.'));
            const QString file = folder + QLatin1Char('/') + name;
            Copy c{name, Entry(), false};
            c.About.File = file;
            struct stat st;
            QString why;
            const int fd = OpenOwnFile(dir, Native(name), st, &why);
            if (fd < 0) {
                out.Refused << QStringLiteral("%1: %2").arg(file, why);
                ++kept;
                continue;
            }
            QByteArray head(int(std::min<qint64>(st.st_size, kLongestHeader)), Qt::Uninitialized);
            qint64 got = 0;
            c.Complete = ReadAt(fd, head.data(), head.size(), 0, &got) && got == head.size() &&
                         ParseHeader(head, c.About) && st.st_size - c.About.Offset == c.About.Size;
            ::close(fd);
            c.About.Device = quint64(st.st_dev);
            c.About.Inode = quint64(st.st_ino);
            const QString document = temporary ? name.mid(1, name.lastIndexOf(QLatin1String(".qvr.")) + 3) : name;
            byDocument[document].push_back(std::move(c));
        }
        for (auto &[document, copies] : byDocument) {
            const Copy *best = nullptr;
            for (const Copy &c : copies)
                if (c.Complete && (!best || c.About.Changed > best->About.Changed ||
                                   (c.About.Changed == best->About.Changed && c.Name == document)))
                    best = &c;
            if (!best) {
                // Nothing complete: every copy stays, named.
                for (const Copy &c : copies) out.Damaged << c.About.File;
                kept += int(copies.size());
                continue;
            }
            Entry e = best->About;
            if (best->Name != document) {
                // A complete copy that never got its name: it gets it now.
                const QString target = folder + QLatin1Char('/') + document;
                if (::renameat(dir, Native(best->Name).constData(), dir, Native(document).constData()) != 0) {
                    for (const Copy &c : copies) out.Damaged << c.About.File;
                    kept += int(copies.size());
                    continue;
                }
                e.File = target;
            }
            // The other copies are older or half-written: the offered one has it all.
            for (const Copy &c : copies)
                if (&c != best && c.Name != document) ::unlinkat(dir, Native(c.Name).constData(), 0);
            ++kept;
            if (e.Size > largest)
                out.TooLarge << e.File;
            else
                out.Entries.push_back(std::move(e));
        }
        if (kept == 0) {
            ::unlink(Native(lockPath).constData());
            ::close(lockFd);
        } else {
            out.Locks.push_back(TLeftovers::Held{lockFd, lockPath, it.key()});
        }
    }
    std::sort(out.Entries.begin(), out.Entries.end(),
              [](const Entry &a, const Entry &b) { return a.Changed < b.Changed; });
    return out;
}

// ---- Writer ----------------------------------------------------------------

TWriter::TWriter(QString folder, QString id, Done done)
    : Dir(std::move(folder)), Own(std::move(id)), Report(std::move(done)), Thread([this] { Run(); }) {}

TWriter::~TWriter() {
    {
        std::lock_guard<std::mutex> lock(M);
        Stop = true;
    }
    Wake.notify_all();
    Thread.join();
    if (LockFd < 0) return;
    // With no recovery file of this instance left, its lock file goes too
    // (removed while still locked, so nobody takes it meanwhile).
    bool any = false;
    if (DIR *d = ::opendir(Native(Dir).constData())) {
        const QByteArray prefix = Native(Own) + '.';
        while (const dirent *de = ::readdir(d)) {
            const QByteArray name(de->d_name);
            if (name.startsWith(prefix) && name.endsWith(".qvr")) any = true;
        }
        ::closedir(d);
    }
    if (!any) ::unlink(Native(Dir + QLatin1Char('/') + Own + QStringLiteral(".lock")).constData());
    ::close(LockFd);
}

void TWriter::Write(const QString &name, const Entry &about, sourcetext::Snapshot text, const QString &also) {
    Ask(Job{name, false, about, std::move(text), also});
}

void TWriter::Remove(const QString &name, const QString &also) { Ask(Job{name, true, {}, {}, also}); }

void TWriter::Ask(Job job) {
    {
        std::lock_guard<std::mutex> lock(M);
        // A request still waiting for the same file is out of date.
        const QString name = job.Name;
        Queue.erase(std::remove_if(Queue.begin(), Queue.end(), [&](const Job &j) { return j.Name == name; }),
                    Queue.end());
        Queue.push_back(std::move(job));
    }
    Wake.notify_one();
}

void TWriter::Wait() {
    std::unique_lock<std::mutex> lock(M);
    Idle.wait(lock, [this] { return Queue.empty() && !Busy; });
}

void TWriter::Run() {
    std::unique_lock<std::mutex> lock(M);
    for (;;) {
        Wake.wait(lock, [this] { return Stop || !Queue.empty(); });
        if (Queue.empty()) break;  // stopping, and everything is done
        Job job = std::move(Queue.front());
        Queue.pop_front();
        Busy = true;
        lock.unlock();
        QString why;
        bool retry = true;
        const bool ok = Carry(job, &retry, &why);
        if (Report) Report(job.Name, ok, retry, why, job.Remove);
        job = Job();
        lock.lock();
        Busy = false;
        if (Queue.empty()) Idle.notify_all();
    }
}

bool TWriter::EnsureLock(QString *why) {
    const QString path = Dir + QLatin1Char('/') + Own + QStringLiteral(".lock");
    if (LockFd >= 0) {
        // Still the file that the name leads to (the folder may have been
        // removed and made anew meanwhile)?
        struct stat held, named;
        if (::fstat(LockFd, &held) == 0 && ::stat(Native(path).constData(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return true;
        ::close(LockFd);
        LockFd = -1;
    }
    bool busy = false;
    LockFd = TakeLock(path, &busy);
    if (LockFd >= 0) return true;
    *why = QStringLiteral("%1 をロックできません").arg(path);
    return false;
}

bool TWriter::Carry(const Job &job, bool *retry, QString *why) {
    const QString target = Dir + QLatin1Char('/') + job.Name;
    if (job.Remove) {
        if (!job.RemoveAfter.isEmpty()) ::unlink(Native(job.RemoveAfter).constData());
        if (::unlink(Native(target).constData()) == 0 || errno == ENOENT) return true;
        *why = QStringLiteral("%1 を削除できません: %2").arg(target, Errno(errno));
        return false;
    }
    Entry about = job.About;
    if (!sourcetext::Encode(job.Text, about.Bytes, why)) {
        *retry = false;
        return false;
    }
    const QByteArray header = Header(about);
    if (!PrepareFolder(Dir, why) || !EnsureLock(why)) return false;
    IgnoreFileSizeSignal();
    // A new file beside the target replaces it once every byte is on disk.
    QString temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 20 && fd < 0; ++attempt) {
        temporary = Dir + QStringLiteral("/.") + job.Name + QLatin1Char('.') +
                    QString::number(QRandomGenerator::global()->generate(), 36);
        fd = ::open(Native(temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *why = QStringLiteral("%1 に書き込めません: %2").arg(Dir, Errno(errno));
        return false;
    }
    const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, header.constData(), header.size(), 0) &&
                         WriteAll(fd, about.Bytes.constData(), about.Bytes.size(), header.size()) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(Native(temporary).constData(), Native(target).constData()) != 0) {
        const int e = !written ? writeError : errno;
        ::unlink(Native(temporary).constData());
        *why = QStringLiteral("%1 に書き込めません: %2").arg(target, Errno(e));
        return false;
    }
    SyncFolderOf(target);
    if (!job.RemoveAfter.isEmpty()) ::unlink(Native(job.RemoveAfter).constData());
    return true;
}

}  // namespace recovery
