#include "errorreport.h"

#include <QMessageBox>
#include <QPushButton>

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

int AskSaveDiscardCancel(const QString &text, QWidget *parent) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quelvane"), text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.button(QMessageBox::Save)->setText(QStringLiteral("保存する(&S)"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("保存しない(&N)"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("キャンセル"));
    box.setDefaultButton(QMessageBox::Save);
    const int answer = box.exec();
    return answer == QMessageBox::Save || answer == QMessageBox::Discard ? answer : int(QMessageBox::Cancel);
}
