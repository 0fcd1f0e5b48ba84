// Where the caret and the selection go, predicted: random keys (arrows with
// and without Shift and Ctrl, Home, End, typing, Backspace, Delete, paste)
// and clicks in a text of wide characters, tabs, surrogate pairs and CR LF
// line breaks, against a model of lines and columns written apart from the
// view. After every step: the anchor and the caret, the text, the x at which
// the caret is drawn, and the caret position a screen reader was told.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include "richedit.h"
#include "textstore.h"
#include "testmain.h"

namespace {

int HeardCaret = -1;  // the last caret position a screen reader was told
const QObject *Listened = nullptr;

void Listen(QAccessibleEvent *event) {
    if (event->object() == Listened && event->type() == QAccessible::TextCaretMoved)
        HeardCaret = static_cast<QAccessibleTextCursorEvent *>(event)->cursorPosition();
}

// What the user types, each one key: its text, its columns, its kind.
enum class Kind { Word, Blank, Other };
struct TGlyph {
    QString Text;
    int Columns;  // -1: a tab
    Kind What;
};
const TGlyph kGlyphs[] = {
    {QStringLiteral("a"), 1, Kind::Word},          {QStringLiteral("Z"), 1, Kind::Word},
    {QStringLiteral("_"), 1, Kind::Word},          {QStringLiteral("7"), 1, Kind::Word},
    {QStringLiteral(" "), 1, Kind::Blank},         {QStringLiteral("\t"), -1, Kind::Blank},
    {QStringLiteral("."), 1, Kind::Other},         {QStringLiteral("("), 1, Kind::Other},
    {QStringLiteral("日"), 2, Kind::Word},         {QStringLiteral("ｱ"), 1, Kind::Word},
    {QStringLiteral("é"), 1, Kind::Word},          {QString::fromUcs4(U"\U0002000B"), 2, Kind::Other},
    {QString::fromUcs4(U"\U0001F600"), 2, Kind::Other},
    // only pasted
    {QStringLiteral("b"), 1, Kind::Word},          {QStringLiteral("c"), 1, Kind::Word},
    {QStringLiteral("d"), 1, Kind::Word},          {QStringLiteral("q"), 1, Kind::Word},
    {QStringLiteral("x"), 1, Kind::Word},
};
constexpr int kTyped = 13;  // the first ones

const TGlyph &GlyphOf(const QString &line, int i) {
    for (const TGlyph &g : kGlyphs)
        if (QStringView(line).mid(i).startsWith(g.Text)) return g;
    Q_UNREACHABLE();
}

// The text as lines of glyphs, and a place in it.
struct TPlace {
    int Line = 0, Index = 0;  // Index in UTF-16 units of the line
    bool operator==(const TPlace &o) const { return Line == o.Line && Index == o.Index; }
    bool operator<(const TPlace &o) const { return Line < o.Line || (Line == o.Line && Index < o.Index); }
};

struct TModel {
    QStringList Lines{QString()};
    TPlace Anchor, Caret;
    double Goal = -1;  // the column Up and Down aim at, -1 for the caret's own

