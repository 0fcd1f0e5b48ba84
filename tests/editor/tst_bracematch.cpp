// The bracket beside the caret and its partner, against a model of the C
// lexical rules on random texts full of comments, literals, escapes and
// brackets, through random keys and caret moves; the marks on the screen
// (their colours, and nothing stale after a move or an edit); the budget of a
// search, and the scan toward a caret far into a long text going on later.
#include <QApplication>
#include <QMdiArea>
#include <QRandomGenerator>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <map>

#include "colourstore.h"
#include "editortest.h"
#include "sjis.h"
#include "testmain.h"

namespace {

bool IsBracket(QChar c) { return QStringLiteral("()[]{}").contains(c); }
bool Opens(QChar c) { return QStringLiteral("([{").contains(c); }
QChar OpeningOf(QChar c) { return c == u')' ? u'(' : c == u']' ? u'[' : c == u'}' ? u'{' : c; }

// The model: for each position of t, the partner of a bracket in code (-1:
// none), -2 for every other position. Comments: "/*" to the first "*/" after
// it, "//" to its line's LF; a literal from its quote to the same quote that
// no backslash escapes, or to the line's end.
std::vector<int> Partners(const QString &t) {
    const int n = int(t.size());
    std::vector<int> partner(size_t(n), -2);
    std::map<QChar, std::vector<int>> open;
    int i = 0;
    while (i < n) {
        const QChar c = t[i];
        if (t.mid(i, 2) == QLatin1String("/*")) {
            const int k = int(t.indexOf(QLatin1String("*/"), i + 2));
            i = k < 0 ? n : k + 2;
        } else if (t.mid(i, 2) == QLatin1String("//")) {
            const int k = int(t.indexOf(QLatin1Char('\n'), i + 2));
            i = k < 0 ? n : k + 1;
        } else if (c == u'"' || c == u'\'') {
            int j = i + 1;
            auto lineEnd = [&](int k) { return t[k] == u'\r' || t[k] == u'\n'; };
            while (j < n && t[j] != c && !lineEnd(j)) j += t[j] == u'\\' && j + 1 < n && !lineEnd(j + 1) ? 2 : 1;
            i = j < n && t[j] == c ? j + 1 : j;
        } else {
            if (IsBracket(c)) {
                partner[size_t(i)] = -1;
                if (Opens(c)) {
                    open[c].push_back(i);
                } else if (!open[OpeningOf(c)].empty()) {
                    const int o = open[OpeningOf(c)].back();
                    open[OpeningOf(c)].pop_back();
                    partner[size_t(o)] = i;
                    partner[size_t(i)] = o;
                }
            }
            ++i;
        }
    }
    return partner;
}

// What the model marks for a caret: the bracket before it, else the one after.
TBraceMarks Predicted(const QString &t, const std::vector<int> &partner, int caret) {
    for (int b : {caret - 1, caret})
        if (b >= 0 && b < t.size() && partner[size_t(b)] != -2) return {b, partner[size_t(b)]};
    return {};
}

QString Show(const TBraceMarks &m) { return QStringLiteral("{%1, %2}").arg(m.Bracket).arg(m.Partner); }

// Random text from the characters that matter to the rules.
QString RandomText(QRandomGenerator &rng, int pieces) {
    static const char *const parts[] = {"(", ")", "[", "]", "{", "}", "(", ")", "{", "}", "\"", "'", "\\", "/", "*",
                                        "/*", "*/", "//", "\n", "\n", "a", "int", " ", "\t", "\xe6\x97\xa5", "x"};
    QString out;
    for (int i = 0; i < pieces; ++i) out += QString::fromUtf8(parts[rng.bounded(int(std::size(parts)))]);
    return out;
}

void Type(QWidget *w, const QString &text) {
    for (QChar c : text) {
        if (c == u'\n') {
            QTest::keyClick(w, Qt::Key_Return);
        } else {
            QKeyEvent press(QEvent::KeyPress, c == u'\t' ? Qt::Key_Tab : 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(w, &press);
        }
    }
}

QImage Rgb(const QImage &i) { return i.convertToFormat(QImage::Format_RGB32); }

// The pixels the window shows of the control against a fresh paint of it.
bool ScreenIsFresh(TRichEdit *e, QString *why) {
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
                *why = QStringLiteral("pixel %1,%2 is stale").arg(x).arg(y);
                return false;
            }
    return true;
}

// Pixels of colour in the cell of the character at position.
int InkIn(TRichEdit *e, const QImage &img, int position, const QColor &colour) {
    // (Not the cell's edges, which the cells beside it may reach.)
    const QRect r = e->CaretRect(position);
    const int w = int(e->ColumnWidth());
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left() + 2; x < r.left() + w - 1; ++x)
            if (img.rect().contains(x, y) && img.pixel(x, y) == colour.rgb()) ++count;
    return count;
}

