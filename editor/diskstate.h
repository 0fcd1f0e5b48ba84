#pragma once
// What a document's file is on disk at one moment: missing, a regular file or
// something else (a folder, a FIFO, a device), and for what is there the
// identity by which a change is noticed: device and inode, size and
// modification time to the nanosecond. Another program that writes the file,
// replaces it (a new inode) or touches it changes one of these. With the
// bytes the document read or wrote (their checksum), a file that was only
// touched, or written again with the same bytes, is known to hold them still.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

struct TDiskState {
    enum TKind {
        Unknown,  // never looked at: an untitled document, or one whose file is not known
        Missing,  // no file of that name (or a folder on its path is gone)
        Regular,  // a regular file
        Other     // a folder, a FIFO, a device, a socket, or nothing that can be looked at
    };
    TKind Kind = Unknown;
    quint64 Device = 0, Inode = 0;
    qint64 Size = 0;
    qint64 Seconds = 0, Nanoseconds = 0;  // the last modification
    bool Summed = false;                  // Sum holds the checksum of the file's bytes
    quint64 Sum = 0;

    // The state of `path` now, symbolic links followed (a save writes through
    // them to the file they name); with `bytes`, what it holds (read or just
    // written), summed.
    static TDiskState Of(const QString &path, const QByteArray *bytes = nullptr);
    // The same with the checksum of the bytes given by its sum.
    static TDiskState Of(const QString &path, quint64 sum);
    // A checksum of bytes: the same on every machine and in every run.
    static quint64 Checksum(const QByteArray &bytes);
    // The same checksum, of bytes that come a block at a time.
    class TSum {
    public:
        void Add(QByteArrayView bytes);
        quint64 Result() const;

    private:
        void Mix(quint64 word);
        quint64 H = 0x243F6A8885A308D3ull;
        quint64 Tail = 0;  // the bytes of a word not yet whole, the first in the low bits
        int TailBytes = 0;
        qint64 Length = 0;
    };

    // Whether the file at `path` holds what `recorded` was taken of: the same
    // file unchanged, or one of the same size whose bytes have the same sum
    // (touched, or written again alike), which `recorded` then becomes. A file
    // that cannot be read is taken as changed. `now`, when given, gets the
    // file's state.
    static bool StillHolds(const QString &path, TDiskState &recorded, TDiskState *now = nullptr);

    // The same file, unchanged: the same kind, and for anything that is there
    // the same device, inode, size and modification time (the sums are not
    // compared).
    bool operator==(const TDiskState &other) const;
    bool operator!=(const TDiskState &other) const { return !(*this == other); }

    // One line of text, "<kind> <device> <inode> <size> <seconds> <nanoseconds>"
    // in decimal digits, then " <sum>" when summed; Decode gives Unknown for
    // anything else.
    QByteArray Encode() const;
    static TDiskState Decode(const QByteArray &text);
};
