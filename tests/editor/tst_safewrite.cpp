// Whole-file reading and writing under faults: what is read, what a save writes
// over, what it keeps of the old file (content, mode, owner, links), what it
// leaves behind; and the general error report for every kind of error.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "../testfiles.h"
#include "errorreport.h"
#include "modal.h"
#include "safewrite.h"
#include "../testmain.h"

using qvtest::ReadFile;
using qvtest::WriteFile;

namespace {
// The disk as this test makes it: while FailingFlush is N > 0, the Nth flush
// to disk (fsync) from then on fails as a failing disk fails it.
int FailingFlush = 0;
int Flushes = 0;
}  // namespace

// Every fsync of the program comes here (this definition takes the C
// library's place) and goes on to the kernel unless it is the one to fail.
extern "C" int fsync(int fd) {
    if (FailingFlush > 0 && ++Flushes == FailingFlush) {
        errno = EIO;
        return -1;
    }
    return int(::syscall(SYS_fsync, fd));
}

namespace {

template <class F>
QString ReportOf(F &&fn) {  // the report that fn's error would give; empty when none
    QString report;
    const qvtest::MessageBoxAnswers boxes([&](QMessageBox &box) {
        report = qvtest::ReportMessage(box);
        return QMessageBox::Ok;
    });
    Guarded(fn);
    return report;
}

QByteArray Native(const QString &path) { return QFile::encodeName(path); }

struct stat Stat(const QString &path) {
    struct stat st {};
    ::lstat(Native(path).constData(), &st);
    return st;
}

// Sets a file attribute (chattr +i, +a) and takes it off again when it goes.
class Attribute {
public:
    Attribute(const QString &path, const char *flag) : Path(path), Flag(flag) {
        Set = QProcess::execute(QStringLiteral("chattr"), {QLatin1Char('+') + Flag, Path}) == 0;
    }
    ~Attribute() {
        if (Set) QProcess::execute(QStringLiteral("chattr"), {QLatin1Char('-') + Flag, Path});
    }
    bool Set = false;

private:
    QString Path;
    QString Flag;
};

}  // namespace

class TestSafeWrite : public QObject {
    Q_OBJECT
    mode_t OldMask = 0;

private slots:
    void initTestCase() { OldMask = ::umask(022); }
    void cleanupTestCase() { ::umask(OldMask); }

