#include "recovery.h"

#include "childwin.h"
#include "colourstore.h"
#include "errorreport.h"
#include "documenthost.h"
#include "sourcetext.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chrono>
#include <unistd.h>

namespace {

qint64 Monotonic() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString NewId() {
    return QStringLiteral("%1-%2").arg(::getpid()).arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// The offer: one dialog listing every document with the time of its last change.
TRecovery::Answer Ask(QWidget *parent, const std::vector<recovery::Entry> &entries) {
    QDialog dlg(parent);
    dlg.setObjectName(QStringLiteral("RecoveryDialog"));
    dlg.setWindowTitle(QStringLiteral("Quelvane"));
    auto *layout = new QVBoxLayout(&dlg);
    layout->addWidget(new QLabel(
        QStringLiteral("保存されないまま終了した文書が %1 件あります。復元しますか?").arg(entries.size()), &dlg));
    auto *list = new QTreeWidget(&dlg);
    list->setObjectName(QStringLiteral("Documents"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("文書"), QStringLiteral("最後の変更")});
    for (const recovery::Entry &e : entries)
        new QTreeWidgetItem(list, {e.Path.isEmpty() ? QStringLiteral("名称未設定") : e.Path,
                                   e.Changed.toLocalTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))});
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    layout->addWidget(list);
    auto *buttons = new QDialogButtonBox(&dlg);
    TRecovery::Answer answer = TRecovery::Later;
    const std::pair<const char *, const char *> kinds[] = {
        {"Restore", "復元する(&R)"}, {"Discard", "破棄する(&D)"}, {"Later", "後で(&L)"}};
    const TRecovery::Answer answers[] = {TRecovery::Restore, TRecovery::Discard, TRecovery::Later};
    for (int i = 0; i < 3; ++i) {
        QPushButton *b = buttons->addButton(QString::fromUtf8(kinds[i].second), QDialogButtonBox::ActionRole);
        b->setObjectName(QLatin1String(kinds[i].first));
        QObject::connect(b, &QPushButton::clicked, &dlg, [&dlg, &answer, a = answers[i]] {
            answer = a;
            dlg.accept();
        });
        if (i == 0) b->setDefault(true);
    }
    layout->addWidget(buttons);
    dlg.resize(520, 260);
    // Closing the dialog any other way keeps the files for the next start.
    if (dlg.exec() != QDialog::Accepted) return TRecovery::Later;
    return answer;
}

}  // namespace

TRecovery::TRecovery(TDocumentHost &host, const QString &folder, Timing timing)
    : Host(host), Times(timing),
      Writer(folder, NewId(), [this](const QString &name, bool ok, bool retry, const QString &why, bool removal) {
          QMetaObject::invokeMethod(
              this, [this, name, ok, retry, why, removal] { Written(name, ok, retry, why, removal); },
              Qt::QueuedConnection);
      }) {
    Indicator = new QLabel(QStringLiteral("復元: 停止中"), host.StatusLine());
    Indicator->setObjectName(QStringLiteral("RecoveryState"));
    host.StatusLine()->addPermanentWidget(Indicator);
    Indicator->hide();
    for (int i = 0; i < host.MDIChildCount(); ++i) Watch(host.MDIChildren(i));
}

TRecovery::~TRecovery() { delete Indicator; }  // then the writer finishes: it is the last member

QString TRecovery::FileOf(const TMDIChild *doc) const {
    const auto it = Docs.find(doc);
    return it == Docs.end() ? QString() : Folder() + QLatin1Char('/') + it->second.Name;
}

bool TRecovery::HasUnsavedChanges(const TMDIChild *doc) {
    const TRichEdit *text = doc->RichEdit1;
    return doc->Changed && text->isModified() && !(doc->IsUntitled() && TextLength(text) == 0);
}

