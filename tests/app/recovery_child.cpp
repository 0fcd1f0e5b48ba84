// An instance of the program for the recovery tests: the main window with its
// recovery set up as the program sets it up, in the state folder of its
// environment. It tells what the user would have seen on stdout, one line each:
//   box <text>                 a message box (answered with its default button)
//   offer <path>               a document listed by the recovery dialog
//   note <text>                a message in the status line
//   off <reason>               the indicator that recovery is off, with its tip
//   window <path>\t<changed>   an open document window
//   ready <file>               its recovery file is written
//   rss <kB>                   the most memory it held (at the end of a start)
//
// recovery_child edit <file> <typed>
//   Opens <file> (a new document for "-"), types <typed> at the start of the
//   text ("|" is the Return key) and prints "ready" once the recovery file is
//   written, or "off" once recovery is off; then runs until it is killed.
// recovery_child start <Restore|Discard|Later> [tight]
//   Starts as the program does: the dialog is answered with the given button
//   (with "tight", the address space left to the process first shrinks to
//   twice the largest leftover's size: room to read it, none to decode it).
//   Then it prints its windows, chooses 上書き保存 in each (a save dialog is
//   cancelled) and ends.
#include "childwin.h"
#include "documents.h"
#include "compilecontrol.h"
#include "documents.h"
#include "mainform.h"
#include "searchcontrol.h"
#include "recovery.h"
#include "recoverystore.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <sys/resource.h>

namespace {

void Say(const char *what, const QString &text) {
    std::printf("%s %s\n", what, QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')).toLocal8Bit().constData());
    std::fflush(stdout);
}

// The process's address space now, from /proc.
rlim_t AddressSpace() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:")) return rlim_t(line.mid(7).trimmed().split(' ').value(0).toLongLong()) * 1024;
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    const QByteArray command(argv[1]);
    TMainForm form;
    form.show();
    form.SetFilePrompt([](TFileDialog &) { return false; });
    // Every message box is told and answered as its default button would be.
    QTimer boxes;
    QPointer<QMessageBox> answered;
    int told = 0;
    QObject::connect(&boxes, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == answered) return;
        answered = box;
        ++told;
        Say("box", box->text());
        if (QAbstractButton *b = box->defaultButton() ? box->defaultButton() : box->buttons().value(0))
            b->click();
        else
            box->reject();
    });
    boxes.start(5);
    QObject::connect(form.StatusBar, &QStatusBar::messageChanged, [](const QString &m) {
        if (!m.isEmpty()) Say("note", m);
    });
    form.Recovery = std::make_unique<TRecovery>(*form.Docs, recovery::DefaultFolder(), TRecovery::Timing());
    const auto sayOff = [&form] {
        if (!form.Recovery->Indicator->isHidden()) Say("off", form.Recovery->Indicator->toolTip());
    };

    if (command == "start") {
        const QString button = QString::fromLatin1(argv[2]);
        const bool tight = argc > 3 && QByteArray(argv[3]) == "tight";
        rlimit saved{};
        ::getrlimit(RLIMIT_AS, &saved);
        QTimer dialog;
        QObject::connect(&dialog, &QTimer::timeout, [&] {
            auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!d || qobject_cast<QMessageBox *>(d) || !d->isVisible()) return;
            dialog.stop();
            const auto *list = d->findChild<QTreeWidget *>(QStringLiteral("Documents"));
            for (int i = 0; list && i < list->topLevelItemCount(); ++i) Say("offer", list->topLevelItem(i)->text(0));
            if (tight) {
                qint64 largest = 0;
                for (const QFileInfo &f : QDir(recovery::DefaultFolder()).entryInfoList(QDir::Files))
                    largest = std::max(largest, f.size());
                rlimit tightened = saved;
                tightened.rlim_cur = AddressSpace() + rlim_t(2 * largest);
                ::setrlimit(RLIMIT_AS, &tightened);
            }
            if (auto *b = d->findChild<QPushButton *>(button)) b->click();
        });
        dialog.start(5);
        form.Recovery->OfferLeftovers();
        ::setrlimit(RLIMIT_AS, &saved);
        sayOff();
        for (int i = 0; i < form.MDIChildCount(); ++i) {
            const TMDIChild *doc = form.MDIChildren(i);
            Say("window", doc->FileName + QLatin1Char('\t') + QString::number(doc->Changed));
        }
        // What 上書き保存 would do in every window left.
        while (form.MDIChildCount() > 0) {
            TMDIChild *doc = form.MDIChildren(0);
            form.Docs->SaveDocument(*doc);
            delete doc;
        }
        form.Recovery->Flush();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        Say("rss", QString::number(usage.ru_maxrss));
        return 0;
    }

    if (command != "edit" || argc < 4) return 2;
    const QString file = QString::fromLocal8Bit(argv[2]);
    if (file == QLatin1String("-"))
        form.FileNewItemClick();
    else
        form.OpenDocument(file);
    TMDIChild *doc = form.MDIChildren(0);
    if (!doc) return 3;
    doc->RichEdit1->setFocus();
    for (const char c : QByteArray(argv[3])) {
        if (c == '|')
            QTest::keyClick(doc->RichEdit1, Qt::Key_Return);
        else
            QTest::keyClick(doc->RichEdit1, c);
    }
    const QString kept = form.Recovery->FileOf(doc);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QFile::exists(kept)) {
            poll.stop();
            Say("ready", kept);
        } else if (!form.Recovery->Indicator->isHidden() && told > 0 && !QApplication::activeModalWidget()) {
            poll.stop();
            sayOff();
        }
    });
    poll.start(20);
    return app.exec();
}
