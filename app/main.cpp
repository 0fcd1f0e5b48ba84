#include "appearance.h"
#include "application.h"
#include "errorreport.h"
#include "mainform.h"
#include "newproj.h"
#include "option.h"

#include <QApplication>

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
        return app.exec();
    } catch (...) {
        // Building the main window failed: reported like any other error.
        Guarded([] { throw; });
    }
    return 1;
}