int InkAll(const QImage &img, const QColor &colour) {
    int count = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) count += img.pixel(x, y) == colour.rgb();
    return count;
}

}  // namespace

class TestBraceMatch : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;

    TMDIChild *Open(QMdiArea &area, const QString &text) {
        QByteArray bytes = sjis::encodeLossy(text);
        bytes.replace("\n", "\r\n");
        TMDIChild *w = edtest::OpenInArea(area, Dir, bytes);
        if (!w) return nullptr;
        area.resize(560, 360);
        w->showMaximized();
        area.activateWindow();
        w->RichEdit1->setFocus();
        w->RichEdit1->Colours()->CatchUp(w->RichEdit1->Text()->Length());
        QApplication::processEvents();
        return w;
    }

private slots:
    void initTestCase() { QApplication::setCursorFlashTime(0); }

    // Random texts and random steps: caret moves (keys, clicks, jumps),
    // brackets, quotes, comment marks and line breaks typed anywhere,
    // deletes, undo; the marks the view reports always equal the model's.
    // The scan keeps a mark every few characters here, so that the marks
    // behind an edit, and the search backwards stretch by stretch, are used
    // all the time. Now and then the screen is checked: fresh, and the marked
    // cells in their colours.
    void randomTextsAgainstTheModel_data() {
        QTest::addColumn<quint32>("start");
        for (quint32 s : {1u, 2u, 3u, 4u, 5u}) QTest::addRow("run %u", s) << s;
    }
    void randomTextsAgainstTheModel() {
        QFETCH(quint32, start);
        QRandomGenerator rng(start);
        QMdiArea area;
        TMDIChild *w = Open(area, RandomText(rng, 400 + int(rng.bounded(800))));
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        e->BraceScanner().Stride = 5 + int(rng.bounded(40));
        static const char *const typed[] = {"(", ")", "{", "}", "[", "]", "\"", "'", "\\", "/*", "*/", "//", "\n", "a"};
        for (int step = 0; step < 400; ++step) {
            const int length = TextLength(e);
            QString what;
            const int k = int(rng.bounded(100));
            if (k < 30) {
                const int p = int(rng.bounded(length + 1));
                e->SetSelection(p, p);
                what = QStringLiteral("caret to %1").arg(p);
            } else if (k < 45) {
                static const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Home, Qt::Key_End};
                const Qt::Key key = keys[rng.bounded(int(std::size(keys)))];
                QTest::keyClick(e, key);
                what = QStringLiteral("key %1").arg(int(key));
            } else if (k < 75) {
                const QString s = QString::fromLatin1(typed[rng.bounded(int(std::size(typed)))]);
                Type(e, s);
                what = QStringLiteral("typed %1").arg(s);
            } else if (k < 85) {
                QTest::keyClick(e, rng.bounded(2) ? Qt::Key_Backspace : Qt::Key_Delete);
                what = QStringLiteral("delete");
            } else if (k < 90) {
                QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
                what = QStringLiteral("undo");
            } else {
                const int line = e->FirstVisibleLine() + int(rng.bounded(e->VisibleLines()));
                const QPoint at(int(rng.bounded(e->viewport()->width())), e->CaretRect(e->Text()->LineStart(
                                                                               std::min(line, e->Text()->LineCount() - 1))).center().y());
                QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, at);
                what = QStringLiteral("click");
            }
            const QString t = TextOf(e);
            const TBraceMarks wanted = Predicted(t, Partners(t), e->Caret());
            QVERIFY2(e->BraceMarks() == wanted,
                     qPrintable(QStringLiteral("step %1 (%2), caret %3: marks %4, the model %5")
                                    .arg(step).arg(what).arg(e->Caret()).arg(Show(e->BraceMarks()), Show(wanted))));
            if (step % 8 == 0) {
                QString why;
                QVERIFY2(ScreenIsFresh(e, &why), qPrintable(QStringLiteral("step %1 (%2): %3").arg(step).arg(what, why)));
                const QImage img = Rgb(e->viewport()->grab().toImage());
                const QColor colour = TRichEdit::BraceColour(wanted.Matched());
                const int first = e->FirstVisibleLine(), last = first + e->VisibleLines() - 1;
                for (int b : {wanted.Bracket, wanted.Partner}) {
                    const int line = b >= 0 ? e->Text()->LineOf(b) : -1;
                    const QRect r = e->CaretRect(b);
                    if (b < 0 || line < first || line > last || r.left() < 0 || r.left() + e->ColumnWidth() > img.width()) continue;
                    QVERIFY2(InkIn(e, img, b, colour) > 0, qPrintable(QStringLiteral("step %1: no mark at %2").arg(step).arg(b)));
                }
                if (wanted.Bracket < 0)
                    QVERIFY2(InkAll(img, TRichEdit::BraceColour(true)) + InkAll(img, TRichEdit::BraceColour(false)) == 0,
                             qPrintable(QStringLiteral("step %1: a mark with none wanted").arg(step)));
            }
        }
    }

    // Known cases, the screen included: a pair in one colour, a bracket
    // without a partner in the other; brackets in comments and literals
    // left out; the bracket before the caret before the one after it.
    void knownCases_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("caret");
        QTest::addColumn<int>("bracket");
        QTest::addColumn<int>("partner");
        QTest::newRow("after a closing") << QStringLiteral("f(a[1]);") << 6 << 5 << 3;
        QTest::newRow("before an opening") << QStringLiteral("f (x)") << 2 << 2 << 4;
        QTest::newRow("before wins over after") << QStringLiteral("(a)(b)") << 3 << 2 << 0;
        QTest::newRow("unmatched") << QStringLiteral("{ (x; }") << 2 << 2 << -1;
        QTest::newRow("other kinds do not count") << QStringLiteral("{ ( }") << 1 << 0 << 4;
        QTest::newRow("in a comment: nothing") << QStringLiteral("/* ( */ )") << 4 << -1 << -1;
        QTest::newRow("past a comment") << QStringLiteral("( /* ) */ )") << 1 << 0 << 10;
        QTest::newRow("past a string") << QStringLiteral("f(\")\\\")\")") << 2 << 1 << 8;
        QTest::newRow("past a char") << QStringLiteral("g(')', '\\'')") << 1 << 1 << 11;
        QTest::newRow("a string ends with its line") << QStringLiteral("(\"abc\n)") << 1 << 0 << 7;
        QTest::newRow("a comment opening in a string") << QStringLiteral("(\"/*\")") << 1 << 0 << 5;
        QTest::newRow("a line comment ends") << QStringLiteral("[ // ]\n]") << 1 << 0 << 8;
        QTest::newRow("a quote in a comment") << QStringLiteral("{ /* ' */ }") << 1 << 0 << 10;
        QTest::newRow("after a line comment") << QStringLiteral("//(\n(x)") << 5 << 5 << 7;
        QTest::newRow("in a line comment: nothing") << QStringLiteral("//(\n(x)") << 3 << -1 << -1;
        QTest::newRow("the star of the opening closes nothing") << QStringLiteral("(/*/ ) */)") << 1 << 0 << 9;
    }
    void knownCases() {
        QFETCH(QString, text);
        QFETCH(int, caret);
        QFETCH(int, bracket);
        QFETCH(int, partner);
        QMdiArea area;
        TMDIChild *w = Open(area, text);
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        e->SetSelection(caret, caret);
        QCOMPARE(Show(e->BraceMarks()), Show(TBraceMarks{bracket, partner}));
        QApplication::processEvents();
        const QImage img = Rgb(e->viewport()->grab().toImage());
        const QColor pair = TRichEdit::BraceColour(true), single = TRichEdit::BraceColour(false);
        QVERIFY(pair != single);
        text = TextOf(e);
        for (int p = 0; p < int(text.size()); ++p) {
            if (text[p] == u'\r' || text[p] == u'\n') continue;
            const bool marked = p == bracket || (p == partner && bracket >= 0);
            const QColor colour = partner >= 0 ? pair : single;
            QVERIFY2((InkIn(e, img, p, colour) > 0) == marked, qPrintable(QStringLiteral("position %1").arg(p)));
        }
    }

    // The search reads no more than its budget: a partner further away is
    // not looked for (the bracket stays unmarked, as whether it has one is
    // not known); within it, it is found, forwards and backwards.
    void theBudget() {
        QMdiArea area;
        const int n = 20000;
        TMDIChild *w = Open(area, QStringLiteral("(") + QString(n, QLatin1Char('a')) + QStringLiteral(")"));
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        TBraceMatch &scan = e->BraceScanner();
        scan.Stride = 64;
        // (The budget that reaches first: the scan's marks are then made, and
        // the smaller one limits the search alone.)
        for (int budget : {n + 2, 1000}) {
            scan.Budget = budget;
            const bool reaches = budget > n;
            e->SetSelection(1, 1);
            QCOMPARE(Show(e->BraceMarks()), Show(reaches ? TBraceMarks{0, n + 1} : TBraceMarks{}));
            e->SetSelection(n + 2, n + 2);
            QCOMPARE(Show(e->BraceMarks()), Show(reaches ? TBraceMarks{n + 1, 0} : TBraceMarks{}));
            e->SetSelection(n / 2, n / 2);
            QCOMPARE(Show(e->BraceMarks()), Show(TBraceMarks{}));
        }
        // A bracket without a partner up to the end of the text is unmatched,
        // however far that is within the budget.
        scan.Budget = n + 2;
        e->SetSelection(n + 1, n + 2);
        QTest::keyClick(e, Qt::Key_Delete);
        e->SetSelection(1, 1);
        QCOMPARE(Show(e->BraceMarks()), Show(TBraceMarks{0, -1}));
    }

    // A caret far into a text whose scan has not got there yet: the marks
    // come a budget at a time while the program is idle; an edit at the top
    // sends the scan back to it; the caret moved away stops it.
    void theScanGoesOnLater() {
        QMdiArea area;
        const int n = 300000;
        TMDIChild *w = Open(area, QStringLiteral("/") + QString(n, QLatin1Char('a')) + QStringLiteral(" (x)"));
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        TBraceMatch &scan = e->BraceScanner();
        scan.Stride = 1000;
        scan.Budget = 20000;
        // A keystroke at the top: the scan starts again from there.
        e->SetSelection(0, 0);
        QTest::keyClicks(e, "b");
        const int open = n + 3;
        e->SetSelection(open, open);
        QCOMPARE(Show(e->BraceMarks()), Show(TBraceMarks{}));  // not known yet
        QTRY_COMPARE(Show(e->BraceMarks()), Show((TBraceMarks{open, open + 2})));
        // "/*" at the top: all of it is a comment now.
        e->SetSelection(2, 2);
        QTest::keyClicks(e, "*");
        e->SetSelection(open + 1, open + 1);
        QTest::qWait(200);
        QCOMPARE(Show(e->BraceMarks()), Show(TBraceMarks{}));
        // Undone: the same marks again, once the scan is there.
        QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
        e->SetSelection(open, open);
        QCOMPARE(Show(e->BraceMarks()), Show(TBraceMarks{}));
        QTRY_COMPARE(Show(e->BraceMarks()), Show((TBraceMarks{open, open + 2})));
        // The caret moved to where no bracket is: nothing is marked.
        e->SetSelection(3, 3);
        QCOMPARE(Show(e->BraceMarks()), Show(TBraceMarks{}));
    }
};

QV_TEST_MAIN(TestBraceMatch)
#include "tst_bracematch.moc"
