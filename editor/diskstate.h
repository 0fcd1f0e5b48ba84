#pragma once
// What a document's file is on disk at one moment: missing, a regular file or
// something else (a folder, a FIFO, a device), and for what is there the
// identity by which a change is noticed: device and inode, size and
// modification time to the nanosecond. Another program that writes the file,
// replaces it (a new inode) or touches it changes one of these.
#include <QByteArray>
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

    // The state of `path` now, symbolic links followed (a save writes through
    // them to the file they name).
    static TDiskState Of(const QString &path);

    // The same file, unchanged: the same kind, and for anything that is there
    // the same device, inode, size and modification time.
    bool operator==(const TDiskState &other) const;
    bool operator!=(const TDiskState &other) const { return !(*this == other); }

    // One line of text, "<kind> <device> <inode> <size> <seconds> <nanoseconds>"
    // in decimal digits; Decode gives Unknown for anything else.
    QByteArray Encode() const;
    static TDiskState Decode(const QByteArray &text);
};
