// Marks on lines through random edits made with the keys and the clipboard,
// against a model that keeps the text as a list of lines, each with its
// marks: lines pasted above a mark move it down, a deleted line takes its
// marks away, a split line keeps them on its first part, two joined lines
// keep those of each that keeps characters. The margin shows them, in the
// colour of an error or a warning, with the messages as the tip, and comes
// and goes with them when the line numbers are off.
#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QMdiArea>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include "editortest.h"
#include "sjis.h"
#include "testmain.h"

namespace {

struct TModelMark {
    QString Group;
    bool Warning;
    QString Text;
};
struct TModelLine {
    QString Text;
    std::vector<TModelMark> Marks;
};
using TMarkModel = std::vector<TModelLine>;

QString Joined(const TMarkModel &m) {
    QStringList lines;
    for (const TModelLine &l : m) lines << l.Text;
    return lines.join(QLatin1String("\r\n"));
}

// The marks of the model as the view lists them: by line, on one line in order.
QString MarksOf(const TMarkModel &m) {
    QStringList out;
    for (size_t i = 0; i < m.size(); ++i)
        for (const TModelMark &k : m[i].Marks) out << QStringLiteral("%1%2 %3").arg(i).arg(k.Warning ? 'w' : 'e').arg(k.Text);
    return out.join(QLatin1String(", "));
}

QString MarksOf(const TRichEdit *e) {
    QStringList out;
    for (const TLineMark &k : e->LineMarks()) out << QStringLiteral("%1%2 %3").arg(k.Line).arg(k.Warning ? 'w' : 'e').arg(k.Text);
    return out.join(QLatin1String(", "));
}

QString RandomLine(QRandomGenerator &rng) {
    if (rng.bounded(5) == 0) return QString();
    static const char *const words[] = {"int", "x", "f(a);", "return", "/*", "*/", "日本", "{", "}"};
    QString s = QStringLiteral("s");  // a line starts with a letter: no indentation to carry on
    for (int n = int(rng.bounded(5)); n > 0; --n) s += QLatin1Char(' ') + QString::fromUtf8(words[rng.bounded(9)]);
    return s;
}

void Set(TRichEdit *e, TMarkModel &m, const QString &group, QRandomGenerator &rng, int &serial) {
    std::vector<TLineMark> marks;
    for (TModelLine &l : m) {
        const int line = int(&l - m.data());
        for (TModelMark &k : l.Marks)
            if (k.Group == group) k.Group.clear();
        l.Marks.erase(std::remove_if(l.Marks.begin(), l.Marks.end(), [](const TModelMark &k) { return k.Group.isEmpty(); }),
                      l.Marks.end());
        if (rng.bounded(4) != 0) continue;
        const bool warning = rng.bounded(2);
        const QString text = QStringLiteral("%1: message %2").arg(warning ? "warning" : "error").arg(++serial);
        marks.push_back({line, warning, text});
        l.Marks.push_back({group, warning, text});
    }
    // A line past the end gets no mark.
    marks.push_back({int(m.size()), false, QStringLiteral("past the end")});
    e->SetLineMarks(group, marks);
}

}  // namespace

class TestLineMarks : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;

