// What the user lives with, after random edits, undo and redo made with the
// keys and the mouse: the pixels the window last painted equal a fresh paint
// of the same text; a screen reader that replays the events it hears keeps a
// copy equal to the text; undo and redo bring the selection back.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMdiArea>
#include <QRandomGenerator>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "colourstore.h"
#include "editortest.h"
#include "finddialog.h"
#include "testmain.h"

namespace {

// ---- What a screen reader hears ----------------------------------------------

struct THeard {
    QAccessible::Event Type;
    int Position = 0;
    QString Removed, Inserted;
};
std::vector<THeard> Heard;
const QObject *Listened = nullptr;

void Listen(QAccessibleEvent *event) {
    if (event->object() != Listened) return;
    THeard h{event->type(), 0, {}, {}};
    switch (event->type()) {
    case QAccessible::TextInserted: {
        auto *e = static_cast<QAccessibleTextInsertEvent *>(event);
        h.Position = e->changePosition();
        h.Inserted = e->textInserted();
        break;
    }
    case QAccessible::TextRemoved: {
        auto *e = static_cast<QAccessibleTextRemoveEvent *>(event);
        h.Position = e->changePosition();
        h.Removed = e->textRemoved();
        break;
    }
    case QAccessible::TextUpdated: {
        auto *e = static_cast<QAccessibleTextUpdateEvent *>(event);
        h.Position = e->changePosition();
        h.Removed = e->textRemoved();
        h.Inserted = e->textInserted();
        break;
    }
    case QAccessible::TextCaretMoved:
        h.Position = static_cast<QAccessibleTextCursorEvent *>(event)->cursorPosition();
        break;
    default:
        return;
    }
    Heard.push_back(h);
}

// Replays what was heard onto copy as a screen reader would; false (with why)
// where an event does not fit the copy.
bool Replay(QString &copy, int &caret, QString *why) {
    for (const THeard &h : Heard) {
        if (h.Type == QAccessible::TextCaretMoved) {
            caret = h.Position;
            continue;
        }
        if (h.Position < 0 || h.Position + h.Removed.size() > copy.size() ||
            copy.mid(h.Position, h.Removed.size()) != h.Removed) {
            *why = QStringLiteral("removed text %1 at %2 is not there").arg(h.Removed.left(40)).arg(h.Position);
            return false;
        }
        copy.replace(h.Position, h.Removed.size(), h.Inserted);
    }
    Heard.clear();
    return true;
}

// ---- A user at the keyboard and the mouse ---------------------------------------

// Types text as key presses, each character its own key.
void Type(QWidget *w, const QString &text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, c == QLatin1Char('\t') ? Qt::Key_Tab : 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, c == QLatin1Char('\t') ? Qt::Key_Tab : 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(w, &release);
    }
}