    // Only a regular file is read; anything else is refused at once, naming the path.
    void readsOnlyRegularFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");  // "": read; "open": CannotOpen; "regular": NotRegularOpen
        QTest::newRow("regular") << "regular" << "";
        QTest::newRow("link to a regular file") << "link" << "";
        QTest::newRow("missing") << "missing" << "open";
        QTest::newRow("directory") << "directory" << "open";
        QTest::newRow("fifo without a writer") << "fifo" << "regular";
        QTest::newRow("link to a fifo") << "link to fifo" << "regular";
        QTest::newRow("endless device") << "/dev/zero" << "regular";
        QTest::newRow("empty path") << "" << "open";
    }
    void readsOnlyRegularFiles() {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("f.c")), fifo = dir.filePath(QStringLiteral("p"));
        QVERIFY(WriteFile(file, "int f;\n"));
        QCOMPARE(::mkfifo(Native(fifo).constData(), 0600), 0);
        QString path = kind.startsWith(QLatin1Char('/')) || kind.isEmpty() ? kind : dir.filePath(QStringLiteral("x"));
        if (kind == QLatin1String("regular")) path = file;
        if (kind == QLatin1String("link")) QVERIFY(QFile::link(file, path));
        if (kind == QLatin1String("link to fifo")) QVERIFY(QFile::link(fifo, path));
        if (kind == QLatin1String("directory")) QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("x")));
        if (kind == QLatin1String("fifo")) path = fifo;
        QByteArray bytes;
        const QString report = ReportOf([&] { bytes = ReadWholeFile(path); });
        if (error.isEmpty()) {
            QCOMPARE(report, QString());
            QCOMPARE(bytes, QByteArray("int f;\n"));
        } else {
            QCOMPARE(report, error == QLatin1String("open") ? EQvError::CannotOpen(path).Message
                                                            : EQvError::NotRegularOpen(path).Message);
        }
    }

    // The read stops at the size the file had when it was opened: a file in /proc
    // says it has no size, however much it would give.
    void readsNoFurtherThanTheSizeWhenOpened() {
        QCOMPARE(ReadWholeFile(QStringLiteral("/proc/self/status")), QByteArray());
        QFile file;
        QCOMPARE(OpenRegularFile(QStringLiteral("/proc/self/status"), file), qint64(0));
    }

    // A file whose text could never fit in memory is refused as out of memory
    // before anything is allocated.
    void anEnormousFileIsOutOfMemory() {
        QTemporaryDir dir;
        QFile huge(dir.filePath(QStringLiteral("huge.c")));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        if (!huge.resize(qint64(1) << 40)) QSKIP("this file system holds no sparse file of 1 TiB");
        huge.close();
        QCOMPARE(ReportOf([&] { ReadWholeFile(huge.fileName()); }), OutOfMemoryMessage());
    }

    // Every kind of target, and what a save of new content leaves there.
    void saveOverEveryKindOfTarget_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");  // "": saved; "create": CannotCreate; "regular": NotRegularCreate
        QTest::addColumn<bool>("streamed");  // the bytes handed over a block at a time, as Save makes them
        for (bool streamed : {false, true}) {
            const auto newRow = [streamed](const char *name) -> QTestData & {
                return QTest::newRow(streamed ? qPrintable(QString::fromUtf8(name) + QStringLiteral(", made while written")) : name);
            };
            newRow("new name") << "new" << "" << streamed;
            newRow("plain file") << "0644" << "" << streamed;
            newRow("read-only file") << "0444" << "" << streamed;
            newRow("private file") << "0600" << "" << streamed;
            newRow("setuid") << "4755" << "" << streamed;
            newRow("setgid") << "2750" << "" << streamed;
            newRow("sticky") << "1644" << "" << streamed;
            newRow("another owner") << "owner" << "" << streamed;
            newRow("symbolic link") << "link" << "" << streamed;
            newRow("relative link, working folder elsewhere") << "relative link" << "" << streamed;
            newRow("link to a missing file") << "dangling" << "" << streamed;
            newRow("hard link") << "hard" << "" << streamed;
            newRow("hard link, shorter content") << "hard shorter" << "" << streamed;
            // "flush N": the Nth flush to disk fails.
            newRow("disk fails to flush") << "flush 1" << "create" << streamed;
            newRow("hard link, the copy fails to flush") << "hard flush 1" << "create" << streamed;
            newRow("hard link, the rewrite fails to flush") << "hard flush 2" << "create" << streamed;
            newRow("hard link, disk refuses") << "hard full" << "create" << streamed;
            newRow("disk refuses, signal default") << "full" << "create" << streamed;
            newRow("fifo") << "fifo" << "regular" << streamed;
            newRow("link to a fifo") << "link to fifo" << "regular" << streamed;
            newRow("device") << "device" << "regular" << streamed;
            newRow("directory") << "directory" << "create" << streamed;
            newRow("immutable file") << "+i file" << "create" << streamed;
            newRow("append-only file") << "+a file" << "create" << streamed;
            newRow("immutable directory") << "+i dir" << "create" << streamed;
            newRow("append-only directory") << "+a dir" << "create" << streamed;
        }
    }
    void saveOverEveryKindOfTarget() {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QFETCH(bool, streamed);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.c")), other = dir.filePath(QStringLiteral("other.c"));
        const QByteArray old("int old;\r\n"), fresh = kind.endsWith(QLatin1String("shorter")) ? "n\n" : QByteArray(4000, 'n');
        bool ok = false;
        const mode_t mode = mode_t(kind.toUInt(&ok, 8));
        // Links keep the content in other.c; some targets hold no content at all.
        const bool viaOther = kind.contains(QLatin1String("link")) || kind.startsWith(QLatin1String("hard"));
        const QStringList empty{"new", "dangling", "fifo", "link to fifo", "device", "directory"};
        if (!empty.contains(kind)) QVERIFY(WriteFile(viaOther ? other : path, old));
        if (ok) QCOMPARE(::chmod(Native(path).constData(), mode), 0);
        if (kind == QLatin1String("owner")) QCOMPARE(::chown(Native(path).constData(), 1234, 5678), 0);
        if (kind == QLatin1String("link") || kind == QLatin1String("dangling")) QVERIFY(QFile::link(other, path));
        if (kind == QLatin1String("relative link")) QCOMPARE(::symlink("other.c", Native(path).constData()), 0);
        if (kind.startsWith(QLatin1String("hard"))) QCOMPARE(::link(Native(other).constData(), Native(path).constData()), 0);
        if (kind.contains(QLatin1String("fifo"))) QCOMPARE(::mkfifo(Native(other).constData(), 0600), 0);
        if (kind == QLatin1String("fifo")) QVERIFY(QFile::rename(other, path));
        if (kind == QLatin1String("link to fifo")) QVERIFY(QFile::link(other, path));
        if (kind == QLatin1String("device") && ::mknod(Native(path).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            QSKIP("no device node can be made here (mknod needs root)");
        if (kind == QLatin1String("directory")) QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("t.c")));
        const struct stat before = Stat(path);
        const QStringList names = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);

        QString report;
        {
            std::unique_ptr<Attribute> attribute;
            if (kind.startsWith(QLatin1Char('+'))) {
                attribute = std::make_unique<Attribute>(kind.endsWith(QLatin1String("dir")) ? dir.path() : path,
                                                        kind.mid(1, 1).toLatin1().constData());
                if (!attribute->Set) QSKIP("chattr is refused here; the attribute cannot be tested");
            }
            std::unique_ptr<qvtest::FileSizeLimit> limit;
            if (kind.endsWith(QLatin1String("full"))) {
                limit = std::make_unique<qvtest::FileSizeLimit>(1024);  // the disk refuses every byte past the 1024th
                QVERIFY(limit->IsActive());
                std::signal(SIGXFSZ, SIG_DFL);  // the save itself must keep the signal from ending the program
            }
            // A relative link names a file beside it, wherever the program runs.
            QTemporaryDir elsewhere;
            const QString cwd = QDir::currentPath();
            QVERIFY(QDir::setCurrent(elsewhere.path()));
            FailingFlush = kind.contains(QLatin1String("flush")) ? kind.right(1).toInt() : 0;
            Flushes = 0;
            report = ReportOf([&] {
                if (!streamed) return WriteWholeFile(path, fresh);
                const bool made = WriteWholeFile(path, [&](const TByteSink &write) {
                    for (qsizetype at = 0; at < fresh.size(); at += 1000)
                        if (!write(QByteArrayView(fresh).sliced(at, std::min<qsizetype>(1000, fresh.size() - at)))) return false;
                    return true;
                });
                if (!made) throw EQvError(QStringLiteral("the bytes were made, yet the write says they were not"));
            });
            FailingFlush = 0;
            QVERIFY(QDir::setCurrent(cwd));
            QVERIFY(QDir(elsewhere.path()).isEmpty());
        }

        // Nothing is left behind and nothing else is touched.
        QStringList after = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        QStringList expected = names;
        if (kind == QLatin1String("new")) expected = QStringList{"t.c"};
        if (kind == QLatin1String("dangling")) expected = QStringList{"other.c", "t.c"};
        QCOMPARE(after, expected);
        const struct stat now = Stat(path);
        if (!error.isEmpty()) {
            QCOMPARE(report, error == QLatin1String("create") ? EQvError::CannotCreate(path).Message
                                                              : EQvError::NotRegularCreate(path).Message);
            QCOMPARE(now.st_mode, before.st_mode);
            QCOMPARE(now.st_ino, before.st_ino);
            if (S_ISREG(before.st_mode)) QCOMPARE(ReadFile(path), old);
            if (kind.startsWith(QLatin1String("hard"))) QCOMPARE(ReadFile(other), old);
            return;
        }
        QCOMPARE(report, QString());
        QCOMPARE(ReadFile(path), fresh);
        if (kind == QLatin1String("new")) {
            QCOMPARE(now.st_mode, mode_t(S_IFREG | 0644));  // 0666 less the umask
        } else if (kind.contains(QLatin1String("link"))) {
            QVERIFY(S_ISLNK(now.st_mode));  // written through to the file it names
            QCOMPARE(ReadFile(other), fresh);
        } else if (kind.startsWith(QLatin1String("hard"))) {
            QCOMPARE(now.st_ino, before.st_ino);  // rewritten in place: both names see it
            QCOMPARE(now.st_nlink, nlink_t(2));
            QCOMPARE(ReadFile(other), fresh);
        } else if (kind != QLatin1String("dangling")) {
            QCOMPARE(now.st_mode, before.st_mode);
            QCOMPARE(now.st_uid, before.st_uid);
            QCOMPARE(now.st_gid, before.st_gid);
        }
        if (kind == QLatin1String("dangling")) QCOMPARE(ReadFile(other), fresh);
    }

    // A source that cannot make its bytes after some of them went (it stops,
    // or throws): the target keeps its content, nothing is left beside it,
    // and the write says so (false, or the source's own exception).
    void aSourceThatCannotMakeItsBytesChangesNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("throws");
        for (const char *kind : {"new", "plain", "hard"}) {
            QTest::addRow("%s, stops", kind) << QString::fromLatin1(kind) << false;
            QTest::addRow("%s, throws", kind) << QString::fromLatin1(kind) << true;
        }
    }
    void aSourceThatCannotMakeItsBytesChangesNothing() {
        QFETCH(QString, kind);
        QFETCH(bool, throws);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.c")), other = dir.filePath(QStringLiteral("other.c"));
        const QByteArray old("int old;\r\n");
        if (kind != QLatin1String("new")) QVERIFY(WriteFile(path, old));
        if (kind == QLatin1String("hard")) QCOMPARE(::link(Native(path).constData(), Native(other).constData()), 0);
        const QStringList names = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        const QByteArray block(3 << 20, 'n');  // past the point where the disk is told to start writing
        bool made = true, thrown = false;
        try {
            made = WriteWholeFile(path, [&](const TByteSink &write) {
                for (int i = 0; i < 3; ++i)
                    if (!write(block)) return true;
                if (throws) throw std::bad_alloc();
                return false;
            });
        } catch (const std::bad_alloc &) {
            thrown = true;
        }
        QCOMPARE(thrown, throws);
        if (!throws) QVERIFY(!made);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), names);
        if (kind != QLatin1String("new")) QCOMPARE(ReadFile(path), old);
        if (kind == QLatin1String("hard")) QCOMPARE(ReadFile(other), old);
    }

    // Every error of a command reaches the report, and the program goes on.
    void theReportTakesEveryError_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("report");
        QTest::newRow("own error") << 0 << "ファイル x を開けません";
        QTest::newRow("out of memory") << 1 << OutOfMemoryMessage();
        QTest::newRow("standard error") << 2 << "エラーが発生しました: vector::at";
        QTest::newRow("standard error without text") << 3 << UnknownErrorMessage();
        QTest::newRow("anything else") << 4 << UnknownErrorMessage();
    }
    void theReportTakesEveryError() {
        QFETCH(int, kind);
        QFETCH(QString, report);
        struct Quiet : std::exception {
            const char *what() const noexcept override { return ""; }
        };
        const QString got = ReportOf([kind] {
            switch (kind) {
            case 0: throw EQvError::CannotOpen(QStringLiteral("x"));
            case 1: throw std::bad_alloc();
            case 2: throw std::out_of_range("vector::at");
            case 3: throw Quiet();
            default: throw 42;
            }
        });
        QCOMPARE(got, report);
        QVERIFY(Guarded([] {}));
    }
};

QV_TEST_MAIN(TestSafeWrite)
#include "tst_safewrite.moc"