    int Offset(TPlace p) const {
        int o = 0;
        for (int l = 0; l < p.Line; ++l) o += int(Lines[l].size()) + 2;
        return o + p.Index;
    }
    QString Text() const { return Lines.join(QStringLiteral("\r\n")); }
    int Width(int line) const { return int(Lines[line].size()); }
    TPlace End() const { return {int(Lines.size()) - 1, Width(int(Lines.size()) - 1)}; }
    int Units(int line, int i) const { return int(GlyphOf(Lines[line], i).Text.size()); }
    // The glyph before place p of its line (its start), -1 at the line's start.
    int Before(TPlace p) const {
        if (p.Index == 0) return -1;
        int i = 0;
        while (i + Units(p.Line, i) < p.Index) i += Units(p.Line, i);
        return i;
    }
    double Column(TPlace p) const {
        int col = 0;
        for (int i = 0; i < p.Index; i += Units(p.Line, i)) {
            const int w = GlyphOf(Lines[p.Line], i).Columns;
            col = w < 0 ? (col / 8 + 1) * 8 : col + w;
        }
        return col;
    }
    // The place of line nearest to a column: before the first glyph whose middle lies past it.
    TPlace AtColumn(int line, double column) const {
        int col = 0;
        for (int i = 0; i < Width(line); i += Units(line, i)) {
            const int w = GlyphOf(Lines[line], i).Columns;
            const int next = w < 0 ? (col / 8 + 1) * 8 : col + w;
            if ((col + next) / 2.0 > column) return {line, i};
            col = next;
        }
        return {line, Width(line)};
    }
    TPlace Prev(TPlace p) const {
        if (p.Index > 0) return {p.Line, Before(p)};
        if (p.Line > 0) return {p.Line - 1, Width(p.Line - 1)};
        return p;
    }
    TPlace Next(TPlace p) const {
        if (p.Index < Width(p.Line)) return {p.Line, p.Index + Units(p.Line, p.Index)};
        if (p.Line + 1 < Lines.size()) return {p.Line + 1, 0};
        return p;
    }
    // The kind of what follows p; a line break is none of them (-1).
    int KindAt(TPlace p) const { return p.Index < Width(p.Line) ? int(GlyphOf(Lines[p.Line], p.Index).What) : -1; }
    TPlace PrevWord(TPlace p) const {
        p = Prev(p);
        while (!(p == TPlace{}) && KindAt(p) == int(Kind::Blank)) p = Prev(p);
        if (KindAt(p) == int(Kind::Word))
            while (p.Index > 0 && KindAt(Prev(p)) == int(Kind::Word)) p = Prev(p);
        return p;
    }
    TPlace NextWord(TPlace p) const {
        if (p == End()) return p;
        const int k = KindAt(p);
        if (k < 0) return Next(p);
        if (k == int(Kind::Word))
            while (KindAt(p) == int(Kind::Word)) p = Next(p);
        else if (k == int(Kind::Other))
            p = Next(p);
        while (KindAt(p) == int(Kind::Blank)) p = Next(p);
        return p;
    }
    void Move(TPlace to, bool extend) {
        Caret = to;
        if (!extend) Anchor = to;
        Goal = -1;
    }
    bool HasSelection() const { return !(Anchor == Caret); }
    TPlace Start() const { return std::min(Anchor, Caret); }
    TPlace Stop() const { return std::max(Anchor, Caret); }
    // Replaces [a, b) by text (lines joined by "\n"); the caret after it.
    void Replace(TPlace a, TPlace b, const QString &text) {
        const QString tail = Lines[b.Line].mid(b.Index);
        QStringList parts = text.split(QLatin1Char('\n'));
        QString head = Lines[a.Line].left(a.Index);
        for (int l = b.Line; l > a.Line; --l) Lines.removeAt(l);
        Lines[a.Line] = head + parts[0];
        for (int i = 1; i < parts.size(); ++i) Lines.insert(a.Line + i, parts[i]);
        const int last = a.Line + int(parts.size()) - 1;
        const int index = int(Lines[last].size());
        Lines[last] += tail;
        Move({last, index}, false);
    }
};

}  // namespace

class TestCaret : public QObject {
    Q_OBJECT

    static constexpr int kPad = 4;  // pixels between the viewport's left edge and the first column

