// The project and its tree: node order, Add file, Remove file, Open from the
// tree. After every test the tree shows the project's nodes.
#include "projecttree.h"
#include "testtools.h"
#include "testmain.h"

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>

using namespace project;
using testtools::DialogAnswer;
using testtools::labels;
using testtools::made;
using testtools::paths;

class TestProjectTree : public QObject {
    Q_OBJECT
    QTreeWidget *tree = nullptr;
    Project proj;
    TFileDialog openDialog{TFileDialog::Open};

    void makeProject(const QStringList &fileLabels) {
        QList<QPair<QString, QString>> files;
        for (const QString &l : fileLabels) files.append({l, "/w/" + l});
        show(made(QStringLiteral("PRJ"), files));
    }
    void show(const Project &p) {
        proj = p;
        ShowProject(tree, proj);
    }
    void addFiles(const QStringList &chosen) {
        DialogAnswer dlg({&openDialog});
        for (const QString &p : chosen) {
            dlg.answer = p;
            AddFileClick(proj, tree, openDialog, nullptr);
        }
    }
    QString selectedPath() const {
        const int i = SelectedIndex(tree);
        return i < 0 ? QStringLiteral("none") : proj.Nodes[i].Path;
    }
    void select(int index) { tree->setCurrentItem(NodeAt(tree, index)); }
    QTreeWidgetItem *selected() const { return tree->selectedItems().value(0); }

private slots:
    void init() {
        tree = new QTreeWidget;
        SetupTree(tree);
    }
    void cleanup() {
        QCOMPARE(labels(tree), labels(proj));
        delete tree;
        proj = Project();
    }

    // The file node created last stands first; the others follow in ascending order.
    void newestFirstThenSorted_data() {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("B A C") << QStringList{"B.C", "A.C", "C.C"} << QStringList{"C.C", "A.C", "B.C"};
        QTest::newRow("then D") << QStringList{"B.C", "A.C", "C.C", "D.C"} << QStringList{"D.C", "A.C", "B.C", "C.C"};
        QTest::newRow("case-sensitive") << QStringList{"a.c", "B.c", "A.c", "b.c"} << QStringList{"b.c", "A.c", "B.c", "a.c"};
        QTest::newRow("Japanese after ASCII") << QStringList{"日本.C", "Z.C", "あ.C", "0.C"}
                                              << QStringList{"0.C", "Z.C", "あ.C", "日本.C"};
        QTest::newRow("empty label") << QStringList{"A.C", "", "B.C"} << QStringList{"B.C", "", "A.C"};
    }
    void newestFirstThenSorted() {
        QFETCH(QStringList, added);
        QFETCH(QStringList, shown);
        makeProject(added);
        QCOMPARE(labels(tree), QStringList{"PRJ"} + shown);
        for (int i = 1; i < proj.Count(); ++i) QCOMPARE(proj.Nodes[i].Path, "/w/" + proj.Nodes[i].Label);
    }

