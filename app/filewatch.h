#pragma once
// Files changed by other programs. When the main window is activated, each open
// document's file is compared with what the document last read or wrote
// (TMDIChild::Disk; a file only touched, or written again with the same bytes,
// is no change): a document without unsaved edits is read again (its caret
// keeps its line); one with edits asks "<name>は他のプログラムで変更されました。
// 読み込み直しますか?". A file that is gone, or that something other than a
// file took the place of (a folder, a FIFO: never read), is reported once and
// the document marked changed; it is written again only when the user saves.
// Save asks before it writes over a file changed elsewhere.
//
// Each change is dealt with once: after No, or after a report, the document is
// left alone until it is saved or read again, or its file goes, comes back or
// turns into something else. So a file that keeps changing asks once and then
// only at Save, however often the window is activated, and the activation that
// follows the question's own box asks nothing again.
#include "diskstate.h"

#include <QObject>

#include <map>

class TDocumentHost;
class TMDIChild;
class QWidget;

class TFileWatch : public QObject {
    Q_OBJECT
public:
    TFileWatch(TDocumentHost &host, QWidget *window);

    // Follows the document: its Save asks MayWrite first.
    void Watch(TMDIChild *doc);
    // Checks every open document once the events under way are handled (the
    // main window was activated). Nothing is checked while a dialog of the
    // program is open (its closing activates the main window again) or while
    // the main window is not the active one.
    void CheckSoon();
    // Checks every open document now, most recently activated first.
    void Check();
    // Before Save writes over the document's file: true when the file is the
    // one the document read or wrote, is gone or is no regular file (the write
    // reports that); otherwise the user is asked, and true means Yes.
    bool MayWrite(TMDIChild &doc);

    // The name of the document as its caption shows it, without "*".
    static QString NameOf(const TMDIChild &doc);

private:
    void CheckOne(TMDIChild &doc);
    void Reload(TMDIChild &doc);
    void Report(const QString &text, const char *name);
    bool Ask(const QString &text, const char *name);

    // What the user was last told about a document: the state the document
    // had then, and what its file had turned into.
    struct Told {
        TDiskState Base;
        TDiskState::TKind Now = TDiskState::Unknown;
    };
    std::map<const TMDIChild *, Told> Done;
    TDocumentHost &Host;
    QWidget *Window;
    bool Checking = false;  // a check is under way (its questions are open)
    bool Again = false;     // another was asked for meanwhile
    bool Queued = false;
};
