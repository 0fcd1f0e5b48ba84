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
//   size <number of bytes>
// an empty line, then exactly that many bytes: what Save would write.
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

// Creates the folder (and missing parents) with mode 0700 and checks it: a
// directory, no symbolic link, owned by this user; wider modes are narrowed.
// False, with the reason, when it can't be used.
bool PrepareFolder(const QString &folder, QString *why);

struct Entry {
    QString File;        // the recovery file's full path
    QString Path;        // the document's path; empty: untitled
    QDateTime Changed;   // the last change
    int LineEnd = 0;     // the document's line end for new lines
    QByteArray Bytes;    // what Save would write
};

QByteArray Header(const Entry &e);
// False when data is no complete recovery file.
bool Parse(const QByteArray &data, Entry &e);

// The recovery files of instances that no longer run, claimed: their locks are
// held until this is destroyed, so no other instance offers them meanwhile.
class TLeftovers {
public:
    TLeftovers() = default;
    ~TLeftovers();
    TLeftovers(const TLeftovers &) = delete;
    TLeftovers &operator=(const TLeftovers &) = delete;
    TLeftovers(TLeftovers &&other) noexcept;

    std::vector<Entry> Entries;  // by time of the last change, oldest first
    QStringList Damaged;         // recovery files that could not be read (left in place)
    std::vector<int> Locks;
};

// Claims what instances other than `ownId` left in `folder`; lock files and
// half-written temporary files of instances with no recovery file left are
// removed on the way.
TLeftovers Claim(const QString &folder, const QString &ownId);

// Writes and removes one instance's recovery files on a thread of its own, in
// the order asked; a newer request for a file replaces one still waiting.
class TWriter {
public:
    // done(name, ok, retry, why) runs on the writer's thread after each
    // request; retry is false when trying again with the same text is no use
    // (a character that Shift-JIS cannot hold).
    using Done = std::function<void(const QString &name, bool ok, bool retry, const QString &why)>;
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
