#include "errorreport.h"

#include <QMessageBox>

std::function<void(const QString &)> ErrorReportHook;

void ShowErrorReport(const QString &message, QWidget *parent) {
    if (ErrorReportHook) {
        ErrorReportHook(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quelvane"), message + QLatin1Char('.'), QMessageBox::Ok,
                    parent);
    box.exec();
}