    // One random thing; returns what, for messages.
    static QString Act(TRichEdit *e, TModel &m, QRandomGenerator &rng) {
        const int k = int(rng.bounded(100));
        const bool shift = rng.bounded(3) == 0, ctrl = rng.bounded(4) == 0;
        Qt::KeyboardModifiers mods;
        if (shift) mods |= Qt::ShiftModifier;
        if (ctrl) mods |= Qt::ControlModifier;
        const QString how = QStringLiteral("%1%2").arg(shift ? "Shift+" : "", ctrl ? "Ctrl+" : "");
        if (k < 30) {
            const TGlyph *pick = &kGlyphs[rng.bounded(kTyped)];
            // (A tab over a selection of lines indents them: not typing.)
            if (pick->Columns < 0 && m.HasSelection()) pick = &kGlyphs[4];
            const TGlyph &g = *pick;
            if (m.Column({m.Caret.Line, m.Width(m.Caret.Line)}) > 48) return QStringLiteral("nothing (line full)");
            QKeyEvent press(QEvent::KeyPress, g.Text == QLatin1String("\t") ? Qt::Key_Tab : 0, Qt::NoModifier, g.Text);
            QApplication::sendEvent(e, &press);
            m.Replace(m.Start(), m.Stop(), g.Text);
            return QStringLiteral("type %1").arg(g.Text);
        }
        if (k < 42) {
            static const Qt::Key keys[] = {Qt::Key_Left, Qt::Key_Right};
            const Qt::Key key = keys[rng.bounded(2)];
            QTest::keyClick(e, key, mods);
            const bool left = key == Qt::Key_Left;
            if (m.HasSelection() && !shift && !ctrl)
                m.Move(left ? m.Start() : m.Stop(), false);
            else if (ctrl)
                m.Move(left ? m.PrevWord(m.Caret) : m.NextWord(m.Caret), shift);
            else
                m.Move(left ? m.Prev(m.Caret) : m.Next(m.Caret), shift);
            return how + (left ? "Left" : "Right");
        }
        if (k < 58) {
            const bool up = rng.bounded(2);
            QTest::keyClick(e, up ? Qt::Key_Up : Qt::Key_Down, mods & Qt::ShiftModifier);
            const double goal = m.Goal >= 0 ? m.Goal : m.Column(m.Caret);
            const int line = m.Caret.Line + (up ? -1 : 1);
            TPlace to;
            if (line < 0)
                to = {};
            else if (line >= m.Lines.size())
                to = m.End();
            else
                to = m.AtColumn(line, goal);
            m.Move(to, shift);
            m.Goal = goal;
            return QStringLiteral("%1%2").arg(shift ? "Shift+" : "", up ? "Up" : "Down");
        }
        if (k < 64) {
            const bool home = rng.bounded(2);
            QTest::keyClick(e, home ? Qt::Key_Home : Qt::Key_End, mods);
            TPlace to = ctrl ? (home ? TPlace{} : m.End()) : TPlace{m.Caret.Line, home ? 0 : m.Width(m.Caret.Line)};
            m.Move(to, shift);
            return how + (home ? "Home" : "End");
        }
        if (k < 76) {
            const bool back = rng.bounded(2);
            QTest::keyClick(e, back ? Qt::Key_Backspace : Qt::Key_Delete, mods & Qt::ControlModifier);
            if (m.HasSelection())
                m.Replace(m.Start(), m.Stop(), QString());
            else if (back)
                m.Replace(ctrl ? m.PrevWord(m.Caret) : m.Prev(m.Caret), m.Caret, QString());
            else
                m.Replace(m.Caret, ctrl ? m.NextWord(m.Caret) : m.Next(m.Caret), QString());
            return QStringLiteral("%1%2").arg(ctrl ? "Ctrl+" : "", back ? "Backspace" : "Delete");
        }
        if (k < 82) {
            // A paste that breaks lines, or a plain one where the text is tall.
            static const QString pastes[] = {QStringLiteral("\n"), QStringLiteral("x\n\t日"), QStringLiteral("ab cd"),
                                             QStringLiteral("\n(\n")};
            QString text = pastes[rng.bounded(int(std::size(pastes)))];
            if (m.Lines.size() > 14 || m.Column({m.Caret.Line, m.Width(m.Caret.Line)}) > 44)
                text = QStringLiteral("q");
            QApplication::clipboard()->setText(text);
            QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
            m.Replace(m.Start(), m.Stop(), text);
            return QStringLiteral("paste %1").arg(QString(text).replace(QLatin1Char('\n'), QLatin1String("\\n")));
        }
        // A click (with Shift: the selection grows) on a line, anywhere across it.
        const int line = int(rng.bounded(int(m.Lines.size())));
        const double column = rng.generateDouble() * (m.Column({line, m.Width(line)}) + 3);
        const int x = kPad + int(column * e->ColumnWidth()) - e->horizontalScrollBar()->value();
        const int y = (line - e->FirstVisibleLine()) * e->LineHeight() + e->LineHeight() / 2;
        if (x < 0 || x >= e->viewport()->width() || y >= e->viewport()->height()) return QStringLiteral("nothing (off the screen)");
        const bool extend = rng.bounded(3) == 0;
        QTest::mouseClick(e->viewport(), Qt::LeftButton, extend ? Qt::ShiftModifier : Qt::NoModifier, QPoint(x, y));
        m.Move(m.AtColumn(line, (x - kPad + e->horizontalScrollBar()->value()) / e->ColumnWidth()), extend);
        return QStringLiteral("%1click at line %2, x %3").arg(extend ? "Shift+" : "").arg(line + 1).arg(x);
    }

private slots:
    void initTestCase() { QApplication::setCursorFlashTime(0); }

