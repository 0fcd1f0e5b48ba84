#include "errorreport.h"

#include <QMessageBox>

void ShowErrorReport(const QString &message, QWidget *parent) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Quelvane"), message + QLatin1Char('.'), QMessageBox::Ok,
                    parent);
    box.exec();
}

QString OutOfMemoryMessage() { return QStringLiteral("メモリが足りないため、処理を続けられません"); }

QString ForeignErrorMessage(const std::exception &e) {
    const QString what = QString::fromUtf8(e.what()).trimmed();
    return what.isEmpty() ? UnknownErrorMessage() : QStringLiteral("エラーが発生しました: %1").arg(what);
}

QString UnknownErrorMessage() { return QStringLiteral("不明なエラーが発生しました"); }
