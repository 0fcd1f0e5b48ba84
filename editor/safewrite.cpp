#include "safewrite.h"

#include "qverror.h"

#include <QSaveFile>

void WriteWholeFile(const QString &path, const QByteArray &bytes) {
    QSaveFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly)) throw EQvError::CannotCreate(path);
    // The buffer is flushed and checked before the commit: commit() alone would
    // rename a file whose last bytes the disk refused. When this throws, the
    // QSaveFile removes its temporary file.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) throw EQvError::CannotCreate(path);
}
