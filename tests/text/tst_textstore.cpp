// The text store against a plain string: random edits large and small, many
// at once, undo and redo with typing runs, snapshots kept across edits, the
// line index and each line break's line end.
#include <QRandomGenerator>
#include <QTest>

#include "textstore.h"

namespace {

using textstore::LineEnd;

// The model: T, the line end of each break, and the history of whole states.
struct State {
    QString T;
    std::vector<LineEnd> Ends;
    bool operator==(const State &o) const { return T == o.T && Ends == o.Ends; }
};

int Breaks(const QString &t, int from, int to) { return int(QStringView(t).mid(from, to - from).count(QLatin1Char('\n'))); }

void ModelReplace(State &s, int pos, int removed, const QString &text) {
    const int b = Breaks(s.T, 0, pos);
    const int gone = Breaks(s.T, pos, pos + removed);
    s.Ends.erase(s.Ends.begin() + b, s.Ends.begin() + b + gone);
    s.Ends.insert(s.Ends.begin() + b, size_t(text.count(QLatin1Char('\n'))), textstore::Typed);
    s.T.replace(pos, removed, text);
}

// A random piece of text in T form, with Japanese and a surrogate pair now and then.
QString Piece(QRandomGenerator &rng, int max) {
    static const QString atoms[] = {QStringLiteral("a"), QStringLiteral("int "), QStringLiteral("\r\n"),
                                    QStringLiteral("日本"), QString::fromUcs4(U"\U00020BB7"), QStringLiteral("\t"),
                                    QStringLiteral("/*x*/")};
    QString s;
    const int n = int(rng.bounded(max + 1));
    while (s.size() < n) s += atoms[rng.bounded(int(std::size(atoms)))];
    return s;
}

// A position of T that is not between a CR and its LF.
int Position(QRandomGenerator &rng, const QString &t) {
    int p = int(rng.bounded(int(t.size()) + 1));
    if (p > 0 && p < t.size() && t[p] == QLatin1Char('\n')) --p;
    return p;
}

void Check(const TText &text, const State &s, const QString &where) {
    QVERIFY2(text.Length() == s.T.size(), qPrintable(where));
    QVERIFY2(text.Slice(0, text.Length()) == s.T, qPrintable(where));
    const QStringList lines = s.T.split(QStringLiteral("\r\n"));
    QVERIFY2(text.LineCount() == lines.size(), qPrintable(where));
    int start = 0;
    for (int l = 0; l < lines.size(); ++l) {
        QVERIFY2(text.LineStart(l) == start, qPrintable(where + QStringLiteral(" line %1").arg(l)));
        QVERIFY2(text.LineEnd(l) == start + lines[l].size(), qPrintable(where));
        QString buffer;  // (a line may cross the end of a chunk)
        QVERIFY2(text.LineView(l, buffer) == lines[l], qPrintable(where + QStringLiteral(" line %1").arg(l)));
        QVERIFY2(text.LineOf(start) == l && text.LineOf(start + int(lines[l].size())) == l, qPrintable(where));
        if (l + 1 < lines.size()) QVERIFY2(text.EndOf(l) == s.Ends[size_t(l)], qPrintable(where));
        start += int(lines[l].size()) + 2;
    }
}

}  // namespace

