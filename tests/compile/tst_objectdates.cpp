// Object paths, packed file dates and the up-to-date test, on real files.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "compile.h"
#include "sjis.h"
#include "testmain.h"

using namespace buildcmd;
using namespace Qt::StringLiterals;

namespace {
QDateTime at(const QString &when) { return QDateTime::fromString(when, u"yyyy-MM-dd hh:mm:ss"); }

// Makes the file named by a scenario entry: "" leaves it missing, "dir" makes a
// directory, "dangling" a link to nowhere, "fifo" a named pipe (reading it
// would wait for a writer), anything else is a local time.
void make(const QString &path, const QString &what) {
    if (what.isEmpty()) return;
    if (what == u"dir"_s) QVERIFY(QDir().mkpath(path));
    else if (what == u"dangling"_s) QVERIFY(QFile::link(path + u".gone"_s, path));
    else if (what == u"fifo"_s) QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    else {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.setFileTime(at(what), QFileDevice::FileModificationTime));
    }
}
}  // namespace

class TestObjectDates : public QObject {
    Q_OBJECT
private slots:
    void objectPath_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("object");
        QTest::newRow("dos path") << u"C:\\SRC\\MAIN.C"_s << u".C"_s << u"C:\\SRC\\MAIN.obj"_s;
        QTest::newRow("dot in directory") << u"/home/a.b/main"_s << u""_s << u"/home/a.b/main.obj"_s;
        QTest::newRow("dot before backslash") << u"C:\\a.b\\main"_s << u""_s << u"C:\\a.b\\main.obj"_s;
        QTest::newRow("dot before colon") << u"x.y:main"_s << u""_s << u"x.y:main.obj"_s;
        QTest::newRow("trailing dot") << u"main."_s << u"."_s << u"main.obj"_s;
        QTest::newRow("two dots") << u"main.c.bak"_s << u".bak"_s << u"main.c.obj"_s;
        QTest::newRow("dot file") << u"/src/.c"_s << u".c"_s << u"/src/.obj"_s;
        QTest::newRow("empty") << u""_s << u""_s << u".obj"_s;
        QTest::newRow("japanese") << u"/home/ソース/表.c"_s << u".c"_s << u"/home/ソース/表.obj"_s;
        // 表 is 0x95 0x5C: its second byte is no backslash, so the "." before it counts.
        QTest::newRow("sjis second byte")
            << sjis::decode("a.b\x95\x5Cmain") << sjis::decode(".b\x95\x5Cmain") << u"a.obj"_s;
    }
    void objectPath() {
        QFETCH(QString, source);
        QFETCH(QString, ext);
        QFETCH(QString, object);
        QCOMPARE(PathExtension(source), ext);
        QCOMPARE(ObjectPath(source), object);
    }

    void packDosDate_data() {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<qint32>("packed");
        QTest::newRow("first") << at(u"1980-01-01 00:00:00"_s) << qint32(0x00210000);
        QTest::newRow("fields") << at(u"2020-05-17 13:45:31"_s) << qint32(0x50B16DAF);
        QTest::newRow("same step") << at(u"2020-05-17 13:45:30"_s) << qint32(0x50B16DAF);
        QTest::newRow("last positive") << at(u"2043-12-31 23:59:59"_s) << qint32(0x7F9FBF7D);
        QTest::newRow("2044 is negative") << at(u"2044-01-01 00:00:00"_s) << qint32(0x80210000);
        QTest::newRow("last") << at(u"2107-12-31 23:59:58"_s) << qint32(0xFF9FBF7D);
        QTest::newRow("before 1980") << at(u"1979-12-31 23:59:59"_s) << qint32(-1);
        QTest::newRow("after 2107") << at(u"2108-01-01 00:00:00"_s) << qint32(-1);
        QTest::newRow("invalid") << QDateTime() << qint32(-1);
    }
    void packDosDate() {
        QFETCH(QDateTime, time);
        QFETCH(qint32, packed);
        QCOMPARE(PackDosDate(time), packed);
    }

    // What the file system gives: -1 for whatever can't be opened or packed.
    void fileDate_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<qint32>("date");
        QTest::addColumn<bool>("exists");
        QTest::newRow("file") << u"2020-05-17 13:45:31"_s << qint32(0x50B16DAF) << true;
        QTest::newRow("from 2044") << u"2050-01-01 00:00:00"_s << qint32(0x8C210000) << true;
        QTest::newRow("before 1980") << u"1975-06-01 12:00:00"_s << qint32(-1) << false;
        QTest::newRow("missing") << u""_s << qint32(-1) << false;
        QTest::newRow("directory") << u"dir"_s << qint32(-1) << false;
        QTest::newRow("dangling link") << u"dangling"_s << qint32(-1) << false;
        QTest::newRow("named pipe") << u"fifo"_s << qint32(-1) << false;
    }
    void fileDate() {
        QFETCH(QString, what);
        QFETCH(qint32, date);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"f.obj"_s);
        make(path, what);
        QCOMPARE(FileDate(path), date);
        QCOMPARE(FileExists(path), exists);
    }

    // Source, object and the project's files, by name and what stands there
    // ("name=what").
    void needsCompile_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("object");
        QTest::addColumn<QStringList>("nodes");
        QTest::addColumn<bool>("needed");
        const QString t0 = u"2021-03-10 10:00:00"_s, t1 = u"2021-03-10 10:00:01"_s;
        const QString t2 = u"2021-03-10 10:00:02"_s, t4 = u"2021-03-10 10:00:04"_s;
        const QString far = u"2050-01-01 00:00:00"_s;
        QTest::newRow("no object") << t0 << u""_s << QStringList() << true;
        QTest::newRow("object is a directory") << t0 << u"dir"_s << QStringList() << true;
        QTest::newRow("object newer") << t0 << t2 << QStringList() << false;
        QTest::newRow("source newer") << t2 << t0 << QStringList() << true;
        QTest::newRow("same 2-second step") << t1 << t0 << QStringList() << false;
        QTest::newRow("source from 2044 on is older") << far << t0 << QStringList() << false;
        QTest::newRow("object from 2044 on is older") << t0 << far << QStringList() << true;
        QTest::newRow("source unreadable") << u"dangling"_s << t0 << QStringList() << false;
        QTest::newRow("unreadable source, any header") << u"dangling"_s << t4 << QStringList{u"a.h="_s + t0} << true;
        QTest::newRow("header between source and object") << t0 << t4 << QStringList{u"a.h="_s + t2} << true;
        QTest::newRow("header .H") << t0 << t4 << QStringList{u"a.H="_s + t2} << true;
        QTest::newRow("header .hpp") << t0 << t4 << QStringList{u"a.hpp="_s + t2} << false;
        QTest::newRow("source node newer") << t0 << t4 << QStringList{u"b.c="_s + t2} << false;
        QTest::newRow("header older") << t2 << t4 << QStringList{u"a.h="_s + t0} << false;
        QTest::newRow("header missing") << t0 << t4 << QStringList{u"a.h="_s} << false;
        QTest::newRow("header from 2044 on") << t0 << t4 << QStringList{u"a.h="_s + far} << false;
        QTest::newRow("later header decides")
            << t0 << t4 << QStringList{u"a.h="_s, u"b.c="_s + t2, u"c.h="_s + t0, u"e.h="_s + t2} << true;
    }
    void needsCompile() {
        QFETCH(QString, source);
        QFETCH(QString, object);
        QFETCH(QStringList, nodes);
        QFETCH(bool, needed);
        QTemporaryDir dir;
        const QString S = dir.filePath(u"main.c"_s);
        make(S, source);
        make(dir.filePath(u"main.obj"_s), object);
        QStringList files;
        for (const QString &n : nodes) {
            files.append(dir.filePath(n.section(u'=', 0, 0)));
            make(files.last(), n.section(u'=', 1));
        }
        QCOMPARE(NeedsCompile(S, files), needed);
    }

    // An untitled document: its object is ".obj" in the current directory.
    void untitledSource() {
        QTemporaryDir dir;
        const QString was = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const bool withoutObject = NeedsCompile(QString(), {});
        make(dir.filePath(u".obj"_s), u"2021-03-10 10:00:00"_s);
        const bool withObject = NeedsCompile(QString(), {});
        QDir::setCurrent(was);
        QVERIFY(withoutObject);
        QVERIFY(!withObject);
    }
};

QV_TEST_GUILESS_MAIN(TestObjectDates)
#include "tst_objectdates.moc"