    void keysAndClicksGoWhereTheModelSays_data() {
        QTest::addColumn<quint32>("start");
        for (quint32 s : {11u, 12u, 13u, 14u}) QTest::addRow("run %u", s) << s;
    }
    void keysAndClicksGoWhereTheModelSays() {
        QFETCH(quint32, start);
        QPlatformAccessibility *bridge = QGuiApplicationPrivate::platformIntegration()->accessibility();
        if (bridge) {
            QAccessible::installUpdateHandler(Listen);
            bridge->setActive(true);
        }
        struct Off {
            QPlatformAccessibility *Bridge;
            ~Off() {
                if (!Bridge) return;
                Bridge->setActive(false);
                QAccessible::installUpdateHandler(nullptr);
                Listened = nullptr;
            }
        } off{bridge};
        TRichEdit e;
        e.resize(640, 420);
        e.show();
        QVERIFY(QTest::qWaitForWindowExposed(&e));
        e.setFocus();
        Listened = &e;
        QAccessible::queryAccessibleInterface(&e);  // the screen reader looks at the control
        TModel m;
        QRandomGenerator rng(start);
        QStringList done;
        for (int step = 0; step < 700; ++step) {
            const int caretBefore = e.Caret();
            HeardCaret = -1;
            done << Act(&e, m, rng);
            if (done.size() > 8) done.removeFirst();
            if (qEnvironmentVariableIsSet("QV_TRACE"))
                qDebug("%d %s: view %d %d model %d %d goal %g text %s", step, qPrintable(done.last()), e.Anchor(), e.Caret(),
                       m.Offset(m.Anchor), m.Offset(m.Caret), m.Goal, qPrintable(m.Text().replace(QLatin1String("\r\n"), QLatin1String("|"))));
            const QString where = QStringLiteral("step %1 (%2) in\n%3").arg(step).arg(done.join(QStringLiteral("; ")), m.Text());
            QVERIFY2(e.toPlainText() == m.Text() || e.Text()->Slice(0, e.Text()->Length()) == m.Text(), qPrintable(where));
            QVERIFY2(e.Anchor() == m.Offset(m.Anchor) && e.Caret() == m.Offset(m.Caret),
                     qPrintable(QStringLiteral("anchor %1 caret %2, expected %3 %4 after %5")
                                    .arg(e.Anchor())
                                    .arg(e.Caret())
                                    .arg(m.Offset(m.Anchor))
                                    .arg(m.Offset(m.Caret))
                                    .arg(where)));
            // Drawn where its column is.
            const int x = int(std::floor(kPad + m.Column(m.Caret) * e.ColumnWidth())) - e.horizontalScrollBar()->value();
            QVERIFY2(std::abs(e.cursorRect().x() - x) <= 1,
                     qPrintable(QStringLiteral("caret drawn at x %1, expected %2 after %3").arg(e.cursorRect().x()).arg(x).arg(where)));
            QVERIFY2(e.cursorRect().top() == (m.Caret.Line - e.FirstVisibleLine()) * e.LineHeight(), qPrintable(where));
            if (bridge && e.Caret() != caretBefore)
                QVERIFY2(HeardCaret == e.Caret(),
                         qPrintable(QStringLiteral("a screen reader heard %1 after %2").arg(HeardCaret).arg(where)));
        }
    }
};

QV_TEST_MAIN(TestCaret)
#include "tst_caret.moc"
