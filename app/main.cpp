#include "appearance.h"
#include "application.h"
#include "errorreport.h"
#include "mainform.h"
#include "newproj.h"
#include "option.h"
#include "recovery.h"

#include <QApplication>
#include <QTimer>

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
        MainForm.show();
        // Unsaved edits are kept on disk; what an ended instance left is offered back.
        MainForm.Recovery = std::make_unique<TRecovery>(MainForm, recovery::DefaultFolder());
        QTimer::singleShot(0, &MainForm, [&MainForm] { MainForm.Recovery->OfferLeftovers(); });
        return app.exec();
    } catch (...) {
        // Building the main window failed: reported like any other error.
        Guarded([] { throw; });
    }
    return 1;
}
