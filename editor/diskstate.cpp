#include "diskstate.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <sys/stat.h>

TDiskState TDiskState::Of(const QString &path) {
    TDiskState s;
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0) {
        // A name that leads nowhere is missing; one that cannot be looked at
        // (no permission, a loop of links) is there, but no file to read.
        s.Kind = path.isEmpty() || errno == ENOENT || errno == ENOTDIR ? Missing : Other;
        return s;
    }
    s.Kind = S_ISREG(st.st_mode) ? Regular : Other;
    s.Device = quint64(st.st_dev);
    s.Inode = quint64(st.st_ino);
    s.Size = qint64(st.st_size);
    s.Seconds = qint64(st.st_mtim.tv_sec);
    s.Nanoseconds = qint64(st.st_mtim.tv_nsec);
    return s;
}

bool TDiskState::operator==(const TDiskState &o) const {
    if (Kind != o.Kind) return false;
    if (Kind == Unknown || Kind == Missing) return true;
    return Device == o.Device && Inode == o.Inode && Size == o.Size && Seconds == o.Seconds &&
           Nanoseconds == o.Nanoseconds;
}

QByteArray TDiskState::Encode() const {
    QByteArray out;
    for (const qint64 v : {qint64(Kind), qint64(Device), qint64(Inode), Size, Seconds, Nanoseconds}) {
        if (!out.isEmpty()) out += ' ';
        out += QByteArray::number(quint64(v));
    }
    return out;
}

TDiskState TDiskState::Decode(const QByteArray &text) {
    const QList<QByteArray> fields = text.split(' ');
    if (fields.size() != 6) return {};
    quint64 v[6];
    for (int i = 0; i < 6; ++i) {
        const QByteArray &f = fields[i];
        if (f.isEmpty() || f.size() > 20) return {};
        for (const char c : f)
            if (c < '0' || c > '9') return {};
        bool ok = false;
        v[i] = f.toULongLong(&ok);
        if (!ok) return {};
    }
    if (v[0] > quint64(Other)) return {};
    TDiskState s;
    s.Kind = TKind(v[0]);
    s.Device = v[1];
    s.Inode = v[2];
    s.Size = qint64(v[3]);
    s.Seconds = qint64(v[4]);
    s.Nanoseconds = qint64(v[5]);
    return s;
}
