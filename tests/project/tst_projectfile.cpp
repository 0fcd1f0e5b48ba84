// The project file: reading every kind of file, Open project, Save project, and
// what a refused or failed save leaves on disk.
#include "errorreport.h"
#include "modal.h"
#include "projectfile.h"
#include "projecttree.h"
#include "testtools.h"
#include "testmain.h"

#include <QDir>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>
#include <sys/stat.h>

using namespace project;
using testtools::DialogAnswer;
using testtools::labels;
using testtools::made;
using testtools::paths;
using testtools::ReadFile;
using testtools::WriteFile;

Q_DECLARE_METATYPE(project::ReadStatus)

namespace {

QByteArray lines(const QList<QByteArray> &ls, const QByteArray &eol = "\r\n") {
    QByteArray out;
    for (const QByteArray &l : ls) out += l + eol;
    return out;
}

// Text followed by escaped bytes (lone surrogates U+DC00 + byte).
QString escaped(const char *text, std::initializer_list<int> bytes) {
    QString s = QString::fromLatin1(text);
    for (int b : bytes) s += QChar(char16_t(0xDC00 + b));
    return s;
}

// What must survive a read and a write whatever the tree's order: the lines
// without CRs, the pairs sorted.
QList<QByteArray> rawProject(QByteArray bytes) {
    bytes.replace("\r", "");
    QList<QByteArray> ls = bytes.split('\n'), pairs;
    for (int i = 2; i + 1 < ls.size(); i += 2) pairs << ls[i] + '\0' + ls[i + 1];
    std::sort(pairs.begin(), pairs.end());
    return QList<QByteArray>{ls.value(0), ls.value(1)} + pairs;
}

}  // namespace

class TestProjectFile : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QTreeWidget *tree = nullptr;
    Project proj;
    QListWidget *output = nullptr;
    TFileDialog openDialog1{TFileDialog::Open}, saveDialog1{TFileDialog::Save};
    testtools::View view{tree, output, openDialog1, saveDialog1};
    QStringList reports;
    std::unique_ptr<qvtest::MessageBoxAnswers> boxes;

    QString file(const QString &name) const { return tmp.filePath(name); }
    void open(const QString &path) {
        DialogAnswer dlg({&openDialog1, &saveDialog1}, path);
        ProjOpenItemClick(proj, view);
    }
    bool save() {
        return Guarded([&] { ProjSaveItemClick(proj, view); });
    }
    void show(const Project &p) {
        proj = p;
        ShowProject(tree, proj);
    }
    void makeProject(const QString &name, const QList<QPair<QString, QString>> &files) { show(made(name, files)); }
    void addNode(const QString &label, const QString &path) {
        proj.AddFile(label, path);
        ShowProject(tree, proj);
    }

