// The columns of long and short lines against a plain walk of the line's
// characters, through edits inside the lines, before them and across their
// ends: tabs, wide characters, surrogate pairs one and two columns wide.
#include <QRandomGenerator>
#include <QTest>

#include "columns.h"
#include "textstore.h"
#include "testmain.h"

namespace {

// The model's columns: each character's start column, from the rules alone.
int Width(char32_t c) {
    if (c == U'\t') return 0;  // (the tab is handled by the walk)
    if (c >= 0x10000) return (c >= 0x1F300 && c <= 0x1FAFF) || (c >= 0x20000 && c <= 0x3FFFD) ? 2 : 1;
    if (c >= 0x3040 && c <= 0x30FF) return 2;  // kana
    if (c >= 0x4E00 && c <= 0x9FFF) return 2;  // kanji
    if (c >= 0xFF61 && c <= 0xFF9F) return 1;  // half-width katakana
    return 1;
}

// The column where each position of the line starts (one more entry: the end).
std::vector<int> ModelColumns(const QString &line) {
    std::vector<int> cols(size_t(line.size()) + 1, 0);
    int col = 0;
    for (int i = 0; i < line.size(); ++i) {
        cols[size_t(i)] = col;
        const QChar c = line[i];
        if (c == QLatin1Char('\t')) {
            col = (col / 8 + 1) * 8;
        } else if (c.isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate()) {
            col += Width(QChar::surrogateToUcs4(c, line[i + 1]));
            cols[size_t(i) + 1] = col;  // (the second half: no column of its own)
            ++i;
        } else {
            col += Width(c.unicode());
        }
    }
    cols[size_t(line.size())] = col;
    return cols;
}

QString Piece(QRandomGenerator &rng) {
    static const QString atoms[] = {QStringLiteral("x"), QStringLiteral("ab "), QStringLiteral("\t"), QStringLiteral("日本"),
                                    QStringLiteral("ｱ"), QString::fromUcs4(U"\U00020BB7"), QString::fromUcs4(U"\U0001D11E"),
                                    QStringLiteral("かな")};
    QString s;
    const int n = 1 + int(rng.bounded(6));
    for (int i = 0; i < n; ++i) s += atoms[rng.bounded(int(std::size(atoms)))];
    return s;
}

}  // namespace

