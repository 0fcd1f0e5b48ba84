// Whole-file saves: a plain replacement through a temporary file and the
// in-place rewrite of a file with two names, against a bare QSaveFile, and the
// read of a whole file; the checksum that every load and save takes of the
// file's bytes, against the read.
#include "bench.h"

#include "diskstate.h"
#include "safewrite.h"

#include <QByteArray>
#include <QSaveFile>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

template <class F>
double PerCall(int rounds, F &&f) {
    const double t0 = bench::seconds();
    for (int i = 0; i < rounds; ++i) f();
    return (bench::seconds() - t0) / rounds * 1000;
}

}  // namespace

QV_BENCH(files_save_and_read) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.c")), other = dir.filePath(QStringLiteral("g.c"));
    for (const qsizetype size : {qsizetype(1024), qsizetype(10 * 1024 * 1024)}) {
        const int rounds = size > 1024 * 1024 ? 5 : 100;
        const QByteArray bytes(size, 'x');
        const double bare = PerCall(rounds, [&] {
            QSaveFile f(path);
            if (f.open(QIODevice::WriteOnly)) f.write(bytes), f.commit();
        });
        const double replace = PerCall(rounds, [&] { WriteWholeFile(path, bytes); });
        ::link(path.toLocal8Bit().constData(), other.toLocal8Bit().constData());
        const double inPlace = PerCall(rounds, [&] { WriteWholeFile(path, bytes); });
        ::unlink(other.toLocal8Bit().constData());
        const double read = PerCall(rounds, [&] { ReadWholeFile(path); });
        std::printf("%8lld bytes: QSaveFile %.3f ms, WriteWholeFile %.3f ms, in place (2 links) %.3f ms, ReadWholeFile %.3f ms\n",
                    static_cast<long long>(size), bare, replace, inPlace, read);
    }
}

QV_BENCH(files_checksum_against_read) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.c"));
    for (const qsizetype size : {qsizetype(10) << 20, qsizetype(50) << 20}) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i) bytes[i] = char("int x;\r\n/* a */"[i % 16]);
        WriteWholeFile(path, bytes);
        quint64 sum = 0;
        const double checksum = PerCall(5, [&] { sum ^= TDiskState::Checksum(bytes); });
        const double read = PerCall(5, [&] { ReadWholeFile(path); });
        const double state = PerCall(5, [&] { TDiskState::Of(path); }) * 1000;
        std::printf("%3lld MB: checksum %.1f ms, ReadWholeFile %.1f ms, ratio %.2f; the file's state (stat) %.1f us (%llx)\n",
                    static_cast<long long>(size >> 20), checksum, read, checksum / read, state,
                    static_cast<unsigned long long>(sum & 0xf));
    }
}
