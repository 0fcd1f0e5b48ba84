// File dates and the up-to-date test of the Compile command.
#include "compile.h"

#include <QFile>
#include <QFileInfo>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace buildcmd {

namespace {
qint32 Pack(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980 || year > 2107) return -1;
    const quint32 packed = quint32(year - 1980) << 25 | quint32(month) << 21 | quint32(day) << 16 |
                           quint32(hour) << 11 | quint32(minute) << 5 | quint32(second / 2);
    // The year's top bit becomes the sign: dates from 2044 on are negative.
    return static_cast<qint32>(packed);
}
}  // namespace

qint32 PackDosDate(const QDateTime &localTime) {
    if (!localTime.isValid()) return -1;
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    return Pack(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

qint32 FileDate(const QString &path) {
    if (path.isEmpty()) return -1;
    // Non-blocking, so that a pipe standing where a file should be can't hang
    // the caller; only a regular file has a date.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!ok) return -1;
    struct tm local;
    if (!::localtime_r(&st.st_mtim.tv_sec, &local)) return -1;
    // A leap second (60) packs like 59: the 2-second field can't hold 30.
    return Pack(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                qMin(local.tm_sec, 59));
}

bool FileExists(const QString &path) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    if (!info.isFile()) return false;
    return PackDosDate(info.lastModified().toLocalTime()) != -1;
}

bool NeedsCompile(const QString &S, const QStringList &projectFiles) {
    const QString O = ObjectPath(S);
    if (!FileExists(O)) return true;
    const qint32 DS = FileDate(S);
    const qint32 DO = FileDate(O);
    if (DS > DO) return true;
    for (const QString &header : projectFiles) {
        if (PathExtension(header).compare(QLatin1String(".h"), Qt::CaseInsensitive) != 0) continue;
        // Headers are weighed against the source, not the object.
        if (FileDate(header) > DS) return true;
    }
    return false;
}

}  // namespace buildcmd
