#pragma once
// Writes a whole file so that nothing is lost: the bytes go to a temporary file
// beside the target, which replaces the target only once every byte is on disk.
// On failure the target is left as it was and EQvError::CannotCreate is thrown.
#include <QByteArray>
#include <QString>

void WriteWholeFile(const QString &path, const QByteArray &bytes);
