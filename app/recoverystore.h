#pragma once
// Unsaved edits kept on disk: the recovery folder, its files, the lock that
// marks the files of a running instance, and the thread that writes them.
//
// Folder: $XDG_STATE_HOME/quelvane/recovery (~/.local/state/quelvane/recovery
// when XDG_STATE_HOME is unset or not absolute), mode 0700, owned by the user;
// files in it are 0600.
//
// Each running instance has an id (process id and a random part) and holds an
// exclusive flock on "<id>.lock" for as long as it runs, from before its first
// recovery file is written. Its recovery files are "<id>.<n>.qvr". The kernel
// drops the lock when the process ends, however it ends, so the files of an
// instance whose lock can be taken belong to nobody any more; whoever takes
// the lock has them to itself while it holds it.
//
// A recovery file: the header lines
//   QVRECOVER 1
//   path <the document's path, percent-encoded; empty for an untitled one>
//   changed <time of the last change, ms since 1970 UTC>
//   lineend <0 CR LF, 1 LF, 2 CR: the line end of newly typed lines>
//   disk <the document's file as the document read or wrote it: TDiskState::Encode>
//   size <number of bytes>
// an empty line, then exactly that many bytes: what Save would write. The disk
// line is left out when that is not known (an untitled document), and files
// written before it existed have none.
//
// Whoever could put a file in the folder or swap the folder could hand the
// user someone else's text under the path of one of the user's files: the
// folder is used, for writing and for reading alike, only after the checks of
// CheckFolder(), and a file in it is read only when it is one the writer could
// have made.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include "sourcetext.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace recovery {

QString DefaultFolder();

// Creates the folder (and missing parents) with mode 0700 and checks it as
// CheckFolder() does. False, with the reason, when it can't be used.
bool PrepareFolder(const QString &folder, QString *why);

// The checks made before anything in the folder is written or read: the folder
// and its parent (quelvane/ in the state folder) are real directories, no
// symbolic link, owned by this user; the parent's group and other write bits
// and the folder's modes beyond 0700 are taken away. False, with the reason,
// when it can't be used; *missing is set when the folder does not exist.
bool CheckFolder(const QString &folder, QString *why, bool *missing = nullptr);

struct Entry {
    QString File;        // the recovery file's full path
    QString Path;        // the document's path; empty: untitled
    QDateTime Changed;   // the last change
    int LineEnd = 0;     // the document's line end for new lines
    QByteArray Bytes;    // what Save would write (Parse() only; a claimed file is read by ReadBytes())
    qint64 Offset = 0;   // where the bytes start in the file (the header's length)
    qint64 Size = 0;     // how many bytes the header claims
    quint64 Device = 0, Inode = 0;  // the claimed file
    QByteArray Disk{};   // the document's file as it read or wrote it (TDiskState::Encode); empty: not known
};

QByteArray Header(const Entry &e);
// The header at the start of `head` (Path, Changed, LineEnd, Disk, Offset,
// Size); false when it is none. Its numbers are plain decimal digits; a path
// that decodes to a NUL or to nothing from something is damaged, and so is a
// disk line that TDiskState::Decode does not take.
bool ParseHeader(const QByteArray &head, Entry &e);
// False when data is no complete recovery file.
bool Parse(const QByteArray &data, Entry &e);

// The bytes of a claimed file, read once into one buffer: the file must still
// be the one claimed, with the size its header claims. Throws EQvError when it
// cannot be read, std::bad_alloc when there is no room for it.
QByteArray ReadBytes(const Entry &e);
// Removes a claimed file, when its name still leads to it.
void RemoveClaimed(const Entry &e);

// The recovery files of instances that no longer run, claimed: their locks are
// held until this is destroyed, so no other instance offers them meanwhile.
class TLeftovers {
public:
    TLeftovers() = default;
    ~TLeftovers();
    TLeftovers(const TLeftovers &) = delete;
    TLeftovers &operator=(const TLeftovers &) = delete;
    TLeftovers(TLeftovers &&other) noexcept;

    std::vector<Entry> Entries;  // by time of the last change, oldest first; headers only
    QStringList Damaged;         // recovery files that could not be read (left in place)
    QStringList TooLarge;        // recovery files larger than the memory the program may use (left, not read)
    QStringList Refused;         // "<file>: <reason>": links, other owners, other modes (left alone)
    QString Unusable;            // why the folder itself was not used; nothing in it was read
    // The locks of the instances claimed, held until this goes. Then the lock
    // file of each instance with no file left (all restored or discarded)
    // goes too, removed while still held, so that nobody takes it meanwhile.
    struct Held {
        int Fd = -1;
        QString Path;   // the lock file
        QString Owner;  // the instance id
    };
    std::vector<Held> Locks;
};

// Claims what instances other than `ownId` left in `folder`, after the checks
// of CheckFolder(); only regular files of this user with mode 0600 and one
// name are read, and only their headers. The lock files of instances with no
// recovery file left are removed; a half-written temporary file goes only when
// a complete copy of the same document is there, and a complete one that never
// got its name is given it.
TLeftovers Claim(const QString &folder, const QString &ownId);

// Writes and removes one instance's recovery files on a thread of its own, in
// the order asked; a newer request for a file replaces one still waiting.
class TWriter {
public:
    // done(name, ok, retry, why, removal) runs on the writer's thread after
    // each request; retry is false when trying again with the same text is no
    // use (a character that Shift-JIS cannot hold); removal tells a removal
    // from a write.
    using Done = std::function<void(const QString &name, bool ok, bool retry, const QString &why, bool removal)>;
    TWriter(QString folder, QString id, Done done);
    // Finishes what was asked, then lets go of the lock; the lock file goes
    // too when no recovery file of this instance is left.
    ~TWriter();
    TWriter(const TWriter &) = delete;
    TWriter &operator=(const TWriter &) = delete;

    const QString &Folder() const { return Dir; }
    const QString &Id() const { return Own; }

    // Makes the bytes of `text`, then writes them with the header of `about`
    // to <folder>/name atomically (0600); then, when that succeeded, removes
    // `also` (a full path) if given.
    void Write(const QString &name, const Entry &about, sourcetext::Snapshot text, const QString &also = QString());
    // Removes <folder>/name, and `also` if given.
    void Remove(const QString &name, const QString &also = QString());
    // Waits until every request so far has been carried out.
    void Wait();

private:
    struct Job {
        QString Name;
        bool Remove = false;
        Entry About;
        sourcetext::Snapshot Text;
        QString RemoveAfter;
    };
    void Ask(Job job);
    void Run();
    bool Carry(const Job &job, bool *retry, QString *why);
    bool EnsureLock(QString *why);

    const QString Dir, Own;
    const Done Report;
    std::mutex M;
    std::condition_variable Wake, Idle;
    std::deque<Job> Queue;
    bool Busy = false, Stop = false;
    int LockFd = -1;  // used by the writer's thread only, and by the destructor after it ended
    std::thread Thread;
};

}  // namespace recovery
