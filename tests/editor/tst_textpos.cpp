// Positions of the text T (CR LF line breaks) against the control's blocks, Go
// to line, and the short names of paths.
#include <QApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QTest>
#include <QVBoxLayout>

#include "childwin.h"
#include "editortest.h"

class TestTextPos : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> Host;
    QLineEdit *Other = nullptr;
    QMdiArea *Area = nullptr;
    TMDIChild *Doc = nullptr;

    // The document holding text, with the keyboard focus in the other control.
    void Reset(const QString &text) {
        Doc->Loading = true;
        Doc->RichEdit1->setPlainText(text);
        Doc->Loading = false;
        Other->setFocus();
        QTRY_VERIFY(Other->hasFocus());
    }

private slots:
    void initTestCase() {
        Host = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(Host.get());
        Other = new QLineEdit;
        Area = new QMdiArea;
        layout->addWidget(Other);
        layout->addWidget(Area);
        Doc = new TMDIChild;
        Area->addSubWindow(Doc);
        Host->resize(700, 500);
        Host->show();
        QVERIFY(QTest::qWaitForWindowActive(Host.get()));
    }
    void cleanupTestCase() { Host.reset(); }

    void lengthAndText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("length");
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("one line") << "abc" << 3;
        QTest::newRow("final break") << "ab\r\n" << 4;
        QTest::newRow("two lines") << "ab\r\ncd" << 6;
        QTest::newRow("empty lines") << "\r\n\r\n" << 4;
        QTest::newRow("japanese") << QStringLiteral("日本\r\n語") << 5;
    }
    void lengthAndText() {
        QFETCH(QString, text);
        QFETCH(int, length);
        Reset(text);
        QCOMPARE(TextLength(Doc->RichEdit1), length);
        QCOMPARE(TextOf(Doc->RichEdit1), text);
        // Every slice is the same part of T, clipped at both ends.
        for (int s = -1; s <= length + 1; ++s)
            for (int n = -1; n <= length + 2; ++n)
                QCOMPARE(TextSlice(Doc->RichEdit1, s, n), s < 0 || n < 0 ? TextSlice(Doc->RichEdit1, std::max(s, 0), std::max(n, 0)) : text.mid(s, n));
    }

    void selectionRoundTrip() {
        // Every selection that starts and ends outside a CR LF comes back as set.
        const QString text = QStringLiteral("ab\r\n\r\ncd\r\ne");
        Reset(text);
        const int n = TextLength(Doc->RichEdit1);
        auto inBreak = [&](int p) { return p > 0 && p < n && text[p - 1] == QLatin1Char('\r'); };
        for (int s = 0; s <= n; ++s) {
            for (int len = 0; s + len <= n; ++len) {
                if (inBreak(s) || inBreak(s + len)) continue;
                SetSelection(Doc->RichEdit1, s, len);
                QCOMPARE(SelStart(Doc->RichEdit1), s);
                QCOMPARE(SelLength(Doc->RichEdit1), len);
            }
        }
        // Out of range: clipped to the text.
        SetSelection(Doc->RichEdit1, -3, 2);
        QCOMPARE(SelStart(Doc->RichEdit1), 0);
        QCOMPARE(SelLength(Doc->RichEdit1), 2);
        SetSelection(Doc->RichEdit1, 5, 1000);
        QCOMPARE(SelStart(Doc->RichEdit1), 4);  // the LF of the break stands with its CR
        QCOMPARE(SelLength(Doc->RichEdit1), n - 4);
        SetSelection(Doc->RichEdit1, 1000, 5);
        QCOMPARE(SelStart(Doc->RichEdit1), n);
        QCOMPARE(SelLength(Doc->RichEdit1), 0);
    }

    void colourOutsideText() {
        Reset(QStringLiteral("ab"));
        QVERIFY(!ColourAt(Doc->RichEdit1, -1).isValid());
        QVERIFY(!ColourAt(Doc->RichEdit1, 2).isValid());
        QCOMPARE(ColourAt(Doc->RichEdit1, 1), QColor(0, 0, 0));
    }

    void goToLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("start");   // -1: nothing changes
        QTest::addColumn<int>("length");
        const QString t = QStringLiteral("ab\r\ncd\r\nef");
        QTest::newRow("first line") << t << 1 << 0 << 4;
        QTest::newRow("second line") << t << 2 << 4 << 4;
        QTest::newRow("last line") << t << 3 << 8 << 2;
        QTest::newRow("past the end") << t << 4 << -1 << 0;
        QTest::newRow("far past") << t << 1000000 << -1 << 0;
        QTest::newRow("zero") << t << 0 << -1 << 0;
        QTest::newRow("negative") << t << -2 << -1 << 0;
        QTest::newRow("empty last line") << QStringLiteral("ab\r\n") << 2 << 4 << 0;
        QTest::newRow("empty middle line") << QStringLiteral("a\r\n\r\nb") << 2 << 3 << 2;
        QTest::newRow("empty text") << QString() << 1 << 0 << 0;
        QTest::newRow("empty text line 2") << QString() << 2 << -1 << 0;
    }
    void goToLine() {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(int, start);
        QFETCH(int, length);
        Reset(text);
        SetSelection(Doc->RichEdit1, 0, std::min(1, TextLength(Doc->RichEdit1)));
        const int oldLength = SelLength(Doc->RichEdit1);
        GoToLine(Doc, line);
        if (start < 0) {
            QCOMPARE(SelStart(Doc->RichEdit1), 0);
            QCOMPARE(SelLength(Doc->RichEdit1), oldLength);
            QVERIFY(Other->hasFocus());
        } else {
            QCOMPARE(SelStart(Doc->RichEdit1), start);
            QCOMPARE(SelLength(Doc->RichEdit1), length);
            QVERIFY(Doc->RichEdit1->hasFocus());
        }
        QVERIFY(!Doc->Changed);
    }

    void goToLineWithoutDocument() { GoToLine(nullptr, 1); }

    void shortNames_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shortPath");
        QTest::newRow("absolute") << "/home/user/src/main.c" << "main.c" << "/home/user/src/main.c";
        QTest::newRow("bare") << "main.c" << "main.c" << "main.c";
        QTest::newRow("long name") << "/tmp/a long directory/very_long_file_name.c"
                                   << "very_long_file_name.c" << "/tmp/a long directory/very_long_file_name.c";
        QTest::newRow("backslashes") << "C:\\src\\main.c" << "main.c" << "C:\\src\\main.c";
        QTest::newRow("drive only") << "a:b.c" << "b.c" << "a:b.c";
        QTest::newRow("japanese") << QStringLiteral("/tmp/日本/ソース.c") << QStringLiteral("ソース.c")
                                  << QStringLiteral("/tmp/日本/ソース.c");
        // No file-name part: the path itself; nothing at all: one blank.
        QTest::newRow("directory") << "/tmp/src/" << "/tmp/src/" << "/tmp/src/";
        QTest::newRow("empty") << "" << " " << " ";
    }
    void shortNames() {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, shortPath);
        QCOMPARE(ShortName(path), name);
        QCOMPARE(ShortPath(path), shortPath);
    }
};

QTEST_MAIN(TestTextPos)
#include "tst_textpos.moc"
