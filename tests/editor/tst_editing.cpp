// Editing a document window as a user would: random key presses, clicks,
// paste, cut, undo and redo on texts long enough to scroll, checked after every
// step against a plain model of the text and of the colouring rules; and the
// input method's preedit and commits.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QMdiArea>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include "childwin.h"
#include "textof.h"
#include "colourstore.h"
#include "finddialog.h"
#include "editortest.h"
#include "testmain.h"

namespace {

// ---- The model: T as a string, one colour letter per document character ---
// A line break is one document character (CR and LF together): its colour is
// that of the LF, which is the one a coloured run must reach to colour it.
struct Model {
    QString T;        // lines joined by CR LF
    QString Colours;  // per document character: B (black), G (green), K (blue)
    mutable std::vector<int> Map;  // document index of each T position (a CR and its LF share one)
    mutable QString Mapped;

    // Document index of the T position p; the length of the document for p == T.size().
    int Doc(int p) const {
        if (Mapped != T || Map.size() != size_t(T.size()) + 1) {
            Map.assign(size_t(T.size()) + 1, 0);
            int d = 0;
            for (int i = 0; i < T.size(); ++i) {
                const bool lf = T[i] == QLatin1Char('\n') && i > 0 && T[i - 1] == QLatin1Char('\r');
                Map[size_t(i)] = lf ? d - 1 : d;
                if (!lf) ++d;
            }
            Map[size_t(T.size())] = d;
            Mapped = T;
        }
        return Map[size_t(p)];
    }
    QChar ColourAt(int p) const { return Colours[Doc(p)]; }
    // Replaces T[a, b) by s (s in T form); new characters take the colour of
    // the character before them, at the very start that of the one after.
    void Replace(int a, int b, const QString &s) {
        const int da = Doc(a), db = Doc(b);  // a and b never split a CR LF
        Colours.remove(da, db - da);
        T.replace(a, b - a, s);
        Model piece;
        piece.T = s;
        const int added = piece.Doc(int(s.size()));
        QChar inherit = QLatin1Char('B');
        if (da > 0)
            inherit = Colours[da - 1];
        else if (!Colours.isEmpty())
            inherit = Colours[0];
        Colours.insert(da, QString(added, inherit));
    }
    // The colouring rules over T[first .. last] (1-based).
    void Colour(int first, int last) {
        const int L = int(T.size());
        first = std::max(first, 1);
        last = std::min(last, L);
        auto at = [&](int i) -> int { return i >= 1 && i <= L ? T[i - 1].unicode() : -1; };
        auto paint = [&](int from, int to, QChar c) {  // 1-based, inclusive
            for (int i = from; i <= to; ++i)
                if (at(i) != '\r') Colours[Doc(i - 1)] = c;
        };
        auto delim = [](int c) {
            return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(' || c == ')' || c == ';' || c == ':';
        };
        static const QStringList keywords = QStringLiteral(
            "#include #if #ifdef #ifndef #elif #else #endif #define #undef #line #pragma typedef static extern const "
            "register auto far near void char int short long float double struct union enum unsigned signed if else "
            "for do while switch case default break continue return sizeof _asm_inline new delete").split(QLatin1Char(' '));
        int word = -1;
        int i = first;
        while (i <= last) {
            const int c = at(i), n = at(i + 1);
            if (c == '/' && (n == '*' || n == '/')) {
                word = -1;
                int k = i + 2;
                if (n == '*') {
                    while (k <= last + 1 && !(at(k) == '*' && at(k + 1) == '/')) ++k;
                    if (k > last + 1) return paint(i, last, QLatin1Char('G'));
                    paint(i, k + 1, QLatin1Char('G'));
                    i = k + 2;
                } else {
                    while (k <= last + 1 && at(k) != '\n') ++k;
                    if (k > last + 1) return paint(i, std::min(last + 1, L), QLatin1Char('G'));
                    paint(i, k, QLatin1Char('G'));
                    i = k;
                }
            } else if (delim(c)) {
                const bool closed = word >= 0;
                if (closed) paint(word, i - 1, keywords.contains(T.mid(word - 1, i - word)) ? QLatin1Char('K') : QLatin1Char('B'));
                word = -1;
                i += closed && c == '\r' ? 2 : 1;
            } else {
                if (word < 0) word = i;
                ++i;
            }
        }
    }
    // The caret's line, as the change event colours it.
    void ColourCaretLine(int caret) {
        const int L = int(T.size());
        if (L == 0) return;
        const int k = caret + 1;
        int first = 1, last = L;
        for (int j = std::min(k, L); j >= 1; --j)
            if (T[j - 1] == QLatin1Char('\n')) {
                first = j;
                break;
            }
        for (int e = k; e <= L; ++e)
            if (T[e - 1] == QLatin1Char('\r')) {
                last = e;
                break;
            }
        Colour(first, last);
    }
};

QString ColoursOf(const TRichEdit *e, const Model &m) {
    QString out;
    for (int p = 0; p < m.T.size(); ++p) out += edtest::Letter(ColourAt(e, p));
    return out;
}

QString Expected(const Model &m) {
    QString out;
    for (int p = 0; p < m.T.size(); ++p) out += m.ColourAt(p);
    return out;
}

// A random C-like text of n lines, CR LF line ends, with comments and Japanese.
QByteArray RandomSource(QRandomGenerator &rng, int lines) {
    static const char *const pieces[] = {"int", "x", "=", "1;", "void", "f(int", "a)", "{", "}", "/*", "*/", "//",
                                         "return", "#include", "<stdio.h>", "if", "(a)", "for", "char", "\t", "do"};
    QByteArray out;
    for (int l = 0; l < lines; ++l) {
        const int words = int(rng.bounded(7));
        for (int w = 0; w < words; ++w) {
            out += pieces[rng.bounded(int(std::size(pieces)))];
            out += rng.bounded(4) ? " " : "";
        }
        if (rng.bounded(9) == 0) out += "\x93\xfa\x96\x7b";  // 日本 in Shift-JIS
        out += "\r\n";
    }
    return out;
}

}  // namespace

