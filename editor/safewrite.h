#pragma once
// Reading and writing whole files so that nothing is lost and nothing but a
// regular file is touched.
//
// Reading: only a regular file is read, which is checked on the opened
// descriptor (a FIFO is never waited on, a device never read), and never
// further than the size the file had when it was opened.
//
// Writing: the bytes go to a temporary file beside the target, which takes the
// target's mode bits and, where the process may set them, its owner and group,
// and replaces the target only once every byte is on disk. A symbolic link is
// written through to the file it names. A file with more than one name (hard
// links) is rewritten in place so that every name sees the new content; a copy
// of the old content is written and flushed beside it first, put back when the
// rewrite fails and removed afterwards. Only a regular file or a new name is
// written: a FIFO, a device or a directory is refused. SIGXFSZ is ignored (see
// IgnoreFileSizeSignal), so a write past the file-size limit fails instead of
// ending the program.
//
// On failure the target keeps its old content and EQvError is thrown:
// CannotCreate(path), NotRegularCreate(path), or, when a temporary file or the
// copy of the old content could not be removed, a message that names it.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>

class QFile;

void WriteWholeFile(const QString &path, const QByteArray &bytes);

// The same for bytes made while they are written, so that the disk works on
// the first blocks while the later ones are made: source(write) hands each
// block in order to write, which returns false when the file cannot take it
// (source then stops), and returns true once every block went. A source that
// cannot make its bytes returns false while every write went: then nothing is
// changed, nothing is left behind and WriteWholeFile returns false.
using TByteSink = std::function<bool(QByteArrayView block)>;
bool WriteWholeFile(const QString &path, const std::function<bool(const TByteSink &write)> &source);

// The pieces every writer of the program uses (the document save here, the
// recovery writer beside it): a path as the file system names it; a write of
// every byte at an offset, going on after interruptions (false with errno set,
// ENOSPC where nothing more goes); and a flush of the folder that holds a
// path, after a new name or a rename in it.
QByteArray NativePath(const QString &path);
bool WriteAll(int fd, const char *data, qint64 size, qint64 offset);
void SyncFolderOf(const QString &path);

// Every writer of the program calls this before it writes: a write past the
// file-size limit (ulimit -f) then fails with EFBIG instead of ending the
// program with SIGXFSZ, and every unsaved edit with it.
void IgnoreFileSizeSignal();

// The largest file whose text the program can hold (its text takes several
// times its size): a third of the physical memory, and a quarter of the
// address-space and data-size limits (ulimit -v, -d).
qint64 LargestFileInMemory();

// The whole content of the regular file `path`. Throws EQvError:
// CannotOpen(path) when it cannot be opened or read or is a directory,
// NotRegularOpen(path) for a FIFO, a device or a socket; std::bad_alloc when
// there is no room for it.
QByteArray ReadWholeFile(const QString &path);

// Opens the regular file `path` for reading into `file` and returns its size at
// that moment; a reader reads no further than that. Throws as ReadWholeFile().
qint64 OpenRegularFile(const QString &path, QFile &file);