// One random thing a user does in the window; returns what, for messages.
QString Act(TMDIChild *w, QRandomGenerator &rng) {
    TRichEdit *e = w->RichEdit1;
    static const QString words[] = {QStringLiteral("int "), QStringLiteral("x"),  QStringLiteral("日本"),
                                    QStringLiteral("/*"),   QStringLiteral("*/"), QStringLiteral("//"),
                                    QStringLiteral("\t"),   QStringLiteral("a b"), QStringLiteral("ｱ")};
    static const QString pastes[] = {QStringLiteral("a\nb\n"), QStringLiteral("c\nd\ne\nf\ng\n"), QStringLiteral("q"),
                                     QStringLiteral("long line of text that runs wide\n"), QStringLiteral("\n\n\n")};
    const int k = int(rng.bounded(100));
    if (k < 25) {
        const QString &s = words[rng.bounded(int(std::size(words)))];
        Type(e, s);
        return QStringLiteral("type %1").arg(s);
    }
    if (k < 32) {
        QTest::keyClick(e, Qt::Key_Return);
        return QStringLiteral("Enter");
    }
    if (k < 40) {
        const int n = 1 + int(rng.bounded(4));
        for (int i = 0; i < n; ++i) QTest::keyClick(e, rng.bounded(2) ? Qt::Key_Backspace : Qt::Key_Delete);
        return QStringLiteral("Backspace/Delete x%1").arg(n);
    }
    if (k < 48) {
        static const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Home,
                                       Qt::Key_End,  Qt::Key_PageUp, Qt::Key_PageDown};
        const Qt::Key key = keys[rng.bounded(int(std::size(keys)))];
        const Qt::KeyboardModifiers mods = (rng.bounded(3) ? Qt::NoModifier : Qt::ShiftModifier) |
                                           (rng.bounded(5) ? Qt::NoModifier : Qt::ControlModifier);
        QTest::keyClick(e, key, mods);
        return QStringLiteral("key %1 mods %2").arg(int(key), 0, 16).arg(int(mods), 0, 16);
    }
    if (k < 58) {
        QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
        return QStringLiteral("Ctrl+Z");
    }
    if (k < 64) {
        QTest::keyClick(e, Qt::Key_Y, Qt::ControlModifier);
        return QStringLiteral("Ctrl+Y");
    }
    if (k < 72) {
        const QString &s = pastes[rng.bounded(int(std::size(pastes)))];
        QApplication::clipboard()->setText(s);
        QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        return QStringLiteral("paste %1").arg(QString(s).replace(QLatin1Char('\n'), QLatin1Char('|')));
    }
    if (k < 76) {
        QTest::keyClick(e, Qt::Key_X, Qt::ControlModifier);
        return QStringLiteral("Ctrl+X");
    }
    if (k < 86) {
        const QPoint at(int(rng.bounded(e->viewport()->width())), int(rng.bounded(e->viewport()->height())));
        const Qt::KeyboardModifiers mods = rng.bounded(4) ? Qt::NoModifier : Qt::ShiftModifier;
        QTest::mouseClick(e->viewport(), Qt::LeftButton, mods, at);
        return QStringLiteral("click %1,%2").arg(at.x()).arg(at.y());
    }
    if (k < 90) {
        finding::Request r;
        r.Pattern = rng.bounded(2) ? QStringLiteral("a") : QStringLiteral("int");
        const QString by = rng.bounded(2) ? QStringLiteral("bb") : QStringLiteral("\n");
        finding::ReplaceAll(e, r, by);
        return QStringLiteral("replace all %1").arg(r.Pattern);
    }
    if (k < 95) {
        e->verticalScrollBar()->setValue(int(rng.bounded(e->verticalScrollBar()->maximum() + 1)));
        return QStringLiteral("scroll");
    }
    QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
    return QStringLiteral("select all");
}

QImage Rgb(const QImage &i) { return i.convertToFormat(QImage::Format_RGB32); }

}  // namespace

class TestView : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;

    TMDIChild *Open(QMdiArea &area, const QByteArray &bytes) {
        TMDIChild *w = edtest::OpenInArea(area, Dir, bytes);
        if (!w) return nullptr;
        area.resize(520, 320);
        w->showMaximized();
        area.activateWindow();
        w->RichEdit1->setFocus();
        // The whole text coloured first: nothing but the edits changes the screen.
        w->RichEdit1->Colours()->CatchUp(w->RichEdit1->Text()->Length());
        QApplication::processEvents();
        return w;
    }

    // What the window last painted of the text control, from the window's
    // own backing store, against a fresh paint of the control.
    static bool ScreenIsFresh(TRichEdit *e, QString *why) {
        QApplication::processEvents();
        QWidget *top = e->window();
        const QPoint at = e->mapTo(top, QPoint(0, 0));
        const QImage shown = Rgb(top->screen()->grabWindow(top->winId(), at.x(), at.y(), e->width(), e->height()).toImage());
        const QImage fresh = Rgb(e->grab().toImage());
        if (shown.size() != fresh.size()) {
            *why = QStringLiteral("sizes differ");
            return false;
        }
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (shown.pixel(x, y) != fresh.pixel(x, y)) {
                    const QString base = QDir::temp().filePath(QStringLiteral("qv_view_"));
                    shown.save(base + QStringLiteral("shown.png"));
                    fresh.save(base + QStringLiteral("fresh.png"));
                    *why = QStringLiteral("pixel %1,%2 is stale (images in %3*.png)").arg(x).arg(y).arg(base);
                    return false;
                }
        return true;
    }