class TestEditing : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;

    TMDIChild *Open(QMdiArea &area, const QByteArray &bytes) {
        TMDIChild *w = edtest::OpenInArea(area, Dir, bytes);
        if (!w) return nullptr;
        w->showMaximized();
        w->RichEdit1->setFocus();
        return w;
    }

private slots:
    // The colour codes by position against a plain array, through random
    // fills, inserts and erases large and small.
    void colourCodes() {
        QRandomGenerator rng(7);
        TColourChunks chunks;
        std::vector<TColourChunks::Code> model(size_t(rng.bounded(20000)), 2);
        chunks.Reset(int(model.size()), 2);
        for (int step = 0; step < 3000; ++step) {
            const int size = int(model.size());
            const int at = int(rng.bounded(size + 1));
            const int n = int(rng.bounded(rng.bounded(10) == 0 ? 20000 : 40));
            const auto code = TColourChunks::Code(rng.bounded(4));
            switch (rng.bounded(3)) {
            case 0:
                chunks.Insert(at, n, code);
                model.insert(model.begin() + at, size_t(n), code);
                break;
            case 1:
                chunks.Erase(at, n);
                model.erase(model.begin() + at, model.begin() + std::min(size, at + n));
                break;
            default:
                chunks.Fill(at, at + n, code);
                std::fill(model.begin() + at, model.begin() + std::min(size, at + n), code);
            }
            QCOMPARE(chunks.Size(), int(model.size()));
            for (int probe = 0; probe < 8 && !model.empty(); ++probe) {
                const int p = int(rng.bounded(int(model.size())));
                QVERIFY2(chunks.At(p) == model[size_t(p)], qPrintable(QStringLiteral("step %1").arg(step)));
            }
        }
        std::vector<TColourChunks::Code> all;
        chunks.Runs(0, chunks.Size(), [&](int a, int b, TColourChunks::Code c) { all.insert(all.end(), size_t(b - a), c); });
        QVERIFY(all == model);

        // Many edits at once (as replace all makes them), few and many: each
        // inserted run takes the code before it, at the very start the one after.
        // Edits on the edges of chunks that the edits before them leave
        // whole, in fresh codes of runs of every code.
        for (int round = 0; round < 40; ++round) {
            TColourChunks fresh;
            std::vector<TColourChunks::Code> codes(size_t(20000 + rng.bounded(20000)));
            fresh.Reset(int(codes.size()), 0);
            for (int at = 0; at < int(codes.size());) {
                const int n = 1 + int(rng.bounded(rng.bounded(2) ? 9 : 3000));
                const auto code = TColourChunks::Code(rng.bounded(4));
                fresh.Fill(at, at + n, code);
                std::fill(codes.begin() + at, codes.begin() + std::min(int(codes.size()), at + n), code);
                at += n;
            }
            TEditList edits;
            for (int at = int(rng.bounded(3)); at < int(codes.size()) - 50;) {
                const int removed = int(rng.bounded(3)), added = int(rng.bounded(3000));
                edits.push_back({at, removed, added});
                at += removed + 1;
                at = rng.bounded(2) ? (at / 4096 + 1 + int(rng.bounded(2))) * 4096 - int(rng.bounded(2)) : at + int(rng.bounded(9000));
            }
            std::vector<TColourChunks::Code> next;
            int from = 0;
            for (const TEdit &e : edits) {
                next.insert(next.end(), codes.begin() + from, codes.begin() + e.Position);
                const auto code = !next.empty() ? next.back() : codes[size_t(e.Position + e.Removed)];
                next.insert(next.end(), size_t(e.Added), code);
                from = e.Position + e.Removed;
            }
            next.insert(next.end(), codes.begin() + from, codes.end());
            fresh.Apply(edits);
            std::vector<TColourChunks::Code> got;
            fresh.Runs(0, fresh.Size(), [&](int a, int b, TColourChunks::Code c) { got.insert(got.end(), size_t(b - a), c); });
            QVERIFY2(got == next, qPrintable(QStringLiteral("fresh round %1").arg(round)));
        }

        // Long stretches between edits leave whole chunks untouched.
        while (model.size() < 60000) {
            const auto code = TColourChunks::Code(rng.bounded(4));
            const int n = 1 + int(rng.bounded(3000)), at = int(rng.bounded(int(model.size()) + 1));
            chunks.Insert(at, n, code);
            model.insert(model.begin() + at, size_t(n), code);
        }
        for (int round = 0; round < 20; ++round) {
            TEditList edits;
            for (int at = int(rng.bounded(50)); at < int(model.size()) && edits.size() < (round % 2 ? 5u : 400u);
                 at += 1 + int(rng.bounded(rng.bounded(4) ? 300 : 15000))) {
                const int removed = std::min(int(rng.bounded(6)), int(model.size()) - at);
                edits.push_back({at, removed, int(rng.bounded(6))});
                at += removed;
            }
            std::vector<TColourChunks::Code> next;
            int at = 0;
            for (const TEdit &e : edits) {
                next.insert(next.end(), model.begin() + at, model.begin() + e.Position);
                const auto code = !next.empty() ? next.back() : e.Position + e.Removed < int(model.size()) ? model[size_t(e.Position + e.Removed)] : 0;
                next.insert(next.end(), size_t(e.Added), code);
                at = e.Position + e.Removed;
            }
            next.insert(next.end(), model.begin() + at, model.end());
            model = next;
            chunks.Apply(edits);
            all.clear();
            chunks.Runs(0, chunks.Size(), [&](int a, int b, TColourChunks::Code c) { all.insert(all.end(), size_t(b - a), c); });
            QVERIFY2(all == model, qPrintable(QStringLiteral("round %1").arg(round)));
            for (int probe = 0; probe < 50 && !model.empty(); ++probe) {
                const int p = int(rng.bounded(int(model.size())));
                QVERIFY(chunks.At(p) == model[size_t(p)]);
            }
        }
    }

    // Thousands of steps; after each one: no crash, T equals the model and every
    // colour is what the rules give. A failure names the start value and step.
    void randomEditing_data() {
        QTest::addColumn<quint32>("start");
        QTest::addColumn<int>("steps");
        for (quint32 s : {1u, 2u, 3u, 4u}) QTest::addRow("run %u", s) << s << 1500;
    }
    void randomEditing() {
        QFETCH(quint32, start);
        QFETCH(int, steps);
        QRandomGenerator rng(start);
        QMdiArea area;
        area.resize(640, 400);
        const QByteArray source = RandomSource(rng, 70);
        TMDIChild *w = Open(area, source);
        QVERIFY(w);
        TRichEdit *e = w->RichEdit1;
        QVERIFY(e->verticalScrollBar()->maximum() > 0);  // long enough to scroll
        e->Colours()->ColourLater(40);  // the loaded text's colours come in slowly

        Model m;
        m.T = TextOf(e);
        m.Colours = QString(m.Doc(int(m.T.size())), QLatin1Char('B'));
        m.Colour(1, int(m.T.size()));
        if (start % 2 == 0) QCOMPARE(ColoursOf(e, m), Expected(m));
        QSet<QString> seen{m.T};

        static const QString typed = QStringLiteral("intvoid x/*;:() \t日本return");
        const QString pastes[] = {QStringLiteral("int a;\n// c\nb"), QStringLiteral("/* x\ny */"), QStringLiteral("\n\n"),
                                  QStringLiteral("日本語 int\nchar")};
        for (int step = 0; step < steps; ++step) {
            const int selStart = SelStart(e), selLength = SelLength(e);
            const int revision = e->Text()->Revision();
            const int L = int(m.T.size());
            // An edit of T[a, b) into s, or none.
            bool edit = false, history = false;
            int a = selStart, b = selStart + selLength;
            QString s;
            int kind = int(rng.bounded(115));
            // (Undo and redo read every colour: not while the colours come in slowly.)
            if (start % 2 == 1 && step < 40 && kind >= 94 && kind < 100) kind = 60;
            const QString where = QStringLiteral("start %1, step %2, event %3, caret %4+%5")
                                      .arg(start).arg(step).arg(kind).arg(selStart).arg(selLength);
            // The model's lines: where the line holding p starts, and its end (its CR, or L).
            auto lineStart = [&](int p) { return p == 0 ? 0 : int(m.T.lastIndexOf(QLatin1Char('\n'), p - 1)) + 1; };
            auto lineEnd = [&](int p) {
                const int cr = int(m.T.indexOf(QLatin1Char('\r'), p));
                return cr < 0 ? L : cr;
            };
            const QChar typedChar = kind < 34 ? typed[rng.bounded(int(typed.size()))] : QChar();
            if (kind < 34 && typedChar == QLatin1Char('\t') && a < b &&
                (lineEnd(a) < b || (a == lineStart(a) && b == lineEnd(a)))) {
                // Tab on lines: each line touched (not one where the selection
                // ends at its very start) gets a tab at its start, an empty one
                // none; the selection then holds those lines whole.
                const bool upwards = e->Caret() < e->Anchor();
                QTest::keyClick(e, Qt::Key_Tab);
                QList<int> starts;
                for (int p = lineStart(a);; p = lineEnd(p) + 2) {
                    starts << p;
                    if (lineEnd(p) >= b || lineEnd(p) >= L || lineEnd(p) + 2 == b) break;
                }
                const int end = lineEnd(starts.last()) < L ? lineEnd(starts.last()) + 2 : L;
                int added = 0;
                for (qsizetype i = starts.size() - 1; i >= 0; --i)
                    if (lineEnd(starts[i]) > starts[i]) {
                        m.Replace(starts[i], starts[i], QStringLiteral("\t"));
                        ++added;
                    }
                QVERIFY2(TextOf(e) == m.T, qPrintable(where + QStringLiteral(" (tab on lines)")));
                const int anchor = upwards ? end + added : starts.first(), caret = upwards ? starts.first() : end + added;
                QVERIFY2(e->Anchor() == anchor && e->Caret() == caret, qPrintable(where + QStringLiteral(" (tab on lines)")));
                if (added) m.ColourCaretLine(SelStart(e));
                seen.insert(m.T);
                continue;
            }
            if (kind < 34) {
                const QChar c = typedChar;
                if (c == QLatin1Char('\t'))
                    QTest::keyClick(e, Qt::Key_Tab);
                else if (c == QLatin1Char(' '))
                    QTest::keyClick(e, Qt::Key_Space);
                else if (c.unicode() < 128)
                    QTest::keyClicks(e, QString(c));
                else
                    QTest::sendKeyEvent(QTest::Click, e, Qt::Key_unknown, QString(c), {});
                edit = true;
                s = c;
            } else if (kind < 42) {
                QTest::keyClick(e, Qt::Key_Return);
                edit = true;
                // The new line starts with the blanks and tabs that start the
                // line, as far as the caret.
                s = QStringLiteral("\r\n");
                for (int p = lineStart(a); p < a && (m.T[p] == QLatin1Char(' ') || m.T[p] == QLatin1Char('\t')); ++p) s += m.T[p];
            } else if (kind < 52) {
                QTest::keyClick(e, Qt::Key_Backspace);
                if (selLength == 0 && a > 0) a -= (a >= 2 && m.T.mid(a - 2, 2) == QLatin1String("\r\n")) ? 2 : 1;
                edit = a != b;
            } else if (kind < 58) {
                QTest::keyClick(e, Qt::Key_Delete);
                if (selLength == 0 && b < L) b += m.T.mid(b, 2) == QLatin1String("\r\n") ? 2 : 1;
                edit = a != b;
            } else if (kind < 80) {
                static const std::pair<Qt::Key, Qt::KeyboardModifiers> moves[] = {
                    {Qt::Key_Home, {}}, {Qt::Key_End, {}}, {Qt::Key_PageUp, {}}, {Qt::Key_PageDown, {}},
                    {Qt::Key_Home, Qt::ControlModifier}, {Qt::Key_End, Qt::ControlModifier}, {Qt::Key_Up, {}},
                    {Qt::Key_Down, {}}, {Qt::Key_Left, {}}, {Qt::Key_Right, {}}, {Qt::Key_Up, {}},
                    {Qt::Key_Left, Qt::ShiftModifier}, {Qt::Key_Right, Qt::ShiftModifier},
                    {Qt::Key_Down, Qt::ShiftModifier}, {Qt::Key_End, Qt::ShiftModifier},
                    {Qt::Key_Left, Qt::ControlModifier}, {Qt::Key_Right, Qt::ControlModifier},
                    {Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier}, {Qt::Key_Home, Qt::ShiftModifier}};
                const auto &[key, mods] = moves[rng.bounded(int(std::size(moves)))];
                QTest::keyClick(e, key, mods);
            } else if (kind < 87) {
                // A click at the start of a line on the screen, the top one often.
                int line = e->FirstVisibleLine();
                for (int n = rng.bounded(2) ? 0 : int(rng.bounded(8)); n > 0 && line + 1 < e->Text()->LineCount(); --n) ++line;
                const QRect r = e->CaretRect(e->Text()->LineStart(line));
                QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 1, r.center().y()));
            } else if (kind < 91) {
                const QString text = pastes[rng.bounded(int(std::size(pastes)))];
                QApplication::clipboard()->setText(text);
                QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
                edit = true;
                s = QString(text).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
            } else if (kind < 94) {
                QTest::keyClick(e, Qt::Key_X, Qt::ControlModifier);
                edit = a != b;
            } else if (kind < 98) {
                QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
                history = true;
            } else if (kind < 100) {
                QTest::keyClick(e, Qt::Key_Y, Qt::ControlModifier);
                history = true;
            } else if (kind < 104) {
                // A word back or forward: what goes is the text between the
                // caret and where it lands, and never anything else.
                const bool back = kind < 102;
                QTest::keyClick(e, back ? Qt::Key_Backspace : Qt::Key_Delete, Qt::ControlModifier);
                if (selLength == 0) {
                    const int removed = L - TextLength(e);
                    a = back ? selStart - removed : selStart;
                    b = a + removed;
                    QVERIFY2(removed >= 0 && SelStart(e) == a, qPrintable(where));
                }
                edit = a != b;
            } else if (kind < 106) {
                // A double-click selects a word, or one character that is none.
                const int line = e->FirstVisibleLine() + int(rng.bounded(4));
                const int lineStart = e->Text()->LineStart(line);
                const int at = lineStart + int(rng.bounded(e->Text()->LineLength(line) + 1));
                const QRect r = e->CaretRect(at);
                QTest::mouseDClick(e->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 2, r.center().y()));
                const QString word = TextSlice(e, SelStart(e), SelLength(e));
                static const QRegularExpression wordRule(QStringLiteral("^(\\w+|[^\\r\\n])?$"),
                                                         QRegularExpression::UseUnicodePropertiesOption);
                QVERIFY2(wordRule.match(word).hasMatch(), qPrintable(where + QStringLiteral(" word ") + word));
            } else if (kind < 108) {
                // Shift+click: from the anchor to the point clicked; a drag: from the press to the release.
                const int line = e->FirstVisibleLine() + int(rng.bounded(5));
                const QPoint to(int(rng.bounded(std::max(1, e->viewport()->width()))),
                                e->CaretRect(e->Text()->LineStart(line)).center().y());
                const int target = e->PositionAt(to);
                if (kind < 107) {
                    const int anchor = e->Anchor();
                    QTest::mouseClick(e->viewport(), Qt::LeftButton, Qt::ShiftModifier, to);
                    QVERIFY2(SelStart(e) == std::min(anchor, target) && SelStart(e) + SelLength(e) == std::max(anchor, target),
                             qPrintable(where));
                } else {
                    const QPoint from = e->CaretRect(e->Text()->LineStart(e->FirstVisibleLine())).center();
                    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, from);
                    const int start = SelStart(e);
                    QTest::mousePress(e->viewport(), Qt::LeftButton, {}, from);
                    QMouseEvent move(QEvent::MouseMove, to, e->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
                    QApplication::sendEvent(e->viewport(), &move);
                    QTest::mouseRelease(e->viewport(), Qt::LeftButton, {}, to);
                    QVERIFY2(SelStart(e) == std::min(start, target) && SelStart(e) + SelLength(e) == std::max(start, target),
                             qPrintable(where));
                }
            } else if (kind < 112) {
                // An input method's commit, over the selection.
                const QString text = QStringLiteral("日本int");
                QInputMethodEvent ev(QString(), {});
                ev.setCommitString(text);
                QApplication::sendEvent(e, &ev);
                edit = true;
                s = text;
            } else {
                QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
                QVERIFY2(SelStart(e) == 0 && SelLength(e) == L, qPrintable(where));
                QTest::keyClick(e, Qt::Key_Right);  // the next edit keeps the text
                QVERIFY2(SelStart(e) == L && SelLength(e) == 0, qPrintable(where));
            }
            if (rng.bounded(16) == 0) QApplication::processEvents();  // paint now and then

            if (edit) {
                m.Replace(a, b, s);
                QVERIFY2(TextOf(e) == m.T, qPrintable(where));
                QVERIFY2(SelStart(e) == a + s.size() && SelLength(e) == 0, qPrintable(where));
                m.ColourCaretLine(SelStart(e));
                QVERIFY2(w->Changed && w->windowTitle().endsWith(QLatin1Char('*')), qPrintable(where));
            } else if (history) {
                // Undo and redo go back to texts seen before and colour the
                // caret's line by the rules; elsewhere the colours are the
                // restored characters' own.
                m.T = TextOf(e);
                QVERIFY2(seen.contains(m.T), qPrintable(where));
                m.Colours.clear();
                for (int p = 0; p < m.T.size(); ++p)
                    if (!(m.T[p] == QLatin1Char('\r') && p + 1 < m.T.size() && m.T[p + 1] == QLatin1Char('\n')))
                        m.Colours += edtest::Letter(ColourAt(e, p));
                Model check = m;
                if (e->Text()->Revision() != revision) check.ColourCaretLine(SelStart(e));
                QVERIFY2(ColoursOf(e, m) == Expected(check), qPrintable(where));
            } else {
                QVERIFY2(TextOf(e) == m.T, qPrintable(where));
            }
            seen.insert(m.T);
            // Half of the runs leave the colours unread for their first steps,
            // so that edits come before the loaded text's colours are all in.
            if (start % 2 == 1 && step < 40) continue;
            const QString got = ColoursOf(e, m), want = Expected(m);
            if (got != want) {
                int p = 0;
                while (got[p] == want[p]) ++p;
                QFAIL(qPrintable(QStringLiteral("%1: colour at %2 is %3, the rules give %4; text %5")
                                     .arg(where).arg(p).arg(got[p]).arg(want[p])
                                     .arg(QString(m.T.mid(std::max(0, p - 20), 40)).replace(QLatin1String("\r\n"), QLatin1String("|")))));
            }
        }
        QApplication::processEvents();
    }

    // The two key sequences that once brought the editor down.
    void knownCrashes() {
        QMdiArea area;
        area.resize(640, 300);
        QByteArray twelve;
        for (int i = 0; i < 40; ++i) twelve += "int line;\r\n";
        TMDIChild *w = Open(area, twelve);
        TRichEdit *e = w->RichEdit1;
        QTest::keyClick(e, Qt::Key_End, Qt::ControlModifier);
        QApplication::processEvents();
        while (e->Text()->LineOf(e->Caret()) != e->FirstVisibleLine() + 1) QTest::keyClick(e, Qt::Key_Up);
        QTest::keyClick(e, Qt::Key_Home);
        QTest::keyClick(e, Qt::Key_Backspace);
        QApplication::processEvents();
        QCOMPARE(TextLength(e), twelve.size() - 2);

        QByteArray ten;
        for (int i = 0; i < 10; ++i) ten += "ab\r\n";
        w = Open(area, ten);
        e = w->RichEdit1;
        QTest::keyClick(e, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(e, QStringLiteral("t"));
        const QRect r = e->CaretRect(e->Text()->LineStart(1));
        QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 1, r.center().y()));
        QTest::keyClick(e, Qt::Key_Backspace);
        QApplication::processEvents();
        QCOMPARE(TextOf(e).left(6), QStringLiteral("abab\r\n"));
    }

    // A change of the font alone is no edit: no change event, no "*", no
    // colour change.
    void formatIsNoEdit() {
        QMdiArea area;
        TMDIChild *w = Open(area, "int x; // c\r\n");
        const QString before = edtest::Mask(w->RichEdit1);
        QFont bold = w->RichEdit1->font();
        bold.setBold(true);
        w->RichEdit1->setFont(bold);
        QApplication::processEvents();
        QVERIFY(!w->Changed);
        QVERIFY(!w->windowTitle().endsWith(QLatin1Char('*')));
        QCOMPARE(edtest::Mask(w->RichEdit1), before);
    }

    // Edits far apart in one undo step (replace all) keep the colours of the
    // text between them, and undoing them colours the lines by the rules.
    void scatteredEditsKeepColours() {
        QMdiArea area;
        TMDIChild *w = Open(area, "// c\r\nfoo\r\nint (x);\r\nfoo\r\n");
        TRichEdit *e = w->RichEdit1;
        const QString before = edtest::Mask(e);
        QCOMPARE(before.mid(11, 10), QStringLiteral("KKKBBBBBBB"));  // int (x); and its line break
        finding::Request r;
        r.Pattern = QStringLiteral("foo");
        QCOMPARE(finding::ReplaceAll(e, r, QStringLiteral("int")), 2);
        QCOMPARE(TextOf(e), QStringLiteral("// c\r\nint\r\nint (x);\r\nint\r\n"));
        QCOMPARE(edtest::Mask(e), QStringLiteral("GGGGGGKKKBBKKKBBBBBBBKKKBB"));
        w->Save();
        QVERIFY(!w->Changed);
        w->Undo();  // the same lengths back: an edit all the same
        QVERIFY(w->Changed);
        QCOMPARE(TextOf(e), QStringLiteral("// c\r\nfoo\r\nint (x);\r\nfoo\r\n"));
        QCOMPARE(edtest::Mask(e), before);
    }

    // What a screen reader and an input method learn of the control, and an
    // edit made through the accessibility interface.
    void assistiveQueries() {
        QMdiArea area;
        TMDIChild *w = Open(area, "int x;\r\n\x93\xfa\x96\x7b y\r\n");
        TRichEdit *e = w->RichEdit1;
        SetSelection(e, 8, 2);  // 日本 on the second line
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(e);
        QVERIFY(a && a->textInterface() && a->editableTextInterface());
        QCOMPARE(a->role(), QAccessible::EditableText);
        QAccessibleTextInterface *t = a->textInterface();
        QCOMPARE(t->characterCount(), TextLength(e));
        QCOMPARE(t->text(0, t->characterCount()), TextOf(e));
        int s = 0, n = 0;
        QCOMPARE(t->selectionCount(), 1);
        t->selection(0, &s, &n);
        QCOMPARE(std::make_pair(s, n), std::make_pair(8, 10));
        QCOMPARE(t->cursorPosition(), 10);
        QCOMPARE(t->textAtOffset(9, QAccessible::LineBoundary, &s, &n), QStringLiteral("日本 y\r\n"));
        // Full-width characters are two columns wide on the screen.
        QVERIFY(qAbs(t->characterRect(8).width() - 2 * e->ColumnWidth()) <= 1);
        QVERIFY(qAbs(t->characterRect(0).width() - e->ColumnWidth()) <= 1);
        QCOMPARE(t->offsetAtPoint(t->characterRect(9).center()), 9);
        QCOMPARE(e->inputMethodQuery(Qt::ImSurroundingText).toString(), QStringLiteral("日本 y"));
        QCOMPARE(e->inputMethodQuery(Qt::ImCursorPosition).toInt(), 2);
        QCOMPARE(e->inputMethodQuery(Qt::ImAnchorPosition).toInt(), 0);
        QCOMPARE(e->inputMethodQuery(Qt::ImCurrentSelection).toString(), QStringLiteral("日本"));
        const QRect caret = e->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        QCOMPARE(caret.topLeft(), e->CaretRect(10).topLeft() + e->viewport()->pos());
        a->editableTextInterface()->replaceText(0, 3, QStringLiteral("char"));
        QCOMPARE(TextOf(e), QStringLiteral("char x;\r\n日本 y\r\n"));
        QVERIFY(w->Changed);
        w->Undo();
        QCOMPARE(TextOf(e), QStringLiteral("int x;\r\n日本 y\r\n"));
    }

    // Text dropped from outside goes in where it is dropped, as one step; the
    // context menu's entries act on the selection.
    void dropAndMenu() {
        QMdiArea area;
        TMDIChild *w = Open(area, "int x;\r\nchar y;\r\n");
        TRichEdit *e = w->RichEdit1;
        QApplication::processEvents();
        QMimeData mime;
        mime.setText(QStringLiteral("long\nz"));
        const QPoint at = e->CaretRect(9).center() + QPoint(1, 0);
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(e->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(e->viewport(), &move);
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(e->viewport(), &drop);
        const int p = e->PositionAt(at);
        QCOMPARE(TextOf(e), QStringLiteral("int x;\r\nchar y;\r\n").insert(p, QStringLiteral("long\r\nz")));
        QCOMPARE(TextSlice(e, SelStart(e), SelLength(e)), QStringLiteral("long\r\nz"));
        QVERIFY(w->Changed);
        w->Undo();
        QCOMPARE(TextOf(e), QStringLiteral("int x;\r\nchar y;\r\n"));

        SetSelection(e, 0, 3);
        std::unique_ptr<QMenu> menu(e->createStandardContextMenu());
        QStringList names, enabled;
        for (QAction *a : menu->actions())
            if (!a->isSeparator()) {
                names << a->text();
                if (a->isEnabled()) enabled << a->objectName();
            }
        QCOMPARE(names, QStringList({QStringLiteral("元に戻す(&U)"), QStringLiteral("やり直し(&R)"), QStringLiteral("切り取り(&T)"),
                                     QStringLiteral("コピー(&C)"), QStringLiteral("貼り付け(&P)"), QStringLiteral("削除(&D)"),
                                     QStringLiteral("すべて選択(&A)")}));
        QVERIFY(enabled.contains(QStringLiteral("edit-redo")) && enabled.contains(QStringLiteral("edit-copy")));
        QVERIFY(!enabled.contains(QStringLiteral("edit-undo")));
        menu->findChild<QAction *>(QStringLiteral("edit-delete"))->trigger();
        QCOMPARE(TextOf(e), QStringLiteral(" x;\r\nchar y;\r\n"));
    }

    // Typing through an input method: a preedit is no edit; a commit is one,
    // also when it replaces text before or after the caret.
    void inputMethod_data() {
        QTest::addColumn<QString>("text");     // T before; "|" marks the caret, "[...]" a selection
        QTest::addColumn<int>("topLine");      // the line scrolled to the top (0-based)
        QTest::addColumn<QString>("preedit");
        QTest::addColumn<QString>("commit");   // "-" for no commit
        QTest::addColumn<int>("replaceStart");
        QTest::addColumn<int>("replaceLength");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("changed");
        const QString lines = QStringLiteral("a\r\n|b\r\nc\r\nd\r\n");
        QTest::newRow("preedit alone") << lines << 0 << "か" << "-" << 0 << 0 << "a\r\nb\r\nc\r\nd\r\n" << false;
        QTest::newRow("preedit cancelled") << lines << 0 << "" << "-" << 0 << 0 << "a\r\nb\r\nc\r\nd\r\n" << false;
        QTest::newRow("commit") << lines << 0 << "" << "日本語" << 0 << 0 << "a\r\n日本語b\r\nc\r\nd\r\n" << true;
        QTest::newRow("commit with next preedit") << lines << 0 << "か" << "int " << 0 << 0 << "a\r\nint b\r\nc\r\nd\r\n" << true;
        QTest::newRow("replace line break before, top line")
            << lines << 1 << "" << "日本語" << -1 << 1 << "a日本語b\r\nc\r\nd\r\n" << true;
        QTest::newRow("replace after caret") << QStringLiteral("int |xyz;\r\n") << 0 << "" << "void" << 0 << 3
                                             << "int void;\r\n" << true;
        QTest::newRow("replace across line break after")
            << QStringLiteral("a|\r\nb") << 0 << "" << "X" << 0 << 1 << "aXb" << true;
        QTest::newRow("at the end of the file") << QStringLiteral("int x;\r\n|") << 0 << "" << "char" << -1 << 1
                                                << "int x;char" << true;
        QTest::newRow("selection replaced") << QStringLiteral("a [bc] d") << 0 << "" << "int" << 0 << 0 << "a int d" << true;
        QTest::newRow("replacement past the text") << QStringLiteral("ab|") << 0 << "" << "c" << -10 << 50 << "c" << true;
        // Just before a keyword: the preedit moves it on the screen, not its colours.
        const QString keyword = QStringLiteral("x; /* c */\r\n|int y;\r\n");
        QTest::newRow("preedit before a keyword") << keyword << 0 << "かな" << "-" << 0 << 0 << "x; /* c */\r\nint y;\r\n" << false;
        QTest::newRow("preedit before a keyword cancelled") << keyword << 0 << "" << "-" << 0 << 0 << "x; /* c */\r\nint y;\r\n" << false;
        QTest::newRow("commit glued to a keyword") << keyword << 0 << "" << "a" << 0 << 0 << "x; /* c */\r\naint y;\r\n" << true;
        QTest::newRow("commit before a keyword, preedit goes on")
            << keyword << 0 << "か" << "char " << 0 << 0 << "x; /* c */\r\nchar int y;\r\n" << true;
    }
    void inputMethod() {
        QFETCH(QString, text);
        QFETCH(int, topLine);
        QFETCH(QString, preedit);
        QFETCH(QString, commit);
        QFETCH(int, replaceStart);
        QFETCH(int, replaceLength);
        QFETCH(QString, result);
        QFETCH(bool, changed);
        QString plain = text;
        const int caret = int(plain.indexOf(QLatin1Char('|')));
        const int selFrom = int(plain.indexOf(QLatin1Char('[')));
        plain.remove(QLatin1Char('|'));
        plain.remove(QLatin1Char('['));
        const int selTo = int(plain.indexOf(QLatin1Char(']')));
        plain.remove(QLatin1Char(']'));
        QByteArray bytes;
        for (QChar c : plain) bytes += char(c.unicode());
        QMdiArea area;
        area.resize(300, 120);
        TMDIChild *w = Open(area, bytes);
        TRichEdit *e = w->RichEdit1;
        e->verticalScrollBar()->setValue(topLine);
        if (selFrom >= 0)
            SetSelection(e, selFrom, selTo - selFrom);
        else
            SetSelection(e, caret, 0);
        QApplication::processEvents();
        // A preedit first, then the event under test.
        if (selFrom < 0) {  // (a preedit over a selection takes the selection away)
            QInputMethodEvent first(QStringLiteral("に"), {});
            QApplication::sendEvent(e, &first);
            QApplication::processEvents();
            QVERIFY(!w->Changed);
        }
        QInputMethodEvent ev(preedit, {});
        if (commit != QLatin1String("-")) ev.setCommitString(commit, replaceStart, replaceLength);
        QApplication::sendEvent(e, &ev);
        QApplication::processEvents();
        QCOMPARE(TextOf(e), result);
        QCOMPARE(w->Changed, changed);
        QCOMPARE(w->windowTitle().endsWith(QLatin1Char('*')), changed);
        // The colours follow the rules: the whole text as loaded, then the
        // caret's line.
        Model m;
        m.T = result;
        m.Colours = QString(m.Doc(int(result.size())), QLatin1Char('B'));
        m.Colour(1, int(result.size()));
        if (changed) {
            // The caret's line is coloured anew after the edit.
            for (int p = 0; p < m.T.size(); ++p) {
                const int line = int(m.T.left(p).count(QLatin1Char('\n')));
                const int caretLine = int(m.T.left(SelStart(e)).count(QLatin1Char('\n')));
                if (line != caretLine) continue;
                QCOMPARE(edtest::Letter(ColourAt(e, p)), m.ColourAt(p));
            }
        } else {
            QCOMPARE(ColoursOf(e, m), Expected(m));
        }
        // The screen shows the colours, the preedit drawn at the caret.
        QCOMPARE(e->Preedit(), preedit);
        const QString painted = edtest::Painted(e);
        QCOMPARE(painted, edtest::PaintedExpected(e, painted));
        // One undo takes a commit back.
        if (changed) {
            w->Undo();
            QCOMPARE(TextOf(e), plain);
        }
    }
};

QV_TEST_MAIN(TestEditing)
#include "tst_editing.moc"
