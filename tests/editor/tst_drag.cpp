// Dragging the selection with the mouse, on a real X server (the drag and
// drop of the platform, not events made up for the widget): dropped before
// it, after it, on its edges, inside it, with Ctrl for a copy, across lines.
// Each time: the bytes Save writes, the selection after the drop, and one
// Ctrl+Z that gives back the bytes and the selection from before.
#include <QApplication>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <qpa/qwindowsysteminterface.h>

#include "childwin.h"
#include "richedit.h"
#include "sourcetext.h"
#include "textstore.h"
#include "testmain.h"

class TestDrag : public QObject {
    Q_OBJECT

    // The point of a character's left half, as the mouse would find it.
    static QPoint PointAt(TRichEdit *e, int line, int column) {
        const int x = 4 + int((column + 0.25) * e->ColumnWidth());
        return {x, (line - e->FirstVisibleLine()) * e->LineHeight() + e->LineHeight() / 2};
    }

    // A mouse event as the X server delivers it, with the keys held.
    static void Mouse(QWidget *v, QEvent::Type type, QPoint at, Qt::MouseButtons buttons, Qt::MouseButton button,
                      Qt::KeyboardModifiers mods) {
        static ulong stamp = 1000;
        stamp += 20;
        QWidget *top = v->window();
        QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::SynchronousDelivery>(
            top->windowHandle(), stamp, QPointF(v->mapTo(top, at)), QPointF(v->mapToGlobal(at)), buttons, button, type,
            mods);
        QApplication::processEvents();
    }

    static QByteArray Bytes(TMDIChild *w) {
        QByteArray out;
        QString why;
        if (!sourcetext::Encode(w->RichEdit1->Text(), w->DefaultLineEnd, out, &why)) return why.toUtf8();
        return out;
    }

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (the test runs under xvfb-run)");
    }

    void dropsWhereTheMouseLets_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("anchor");  // T positions of the selection dragged
        QTest::addColumn<int>("caret");
        QTest::addColumn<int>("toLine");  // where the mouse lets go
        QTest::addColumn<int>("toColumn");
        QTest::addColumn<bool>("copy");  // Ctrl held at the drop
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("selStart");  // the selection after the drop
        QTest::addColumn<int>("selEnd");
        // LF file: 0123456789 / abcdefghij; T positions count CR LF as two.
        const QByteArray lf = "0123456789\nabcdefghij\n";
        QTest::newRow("before it") << lf << 3 << 6 << 0 << 1 << false << QByteArray("0345126789\nabcdefghij\n") << 1 << 4;
        QTest::newRow("after it, on the next line")
            << lf << 3 << 6 << 1 << 2 << false << QByteArray("0126789\nab345cdefghij\n") << 11 << 14;
        QTest::newRow("backwards selection, after it")
            << lf << 6 << 3 << 0 << 8 << false << QByteArray("0126734589\nabcdefghij\n") << 5 << 8;
        QTest::newRow("on its start edge") << lf << 3 << 6 << 0 << 3 << false << lf << 3 << 6;
        QTest::newRow("on its end edge") << lf << 3 << 6 << 0 << 6 << false << lf << 3 << 6;
        QTest::newRow("inside it") << lf << 3 << 6 << 0 << 4 << false << lf << 3 << 6;
        QTest::newRow("copy after it") << lf << 3 << 6 << 0 << 8 << true << QByteArray("0123456734589\nabcdefghij\n") << 8 << 11;
        QTest::newRow("copy inside it") << lf << 3 << 6 << 0 << 4 << true << QByteArray("0123345456789\nabcdefghij\n") << 4 << 7;
        // A selection across a line end moves with it, written as the file's own.
        QTest::newRow("lines, LF file") << lf << 8 << 14 << 1 << 6 << false
                                        << QByteArray("01234567cdef89\nabghij\n") << 12 << 18;
        const QByteArray crlf = "0123456789\r\nabcdefghij\r\n";
        QTest::newRow("lines, CR LF file") << crlf << 8 << 14 << 1 << 6 << false
                                           << QByteArray("01234567cdef89\r\nabghij\r\n") << 12 << 18;
        QTest::newRow("lines, copied to the start") << crlf << 8 << 14 << 0 << 0 << true
                                                    << QByteArray("89\r\nab0123456789\r\nabcdefghij\r\n") << 0 << 6;
    }
    void dropsWhereTheMouseLets() {
        QFETCH(QByteArray, file);
        QFETCH(int, anchor);
        QFETCH(int, caret);
        QFETCH(int, toLine);
        QFETCH(int, toColumn);
        QFETCH(bool, copy);
        QFETCH(QByteArray, after);
        QFETCH(int, selStart);
        QFETCH(int, selEnd);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("d.c"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
        }
        QMdiArea area;
        area.resize(700, 400);
        area.show();
        auto *w = new TMDIChild;
        area.addSubWindow(w);
        w->LoadFile(path);
        w->showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        TRichEdit *e = w->RichEdit1;
        QApplication::setActiveWindow(&area);
        e->setFocus();
        e->SetSelection(anchor, caret);
        QCOMPARE(Bytes(w), file);

        // Press inside the selection, move past the drag distance: the drag
        // runs its own loop, in which the mouse goes on to the drop.
        const TTextStore *t = e->Text();
        const int start = std::min(anchor, caret);
        const int pressLine = t->LineOf(start), pressColumn = start - t->LineStart(pressLine);
        const QPoint press = PointAt(e, pressLine, pressColumn);
        const QPoint to = PointAt(e, toLine, toColumn);
        QWidget *v = e->viewport();
        const Qt::KeyboardModifiers mods = copy ? Qt::ControlModifier : Qt::NoModifier;
        bool dropped = false;
        Mouse(v, QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        // Set off by the next move, which starts the drag and its loop.
        QTimer::singleShot(50, v, [&] {
            Mouse(v, QEvent::MouseMove, to + QPoint(0, 1), Qt::LeftButton, Qt::NoButton, mods);
            Mouse(v, QEvent::MouseMove, to, Qt::LeftButton, Qt::NoButton, mods);
            QTimer::singleShot(50, v, [&] {
                Mouse(v, QEvent::MouseButtonRelease, to, Qt::NoButton, Qt::LeftButton, mods);
                dropped = true;
            });
        });
        Mouse(v, QEvent::MouseMove, press + QPoint(QApplication::startDragDistance() * 2, e->LineHeight() * 2),
              Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QTRY_VERIFY(dropped);
        QApplication::processEvents();

        QCOMPARE(Bytes(w), after);
        QCOMPARE(e->SelectionStart(), selStart);
        QCOMPARE(e->SelectionEnd(), selEnd);
        if (after != file) {
            QVERIFY(e->isUndoAvailable());
            QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(Bytes(w), file);
            QCOMPARE(e->SelectionStart(), std::min(anchor, caret));
            QCOMPARE(e->SelectionEnd(), std::max(anchor, caret));
            QVERIFY(!e->isUndoAvailable());  // one step
        }
        w->Changed = false;
    }
};

QV_TEST_MAIN(TestDrag)
#include "tst_drag.moc"
