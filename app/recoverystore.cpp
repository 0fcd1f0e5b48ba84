#include "recoverystore.h"

#include "qverror.h"
#include "safewrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace recovery {

namespace {

QByteArray Native(const QString &path) { return QFile::encodeName(path); }

QString Errno(int e) { return QString::fromLocal8Bit(std::strerror(e)); }

const QByteArray kMagic = "QVRECOVER 1";

bool WriteAll(int fd, const QByteArray &bytes) {
    const char *p = bytes.constData();
    qint64 n = bytes.size();
    while (n > 0) {
        const ssize_t w = ::write(fd, p, size_t(std::min<qint64>(n, 1 << 30)));
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
    }
    return true;
}

void SyncDirectory(const QString &folder) {
    const int fd = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

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

bool PrepareFolder(const QString &folder, QString *why) {
    const QString clean = QDir::cleanPath(folder);
    if (!clean.startsWith(QLatin1Char('/'))) {
        if (why) *why = QStringLiteral("%1 は絶対パスではありません").arg(folder);
        return false;
    }
    // Missing parts are made one by one, each for the user alone.
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString &part : parts) {
        path += QLatin1Char('/') + part;
        if (::mkdir(Native(path).constData(), 0700) != 0 && errno != EEXIST) {
            if (why) *why = QStringLiteral("%1 を作成できません: %2").arg(path, Errno(errno));
            return false;
        }
    }
    struct stat st;
    if (::lstat(Native(clean).constData(), &st) != 0) {
        if (why) *why = QStringLiteral("%1: %2").arg(clean, Errno(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (why) *why = QStringLiteral("%1 はフォルダではありません").arg(clean);
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        if (why) *why = QStringLiteral("%1 の所有者が別のユーザーです").arg(clean);
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && ::chmod(Native(clean).constData(), 0700) != 0) {
        if (why) *why = QStringLiteral("%1 の権限を変更できません: %2").arg(clean, Errno(errno));
        return false;
    }
    return true;
}

QByteArray Header(const Entry &e) {
    QByteArray h = kMagic + '\n';
    h += "path " + Native(e.Path).toPercentEncoding("/") + '\n';
    h += "changed " + QByteArray::number(e.Changed.toMSecsSinceEpoch()) + '\n';
    h += "lineend " + QByteArray::number(e.LineEnd) + '\n';
    h += "size " + QByteArray::number(e.Bytes.size()) + "\n\n";
    return h;
}

bool Parse(const QByteArray &data, Entry &e) {
    qsizetype at = 0;
    // The next header line, which must start with key and a blank.
    auto field = [&](const char *key, QByteArray &value) {
        const qsizetype end = data.indexOf('\n', at);
        if (end < 0) return false;
        const QByteArray line = data.mid(at, end - at);
        at = end + 1;
        const QByteArray prefix = QByteArray(key) + ' ';
        if (!line.startsWith(prefix)) return false;
        value = line.mid(prefix.size());
        return true;
    };
    const qsizetype first = data.indexOf('\n');
    if (first < 0 || data.left(first) != kMagic) return false;
    at = first + 1;
    QByteArray path, changed, lineEnd, size;
    if (!field("path", path) || !field("changed", changed) || !field("lineend", lineEnd) || !field("size", size))
        return false;
    bool okTime = false, okEnd = false, okSize = false;
    const qint64 ms = changed.toLongLong(&okTime);
    const int end = lineEnd.toInt(&okEnd);
    const qint64 n = size.toLongLong(&okSize);
    if (!okTime || !okEnd || end < 0 || end > 2 || !okSize || n < 0) return false;
    if (at >= data.size() || data.at(at) != '\n') return false;
    ++at;
    if (data.size() - at != n) return false;
    e.Path = QFile::decodeName(QByteArray::fromPercentEncoding(path));
    e.Changed = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    e.LineEnd = end;
    e.Bytes = data.mid(at);
    return true;
}

TLeftovers::~TLeftovers() {
    for (int fd : Locks) ::close(fd);
}

TLeftovers::TLeftovers(TLeftovers &&other) noexcept
    : Entries(std::move(other.Entries)), Damaged(std::move(other.Damaged)), Locks(std::move(other.Locks)) {
    other.Locks.clear();
}

TLeftovers Claim(const QString &folder, const QString &ownId) {
    TLeftovers out;
    // The folder's names by instance.
    struct Names {
        QStringList Files, Temporaries;
        bool Lock = false;
    };
    QMap<QString, Names> byOwner;
    if (DIR *d = ::opendir(Native(folder).constData())) {
        while (const dirent *de = ::readdir(d)) {
            const QString name = QFile::decodeName(de->d_name);
            bool temporary = false, lock = false;
            const QString owner = OwnerOf(name, &temporary, &lock);
            if (owner.isEmpty() || owner == ownId) continue;
            Names &n = byOwner[owner];
            if (lock)
                n.Lock = true;
            else if (temporary)
                n.Temporaries << name;
            else
                n.Files << name;
        }
        ::closedir(d);
    }
    for (auto it = byOwner.cbegin(); it != byOwner.cend(); ++it) {
        const QString lockPath = folder + QLatin1Char('/') + it.key() + QStringLiteral(".lock");
        bool busy = false;
        const int fd = TakeLock(lockPath, &busy);
        if (fd < 0) continue;  // a running instance's, or nothing to claim with
        // Half-written copies of an instance that ended: the file they were to
        // replace holds the last complete state.
        for (const QString &t : it->Temporaries) ::unlink(Native(folder + QLatin1Char('/') + t).constData());
        int kept = 0;
        for (const QString &f : it->Files) {
            Entry e;
            e.File = folder + QLatin1Char('/') + f;
            try {
                if (Parse(ReadWholeFile(e.File), e)) {
                    out.Entries.push_back(std::move(e));
                    ++kept;
                } else {
                    out.Damaged << e.File;
                    ++kept;
                }
            } catch (const EQvError &) {
                if (QFileInfo::exists(e.File)) {
                    out.Damaged << e.File;
                    ++kept;
                }
            } catch (const std::bad_alloc &) {
                out.Damaged << e.File;
                ++kept;
            }
        }
        if (kept == 0) {
            ::unlink(Native(lockPath).constData());
            ::close(fd);
        } else {
            out.Locks.push_back(fd);
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
        if (Report) Report(job.Name, ok, retry, why);
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
    const bool written = ::fchmod(fd, 0600) == 0 && WriteAll(fd, header) && WriteAll(fd, about.Bytes) &&
                         ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(Native(temporary).constData(), Native(target).constData()) != 0) {
        const int e = !written ? writeError : errno;
        ::unlink(Native(temporary).constData());
        *why = QStringLiteral("%1 に書き込めません: %2").arg(target, Errno(e));
        return false;
    }
    SyncDirectory(Dir);
    if (!job.RemoveAfter.isEmpty()) ::unlink(Native(job.RemoveAfter).constData());
    return true;
}

}  // namespace recovery
