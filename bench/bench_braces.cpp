// The matching bracket in large texts, against a plain matcher that scans the
// whole text from its start at every question (what the marks of the scan
// and the budget spare): a 50 MB C file with the caret at its last "}", cold
// (no marks of the scan yet: the largest single turn of the event loop, and
// the time until the marks show) and warm (a bracket typed and taken away
// again beside it, each keystroke with its repaint); and a line of 10 million
// characters with the caret beside brackets in its middle.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "bench.h"
#include "childwin.h"
#include "richedit.h"

namespace {

// The contender: the whole text scanned from its start by the same rules
// (comments, literals to their quote or the line's end), every bracket in
// code paired by a stack of its kind.
TBraceMarks Plain(const TText &t, int caret) {
    const int n = t.Length();
    const QString s = t.Slice(0, n);
    std::vector<int> partner(size_t(n), -2);
    std::map<QChar, std::vector<int>> open;
    auto closing = [](QChar c) { return c == u')' ? u'(' : c == u']' ? u'[' : u'{'; };
    int i = 0;
    while (i < n) {
        const QChar c = s[i];
        if (c == u'/' && i + 1 < n && s[i + 1] == u'*') {
            const qsizetype k = s.indexOf(QLatin1String("*/"), i + 2);
            i = k < 0 ? n : int(k) + 2;
        } else if (c == u'/' && i + 1 < n && s[i + 1] == u'/') {
            const qsizetype k = s.indexOf(u'\n', i + 2);
            i = k < 0 ? n : int(k) + 1;
        } else if (c == u'"' || c == u'\'') {
            int j = i + 1;
            while (j < n && s[j] != c && s[j] != u'\r') j += s[j] == u'\\' && j + 1 < n && s[j + 1] != u'\r' ? 2 : 1;
            i = j < n && s[j] == c ? j + 1 : j;
        } else {
            if (c == u'(' || c == u'[' || c == u'{') {
                open[c].push_back(i);
                partner[size_t(i)] = -1;
            } else if (c == u')' || c == u']' || c == u'}') {
                partner[size_t(i)] = -1;
                std::vector<int> &o = open[closing(c)];
                if (!o.empty()) {
                    partner[size_t(o.back())] = i;
                    partner[size_t(i)] = o.back();
                    o.pop_back();
                }
            }
            ++i;
        }
    }
    for (int b : {caret - 1, caret})
        if (b >= 0 && b < n && partner[size_t(b)] != -2) return {b, partner[size_t(b)]};
    return {};
}

double Ms(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

std::unique_ptr<TMDIChild> Open(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return nullptr;
    f.close();
    auto w = std::make_unique<TMDIChild>();
    w->show();
    w->LoadFile(path);
    w->activateWindow();
    w->RichEdit1->setFocus();
    QApplication::processEvents();
    return w;
}

// The caret put at position, and the events run until the marks are known:
// the whole time and the longest turn, in ms.
std::pair<double, double> Settle(TRichEdit *e, int position, const TBraceMarks &wanted) {
    QElapsedTimer all;
    all.start();
    QElapsedTimer turn;
    turn.start();
    e->SetSelection(position, position);
    double longest = Ms(turn);
    while (e->BraceMarks() != wanted && all.elapsed() < 60000) {
        turn.restart();
        QCoreApplication::processEvents();
        longest = std::max(longest, Ms(turn));
    }
    return {Ms(all), longest};
}

}  // namespace

QV_BENCH(editor_brace_match_50MB_and_long_line) {
    QTemporaryDir dir;
    QByteArray c;
    c.reserve(51 << 20);
    for (int f = 0; c.size() < (50 << 20); ++f) {
        const QByteArray n = QByteArray::number(f);
        c += "/* function " + n + " (see below) */\r\nstatic int func" + n + "(int a, const char *s)\r\n{\r\n";
        c += "    int t[4] = {0}; // a [ in a comment\r\n    if (s[0] == '(' || s[1] == '}') return a;\r\n";
        c += "    printf(\"{ %d )\\n\", t[a & 3]);\r\n    return (a + " + n + ") * 2;\r\n}\r\n\r\n";
    }
    std::unique_ptr<TMDIChild> w = Open(dir.filePath(QStringLiteral("big.c")), c);
    if (!w) return;
    TRichEdit *e = w->RichEdit1;
    const TTextStore *t = e->Text();
    const int last = t->Length() - 4;  // just after the last "}"
    QElapsedTimer timer;
    std::vector<double> plain;
    TBraceMarks wanted;
    for (int i = 0; i < 3; ++i) {
        timer.restart();
        wanted = Plain(*t, last);
        plain.push_back(Ms(timer));
    }
    const double p = bench::median(plain);
    std::printf("%.1f MB, %d lines; the caret after the last \"}\" (%s; the plain matcher %.1f ms, median of 3)\n",
                double(c.size()) / 1048576.0, t->LineCount(), wanted.Matched() ? "matched" : "NOT MATCHED", p);
    const auto [cold, turn] = Settle(e, last, wanted);
    std::printf("  cold: marks shown after %.1f ms, the longest turn %.2f ms (x%.1f less than the plain matcher)\n",
                cold, turn, p / turn);
    // Warm: "(" typed after the "}" and taken away again, each with its repaint.
    std::vector<double> keys;
    for (int i = 0; i < 100; ++i) {
        timer.restart();
        QTest::keyClick(e, i % 2 ? Qt::Key_Backspace : Qt::Key_ParenLeft);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        keys.push_back(Ms(timer));
        QApplication::processEvents();
    }
    const double k = bench::median(keys);
    std::printf("  warm: a keystroke beside the bracket with its repaint %.3f ms (median of 100; x%.0f less than the "
                "plain matcher's question alone)\n", k, p / k);
    // A keystroke at the top sends the scan back: the caret at the end again.
    e->SetSelection(0, 0);
    QTest::keyClick(e, Qt::Key_X);
    const auto [again, turn2] = Settle(e, last + 1, Plain(*t, last + 1));
    std::printf("  after a keystroke at the top: shown after %.1f ms, the longest turn %.2f ms\n", again, turn2);
    w->Changed = false;

    // One line of 10 million characters.
    QByteArray line;
    line.reserve(10 << 20);
    while (line.size() < 10000000) line += "f(a[i], g(\"(\")) + {b} /* ( */ + ";
    line.truncate(10000000);
    w = Open(dir.filePath(QStringLiteral("line.c")), line);
    e = w->RichEdit1;
    t = e->Text();
    const int middle = int(line.indexOf("f(", 5000000)) + 2;  // after a "("
    timer.restart();
    wanted = Plain(*t, middle);
    const double lp = Ms(timer);
    const auto [first, firstTurn] = Settle(e, middle, wanted);
    std::vector<double> moves;
    for (int i = 0; i < 100; ++i) {
        const int at = i % 2 ? middle : middle + 1;  // beside the "(", and off it
        timer.restart();
        e->SetSelection(at, at);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        moves.push_back(Ms(timer));
        QApplication::processEvents();
    }
    const double m = bench::median(moves);
    std::printf("a line of %d characters, the caret beside a \"(\" in its middle (%s; the plain matcher %.1f ms):\n",
                t->Length(), e->BraceMarks() == wanted || e->Caret() != middle ? "matched" : "NOT MATCHED", lp);
    std::printf("  first %.1f ms (longest turn %.2f ms); then a caret move with its repaint %.3f ms (median of 100; "
                "x%.0f less)\n", first, firstTurn, m, lp / m);
    w->Changed = false;
}