    // Against the rule done the slow way: sort (stably) everything already there,
    // then put the new node first. Few distinct labels, so ties are common. Add
    // file in the tree, and a project file read back, give the same order.
    void orderMatchesSortingBeforeEveryInsertion() {
        QRandomGenerator rng(20240611);
        QList<QPair<QString, QString>> model;
        QByteArray file = "#QV:1\nPRJ\n";
        makeProject({});
        DialogAnswer dlg({&openDialog});
        for (int i = 0; i < 400; ++i) {
            const QString label = QString(QChar(u'A' + rng.bounded(6))) + QChar(u'a' + rng.bounded(3));
            std::stable_sort(model.begin(), model.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
            const QString path = QStringLiteral("/%1/%2").arg(i).arg(label);
            model.prepend({label, path});
            dlg.answer = path;
            AddFileClick(proj, tree, openDialog, nullptr);
            file += label.toLatin1() + "\n" + path.toLatin1() + "\n";
            if (i % 97 == 0) QCOMPARE(labels(tree), labels(proj));
        }
        QStringList want = {"-"};
        for (const auto &p : model) want << p.second;
        QCOMPARE(paths(proj), want);
        QCOMPARE(paths(ReadProjectBytes(file).project), want);
    }

    void addFileOnEmptyTreeThenUnderIt() {
        addFiles({"/src/MAIN.C"});
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(paths(proj), QStringList{"/src/MAIN.C"});  // the first node itself has the path
        QCOMPARE(selected(), NodeAt(tree, 0));
        addFiles({"/src/UTIL.H", "/lib/UTIL.H"});
        QCOMPARE(labels(tree), (QStringList{"MAIN.C", "UTIL.H", "UTIL.H"}));  // same short name twice
        QCOMPARE(paths(proj), (QStringList{"/src/MAIN.C", "/lib/UTIL.H", "/src/UTIL.H"}));
        QVERIFY(NodeAt(tree, 0)->isExpanded());
        QCOMPARE(selected(), NodeAt(tree, 1));
        QCOMPARE(openDialog.FileName, QStringLiteral("/lib/UTIL.H"));  // the dialog keeps the last name
        QVERIFY(!(selected()->flags() & Qt::ItemIsEditable));
    }

    // A path already in the project selects its node and adds nothing. Linux
    // names are case-sensitive: another letter case is another file.
    void addFileDuplicates_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("added");
        QTest::newRow("same path") << "/p/B.C" << false;
        QTest::newRow("the top file node") << "/p/TOP.C" << false;
        QTest::newRow("other letter case") << "/p/b.c" << true;
        QTest::newRow("trailing blank") << "/p/B.C " << true;
    }
    void addFileDuplicates() {
        QFETCH(QString, chosen);
        QFETCH(bool, added);
        addFiles({"/p/TOP.C", "/p/A.C", "/p/B.C"});
        QVERIFY(proj.Changed);
        proj.Changed = false;
        const QStringList before = paths(proj);
        addFiles({chosen});
        QCOMPARE(NodeCount(tree), added ? 4 : 3);
        QCOMPARE(proj.Changed, added);  // selecting a file already there is no change
        if (!added) QCOMPARE(paths(proj), before);
        QCOMPARE(selectedPath(), chosen);
    }

    void addFileCancelledChangesNothing() {
        makeProject({"A.C"});
        select(1);
        DialogAnswer dlg({&openDialog});  // cancels
        AddFileClick(proj, tree, openDialog, nullptr);
        QCOMPARE(dlg.calls, 1);
        QCOMPARE(paths(proj), (QStringList{"-", "/w/A.C"}));
        QCOMPARE(selected(), NodeAt(tree, 1));
    }

