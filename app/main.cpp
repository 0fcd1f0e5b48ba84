#include "appearance.h"
#include "errorreport.h"
#include "mainform.h"
#include "newproj.h"
#include "option.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
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
    } catch (const EQvError &e) {
        ShowErrorReport(e.Message);
    } catch (const std::exception &e) {
        ShowErrorReport(QString::fromLocal8Bit(e.what()));
    }
    return 1;
}