void TRecovery::Watch(TMDIChild *doc) {
    if (!doc || Docs.count(doc)) return;
    Tracked &t = Docs[doc];
    t.Window = doc;
    t.Name = QStringLiteral("%1.%2.qvr").arg(Id()).arg(++Serial);
    t.Timer = new QTimer(this);
    t.Timer->setSingleShot(true);
    connect(t.Timer, &QTimer::timeout, this, [this, doc] {
        if (auto it = Docs.find(doc); it != Docs.end()) Keep(it->second);
    });
    connect(doc->RichEdit1->Colours(), &TColourStore::TextChanged, this,
            [this, doc](int, int, int) { Edited(doc); });
    connect(doc->RichEdit1, &TRichEdit::modificationChanged, this, [this, doc](bool modified) {
        // Marked changed without an edit (its file went): kept like an edit.
        if (modified)
            Edited(doc);
        else
            Unchanged(doc);
    });
    connect(doc, &QObject::destroyed, this, [this, doc] { Closed(doc); });
}

void TRecovery::Edited(TMDIChild *doc) {
    auto it = Docs.find(doc);
    if (it == Docs.end() || doc->Loading) return;
    Tracked &t = it->second;
    const qint64 now = Monotonic();
    t.LastEdit = QDateTime::currentMSecsSinceEpoch();
    if (t.FirstUnwritten < 0) t.FirstUnwritten = now;
    if (t.Failing && t.Timer->isActive()) return;  // the retry comes first
    const qint64 left = Times.Longest - (now - t.FirstUnwritten);
    t.Timer->start(int(std::max<qint64>(0, std::min<qint64>(Times.Delay, left))));
}

void TRecovery::Unchanged(TMDIChild *doc) {
    // Saved, loaded, or back at the saved text by undo: the file has it all.
    if (auto it = Docs.find(doc); it != Docs.end()) Keep(it->second);
}

void TRecovery::Closed(TMDIChild *doc) {
    // A document window is destroyed after its close was accepted: it was
    // saved, unchanged, or its changes were discarded.
    auto it = Docs.find(doc);
    if (it == Docs.end()) return;
    if (it->second.Asked) Writer.Remove(it->second.Name, it->second.Replaces);
    delete it->second.Timer;
    Docs.erase(it);
}

void TRecovery::Keep(Tracked &t) {
    t.Timer->stop();
    t.FirstUnwritten = -1;
    TMDIChild *doc = t.Window;
    if (!doc) return;
    if (!HasUnsavedChanges(doc)) {
        if (t.Asked) Writer.Remove(t.Name, t.Replaces);
        t.Asked = false;
        return;
    }
    // The text is taken here; its bytes are made and written on the writer's thread.
    recovery::Entry e;
    e.Path = doc->FileName;
    e.Changed = QDateTime::fromMSecsSinceEpoch(t.LastEdit ? t.LastEdit : QDateTime::currentMSecsSinceEpoch(), Qt::UTC);
    e.LineEnd = int(doc->DefaultLineEnd);
    // The file the edits were made on: restored, a change made to it meanwhile shows.
    if (doc->Disk.Kind != TDiskState::Unknown) e.Disk = doc->Disk.Encode();
    Writer.Write(t.Name, e, sourcetext::Take(doc->RichEdit1->Text(), doc->DefaultLineEnd),
                 t.Replaces);
    t.Asked = true;
}

void TRecovery::Written(const QString &name, bool ok, bool retry, const QString &why, bool removal) {
    if (ok)
        Noted = false;
    else if (retry)
        Note(QStringLiteral("復元用ファイルを書き込めません（%1）。後でもう一度試みます").arg(why));
    else  // what Save cannot write cannot be kept either; the last file written stays
        Note(QStringLiteral("復元用ファイルを更新できません: %1").arg(why));
    for (auto &[doc, t] : Docs) {
        if (t.Name != name) continue;
        t.Failing = !ok && retry;
        t.Unkept = !ok;
        if (ok || !retry) continue;
        // Tried again later: written if still changed, removed otherwise.
        t.Asked = true;
        t.Timer->start(Times.Retry);
    }
    if (!ok)
        Off(why);
    else if (!removal)  // a removal tells nothing about whether writes work again
        On();
}

void TRecovery::Note(const QString &text) {
    if (Noted) return;
    Noted = true;
    Host.StatusLine()->showMessage(text);
}

void TRecovery::Off(const QString &why) {
    if (Indicator) {
        Indicator->setToolTip(why);
        Indicator->show();
    }
    if (Warned) return;
    Warned = true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quelvane"),
                    QStringLiteral("保存していない変更を復元用に書き込めません。このままプログラムが異常終了すると、"
                                   "保存していない変更は失われます。\n\n%1")
                        .arg(why),
                    QMessageBox::Ok, Host.DialogParent());
    box.setObjectName(QStringLiteral("RecoveryOff"));
    box.exec();
}