private slots:
    void initTestCase() { QVERIFY(tmp.isValid()); }
    void init() {
        tree = new QTreeWidget;
        output = new QListWidget;
        output->addItems({QStringLiteral("- 開始"), QStringLiteral("MAIN.C 3: error")});
        SetupOpenDialog1(openDialog1 = TFileDialog(TFileDialog::Open));
        SetupSaveDialog1(saveDialog1 = TFileDialog(TFileDialog::Save));
        reports.clear();
        boxes = std::make_unique<qvtest::MessageBoxAnswers>([this](QMessageBox &box) {
            if (box.icon() != QMessageBox::Critical) return QMessageBox::Cancel;
            reports << qvtest::ReportMessage(box);
            return QMessageBox::Ok;
        });
    }
    void cleanup() {
        QCOMPARE(labels(tree), labels(proj));
        proj = Project();
        delete tree;
        delete output;
        boxes.reset();
    }

    void parse_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ReadStatus>("status");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("pairs");  // label, path, label, path, ...
        QTest::addColumn<bool>("dropped");
        const auto row = [](const char *what, const QByteArray &b, ReadStatus s, const QString &n = QString(),
                            const QStringList &p = {}, bool d = false) { QTest::newRow(what) << b << s << n << p << d; };
        using S = ReadStatus;
        const QByteArray big(10000, 'L');
        const QList<QByteArray> sample = {"#QV:1", "SAMPLE", "MAIN.C", "C:\\W\\MAIN.C", "UTIL.H", "C:\\W\\UTIL.H"};
        const QStringList samplePairs = {"MAIN.C", "C:\\W\\MAIN.C", "UTIL.H", "C:\\W\\UTIL.H"};

        row("empty", "", S::Empty);
        row("only CR bytes", "\r\r\r", S::Empty);
        row("Ctrl-Z first", "\x1a#QV:1\nP\n", S::Empty);
        row("binary", QByteArray("\x7f" "ELF\x02\x01\0\0\n\xff\xfe\x1a", 13), S::BadMagic);
        row("magic without newline", "#QV:1", S::BadMagic);
        row("magic in lower case", lines({"#qv:1", "P"}), S::BadMagic);
        row("magic with a blank", lines({"#QV:1 ", "P"}), S::BadMagic);
        row("other version", lines({"#QV:2", "P"}), S::BadMagic);
        row("magic ended by Ctrl-Z", "#QV:1\x1a\nP\n", S::BadMagic);
        row("first line of 10000", lines({"#QV:1" + big, "P"}), S::BadMagic);
        row("only magic", "#QV:1\r\n", S::NoName);
        row("magic, Ctrl-Z, name", "#QV:1\n\x1aP\n", S::NoName);
        row("name only", "#QV:1\nSAMPLE", S::Ok, "SAMPLE");
        row("empty name", "#QV:1\n\n", S::Ok, "");
        row("CR LF", lines(sample), S::Ok, "SAMPLE", samplePairs);
        row("LF only", lines(sample, "\n"), S::Ok, "SAMPLE", samplePairs);
        row("mixed line ends", "#QV:1\nSAMPLE\r\nMAIN.C\r\r\nC:\\W\\MAIN.C\nUTIL.H\r\nC:\\W\\UTIL.H", S::Ok, "SAMPLE",
            samplePairs);
        row("CR bytes inside lines", "#Q\rV:1\nSA\rMPLE\r\n", S::Ok, "SAMPLE");
        row("Ctrl-Z in a path", "#QV:1\nP\nA.C\n/A\x1a.C\nB.C\n/B.C\n", S::Ok, "P", {"A.C", "/A"});
        row("Ctrl-Z in a label", "#QV:1\nP\nA.C\n/A.C\nB\x1a.C\n/B.C\n", S::Ok, "P", {"A.C", "/A.C"}, true);
        row("label without path", lines({"#QV:1", "P", "A.C", "/A.C", "B.C"}), S::Ok, "P", {"A.C", "/A.C"}, true);
        row("blank line at the end", lines({"#QV:1", "P", "A.C", "/a", ""}), S::Ok, "P", {"A.C", "/a"}, true);
        row("path without newline", "#QV:1\nP\nA.C\n/a", S::Ok, "P", {"A.C", "/a"});
        row("empty label and path", lines({"#QV:1", "P", "", ""}), S::Ok, "P", {"", ""});
        row("duplicate pairs", lines({"#QV:1", "P", "A.C", "/A.C", "A.C", "/A.C"}), S::Ok, "P",
            {"A.C", "/A.C", "A.C", "/A.C"});
        row("lines of 10000", lines({"#QV:1", big, big, "/" + big}), S::Ok, big, {big, "/" + big});
        // 日本語, and 表 whose second byte is a backslash.
        row("Shift-JIS", lines({"#QV:1", "\x93\xfa\x96\x7b\x8c\xea", "\x95\x5c.C", "C:\\\x95\x5c.C"}), S::Ok,
            QString::fromUtf8("日本語"), {QString::fromUtf8("表.C"), QString::fromUtf8("C:\\表.C")});
        row("invalid Shift-JIS", lines({"#QV:1", "A\x81", "\xff\xa0", "/\x80"}), S::Ok, escaped("A", {0x81}),
            {escaped("", {0xFF, 0xA0}), escaped("/", {0x80})});
        row("NUL byte", QByteArray("#QV:1\nA\0B\n", 10), S::Ok, QStringLiteral("A") + QChar(0) + QStringLiteral("B"));
    }
    void parse() {
        QFETCH(QByteArray, bytes);
        const QString path = file(QStringLiteral("parse.prj"));
        QVERIFY(WriteFile(path, bytes));
        const ReadResult r = ReadProjectFile(path);
        QTEST(r.status, "status");
        QTEST(r.droppedLabel, "dropped");
        const ReadResult fromBytes = ReadProjectBytes(bytes);
        QCOMPARE(fromBytes.status, r.status);
        QCOMPARE(fromBytes.project.Nodes, r.project.Nodes);
        if (r.status != ReadStatus::Ok) return;
        QTEST(r.project.Name(), "name");
        QFETCH(QStringList, pairs);
        QList<QPair<QString, QString>> files;  // in the file's order
        for (int i = 0; i + 1 < pairs.size(); i += 2) files.append({pairs[i], pairs[i + 1]});
        QCOMPARE(r.project.Nodes, made(r.project.Name(), files).Nodes);
        QVERIFY(!r.project.Changed);
    }

    // Open project: the old project is gone whatever the file holds; only a good
    // file clears the Output pane and becomes the project file. When the tree is
    // left empty the old project file name goes too, so a later Save project
    // asks where to write instead of overwriting the old file. A FIFO or a device
    // is not read (neither waited on nor read without end).
    void openOutcomes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");  // null: no such file
        QTest::addColumn<QStringList>("nodes");
        QTest::newRow("no such file") << "none.prj" << QByteArray() << QStringList();
        QTest::newRow("a directory") << "." << QByteArray() << QStringList();
        QTest::newRow("a fifo") << "fifo.prj" << QByteArray() << QStringList();
        QTest::newRow("an endless device") << "/dev/zero" << QByteArray() << QStringList();
        QTest::newRow("empty file") << "empty.prj" << QByteArray("") << QStringList();
        QTest::newRow("only magic") << "magic.prj" << QByteArray("#QV:1\r\n") << QStringList();
        QTest::newRow("wrong magic") << "wrong.prj" << lines({"#QV:1x", "P"}) << QStringList();
        QTest::newRow("magic and name") << "name.prj" << lines({"#QV:1", "NEW"}) << QStringList{"NEW"};
        QTest::newRow("files that do not exist") << "ghost.prj" << lines({"#QV:1", "G", "B.C", "/no/B.C", "A.C", "/no/A.C"})
                                                 << QStringList{"G", "A.C", "B.C"};
    }
    void openOutcomes() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, nodes);
        const QString path = name.startsWith(QLatin1Char('/')) ? name : file(name);
        if (!bytes.isNull()) QVERIFY(WriteFile(path, bytes));
        if (name == QLatin1String("fifo.prj")) QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        makeProject(QStringLiteral("OLD"), {{"X.C", "/o/X.C"}});
        saveDialog1.FileName = QStringLiteral("/o/old.prj");
        open(path);
        QCOMPARE(labels(tree), nodes);
        QCOMPARE(output->count(), nodes.isEmpty() ? 2 : 0);
        QCOMPARE(saveDialog1.FileName, nodes.isEmpty() ? QString() : path);
        if (name == QLatin1String("fifo.prj")) QFile::remove(path);
    }

    void openCancelledKeepsTheTreeAndClearsOutput() {
        makeProject(QStringLiteral("OLD"), {{"X.C", "/o/X.C"}});
        DialogAnswer dlg({&openDialog1, &saveDialog1});  // cancels
        ProjOpenItemClick(proj, view);
        QCOMPARE(dlg.lastTitle, QStringLiteral("プロジェクトを開く"));
        QCOMPARE(labels(tree), (QStringList{"OLD", "X.C"}));
        QCOMPARE(output->count(), 0);
    }

    // The pair read last stands first, the others in order; equal labels keep the
    // tree's order, so the later of two comes first.
    void openBuildsTheTreeInTreeOrder() {
        const QString path = file(QStringLiteral("order.prj"));
        QVERIFY(WriteFile(path, lines({"#QV:1", "P", "B.C", "/b", "A.C", "/a", "D.C", "/d", "A.C", "/a2", "C.C", "/c"})));
        open(path);
        QCOMPARE(paths(proj), (QStringList{"-", "/c", "/a2", "/a", "/b", "/d"}));
        QVERIFY(NodeAt(tree, 0)->isExpanded());
    }

    void saveAsksOnceThenWritesThere() {
        makeProject(QStringLiteral("SAMPLE"), {{"UTIL.H", "C:\\W\\UTIL.H"}, {"MAIN.C", "C:\\W\\MAIN.C"}});
        const QString path = file(QStringLiteral("sample.prj"));
        DialogAnswer dlg({&openDialog1, &saveDialog1}, path);
        QVERIFY(save());
        QCOMPARE(ReadFile(path), QByteArray("#QV:1\r\nSAMPLE\r\nMAIN.C\r\nC:\\W\\MAIN.C\r\nUTIL.H\r\nC:\\W\\UTIL.H\r\n"));
        addNode(QStringLiteral("A.C"), QStringLiteral("/a.c"));
        QVERIFY(save());
        QCOMPARE(dlg.calls, 1);
        QCOMPARE(ReadFile(path), QByteArray("#QV:1\r\nSAMPLE\r\nA.C\r\n/a.c\r\nMAIN.C\r\nC:\\W\\MAIN.C\r\nUTIL.H\r\nC:\\W\\UTIL.H\r\n"));
        // After Open project the opened file is the one written, without a dialog.
        const QString lf = file(QStringLiteral("lf.prj"));
        QVERIFY(WriteFile(lf, lines({"#QV:1", "R", "A.C", "/a"}, "\n")));
        open(lf);
        QVERIFY(save());
        QCOMPARE(dlg.calls, 1);
        QCOMPARE(ReadFile(lf), lines({"#QV:1", "R", "A.C", "/a"}));
    }

    void saveCancelledOrEmptyWritesNothing() {
        makeProject(QStringLiteral("P"), {});
        DialogAnswer dlg({&openDialog1, &saveDialog1});  // cancels
        QVERIFY(save());
        QCOMPARE(dlg.calls, 1);
        QVERIFY(saveDialog1.FileName.isEmpty());
        // An empty project has nothing to keep: no dialog, and a named file stays as it was.
        show(Project());
        QVERIFY(save());
        QCOMPARE(dlg.calls, 1);
        const QString kept = file(QStringLiteral("kept.prj"));
        QVERIFY(WriteFile(kept, "#QV:1\r\nKEPT\r\n"));
        saveDialog1.FileName = kept;
        QVERIFY(save());
        QCOMPARE(ReadFile(kept), QByteArray("#QV:1\r\nKEPT\r\n"));
    }

    void saveShapesOfTree() {
        const QString a = file(QStringLiteral("shape.prj"));
        makeProject(QString(), {});
        WriteProjectFile(a, proj);
        QCOMPARE(ReadFile(a), QByteArray("#QV:1\r\n\r\n"));
        open(a);
        QCOMPARE(labels(tree), QStringList{QString()});
        // A top file node (added to an empty tree) gives line 2; its path is not kept.
        show(Project());
        addNode(QStringLiteral("TOP.C"), QStringLiteral("/t/TOP.C"));
        addNode(QStringLiteral("SUB.H"), QStringLiteral("/t/SUB.H"));
        WriteProjectFile(a, proj);
        QCOMPARE(ReadFile(a), QByteArray("#QV:1\r\nTOP.C\r\nSUB.H\r\n/t/SUB.H\r\n"));
    }

    // Open then Save gives back every name, label and path byte for byte,
    // bytes that are not Shift-JIS included.
    void saveThenOpenKeepsEveryByte() {
        const QByteArray bad("\xff\xa0\x80");
        const QList<QByteArray> original = {"#QV:1", "\x93\xfa\x96\x7b\x81", "B.C", "/B.C", "\x95\x5c.C", "C:\\\x95\x5c.C",
                                            bad + ".H", "/x/" + bad, "", "", "A.C", "/A.C", "A.C", "/A.C",
                                            QByteArray(5000, 'L'), "/" + QByteArray(9000, 'p'), " S.C ", " /s p/ ",
                                            // characters with more than one code keep the file's code
                                            "\xed\x40.C", "/\xfa\x4a/\x87\x9a.H",
                                            // and where one line or the file uses two codes for one character,
                                            // each use keeps its own
                                            "\x87\x54\xfa\x4a.C", "/\x87\x54/\xfa\x4a\xfa\x4a.C"};
        const QString in = file(QStringLiteral("bytes.prj")), out = file(QStringLiteral("bytes-out.prj"));
        QVERIFY(WriteFile(in, lines(original, "\n")));
        open(in);
        QCOMPARE(NodeCount(tree), 11);
        bool shown = false;  // both codes read as the character
        for (int i = 0; i < NodeCount(tree); ++i) shown = shown || NodeAt(tree, i)->text(0) == QStringLiteral("ⅠⅠ.C");
        QVERIFY(shown);
        saveDialog1.FileName = out;
        QVERIFY(save());
        QCOMPARE(rawProject(ReadFile(out)), rawProject(lines(original)));
        // With one pair the order cannot change: the file comes back whole.
        const QByteArray single = lines({"#QV:1", bad, bad + ".C", "/\x95\x5c/" + bad});
        QVERIFY(WriteFile(in, single));
        open(in);
        QVERIFY(save());
        QCOMPARE(ReadFile(in), single);
    }

    // Text the file cannot hold is refused with an error naming it; the file on
    // disk and the tree stay as they were.
    void saveRefusesWhatTheFileCannotHold_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("path");  // empty: the label is the project name
        QTest::addColumn<QString>("named");
        const QString lone = QStringLiteral("/w/") + QChar(0xDC0A);
        QTest::newRow("accent in path") << "CAFE.C" << QString::fromUtf8("/w/café.c") << QString::fromUtf8("/w/café.c");
        QTest::newRow("emoji in label") << QString::fromUtf8("😀.C") << "/w/e.c" << QString::fromUtf8("😀.C");
        QTest::newRow("lone surrogate") << "S.C" << lone << lone;
        QTest::newRow("newline in path") << "N.C" << "/w/a\nb.c" << "/w/a\nb.c";
        QTest::newRow("CR in label") << "N\r.C" << "/w/n.c" << "N\r.C";
        QTest::newRow("Ctrl-Z in path") << "Z.C" << QStringLiteral("/w/z\x1a.c") << QStringLiteral("/w/z\x1a.c");
        QTest::newRow("project name") << QString::fromUtf8("Ωmégà") << "" << QString::fromUtf8("Ωmégà");
    }
    void saveRefusesWhatTheFileCannotHold() {
        QFETCH(QString, label);
        QFETCH(QString, path);
        QFETCH(QString, named);
        const bool isName = path.isEmpty();
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("p.prj"));
        QVERIFY(WriteFile(target, "#QV:1\r\nOLD\r\n"));
        makeProject(isName ? label : QStringLiteral("P"), {{"A.C", "/a.c"}});
        if (!isName) addNode(label, path);
        saveDialog1.FileName = target;
        QVERIFY(!save());
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].contains(named), qPrintable(reports[0]));
        QVERIFY(reports[0].contains(target));
        QCOMPARE(ReadFile(target), QByteArray("#QV:1\r\nOLD\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.prj"});
        QCOMPARE(NodeCount(tree), isName ? 2 : 3);
    }

    // A write the disk refuses half way leaves the old file whole.
    void failedWriteKeepsTheOldFile() {
        makeProject(QStringLiteral("BIG"), {});
        for (int i = 0; i < 50; ++i) proj.AddFile(QStringLiteral("F%1.C").arg(i), QStringLiteral("/d/F%1.C").arg(i));
        ShowProject(tree, proj);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("p.prj"));
        QVERIFY(WriteFile(target, "#QV:1\r\nOLD\r\n"));
        bool ok = true;
        {
            qvtest::FileSizeLimit limit(64);  // the disk refuses every byte beyond the 64th
            QVERIFY(limit.IsActive());
            saveDialog1.FileName = target;
            ok = save();
        }
        QVERIFY(!ok);
        QCOMPARE(reports, QStringList{EQvError::CannotCreate(target).Message});
        QCOMPARE(ReadFile(target), QByteArray("#QV:1\r\nOLD\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.prj"});
        QVERIFY(save());  // without the limit the same save goes through
        QCOMPARE(ReadProjectFile(target).project.Count(), 51);
    }

    void saveToPlacesThatCannotHoldAFile_data() {
        QTest::addColumn<QString>("relative");
        QTest::newRow("missing directory") << "no/dir/p.prj";
        QTest::newRow("a directory") << "sub";
        QTest::newRow("below a plain file") << "plain.txt/p.prj";
    }
    void saveToPlacesThatCannotHoldAFile() {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        QVERIFY(WriteFile(dir.filePath(QStringLiteral("plain.txt")), "plain"));
        makeProject(QStringLiteral("P"), {{"A.C", "/a.c"}});
        saveDialog1.FileName = dir.filePath(relative);
        QVERIFY(!save());
        QCOMPARE(reports, QStringList{EQvError::CannotCreate(saveDialog1.FileName).Message});
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("sub"))).isDir());
        QCOMPARE(ReadFile(dir.filePath(QStringLiteral("plain.txt"))), QByteArray("plain"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"plain.txt"});
    }

    void tenThousandFiles() {
        QList<QByteArray> ls = {"#QV:1", "HUGE"};
        for (int i = 0; i < 10000; ++i) {
            const QByteArray label = "F" + QByteArray::number((i * 7919) % 10000).rightJustified(5, '0') + ".C";
            ls << label << "/big/" + label;
        }
        const QString in = file(QStringLiteral("huge.prj")), out = file(QStringLiteral("huge-out.prj"));
        QVERIFY(WriteFile(in, lines(ls)));
        open(in);
        QCOMPARE(NodeCount(tree), 10001);
        QCOMPARE(NodeAt(tree, 1)->text(0), QString::fromLatin1(ls.at(ls.size() - 2)));
        for (int i = 2; i < 10000; ++i) QVERIFY(NodeAt(tree, i)->text(0) < NodeAt(tree, i + 1)->text(0));
        saveDialog1.FileName = out;
        QVERIFY(save());
        QCOMPARE(rawProject(ReadFile(out)), rawProject(lines(ls)));
    }
};

QV_TEST_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
