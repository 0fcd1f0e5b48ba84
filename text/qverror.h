#pragma once
// The error that ends a command and reaches the application's error report:
// a message box with the error icon, caption "Quelvane" and the message followed by ".".
#include <QString>
#include <exception>

class EQvError : public std::exception {
public:
    explicit EQvError(QString message) : Message(std::move(message)), Utf8(Message.toUtf8()) {}
    const char *what() const noexcept override { return Utf8.constData(); }
    QString Message;

    // The file errors of the editor documents and project files.
    static EQvError CannotOpen(const QString &path) {
        return EQvError(QStringLiteral("ファイル %1 を開けません").arg(path));
    }
    static EQvError CannotCreate(const QString &path) {
        return EQvError(QStringLiteral("ファイル %1 を作成できません").arg(path));
    }
    // A FIFO, a device or a socket: never read, never written over.
    static EQvError NotRegularOpen(const QString &path) {
        return EQvError(QStringLiteral("ファイル %1 を開けません: 通常のファイルではありません").arg(path));
    }
    static EQvError NotRegularCreate(const QString &path) {
        return EQvError(QStringLiteral("ファイル %1 を作成できません: 通常のファイルではありません").arg(path));
    }

private:
    QByteArray Utf8;
};