private slots:
    void initTestCase() { QApplication::setCursorFlashTime(0); }

    void randomEdits_data() {
        QTest::addColumn<quint32>("start");
        QTest::addColumn<bool>("numbers");
        QTest::addRow("run 1") << 1u << false;
        QTest::addRow("run 2, line numbers") << 2u << true;
        QTest::addRow("run 3") << 3u << false;
        QTest::addRow("run 4") << 4u << true;
    }
    void randomEdits() {
        QFETCH(quint32, start);
        QFETCH(bool, numbers);
        QRandomGenerator rng(start);
        TMarkModel m;
        for (int n = 20 + int(rng.bounded(20)); n > 0; --n) m.push_back({RandomLine(rng), {}});
        QMdiArea area;
        TMDIChild *w = edtest::OpenInArea(area, Dir, sjis::encodeLossy(Joined(m)));
        QVERIFY(w);
        area.resize(560, 700);
        w->showMaximized();
        TRichEdit *e = w->RichEdit1;
        e->setFocus();
        e->SetLineNumbers(numbers);
        const int bare = numbers ? e->LineNumberWidth() : 0;
        int serial = 0;
        Set(e, m, QStringLiteral("a"), rng, serial);
        Set(e, m, QStringLiteral("b"), rng, serial);
        QCOMPARE(MarksOf(e), MarksOf(m));
        const TTextStore *t = e->Text();
        for (int step = 0; step < 250; ++step) {
            const int count = int(m.size());
            const int L = int(rng.bounded(count));
            QString what;
            const int k = int(rng.bounded(100));
            if (k < 15) {
                // Lines pasted at the start of a line.
                QStringList pasted;
                for (int n = 1 + int(rng.bounded(3)); n > 0; --n) pasted << RandomLine(rng);
                e->SetSelection(t->LineStart(L), t->LineStart(L));
                QApplication::clipboard()->setText(pasted.join(QLatin1Char('\n')) + QLatin1Char('\n'));
                QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
                for (int i = int(pasted.size()) - 1; i >= 0; --i) m.insert(m.begin() + L, TModelLine{pasted[i], {}});
                what = QStringLiteral("paste %1 lines at %2").arg(pasted.size()).arg(L);
            } else if (k < 30 && L + 1 < count) {
                // Whole lines deleted, or cut.
                const int last = std::min(count - 2, L + int(rng.bounded(3)));
                e->SetSelection(t->LineStart(L), t->LineStart(last + 1));
                if (rng.bounded(2))
                    QTest::keyClick(e, Qt::Key_Delete);
                else
                    QTest::keyClick(e, Qt::Key_X, Qt::ControlModifier);
                m.erase(m.begin() + L, m.begin() + last + 1);
                what = QStringLiteral("delete lines %1-%2").arg(L).arg(last);
            } else if (k < 50) {
                // Typing inside a line.
                const int column = int(rng.bounded(int(m[size_t(L)].Text.size()) + 1));
                e->SetSelection(t->LineStart(L) + column, t->LineStart(L) + column);
                QTest::keyClicks(e, "xy");
                m[size_t(L)].Text.insert(column, QStringLiteral("xy"));
                what = QStringLiteral("type at %1:%2").arg(L).arg(column);
            } else if (k < 70) {
                // Enter: at the line's start the line moves down; further on it splits.
                const int column = int(rng.bounded(int(m[size_t(L)].Text.size()) + 1));
                e->SetSelection(t->LineStart(L) + column, t->LineStart(L) + column);
                QTest::keyClick(e, Qt::Key_Return);
                // The new line starts with the blanks that start the line, as far as the caret.
                QString carried;
                while (carried.size() < column && m[size_t(L)].Text[carried.size()] == u' ') carried += u' ';
                if (column == 0) {
                    m.insert(m.begin() + L, TModelLine{});
                } else {
                    TModelLine rest{carried + m[size_t(L)].Text.mid(column), {}};
                    m[size_t(L)].Text.truncate(column);
                    m.insert(m.begin() + L + 1, rest);
                }
                what = QStringLiteral("enter at %1:%2").arg(L).arg(column);
            } else if (k < 90 && L + 1 < count) {
                // Two lines joined: Delete at the end of the first, or Backspace at the start of the second.
                if (rng.bounded(2)) {
                    e->SetSelection(t->LineEnd(L), t->LineEnd(L));
                    QTest::keyClick(e, Qt::Key_Delete);
                } else {
                    e->SetSelection(t->LineStart(L + 1), t->LineStart(L + 1));
                    QTest::keyClick(e, Qt::Key_Backspace);
                }
                TModelLine &a = m[size_t(L)];
                TModelLine &b = m[size_t(L + 1)];
                const bool aEmpty = a.Text.isEmpty(), bEmpty = b.Text.isEmpty();
                if (aEmpty && !bEmpty) a.Marks.clear();  // an empty line joined to one with text goes
                if (bEmpty && !aEmpty) b.Marks.clear();
                a.Text += b.Text;
                a.Marks.insert(a.Marks.end(), b.Marks.begin(), b.Marks.end());
                m.erase(m.begin() + L + 1);
                what = QStringLiteral("join %1 and %2").arg(L).arg(L + 1);
            } else if (k < 95) {
                const QString group = rng.bounded(2) ? QStringLiteral("a") : QStringLiteral("b");
                if (rng.bounded(2)) {
                    e->ClearLineMarks(group);
                    for (TModelLine &l : m)
                        l.Marks.erase(std::remove_if(l.Marks.begin(), l.Marks.end(), [&](const TModelMark &x) { return x.Group == group; }),
                                      l.Marks.end());
                    what = QStringLiteral("clear ") + group;
                } else {
                    // Set anew: a group's marks go after those of the other on a line.
                    Set(e, m, group, rng, serial);
                    for (TModelLine &l : m)
                        std::stable_sort(l.Marks.begin(), l.Marks.end(), [&](const TModelMark &x, const TModelMark &y) {
                            return x.Group != group && y.Group == group;
                        });
                    what = QStringLiteral("set ") + group;
                }
            } else {
                continue;
            }
            const QString where = QStringLiteral("step %1 (%2)").arg(step).arg(what);
            QVERIFY2(TextOf(e) == Joined(m), qPrintable(where + QStringLiteral(": the text differs")));
            QVERIFY2(MarksOf(e) == MarksOf(m), qPrintable(where + QStringLiteral(":\n view  %1\n model %2").arg(MarksOf(e), MarksOf(m))));

            // The margin: there while it has numbers or marks; the marks of the lines on the screen.
            bool any = false;
            for (const TModelLine &l : m) any = any || !l.Marks.empty();
            QVERIFY2((e->Margin() != nullptr) == (numbers || any), qPrintable(where));
            QVERIFY2((e->MarkWidth() > 0) == any, qPrintable(where));
            if (step % 10 != 0 || !e->Margin()) continue;
            QApplication::processEvents();
            const QImage img = e->Margin()->grab().toImage().convertToFormat(QImage::Format_RGB32);
            QVERIFY2(img.width() == e->LineNumberWidth() && e->LineNumberWidth() == bare + e->MarkWidth(), qPrintable(where));
            for (int line = e->FirstVisibleLine(); line < std::min(int(m.size()), e->FirstVisibleLine() + e->VisibleLines()); ++line) {
                const std::vector<TModelMark> &marks = m[size_t(line)].Marks;
                bool warning = !marks.empty();
                for (const TModelMark &x : marks) warning = warning && x.Warning;
                int red = 0, orange = 0;
                const int top = e->CaretRect(t->LineStart(line)).top();
                for (int y = top; y < top + e->LineHeight(); ++y)
                    for (int x = 0; x < e->MarkWidth(); ++x) {
                        const QRgb c = img.pixel(x, y);
                        red += c == TRichEdit::MarkColour(false).rgb();
                        orange += c == TRichEdit::MarkColour(true).rgb();
                    }
                QVERIFY2((red > 0) == (!marks.empty() && !warning) && (orange > 0) == warning,
                         qPrintable(where + QStringLiteral(": line %1, %2 red, %3 orange").arg(line).arg(red).arg(orange)));
                // The tip: the line's messages.
                QStringList texts;
                for (const TModelMark &x : marks) texts << x.Text;
                const QPoint at(2, top + e->LineHeight() / 2);
                QHelpEvent tip(QEvent::ToolTip, at, e->Margin()->mapToGlobal(at));
                QApplication::sendEvent(e->Margin(), &tip);
                QVERIFY2(texts.isEmpty() ? !tip.isAccepted() : tip.isAccepted() && QToolTip::text() == texts.join(QLatin1Char('\n')),
                         qPrintable(where + QStringLiteral(": tip of line %1: %2").arg(line).arg(QToolTip::text())));
                QToolTip::hideText();
            }
        }
    }

    // A load replaces the whole text: no mark stays; nor after a select all
    // and a keystroke.
    void theWholeTextReplaced() {
        QMdiArea area;
        TMDIChild *w = edtest::OpenInArea(area, Dir, "a\r\nb\r\nc\r\n");
        TRichEdit *e = w->RichEdit1;
        e->SetLineMarks(QStringLiteral("g"), {{0, false, QStringLiteral("x")}, {2, true, QStringLiteral("y")}});
        QCOMPARE(e->LineMarks().size(), size_t(2));
        w->Reload();
        QVERIFY(e->LineMarks().empty());
        QVERIFY(!e->Margin());
        e->SetLineMarks(QStringLiteral("g"), {{1, false, QStringLiteral("x")}});
        e->setFocus();
        QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(e, "z");
        QVERIFY(e->LineMarks().empty());
    }
};

QV_TEST_MAIN(TestLineMarks)
#include "tst_linemarks.moc"