class TestTextStore : public QObject {
    Q_OBJECT
private slots:
    void randomAgainstModel_data() {
        QTest::addColumn<quint32>("start");
        for (quint32 s : {11u, 12u, 13u}) QTest::addRow("run %u", s) << s;
    }
    void randomAgainstModel() {
        QFETCH(quint32, start);
        QRandomGenerator rng(start);
        TTextStore store;
        // A loaded text of many chunks with every kind of line end.
        State s;
        QString file;
        for (int l = 0; l < 3000; ++l) {
            const QString line = Piece(rng, 30).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
            static const char *const ends[] = {"\r\n", "\n", "\r"};
            int kind = int(rng.bounded(3));
            if (kind == 1 && line.isEmpty() && file.endsWith(QLatin1Char('\r'))) kind = 0;  // not CR then LF
            file += line + QLatin1String(ends[kind]);
            s.T += line + QStringLiteral("\r\n");
            s.Ends.push_back(LineEnd(kind));
        }
        store.Load(file, s.Ends);
        Check(store, s, QStringLiteral("loaded"));

        std::vector<State> history{s};  // the states undo and redo walk through
        size_t done = 0, clean = 0;
        std::vector<std::pair<TText, State>> kept;  // snapshots and what they held
        int lastTypedEnd = -1, lastBackspace = -1;
        // A new undo step of the model, or the last one grown by a run.
        auto record = [&](bool joins) {
            if (joins) {
                history.back() = s;
                return;
            }
            history.resize(done + 1);
            if (clean > done) clean = size_t(-1);
            history.push_back(s);
            ++done;
        };
        for (int step = 0; step < 600; ++step) {
            const QString where = QStringLiteral("start %1 step %2").arg(start).arg(step);
            int kind = int(rng.bounded(100));
            if (lastBackspace > 0 && rng.bounded(10) < 7) kind = 35;  // runs of backspaces
            int anchor = 0, caret = 0;
            if (kind < 30) {
                // Typing: one piece at a time, merged while it goes on from the last.
                const int at = rng.bounded(3) && lastTypedEnd >= 0 ? lastTypedEnd : Position(rng, s.T);
                const QString text = Piece(rng, 3);
                if (text.isEmpty()) continue;
                const bool joins = at == lastTypedEnd && done == history.size() - 1 && done > 0 && done != clean;
                store.Replace(at, 0, text, at, at, at + int(text.size()), TTextStore::TypingRun);
                ModelReplace(s, at, 0, text);
                record(joins);
                lastTypedEnd = at + int(text.size());
                lastBackspace = -1;
                continue;
            }
            lastTypedEnd = -1;
            if (kind < 40) {
                // Backspace: one character (or a line break) at a time, merged
                // while it goes on from the last.
                const int at = lastBackspace > 0 ? lastBackspace : Position(rng, s.T);
                if (at == 0) continue;
                const int n = at >= 2 && s.T.mid(at - 2, 2) == QLatin1String("\r\n") ? 2 : 1;
                const bool joins = at == lastBackspace && done == history.size() - 1 && done > 0 && done != clean;
                store.Replace(at - n, n, QString(), at, at, at - n, TTextStore::BackspaceRun);
                ModelReplace(s, at - n, n, QString());
                record(joins);
                lastBackspace = at - n;
                continue;
            }
            lastBackspace = -1;
            store.BreakMerge();
            if (kind < 60) {
                const int at = Position(rng, s.T);
                int end = Position(rng, s.T);
                if (end < at || rng.bounded(2)) end = std::min(int(s.T.size()), at + int(rng.bounded(rng.bounded(8) ? 10 : 20000)));
                if (end < s.T.size() && end > 0 && s.T[end] == QLatin1Char('\n')) --end;
                const QString text = Piece(rng, rng.bounded(8) ? 6 : 9000);
                if (end == at && text.isEmpty()) continue;
                store.Replace(at, end - at, text, at, end, at + int(text.size()));
                ModelReplace(s, at, end - at, text);
                record(false);
            } else if (kind < 68) {
                // Many apart at once, as replace all makes them.
                std::vector<TTextStore::Replacement> edits;
                State next = s;
                int at = Position(rng, s.T);
                std::vector<std::tuple<int, int, QString>> model;
                for (int i = 0; i < 40 && at + 3 <= s.T.size(); ++i) {
                    const int n = s.T.mid(at, 3).contains(QLatin1Char('\r')) || s.T.mid(at, 3).contains(QLatin1Char('\n')) ? 0 : 3;
                    const QString text = Piece(rng, 4);
                    edits.push_back({at, n, text});
                    model.emplace_back(at, n, text);
                    at += n + 1 + int(rng.bounded(400));
                    if (at < s.T.size() && s.T[at] == QLatin1Char('\n')) ++at;
                }
                for (auto it = model.rbegin(); it != model.rend(); ++it)
                    ModelReplace(next, std::get<0>(*it), std::get<1>(*it), std::get<2>(*it));
                const bool any = std::any_of(model.begin(), model.end(),
                                             [](const auto &m) { return std::get<1>(m) > 0 || !std::get<2>(m).isEmpty(); });
                store.ReplaceMany(std::move(edits), 0, 0);
                if (any) {
                    s = next;
                    record(false);
                }
            } else if (kind < 80) {
                const bool undone = store.Undo(anchor, caret);
                QVERIFY2(undone == (done > 0), qPrintable(where));
                if (undone) s = history[--done];
            } else if (kind < 88) {
                const bool redone = store.Redo(anchor, caret);
                QVERIFY2(redone == (done + 1 < history.size()), qPrintable(where));
                if (redone) s = history[++done];
            } else if (kind < 93) {
                store.SetModified(false);
                clean = done;
            } else {
                kept.emplace_back(store.Snapshot(), s);
            }
            QVERIFY2(store.IsModified() == (done != clean), qPrintable(where));
            QVERIFY2(store.CanUndo() == (done > 0) && store.CanRedo() == (done + 1 < history.size()), qPrintable(where));
            if (step % 3 == 0) Check(store, s, where);
            QVERIFY2(store.Length() == s.T.size(), qPrintable(where));
        }
        Check(store, s, QStringLiteral("start %1 end").arg(start));
        // Every snapshot still holds the text of its moment.
        for (const auto &[snap, state] : kept) Check(snap, state, QStringLiteral("snapshot"));
    }

    // A position between a CR and its LF stands for the CR's; text handed in
    // with any line breaks is made T.
    void linesBreaksAndPositions() {
        TTextStore store;
        store.Load(QStringLiteral("ab\ncd\r\nef\rgh"), {textstore::Lf, textstore::CrLf, textstore::Cr});
        QCOMPARE(store.Slice(0, store.Length()), QStringLiteral("ab\r\ncd\r\nef\r\ngh"));
        QCOMPARE(store.Snap(3), 2);
        store.Replace(3, 1, QStringLiteral("X\nY\u2029Z"), 3, 3, 3);
        QCOMPARE(store.Slice(0, store.Length()), QStringLiteral("abX\r\nY\r\nZ\r\ncd\r\nef\r\ngh"));
        QCOMPARE(store.EndOf(0), textstore::Typed);
        QCOMPARE(store.EndOf(2), textstore::Lf);  // the break that was there stays the file's
        int a = 0, c = 0;
        QVERIFY(store.Undo(a, c));
        QCOMPARE(store.Slice(0, store.Length()), QStringLiteral("ab\r\ncd\r\nef\r\ngh"));
        QCOMPARE(store.EndOf(0), textstore::Lf);
        QVERIFY(!store.IsModified());
    }
};

QTEST_GUILESS_MAIN(TestTextStore)
#include "tst_textstore.moc"