void TRecovery::On() {
    // A write succeeded: the folder can be used; off still while another
    // document's edits are not on disk.
    for (const auto &[doc, t] : Docs)
        if (t.Unkept) return;
    if (Indicator) Indicator->hide();
}

void TRecovery::Flush() { Writer.Wait(); }

void TRecovery::DropAll() {
    for (auto &[doc, t] : Docs) {
        t.Timer->stop();
        t.FirstUnwritten = -1;
        if (t.Asked) Writer.Remove(t.Name, t.Replaces);
        t.Asked = false;
    }
}

bool TRecovery::RestoreOne(recovery::Entry &e) {
    // A new, empty, untitled window (an empty path never names an open document
    // or an existing file), then the kept bytes through the window's one load
    // path: the window claims the path only once it holds the text, and a
    // window that could not take it goes again.
    QPointer<TMDIChild> doc;
    const bool ok = Guarded(
        [&] {
            try {
                QByteArray bytes = recovery::ReadBytes(e);
                doc = Host.NewDocument();
                if (!doc) return;
                try {
                    doc->LoadBytes(std::move(bytes), e.Path, true);
                } catch (...) {
                    delete doc;
                    throw;
                }
            } catch (const std::bad_alloc &) {
                throw EQvError(QStringLiteral("%1 を復元できません。%2（復元用ファイル %3 は次の起動のために残します）")
                                   .arg(e.Path.isEmpty() ? QStringLiteral("名称未設定") : e.Path, OutOfMemoryMessage(), e.File));
            }
        },
        Host.DialogParent());
    if (!ok || !doc) return false;
    doc->DefaultLineEnd = TMDIChild::LineEnd(e.LineEnd);
    // The file as the edits found it: another program's change since then,
    // before the restore or after it, is asked about as for any document. A
    // file kept without that record is taken as it is now.
    if (!e.Disk.isEmpty())
        doc->Disk = TDiskState::Decode(e.Disk);
    else if (!e.Path.isEmpty())
        doc->Disk = TDiskState::Of(e.Path);
    Watch(doc);
    Tracked &t = Docs[doc];
    t.LastEdit = e.Changed.toMSecsSinceEpoch();
    // This instance's own copy is written before the old file goes; until then
    // each write or removal of the copy tries again.
    t.Replaces = e.File;
    t.Asked = true;
    Keep(t);
    return true;
}

TRecovery::Answer TRecovery::OfferLeftovers() {
    recovery::TLeftovers left = recovery::Claim(Folder(), Id());
    if (!left.Unusable.isEmpty()) {
        // Nothing in it was read, nothing will be written there.
        Note(QStringLiteral("復元用フォルダを使えません: %1").arg(left.Unusable));
        Off(left.Unusable);
        return Nothing;
    }
    QStringList leftAlone;
    if (!left.Damaged.isEmpty())
        leftAlone << QStringLiteral("読めない復元用ファイル（%1）").arg(left.Damaged.join(QStringLiteral(", ")));
    if (!left.TooLarge.isEmpty())
        leftAlone << QStringLiteral("大きすぎる復元用ファイル（%1）").arg(left.TooLarge.join(QStringLiteral(", ")));
    if (!left.Refused.isEmpty())
        leftAlone << QStringLiteral("自分のものでない復元用ファイル（%1）").arg(left.Refused.join(QStringLiteral(", ")));
    if (!leftAlone.isEmpty())
        Note(QStringLiteral("%1があります。そのまま残します").arg(leftAlone.join(QStringLiteral("と"))));
    if (left.Entries.empty()) return Nothing;
    const Answer answer = Ask(Host.DialogParent(), left.Entries);
    if (answer == Discard) {
        for (const recovery::Entry &e : left.Entries) recovery::RemoveClaimed(e);
    } else if (answer == Restore) {
        for (recovery::Entry &e : left.Entries) RestoreOne(e);
        // The old files are gone (or still there, when a copy failed) before the
        // claim on them ends.
        Flush();
    }
    return answer;
}