    void pathExtension_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("ext");
        QTest::newRow("c") << "/a/MAIN.C" << ".C";
        QTest::newRow("two dots") << "/a/x.tar.gz" << ".gz";
        QTest::newRow("no dot") << "/a/Makefile" << "";
        QTest::newRow("dot in directory") << "/a.d/Makefile" << "";
        QTest::newRow("dot before backslash") << "C:\\W.D\\MAKE" << "";
        QTest::newRow("dot before colon") << "x.c:foo" << "";
        QTest::newRow("trailing dot") << "/a/b." << ".";
        QTest::newRow("dot file") << "/a/.h" << ".h";
        QTest::newRow("empty") << "" << "";
    }
    void pathExtension() {
        QFETCH(QString, path);
        QFETCH(QString, ext);
        QCOMPARE(PathExtension(path), ext);
    }

    // Remove file takes nodes of .c and .h files in any letter case, nothing else.
    void removeFileByExtension_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("removed");
        for (const char *p : {"/a/m.c", "/a/M.C", "/a/m.h", "/a/M.H"}) QTest::newRow(p) << p << true;
        for (const char *p : {"/a/m.txt", "/a/m.cpp", "/a/Makefile", "/a.c/Makefile", ""})
            QTest::newRow(*p ? p : "empty path") << p << false;
    }
    void removeFileByExtension() {
        QFETCH(QString, path);
        QFETCH(bool, removed);
        show(made(QStringLiteral("PRJ"), {{"A.C", "/w/A.C"}, {"X", path}}));
        select(1);
        QVERIFY(!proj.Changed);
        DelFileClick(proj, tree);
        const QStringList kept = removed ? QStringList{"-", "/w/A.C"} : QStringList{"-", path, "/w/A.C"};
        QCOMPARE(paths(proj), kept);
        QCOMPARE(proj.Changed, removed);
    }

    void removeFileWithoutAFileSelectedOrAfterwards() {
        makeProject({"B.C", "A.C", "D.C", "C.C"});  // C.C, A.C, B.C, D.C
        const QStringList before = paths(proj);
        DelFileClick(proj, tree);  // nothing selected
        select(0);                 // the project node
        DelFileClick(proj, tree);
        QCOMPARE(paths(proj), before);
        select(3);  // B.C
        DelFileClick(proj, tree);
        addFiles({"/w/E.C"});  // the rest is still in order
        QCOMPARE(labels(tree), (QStringList{"PRJ", "E.C", "A.C", "C.C", "D.C"}));
    }

    void removingTheTopFileNodeTakesItsChildren() {
        addFiles({"/t/TOP.C", "/t/A.C", "/t/B.H"});
        select(0);
        DelFileClick(proj, tree);
        QCOMPARE(tree->topLevelItemCount(), 0);
        QVERIFY(proj.IsEmpty());
        addFiles({"/t/NEW.C"});
        QCOMPARE(paths(proj), QStringList{"/t/NEW.C"});
    }

    void showingAnEmptyProjectLeavesNothing() {
        makeProject({"A.C", "B.C"});
        select(2);
        show(Project());
        QCOMPARE(NodeCount(tree), 0);
        QCOMPARE(NodeAt(tree, 0), nullptr);
        QCOMPARE(selected(), nullptr);
        QCOMPARE(tree->currentItem(), nullptr);
    }

    // The project's files as Compile weighs them: the file nodes' paths in
    // index order, without the project node and the nodes that have no path.
    void filePaths() {
        QCOMPARE(proj.FilePaths(), QStringList());
        makeProject({"A.H", "B.C", "C.H"});
        proj.Nodes[0] = Node{"PRJ", "/w/PRJ.H", true};
        proj.Nodes[2].HasPath = false;
        QStringList expected = paths(proj).mid(1);
        expected.removeAll(QStringLiteral("-"));
        QCOMPARE(expected.size(), 2);
        QCOMPARE(proj.FilePaths(), expected);
    }

    void doubleClickOpensTheSelectedFile() {
        show(made(QStringLiteral("PRJ"), {{"A.C", "/w/A.C"}, {"B.C", "/w/B.C"}, {"E", QString()}}));
        QStringList opened;
        const auto open = [&](const QString &p) { opened << p; };
        TreeView1DblClick(proj, tree, open);  // nothing selected
        select(0);
        TreeView1DblClick(proj, tree, open);  // the project node has no path
        QVERIFY(opened.isEmpty());
        select(1);
        TreeView1DblClick(proj, tree, open);  // an empty path is a path: the document decides
        QCOMPARE(opened, QStringList{QString()});
        // The path handed over stays valid when the handler empties the project.
        select(2);
        TreeView1DblClick(proj, tree, [&](const QString &p) {
            show(Project());
            opened << p;
        });
        QCOMPARE(opened.last(), QStringLiteral("/w/A.C"));  // E, A.C, B.C
    }

    // In the real widget the first click of a double-click selects the node.
    void doubleClickInTheWidget() {
        makeProject({"A.C", "B.C"});
        tree->show();
        QVERIFY(QTest::qWaitForWindowExposed(tree));
        QStringList opened;
        connect(tree, &QTreeWidget::itemDoubleClicked, this,
                [&] { TreeView1DblClick(proj, tree, [&](const QString &p) { opened << p; }); });
        const QPoint at = tree->visualItemRect(NodeAt(tree, 2)).center();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
        QMouseEvent dbl(QEvent::MouseButtonDblClick, at, tree->viewport()->mapToGlobal(at), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(tree->viewport(), &dbl);
        QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(opened, QStringList{"/w/A.C"});  // node 2: B.C was created last
    }
};

QV_TEST_MAIN(TestProjectTree)
#include "tst_projecttree.moc"
