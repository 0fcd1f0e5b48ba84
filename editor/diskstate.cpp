#include "diskstate.h"

#include "safewrite.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <sys/stat.h>

// Eight bytes at a time, each word mixed in by multiplying and shifting; the
// tail and the length last.
namespace {
constexpr quint64 kMul = 0x9E3779B97F4A7C15ull;
}

void TDiskState::TSum::Mix(quint64 w) {
    H ^= w * kMul;
    H = (H << 29 | H >> 35) * kMul;
}

void TDiskState::TSum::Add(QByteArrayView bytes) {
    const char *p = bytes.data();
    qsizetype n = bytes.size();
    Length += n;
    for (; TailBytes > 0 && TailBytes < 8 && n > 0; --n) Tail |= quint64(uchar(*p++)) << (8 * TailBytes++);
    if (TailBytes == 8) {
        Mix(Tail);
        Tail = 0;
        TailBytes = 0;
    }
    for (; n >= 8; p += 8, n -= 8) {
        quint64 w = 0;
        for (int k = 0; k < 8; ++k) w |= quint64(uchar(p[k])) << (8 * k);
        Mix(w);
    }
    for (; n > 0; --n) Tail |= quint64(uchar(*p++)) << (8 * TailBytes++);
}

quint64 TDiskState::TSum::Result() const {
    TSum last = *this;
    last.Mix(Tail);
    last.Mix(quint64(Length));
    return last.H ^ (last.H >> 31);
}

quint64 TDiskState::Checksum(const QByteArray &bytes) {
    TSum sum;
    sum.Add(bytes);
    return sum.Result();
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

TDiskState TDiskState::Of(const QString &path, quint64 sum) {
    TDiskState s = Of(path);
    s.Summed = true;
    s.Sum = sum;
    return s;
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
