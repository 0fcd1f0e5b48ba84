#include "recovery.h"

#include "childwin.h"
#include "colouring.h"
#include "colourstore.h"
#include "mainform.h"
#include "sourcetext.h"
#include "textpos.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTextDocument>
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

TRecovery::TRecovery(TMainForm &form, const QString &folder, Timing timing)
    : Form(form), Times(timing),
      Writer(folder, NewId(), [this](const QString &name, bool ok, bool retry, const QString &why) {
          QMetaObject::invokeMethod(this, [this, name, ok, retry, why] { Written(name, ok, retry, why); },
                                    Qt::QueuedConnection);
      }) {
    for (int i = 0; i < form.MDIChildCount(); ++i) Watch(form.MDIChildren(i));
}

TRecovery::~TRecovery() = default;  // the writer finishes first: it is the last member

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
        if (!modified) Unchanged(doc);
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
    Writer.Write(t.Name, e, sourcetext::Take(doc->RichEdit1->Text(), doc->DefaultLineEnd),
                 t.Replaces);
    t.Asked = true;
}

void TRecovery::Written(const QString &name, bool ok, bool retry, const QString &why) {
    if (ok)
        Noted = false;
    else if (retry)
        Note(QStringLiteral("復元用ファイルを書き込めません（%1）。後でもう一度試みます").arg(why));
    else  // what Save cannot write cannot be kept either; the last file written stays
        Note(QStringLiteral("復元用ファイルを更新できません: %1").arg(why));
    for (auto &[doc, t] : Docs) {
        if (t.Name != name) continue;
        t.Failing = !ok && retry;
        if (ok || !retry) continue;
        // Tried again later: written if still changed, removed otherwise.
        t.Asked = true;
        t.Timer->start(Times.Retry);
    }
}

void TRecovery::Note(const QString &text) {
    if (Noted) return;
    Noted = true;
    Form.StatusBar->showMessage(text);
}

void TRecovery::KeepNow() {
    for (auto &[doc, t] : Docs)
        if (t.FirstUnwritten >= 0 || t.Timer->isActive()) Keep(t);
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

TRecovery::Answer TRecovery::OfferLeftovers() {
    recovery::TLeftovers left = recovery::Claim(Folder(), Id());
    if (!left.Damaged.isEmpty())
        Note(QStringLiteral("読めない復元用ファイルがあります（%1）。そのまま残します").arg(left.Damaged.join(QStringLiteral(", "))));
    if (left.Entries.empty()) return Nothing;
    const Answer answer = Ask(&Form, left.Entries);
    if (answer == Discard) {
        for (const recovery::Entry &e : left.Entries) QFile::remove(e.File);
    } else if (answer == Restore) {
        for (const recovery::Entry &e : left.Entries) {
            // A new, empty, untitled window (an empty path never names an open
            // document or an existing file), then the kept text in it.
            Form.OpenDocument(QString());
            TMDIChild *doc = Form.MDIChildren(0);
            if (!doc) continue;
            Watch(doc);
            TRichEdit *control = doc->RichEdit1;
            doc->Loading = true;
            doc->FileName = e.Path;
            sourcetext::Load(control->Text(), e.Bytes);
            doc->DefaultLineEnd = TMDIChild::LineEnd(e.LineEnd);
            doc->setWindowTitle((e.Path.isEmpty() ? QStringLiteral("名称未設定") : ShortName(e.Path)) + QLatin1Char('*'));
            ColourRange(control, 1, TextLength(control));
            SetSelection(control, 0, 0);
            control->setFocus();
            doc->Loading = false;
            doc->Changed = true;
            control->setModified(true);
            Tracked &t = Docs[doc];
            t.LastEdit = e.Changed.toMSecsSinceEpoch();
            // This instance's own copy is written before the old file goes;
            // until then each write or removal of the copy tries again.
            t.Replaces = e.File;
            t.Asked = true;
            Keep(t);
        }
        // The old files are gone (or still there, when a copy failed) before the
        // claim on them ends.
        Flush();
    }
    return answer;
}
