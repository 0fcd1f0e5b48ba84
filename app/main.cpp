#include "appearance.h"
#include "application.h"
#include "errorreport.h"
#include "filedrop.h"
#include "documents.h"
#include "mainform.h"
#include "newproj.h"
#include "option.h"
#include "recovery.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

int main(int argc, char **argv) {
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quelvane"));
    // Japanese standard dialogs, the layouts' fonts, the window icon.
    appearance::SetUp(app);
    try {
        TMainForm MainForm;
        // One hidden instance of each dialog is made at start-up.
        TNewProjDlg NewProjDlg(&MainForm);
        TOption Option(&MainForm);
        // The window as the user left it, the recent lists, the line-number switch.
        MainForm.RestoreSettings();
        MainForm.show();
        // Unsaved edits are kept on disk; what an ended instance left is offered back.
        MainForm.Recovery = std::make_unique<TRecovery>(*MainForm.Docs, recovery::DefaultFolder(), TRecovery::Timing());
        // The files named on the command line open once the window is up; the
        // offer of what an ended instance left comes first, over the window
        // once the window manager has placed it.
        const QStringList files = TFileDrop::ArgumentFiles(app.arguments().mid(1));
        auto *waiting = new QTimer(&MainForm);
        QObject::connect(waiting, &QTimer::timeout, &MainForm, [&MainForm, waiting, files, tries = 0]() mutable {
            if (!(MainForm.windowHandle() && MainForm.windowHandle()->isExposed()) && ++tries < 100) return;
            waiting->stop();
            waiting->deleteLater();
            MainForm.Recovery->OfferLeftovers();
            MainForm.OpenFiles(files);
        });
        waiting->start(20);
        return app.exec();
    } catch (...) {
        // Building the main window failed: reported like any other error.
        Guarded([] { throw; });
    }
    return 1;
}