private slots:
    void initTestCase() {
        QApplication::setCursorFlashTime(0);  // a caret that does not blink: the same in every paint
    }

    // The window's pixels after each step equal a fresh paint of the text:
    // nothing stale below a text that got shorter, no caret left behind,
    // the line numbers of the caret's line.
    void screenFollowsEveryEdit_data() {
        QTest::addColumn<quint32>("start");
        QTest::addColumn<bool>("numbers");
        for (quint32 s : {1u, 2u, 3u}) QTest::addRow("run %u", s) << s << false;
        QTest::addRow("run 4, line numbers") << 4u << true;
    }
    void screenFollowsEveryEdit() {
        QFETCH(quint32, start);
        QFETCH(bool, numbers);
        QMdiArea area;
        TMDIChild *w = Open(area, start == 1 ? QByteArray() : QByteArray("int main(void)\r\n{\r\n\treturn 0; /* x */\r\n}\r\n"));
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        e->SetLineNumbers(numbers);
        QString why;
        // The steps of a known fault first: a longer paste undone.
        for (const QString &s : {QStringLiteral("a\nb\n"), QStringLiteral("c\nd\ne\nf\ng\n")}) {
            QApplication::clipboard()->setText(s);
            QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
            QVERIFY2(ScreenIsFresh(e, &why), qPrintable(why));
        }
        QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY2(ScreenIsFresh(e, &why), qPrintable(QStringLiteral("undo of the paste: ") + why));
        QRandomGenerator rng(start);
        for (int step = 0; step < 150; ++step) {
            const QString what = Act(w, rng);
            QVERIFY2(ScreenIsFresh(e, &why), qPrintable(QStringLiteral("step %1 (%2): %3").arg(step).arg(what, why)));
        }
    }

    // A screen reader that applies each event it hears to its own copy of the
    // text has the text after every step, and the caret where it is; the
    // lines it reads end where the text's lines end.
    void screenReaderKeepsACopy_data() {
        QTest::addColumn<quint32>("start");
        for (quint32 s : {5u, 6u, 7u}) QTest::addRow("run %u", s) << s;
    }
    void screenReaderKeepsACopy() {
        QFETCH(quint32, start);
        QPlatformAccessibility *bridge = QGuiApplicationPrivate::platformIntegration()->accessibility();
        if (!bridge) QSKIP("no accessibility on this platform");
        QAccessible::installUpdateHandler(Listen);
        bridge->setActive(true);
        struct Off {
            QPlatformAccessibility *Bridge;
            ~Off() {
                Bridge->setActive(false);
                QAccessible::installUpdateHandler(nullptr);
                Listened = nullptr;
            }
        } off{bridge};
        QMdiArea area;
        TMDIChild *w = Open(area, "a.a.a\r\nint a; /* a */\r\n\x93\xfa\x96\x7b a\r\n");
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        Listened = e;
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(e);
        QVERIFY(a && a->textInterface());
        QCOMPARE(a->text(QAccessible::Name), w->windowTitle());  // the document names its text
        QAccessibleTextInterface *t = a->textInterface();
        QString copy = t->text(0, t->characterCount());
        int caret = t->cursorPosition();
        Heard.clear();
        // Replace all a -> bb on a.a.a: each replacement where the ones before it left the text.
        finding::Request r;
        r.Pattern = QStringLiteral("a");
        finding::ReplaceAll(e, r, QStringLiteral("bb"));
        QString why;
        QVERIFY2(Replay(copy, caret, &why), qPrintable(why));
        QCOMPARE(copy, TextOf(e));
        QRandomGenerator rng(start);
        for (int step = 0; step < 150; ++step) {
            const QString what = Act(w, rng);
            QVERIFY2(Replay(copy, caret, &why), qPrintable(QStringLiteral("step %1 (%2): %3").arg(step).arg(what, why)));
            QVERIFY2(copy == TextOf(e), qPrintable(QStringLiteral("step %1 (%2): the copy differs").arg(step).arg(what)));
            QVERIFY2(caret == e->Caret(), qPrintable(QStringLiteral("step %1 (%2): caret %3 heard, %4 shown")
                                                         .arg(step).arg(what).arg(caret).arg(e->Caret())));
        }
        // Each line a screen reader reads is a line of the text, its CR LF included.
        const QString text = TextOf(e);
        for (int line = 0, at = 0; line < e->Text()->LineCount(); ++line) {
            int s = 0, n = 0;
            const QString read = t->textAtOffset(at, QAccessible::LineBoundary, &s, &n);
            QCOMPARE(s, at);
            QCOMPARE(read, text.mid(s, n - s));
            QVERIFY(n == text.size() || text.mid(n - 2, 2) == QLatin1String("\r\n"));
            at = n;
        }
    }

    // A listener of textChanged reads the colours of the new text: those it
    // finds are those the text keeps.
    void textChangedComesWithTheColours() {
        QMdiArea area;
        TMDIChild *w = Open(area, "int a;\r\nchar b; // c\r\n");
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        QStringList seen;
        connect(e, &TRichEdit::textChanged, this, [&] { seen << edtest::Mask(e); });
        e->SetSelection(8, 8);
        // Each key: one signal, and the colours it saw are those that stay.
        for (const QString &key : {QStringLiteral("/"), QStringLiteral("*"), QStringLiteral(" "), QStringLiteral("undo"),
                                   QStringLiteral("l"), QStringLiteral("o"), QStringLiteral("n"), QStringLiteral("g"),
                                   QStringLiteral(" ")}) {
            seen.clear();
            if (key == QLatin1String("undo"))
                QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
            else
                Type(e, key);
            QCOMPARE(seen, QStringList{edtest::Mask(e)});
        }
    }

    // Undo brings back the selection that the step replaced, whichever way
    // it was made; redo puts the caret after the step again.
    void undoBringsTheSelectionBack_data() {
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("typed");
        QTest::newRow("forwards, typed over") << 4 << 8 << QStringLiteral("long");
        QTest::newRow("backwards, typed over") << 8 << 4 << QStringLiteral("y");
        QTest::newRow("over a line break") << 2 << 13 << QStringLiteral("z");
        QTest::newRow("deleted") << 13 << 2 << QString();
    }
    void undoBringsTheSelectionBack() {
        QFETCH(int, anchor);
        QFETCH(int, caret);
        QFETCH(QString, typed);
        QMdiArea area;
        TMDIChild *w = Open(area, "int main;\r\nchar c;\r\n");
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        e->SetSelection(anchor, caret);
        if (typed.isEmpty())
            QTest::keyClick(e, Qt::Key_Delete);
        else
            Type(e, typed);
        const int after = std::min(anchor, caret) + int(typed.size());
        QCOMPARE(e->Caret(), after);
        QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(TextOf(e), QStringLiteral("int main;\r\nchar c;\r\n"));
        QCOMPARE(std::make_pair(e->Anchor(), e->Caret()), std::make_pair(anchor, caret));
        QTest::keyClick(e, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(std::make_pair(e->Anchor(), e->Caret()), std::make_pair(after, after));
    }
};

QV_TEST_MAIN(TestView)
#include "tst_view.moc"
