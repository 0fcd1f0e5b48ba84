#include "filewatch.h"

#include "childwin.h"
#include "documenthost.h"
#include "errorreport.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

TFileWatch::TFileWatch(TDocumentHost &host, QWidget *window) : QObject(window), Host(host), Window(window) {}

QString TFileWatch::NameOf(const TMDIChild &doc) {
    QString name = doc.windowTitle();
    if (name.endsWith(QLatin1Char('*'))) name.chop(1);
    return name;
}

void TFileWatch::Watch(TMDIChild *doc) {
    doc->BeforeSave = [this](TMDIChild &d) { return MayWrite(d); };
    connect(doc, &QObject::destroyed, this, [this, doc] { Done.erase(doc); });
}

void TFileWatch::CheckSoon() {
    if (Queued) return;
    Queued = true;
    QTimer::singleShot(0, this, [this] {
        Queued = false;
        Check();
    });
}

void TFileWatch::Check() {
    if (Checking) {
        Again = true;
        return;
    }
    // Not while another dialog is open, nor once the user has gone to another
    // program again: the next activation checks.
    if (QApplication::activeModalWidget() || (Window && !Window->isActiveWindow())) return;
    Checking = true;
    QList<QPointer<TMDIChild>> docs;
    for (int i = 0; i < Host.MDIChildCount(); ++i) docs << Host.MDIChildren(i);
    // A window may go while a question about another is open: each is looked
    // at only while it is there.
    for (const QPointer<TMDIChild> &doc : std::as_const(docs))
        if (doc) CheckOne(*doc);
    Checking = false;
    if (Again) {
        Again = false;
        CheckSoon();
    }
}

void TFileWatch::CheckOne(TMDIChild &doc) {
    if (doc.IsUntitled() || doc.Disk.Kind == TDiskState::Unknown) return;
    TDiskState now;
    if (TDiskState::StillHolds(doc.FileName, doc.Disk, &now)) {
        Done.erase(&doc);
        return;
    }
    // Told already, and neither the document nor the kind of its file changed since.
    if (const auto told = Done.find(&doc);
        told != Done.end() && told->second.Base == doc.Disk && told->second.Now == now.Kind)
        return;
    Done[&doc] = Told{doc.Disk, now.Kind};
    const QString name = NameOf(doc);
    switch (now.Kind) {
    case TDiskState::Missing:
        doc.MarkUnsaved();
        Report(QStringLiteral("%1は削除されたか移動されました。保存すると作り直します。").arg(name), "FileGone");
        return;
    case TDiskState::Other:
        doc.MarkUnsaved();
        Report(QStringLiteral("%1は通常のファイルではなくなりました（フォルダやパイプなど）。読み込み直しません。")
                   .arg(name),
               "FileNotRegular");
        return;
    default:
        break;
    }
    const bool edited = doc.Changed && doc.RichEdit1->isModified();
    if (!edited) return Reload(doc);
    const QPointer<TMDIChild> alive(&doc);
    if (!Ask(QStringLiteral("%1は他のプログラムで変更されました。読み込み直しますか?").arg(name), "ReloadQuestion"))
        return;
    // Saved meanwhile (a build does that): the file holds the document's text.
    if (alive && !TDiskState::StillHolds(alive->FileName, alive->Disk)) Reload(*alive);
}

void TFileWatch::Reload(TMDIChild &doc) {
    // A file that cannot be read now (too large, no permission) is reported;
    // the document keeps its text, and the change is not taken up again.
    if (Guarded([&] { doc.Reload(); }, Window)) Done.erase(&doc);
}

bool TFileWatch::MayWrite(TMDIChild &doc) {
    if (doc.Disk.Kind == TDiskState::Unknown) return true;
    TDiskState now;
    if (TDiskState::StillHolds(doc.FileName, doc.Disk, &now) || now.Kind != TDiskState::Regular) return true;
    return Ask(QStringLiteral("%1は他のプログラムで変更されています。上書き保存しますか?").arg(NameOf(doc)),
               "OverwriteQuestion");
}

void TFileWatch::Report(const QString &text, const char *name) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quelvane"), text, QMessageBox::Ok, Window);
    box.setObjectName(QLatin1String(name));
    box.exec();
}

bool TFileWatch::Ask(const QString &text, const char *name) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quelvane"), text, QMessageBox::Yes | QMessageBox::No, Window);
    box.setObjectName(QLatin1String(name));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
