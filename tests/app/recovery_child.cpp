// An instance of the program for the recovery tests: the main window with its
// recovery set up as the program sets it up. It opens the file argv[1] (a new
// document for "-"), types argv[2] at the start of the text ("|" is the Return
// key), waits until the recovery file is written, prints "ready <file>" and
// runs until it is killed.
#include "childwin.h"
#include "mainform.h"
#include "recovery.h"

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    TMainForm form;
    form.show();
    form.Recovery = std::make_unique<TRecovery>(form, recovery::DefaultFolder());
    const QString file = QString::fromLocal8Bit(argv[1]);
    if (file == QLatin1String("-"))
        form.FileNewItemClick();
    else
        form.OpenDocument(file);
    TMDIChild *doc = form.MDIChildren(0);
    if (!doc) return 3;
    doc->RichEdit1->setFocus();
    for (const char c : QByteArray(argv[2])) {
        if (c == '|')
            QTest::keyClick(doc->RichEdit1, Qt::Key_Return);
        else
            QTest::keyClick(doc->RichEdit1, c);
    }
    const QString kept = form.Recovery->FileOf(doc);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!QFile::exists(kept)) return;
        poll.stop();
        std::printf("ready %s\n", QFile::encodeName(kept).constData());
        std::fflush(stdout);
    });
    poll.start(20);
    return app.exec();
}