class TestColumns : public QObject {
    Q_OBJECT
private slots:
    void againstAPlainWalk_data() {
        QTest::addColumn<quint32>("start");
        for (quint32 s : {1u, 2u, 3u}) QTest::addRow("run %u", s) << s;
    }
    void againstAPlainWalk() {
        QFETCH(quint32, start);
        QRandomGenerator rng(start);
        // Lines long (with marks) and short, the long ones of every kind.
        QStringList lines;
        for (int l = 0; l < 6; ++l) {
            QString line;
            const int length = l % 2 ? 30 : 9000 + int(rng.bounded(9000));
            while (line.size() < length) line += Piece(rng);
            if (l == 2) line.remove(QLatin1Char('\t'));  // one without a tab
            lines << line;
        }
        TTextStore store;
        store.Load(lines.join(QStringLiteral("\r\n")));
        TColumns columns(&store);
        connect(&store, &TTextStore::Edited, &store, [&](const TEditList &e) { columns.Edited(e); });
        for (int step = 0; step < 80; ++step) {
            // Questions about a random line, at random places.
            for (int q = 0; q < 8; ++q) {
                const int line = int(rng.bounded(store.LineCount()));
                const QString text = store.Line(line);
                const std::vector<int> cols = ModelColumns(text);
                int i = int(rng.bounded(int(text.size()) + 1));
                if (i > 0 && i < text.size() && text[i].isLowSurrogate() && text[i - 1].isHighSurrogate()) --i;
                const int at = store.LineStart(line) + i;
                QVERIFY2(columns.ColumnOf(at) == cols[size_t(i)],
                         qPrintable(QStringLiteral("step %1 line %2 offset %3: %4, model %5")
                                        .arg(step).arg(line).arg(i).arg(columns.ColumnOf(at)).arg(cols[size_t(i)])));
                // The character under a column, and the one nearest to it.
                const int column = int(rng.bounded(cols.back() + 4));
                int startCol = -1;
                const int s = columns.StartAt(line, column, &startCol) - store.LineStart(line);
                int want = int(text.size());
                for (int k = 0; k < text.size(); ++k) {
                    if (k > 0 && text[k].isLowSurrogate() && text[k - 1].isHighSurrogate()) continue;
                    const int next = k + 1 < text.size() && text[k].isHighSurrogate() && text[k + 1].isLowSurrogate()
                                         ? cols[size_t(k) + 2] : cols[size_t(k) + 1];
                    if (next > column) {
                        want = k;
                        break;
                    }
                }
                QVERIFY2(s == want && startCol == cols[size_t(want)],
                         qPrintable(QStringLiteral("step %1 line %2 column %3: %4 at %5, model %6 at %7")
                                        .arg(step).arg(line).arg(column).arg(s).arg(startCol).arg(want).arg(cols[size_t(want)])));
                const qreal x = column + 0.25 * qreal(rng.bounded(4));
                int nearest = int(text.size());
                for (int k = 0; k < text.size(); ++k) {
                    if (k > 0 && text[k].isLowSurrogate() && text[k - 1].isHighSurrogate()) continue;
                    const int next = k + 1 < text.size() && text[k].isHighSurrogate() && text[k + 1].isLowSurrogate()
                                         ? cols[size_t(k) + 2] : cols[size_t(k) + 1];
                    if (x < (cols[size_t(k)] + next) / 2.0) {
                        nearest = k;
                        break;
                    }
                }
                QCOMPARE(columns.PositionAt(line, x) - store.LineStart(line), nearest);
            }
            // An edit: most inside a long line, some across line ends, some many at once.
            const int kind = int(rng.bounded(10));
            const int line = int(rng.bounded(store.LineCount()));
            const int base = store.LineStart(line), length = store.LineLength(line);
            auto boundary = [&](int p) {
                return p > 0 && p < store.Length() && store.At(p).isLowSurrogate() && store.At(p - 1).isHighSurrogate() ? p - 1 : p;
            };
            if (kind < 6) {
                const int at = boundary(base + int(rng.bounded(length + 1)));
                const int removed = std::min(base + length - at, int(rng.bounded(3)) == 0 ? int(rng.bounded(40)) : 0);
                const int end = boundary(at + removed);
                store.Replace(at, end - at, Piece(rng), at, at, at);
            } else if (kind < 8) {
                const int at = boundary(int(rng.bounded(store.Length() + 1)));
                store.Replace(store.Snap(at), 0, rng.bounded(2) ? QStringLiteral("\r\n") : Piece(rng), at, at, at);
            } else if (kind < 9 && store.LineCount() > 2) {
                // Two lines joined, or one split.
                const int l = int(rng.bounded(store.LineCount() - 1));
                store.Replace(store.LineEnd(l), 2, QString(), 0, 0, 0);
            } else {
                std::vector<TTextStore::Replacement> many;
                for (int at = boundary(int(rng.bounded(50))); at + 3 < store.Length() && many.size() < 30;
                     at = boundary(at + 5 + int(rng.bounded(2000)))) {
                    if (store.Slice(at, 3).contains(QLatin1Char('\r')) || store.Slice(at, 3).contains(QLatin1Char('\n')) ||
                        store.At(at + 2).isHighSurrogate())
                        continue;
                    many.push_back({at, 0, Piece(rng)});
                }
                store.ReplaceMany(std::move(many), 0, 0);
            }
        }
    }
};

QV_TEST_GUILESS_MAIN(TestColumns)
#include "tst_columns.moc"
