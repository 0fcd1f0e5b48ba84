#pragma once
// Unsaved edits survive a crash, a kill or a power cut: while a document has
// unsaved changes, its bytes (what Save would write) and its path are kept in a
// recovery file, and at start-up the files of instances that no longer run are
// offered back.
//
// A document has unsaved changes while it is Changed and its text differs from
// its saved state: the text store is unmodified again after Save, Save
// As, a load and an undo back to the saved text, and its file is then removed.
// An untitled document with no text has nothing to keep.
//
// Writing: a few seconds after the last edit (Timing::Delay), or after
// Timing::Longest of edits without such a pause; only when the text changed
// since the last write. The GUI thread takes the text (about 30 ms for 10 MB);
// the writer's thread makes its bytes and writes them. A failed write is tried
// again after Timing::Retry; editing and saving go on regardless.
//
// While recovery is off (its folder is refused, or writes fail), the status
// line shows "復元: 停止中" with the reason as its tip until a write succeeds
// again; the first failure in a run also shows one message box.
#include "recoverystore.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <map>
#include <memory>

class QLabel;
class QTimer;
class TDocumentHost;
class TMDIChild;

class TRecovery : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int Delay = 3000;     // ms after the last edit
        int Longest = 15000;  // ms of continuous editing at most without a write
        int Retry = 20000;    // ms after a failed write
    };

    // Keeps the documents of `host` in `folder` (recovery::DefaultFolder() in
    // the program), writing as `timing` says (Timing() in the program).
    // Documents open already are watched from now on.
    TRecovery(TDocumentHost &host, const QString &folder, Timing timing);
    // Finishes the writes asked for. Files of documents that are still changed
    // stay: the window went without the user discarding them.
    ~TRecovery() override;

    void Watch(TMDIChild *doc);

    enum Answer { Nothing, Restore, Discard, Later };
    // At start-up: the documents that instances no longer running left behind
    // are offered in one dialog. Restore opens each as a changed document with
    // its path (one that cannot be restored is reported, leaves no window and
    // keeps its file); Discard removes their files; Later keeps them for the
    // next start. Nothing: there was nothing to offer. Files that are not this
    // user's own, damaged or too large are named in the status line and left.
    Answer OfferLeftovers();

    // The main window closes: every changed document was saved or discarded.
    void DropAll();

    // Waits until every write and removal asked for is done.
    void Flush();

    QString Folder() const { return Writer.Folder(); }
    QString Id() const { return Writer.Id(); }
    // The recovery file of a watched document (it need not exist).
    QString FileOf(const TMDIChild *doc) const;

    // The status line's indicator, shown while recovery is off.
    QPointer<QLabel> Indicator;

private:
    struct Tracked {
        QPointer<TMDIChild> Window;
        QString Name;
        QTimer *Timer = nullptr;
        qint64 FirstUnwritten = -1;  // ms (monotonic) of the first edit not yet written
        qint64 LastEdit = 0;         // ms since 1970 of the last edit
        bool Asked = false;          // a write was asked for since the last removal
        QString Replaces;            // the file of another instance that it was restored from
        bool Failing = false;        // the last write failed: the next one waits for the retry
        bool Unkept = false;         // the last write failed: its edits are not on disk
    };
    void Edited(TMDIChild *doc);
    void Unchanged(TMDIChild *doc);
    void Closed(TMDIChild *doc);
    void Keep(Tracked &t);
    void Written(const QString &name, bool ok, bool retry, const QString &why, bool removal);
    void Note(const QString &text);
    // Recovery is off for `why` (indicator, and the run's one message box), or on again.
    void Off(const QString &why);
    void On();
    bool RestoreOne(recovery::Entry &e);
    static bool HasUnsavedChanges(const TMDIChild *doc);

    TDocumentHost &Host;
    const Timing Times;
    std::map<const TMDIChild *, Tracked> Docs;
    int Serial = 0;
    bool Noted = false;  // a failure has been noted since the last success
    bool Warned = false;  // the run's message box about recovery being off was shown
    recovery::TWriter Writer;
};
