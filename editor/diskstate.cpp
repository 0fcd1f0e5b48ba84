#include "diskstate.h"

#include "safewrite.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <sys/stat.h>

quint64 TDiskState::Checksum(const QByteArray &bytes) {
    // Eight bytes at a time, each word mixed in by multiplying and shifting;
    // the tail and the length last.
    constexpr quint64 kMul = 0x9E3779B97F4A7C15ull;
    quint64 h = 0x243F6A8885A308D3ull;
    const char *p = bytes.constData();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    const auto mix = [&h](quint64 w) {
        h ^= w * kMul;
        h = (h << 29 | h >> 35) * kMul;
    };
    for (; i + 8 <= n; i += 8) {
        quint64 w = 0;
        for (int k = 0; k < 8; ++k) w |= quint64(uchar(p[i + k])) << (8 * k);
        mix(w);
    }
    quint64 tail = 0;
    for (int k = 0; i < n; ++i, ++k) tail |= quint64(uchar(p[i])) << (8 * k);
    mix(tail);
    mix(quint64(n));
    return h ^ (h >> 31);
}

bool TDiskState::StillHolds(const QString &path, TDiskState &recorded, TDiskState *now) {
    const TDiskState first = Of(path);
    if (now) *now = first;
    if (first == recorded) return true;
    if (first.Kind != Regular || recorded.Kind != Regular || !recorded.Summed || first.Size != recorded.Size) return false;
    QByteArray bytes;
    try {
        bytes = ReadWholeFile(path);
    } catch (...) {
        return false;
    }
    // Changed while it was read: not the same either.
    if (Of(path) != first || Checksum(bytes) != recorded.Sum) return false;
    const quint64 sum = recorded.Sum;
    recorded = first;
    recorded.Summed = true;
    recorded.Sum = sum;
    if (now) *now = recorded;
    return true;
}

TDiskState TDiskState::Of(const QString &path, const QByteArray *bytes) {
    TDiskState s;
    if (bytes) {
        s.Summed = true;
        s.Sum = Checksum(*bytes);
    }
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
    if (Summed) out += ' ' + QByteArray::number(Sum);
    return out;
}

TDiskState TDiskState::Decode(const QByteArray &text) {
    const QList<QByteArray> fields = text.split(' ');
    if (fields.size() != 6 && fields.size() != 7) return {};
    quint64 v[7] = {};
    for (int i = 0; i < int(fields.size()); ++i) {
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
    s.Summed = fields.size() == 7;
    s.Sum = v[6];
    return s;
}
