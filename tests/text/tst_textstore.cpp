// The text store against a plain model: a loaded file with every kind of line
// end and characters written with their other code, then typing, Backspace
// and Delete runs (merged as the keys merge them), single and many edits at
// once, undo and redo at random points and snapshots kept across edits.
// After every step the bytes that Save would write and the selection that
// undo and redo give back are those the model predicts.
#include <QRandomGenerator>
#include <QTest>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "diskstate.h"
#include "sjis.h"
#include "sourcetext.h"
#include "textstore.h"
#include "testfiles.h"
#include "testmain.h"

namespace {

using textstore::LineEnd;

// The model: T, the line end of each break, and for each position of T the
// code its character came with where that is not the document's own (0).
struct State {
    QString T;
    std::vector<LineEnd> Ends;
    std::vector<quint16> Codes;
    bool operator==(const State &o) const { return T == o.T && Ends == o.Ends && Codes == o.Codes; }
};

int Breaks(const QString &t, int from, int to) { return int(QStringView(t).mid(from, to - from).count(QLatin1Char('\n'))); }

void ModelReplace(State &s, int pos, int removed, const QString &text) {
    const int b = Breaks(s.T, 0, pos);
    const int gone = Breaks(s.T, pos, pos + removed);
    s.Ends.erase(s.Ends.begin() + b, s.Ends.begin() + b + gone);
    s.Ends.insert(s.Ends.begin() + b, size_t(text.count(QLatin1Char('\n'))), textstore::Typed);
    s.Codes.erase(s.Codes.begin() + pos, s.Codes.begin() + pos + removed);
    s.Codes.insert(s.Codes.begin() + pos, size_t(text.size()), 0);
    s.T.replace(pos, removed, text);
}

// The bytes of the model's text: each line break written with its own line
// end (fallback for a typed one), each character with the code it came with.
QByteArray Bytes(const State &s, LineEnd fallback, const sjis::CodeChoice &choice) {
    QString file;
    sjis::OtherCodes others;
    size_t k = 0;
    for (int i = 0; i < s.T.size(); ++i) {
        if (s.T[i] == QLatin1Char('\r')) {
            LineEnd e = s.Ends[k++];
            if (e == textstore::Typed) e = fallback;
            file += e == textstore::Lf ? QStringLiteral("\n") : e == textstore::Cr ? QStringLiteral("\r") : QStringLiteral("\r\n");
            ++i;  // the LF
            continue;
        }
        if (s.Codes[size_t(i)]) others.push_back({file.size(), s.Codes[size_t(i)]});
        file += s.T[i];
    }
    QByteArray out;
    if (!sjis::encode(file, out, nullptr, &choice, &others)) return "(cannot encode)";
    return out;
}

// Ⅰ has two codes: the usual one, and another that the file uses now and then.
const QChar kTwoCodes(0x2160);
quint16 OtherCodeOfTwo() {
    const quint16 usual = sjis::usualCode(kTwoCodes.unicode());
    return usual == 0x8754 ? 0xFA4A : 0x8754;
}

// A random piece of text in T form, with Japanese now and then.
QString Piece(QRandomGenerator &rng, int max) {
    static const QString atoms[] = {QStringLiteral("a"), QStringLiteral("int "), QStringLiteral("\r\n"),
                                    QStringLiteral("日本"), QString(kTwoCodes), QStringLiteral("\t"),
                                    QStringLiteral("/*x*/")};
    QString s;
    const int n = int(rng.bounded(max + 1));
    while (s.size() < n) s += atoms[rng.bounded(int(std::size(atoms)))];
    return s;
}

// A position of T that is not between a CR and its LF; now and then next to
// the edge of one of the store's chunks, or at either end of a line.
int Position(QRandomGenerator &rng, const QString &t, const TText &text) {
    int p = int(rng.bounded(int(t.size()) + 1));
    const int where = int(rng.bounded(3));
    if (where == 1) {
        const int line = text.LineOf(p);
        p = rng.bounded(2) ? text.LineStart(line) : text.LineEnd(line);
    } else if (where == 2) {
        int start = 0;
        const QStringView piece = text.PieceAt(p, &start);
        p = std::clamp((rng.bounded(2) ? start : start + int(piece.size())) + int(rng.bounded(7)) - 3, 0, int(t.size()));
    }
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

// Where a position goes with many edits at once (ascending, positions before
// them): moved along by those before it, to the start of one it lies inside.
int MovedAlong(const std::vector<std::tuple<int, int, QString>> &edits, int p) {
    int shift = 0;
    for (const auto &[at, removed, text] : edits) {
        if (at + removed <= p)
            shift += int(text.size()) - removed;
        else if (at < p)
            return at + shift;
    }
    return p + shift;
}

// In the child: 1M characters of "ab\r\n" lines, every a replaced by 256
// characters, in far too little memory. 0 when the store kept its word.
[[maybe_unused]] int ReplaceAllInTooLittleMemory() {
    const int lines = 1 << 18;
    TTextStore store;
    store.Load(QStringLiteral("ab\r\n").repeated(lines));
    std::vector<TTextStore::Replacement> edits;
    edits.reserve(size_t(lines));
    const QString by(256, QLatin1Char('x'));
    const int line = int(by.size()) + 3;
    for (int l = 0; l < lines; ++l) edits.push_back({4 * l, 1, by});
    // Room for the records, and for a part of the replaced text.
    long pages = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    if (pages <= 0) return 10;
    const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (rlim_t(48) << 20);
    struct rlimit r{limit, RLIM_INFINITY};
    if (::setrlimit(RLIMIT_AS, &r) != 0) return 11;
    bool ran = false;
    try {
        store.ReplaceMany(std::move(edits), 0, 0);
    } catch (const std::bad_alloc &) {
        ran = true;
    }
    // Memory to spare again, for the checks and the undo.
    r.rlim_cur = RLIM_INFINITY;
    if (::setrlimit(RLIMIT_AS, &r) != 0) return 19;
    if (!ran) return 12;  // the limit left room enough after all
    // The text: some lines replaced, then the rest as they were.
    int replaced = 0;
    while (replaced < lines && store.At(replaced * line) == QLatin1Char('x')) ++replaced;
    if (replaced == 0 || replaced == lines) return 13;
    if (store.Length() != replaced * line + (lines - replaced) * 4) return 14;
    for (int l = 0; l < lines; l += 997) {
        const int at = l < replaced ? l * line : replaced * line + (l - replaced) * 4;
        const QString want = l < replaced ? by + QStringLiteral("b\r\n") : QStringLiteral("ab\r\n");
        if (store.Slice(at, int(want.size())) != want) return 15;
    }
    // One undo step, and the text is whole again.
    int a = 0, c = 0;
    if (!store.CanUndo() || !store.Undo(a, c) || store.CanUndo()) return 16;
    if (store.Length() != lines * 4) return 17;
    for (int l = 0; l < lines; l += 991)
        if (store.Slice(4 * l, 4) != QLatin1String("ab\r\n")) return 18;
    return 0;
}

}  // namespace

class TestTextStore : public QObject {
    Q_OBJECT
private slots:
    void randomAgainstModel_data() {
        QTest::addColumn<quint32>("start");
        QTest::addColumn<int>("lines");
        // Long files for many chunks, short ones so that edits meet each other.
        for (quint32 s : {11u, 12u}) QTest::addRow("run %u, 3000 lines", s) << s << 3000;
        for (quint32 s : {13u, 14u, 15u, 16u}) QTest::addRow("run %u, 150 lines", s) << s << 150;
    }
    void randomAgainstModel() {
        QFETCH(quint32, start);
        QFETCH(int, lines);
        QRandomGenerator rng(start);
        TTextStore store;
        // A file of many chunks with every kind of line end, written in
        // Shift-JIS, a few Ⅰ with the code that is not the file's choice.
        State s;
        QString file;
        sjis::OtherCodes fileOthers;
        size_t counts[3] = {0, 0, 0};
        const quint16 other = OtherCodeOfTwo();
        for (int l = 0; l < lines; ++l) {
            const QString line = Piece(rng, 30).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
            for (QChar c : line) {
                const bool odd = c == kTwoCodes && rng.bounded(3) == 0;
                if (odd) fileOthers.push_back({file.size(), other});
                s.Codes.push_back(odd ? other : 0);
                file += c;
            }
            static const char *const ends[] = {"\r\n", "\n", "\r"};
            int kind = int(rng.bounded(3));
            if (kind == 1 && line.isEmpty() && file.endsWith(QLatin1Char('\r'))) kind = 0;  // not CR then LF
            file += QLatin1String(ends[kind]);
            s.T += line + QStringLiteral("\r\n");
            s.Codes.insert(s.Codes.end(), {0, 0});
            s.Ends.push_back(LineEnd(kind));
            ++counts[kind];
        }
        QByteArray bytes;
        QVERIFY(sjis::encode(file, bytes, nullptr, nullptr, &fileOthers));
        // The document's own line end: the most common, ties to CR LF, then LF.
        LineEnd fallback = textstore::CrLf;
        if (counts[1] > counts[0]) fallback = textstore::Lf;
        if (counts[2] > counts[fallback]) fallback = textstore::Cr;
        QCOMPARE(sourcetext::Load(&store, bytes), fallback);
        const sjis::CodeChoice choice = sourcetext::Codes(&store);
        Check(store, s, QStringLiteral("loaded"));
        // The bytes Save writes: made a block at a time (blocks of at least
        // the size asked for, but the last) and summed as they go, the same
        // as made whole.
        QRandomGenerator blockSizes(start);
        auto saved = [&] {
            QByteArray out;
            QString why;
            if (!sourcetext::Encode(&store, fallback, out, &why)) return why.toUtf8();
            const qsizetype block = 1 + blockSizes.bounded(9000);
            QByteArray blocks;
            TDiskState::TSum sum;
            bool small = false;
            const bool made = sourcetext::EncodeBlocks(sourcetext::Take(&store, fallback), block, [&](QByteArrayView b) {
                small = small || (blocks.size() + b.size() < out.size() && b.size() < block);
                blocks += b;
                sum.Add(b);
                return true;
            });
            if (!made || small || blocks != out) return QByteArray("the blocks are not the bytes");
            if (sum.Result() != TDiskState::Checksum(out)) return QByteArray("the blocks' sum is not the bytes' sum");
            return out;
        };
        QCOMPARE(saved(), bytes);

        // The states undo and redo walk through, with the selection before and after each step.
        struct Step {
            State After;
            int AnchorBefore = 0, CaretBefore = 0, AnchorAfter = 0, CaretAfter = 0;
        };
        std::vector<Step> history{{s}};
        size_t done = 0, clean = 0;
        std::vector<std::pair<TText, State>> kept;  // snapshots and what they held
        // The run that the next key of the same kind joins, and where it goes on.
        TTextStore::Merge run = TTextStore::NoMerge;
        int runAt = -1;
        auto record = [&](TTextStore::Merge kind, int at, int anchor, int caret, int caretAfter) {
            const bool joins = kind != TTextStore::NoMerge && kind == run && at == runAt && done + 1 == history.size() &&
                               done > 0 && done != clean;
            if (joins) {
                history.back().After = s;
                history.back().AnchorAfter = history.back().CaretAfter = caretAfter;
            } else {
                history.resize(done + 1);
                if (clean > done) clean = size_t(-1);
                history.push_back({s, anchor, caret, caretAfter, caretAfter});
                ++done;
            }
            run = kind;
        };
        for (int step = 0; step < 1000; ++step) {
            const QString where = QStringLiteral("start %1 step %2").arg(start).arg(step);
            int kind = int(rng.bounded(100));
            // Runs go on for a while, over line breaks typed and read.
            const bool goesOn = run != TTextStore::NoMerge && rng.bounded(100) < 85;
            if (goesOn) kind = run == TTextStore::TypingRun ? 0 : run == TTextStore::BackspaceRun ? 30 : 40;
            int anchor = 0, caret = 0;
            if (kind < 30) {
                // Typing: one piece at a time, merged while it goes on from the
                // last; the first key of a run may type over a selection.
                int at = goesOn ? runAt : Position(rng, s.T, store);
                int end = at;
                if (!goesOn && rng.bounded(4) == 0) end = std::max(at, Position(rng, s.T, store));
                if (end - at > 200) end = at;
                const QString text = rng.bounded(4) ? Piece(rng, 3) : QStringLiteral("\r\n");  // Enter
                if (text.isEmpty() && end == at) continue;
                const bool backwards = rng.bounded(2);
                store.Replace(at, end - at, text, backwards ? end : at, backwards ? at : end, at + int(text.size()),
                              TTextStore::TypingRun);
                ModelReplace(s, at, end - at, text);
                record(TTextStore::TypingRun, end == at ? at : -2, backwards ? end : at, backwards ? at : end,
                       at + int(text.size()));
                runAt = at + int(text.size());
            } else if (kind < 50) {
                // Backspace and Delete: one character (or a line break) at a
                // time, merged while the run goes on.
                const TTextStore::Merge m = kind < 40 ? TTextStore::BackspaceRun : TTextStore::DeleteRun;
                const int at = goesOn ? runAt : Position(rng, s.T, store);
                if (m == TTextStore::BackspaceRun) {
                    if (at == 0) continue;
                    const int n = at >= 2 && s.T.mid(at - 2, 2) == QLatin1String("\r\n") ? 2 : 1;
                    store.Replace(at - n, n, QString(), at, at, at - n, m);
                    ModelReplace(s, at - n, n, QString());
                    record(m, at, at, at, at - n);
                    runAt = at - n;
                } else {
                    if (at == s.T.size()) continue;
                    const int n = s.T.mid(at, 2) == QLatin1String("\r\n") ? 2 : 1;
                    store.Replace(at, n, QString(), at, at, at, m);
                    ModelReplace(s, at, n, QString());
                    record(m, at, at, at, at);
                    runAt = at;
                }
            } else {
                // What breaks a run: a caret move, an edit of another kind,
                // undo, redo and Save; a snapshot does not.
                if (kind < 52) {
                    store.BreakMerge();
                    run = TTextStore::NoMerge;
                } else if (kind < 66) {
                    const int at = Position(rng, s.T, store);
                    int end = Position(rng, s.T, store);
                    if (end < at || rng.bounded(2))
                        end = std::min(int(s.T.size()), at + int(rng.bounded(rng.bounded(8) ? 10 : 20000)));
                    if (end < s.T.size() && end > 0 && s.T[end] == QLatin1Char('\n')) --end;
                    QString text = Piece(rng, rng.bounded(8) ? 6 : 9000);
                    if (rng.bounded(4) == 0) text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
                    const QString t = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
                    if (end == at && text.isEmpty()) continue;
                    store.Replace(at, end - at, text, end, at, at + int(t.size()));
                    ModelReplace(s, at, end - at, t);
                    record(TTextStore::NoMerge, at, end, at, at + int(t.size()));
                    run = TTextStore::NoMerge;
                } else if (kind < 72) {
                    // Many apart at once, as replace all makes them.
                    std::vector<TTextStore::Replacement> edits;
                    State next = s;
                    int at = Position(rng, s.T, store);
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
                    model.erase(std::remove_if(model.begin(), model.end(),
                                               [](const auto &m) { return std::get<1>(m) == 0 && std::get<2>(m).isEmpty(); }),
                                model.end());
                    const int a = Position(rng, s.T, store), c = Position(rng, s.T, store);
                    store.ReplaceMany(std::move(edits), a, c);
                    if (!model.empty()) {
                        run = TTextStore::NoMerge;
                        s = next;
                        history.resize(done + 1);
                        if (clean > done) clean = size_t(-1);
                        history.push_back({s, a, c, MovedAlong(model, a), MovedAlong(model, c)});
                        ++done;
                    }
                } else if (kind < 83) {
                    const bool undone = store.Undo(anchor, caret);
                    QVERIFY2(undone == (done > 0), qPrintable(where));
                    if (undone) {
                        run = TTextStore::NoMerge;
                        const Step &u = history[done];
                        QVERIFY2(anchor == u.AnchorBefore && caret == u.CaretBefore,
                                 qPrintable(where + QStringLiteral(" undo selection %1 %2, expected %3 %4")
                                                        .arg(anchor).arg(caret).arg(u.AnchorBefore).arg(u.CaretBefore)));
                        s = history[--done].After;
                    }
                } else if (kind < 91) {
                    const bool redone = store.Redo(anchor, caret);
                    QVERIFY2(redone == (done + 1 < history.size()), qPrintable(where));
                    if (redone) {
                        run = TTextStore::NoMerge;
                        const Step &r = history[++done];
                        QVERIFY2(anchor == r.AnchorAfter && caret == r.CaretAfter,
                                 qPrintable(where + QStringLiteral(" redo selection %1 %2, expected %3 %4")
                                                        .arg(anchor).arg(caret).arg(r.AnchorAfter).arg(r.CaretAfter)));
                        s = r.After;
                    }
                } else if (kind < 96) {
                    store.SetModified(false);
                    clean = done;
                    run = TTextStore::NoMerge;
                } else {
                    kept.emplace_back(store.Snapshot(), s);
                }
            }
            QVERIFY2(store.IsModified() == (done != clean), qPrintable(where));
            QVERIFY2(store.CanUndo() == (done > 0) && store.CanRedo() == (done + 1 < history.size()), qPrintable(where));
            if (lines < 1000 || step % 5 == 0)
                QVERIFY2(saved() == Bytes(s, fallback, choice), qPrintable(where + QStringLiteral(": the bytes Save writes")));
            if (step % 5 == 0) Check(store, s, where);
        }
        Check(store, s, QStringLiteral("start %1 end").arg(start));
        // Every step there is, undone and redone once more: the bytes of each state.
        for (int a = 0, c = 0; store.Undo(a, c);) {
            QVERIFY2(saved() == Bytes(history[--done].After, fallback, choice), "undoing all");
        }
        for (int a = 0, c = 0; store.Redo(a, c);) {
            QVERIFY2(saved() == Bytes(history[++done].After, fallback, choice), "redoing all");
        }
        QCOMPARE(done + 1, history.size());
        // Every snapshot still holds the text of its moment.
        for (const auto &[snap, state] : kept) Check(snap, state, QStringLiteral("snapshot"));
    }

    // The steps of the faults found by hand, each one's bytes after undo and redo.
    void runsKeepTheFilesLineEnds_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QByteArray>("undone");
        // x LF y: Enter before y, then Delete twice after x, then undo.
        QTest::newRow("delete run over a typed and a file's break") << QByteArray("x\ny") << "E3 D1 D1 U" << QByteArray("x\n\ny");
        QTest::newRow("backspace run") << QByteArray("x\ny") << "E3 B5 B3 U" << QByteArray("x\n\ny");
        QTest::newRow("delete run, CR file") << QByteArray("x\ry\rz") << "E3 D1 D1 D1 U" << QByteArray("x\r\ry\rz");
        QTest::newRow("delete run then redo") << QByteArray("x\ny") << "E3 D1 D1 U R" << QByteArray("xy");
    }
    void runsKeepTheFilesLineEnds() {
        QFETCH(QByteArray, file);
        QFETCH(QString, keys);
        QFETCH(QByteArray, undone);
        TTextStore store;
        const LineEnd fallback = sourcetext::Load(&store, file);
        for (const QString &k : keys.split(QLatin1Char(' '))) {
            const int at = k.mid(1).toInt();
            int a = 0, c = 0;
            switch (k[0].unicode()) {
            case 'E': store.Replace(at, 0, QStringLiteral("\r\n"), at, at, at + 2, TTextStore::TypingRun); break;
            case 'D': {
                const int n = store.Slice(at, 2) == QLatin1String("\r\n") ? 2 : 1;
                store.Replace(at, n, QString(), at, at, at, TTextStore::DeleteRun);
                break;
            }
            case 'B': {
                const int n = store.Slice(at - 2, 2) == QLatin1String("\r\n") ? 2 : 1;
                store.Replace(at - n, n, QString(), at, at, at - n, TTextStore::BackspaceRun);
                break;
            }
            case 'U': QVERIFY(store.Undo(a, c)); break;
            case 'R': QVERIFY(store.Redo(a, c)); break;
            }
            if (k[0] == QLatin1Char('E')) store.BreakMerge();  // the caret moves away
        }
        QByteArray out;
        QVERIFY(sourcetext::Encode(&store, fallback, out, nullptr));
        QCOMPARE(out, undone);
    }

    // Where each part starts, against a plain list of sizes, through
    // replacements near each other and far apart.
    void partitionAgainstModel() {
        QRandomGenerator rng(21);
        textstore::TPartition p;
        std::vector<int> sizes{0};
        for (int step = 0; step < 3000; ++step) {
            const int k = rng.bounded(4) ? std::min(int(sizes.size()) - 1, int(rng.bounded(3)) + step % int(sizes.size()))
                                         : int(rng.bounded(int(sizes.size())));
            const int removed = std::min(int(sizes.size()) - k, int(rng.bounded(3)));
            std::vector<int> added(rng.bounded(3) + (removed == int(sizes.size()) ? 1 : 0));
            for (int &a : added) a = int(rng.bounded(50));
            p.Replace(k, removed, added);
            sizes.erase(sizes.begin() + k, sizes.begin() + k + removed);
            sizes.insert(sizes.begin() + k, added.begin(), added.end());
            QCOMPARE(p.Count(), int(sizes.size()));
            int at = 0;
            for (int i = 0; i < int(sizes.size()); ++i) {
                QVERIFY2(p.Start(i) == at, qPrintable(QStringLiteral("step %1 part %2").arg(step).arg(i)));
                at += sizes[size_t(i)];
            }
            QCOMPARE(p.End(), at);
            const int v = int(rng.bounded(at + 2)) - 1;
            int of = 0, before = 0;
            for (int i = 0, s = 0; i < int(sizes.size()); s += sizes[size_t(i)], ++i) {
                if (s <= v) of = i;
                if (s < v) before = i;
            }
            QCOMPARE(p.PartOf(v), of);
            QCOMPARE(p.PartBefore(v), before);
        }
    }

    // Typing anywhere, a lot, keeps the chunks large: no more of them than
    // twice a fresh load of the same text; so does deleting most of it.
    void chunksStayLarge() {
        auto chunks = [](const TText &t) {
            int n = 0;
            for (int at = 0; at < t.Length(); ++n) {
                int start = 0;
                const QStringView piece = t.PieceAt(at, &start);
                at = start + int(piece.size());
            }
            return n;
        };
        auto fresh = [&](const TTextStore &s) {
            TTextStore again;
            sourcetext::Load(&again, sjis::encodeLossy(s.Slice(0, s.Length())));
            return chunks(again);
        };
        QRandomGenerator rng(22);
        QByteArray file;
        while (file.size() < (1 << 19)) file += "int x = y; /* some words */\r\n";
        TTextStore store;
        sourcetext::Load(&store, file);
        const int loaded = chunks(store);
        for (int place = 0; place < 200; ++place) {
            int at = store.Snap(int(rng.bounded(store.Length() + 1)));
            for (int i = 0; i < 10; ++i, at += 10)  // 100 characters, ten at a time
                store.Replace(at, 0, QStringLiteral("keystrokes"), at, at, at + 10, TTextStore::TypingRun);
            store.BreakMerge();
        }
        QVERIFY2(chunks(store) <= 2 * loaded, qPrintable(QStringLiteral("%1 chunks, %2 loaded").arg(chunks(store)).arg(loaded)));
        // Deleting: runs of Delete here and there, until a tenth is left.
        while (store.Length() > (1 << 16)) {
            const int at = store.Snap(int(rng.bounded(store.Length())));
            const int n = std::min(store.Length() - at, 1 + int(rng.bounded(3000)));
            store.Replace(at, n, QString(), at, at, at);
        }
        QVERIFY2(chunks(store) <= 2 * fresh(store), qPrintable(QStringLiteral("%1 chunks, %2 fresh").arg(chunks(store)).arg(fresh(store))));
    }

    // Memory that runs out half way through a replace all leaves the
    // replacements made so far as one step, the rest of the text as it was,
    // and undo gives the whole text back: nothing is lost. (In a child
    // process with a limited address space; not under AddressSanitizer,
    // whose shadow memory such a limit refuses.)
    void memoryRunsOutHalfWay() {
#if QV_ADDRESS_SANITIZER
        QSKIP("AddressSanitizer needs more address space than the limit leaves");
#else
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            int code = 20;  // an exception that got out
            try {
                code = ReplaceAllInTooLittleMemory();
            } catch (...) {
            }
            ::_exit(code);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
#endif
    }

    // A load in pieces whose next() appends to the lists it is handed: each
    // piece keeps its own line ends, other codes and line starts, and Save
    // writes every break with the line end its piece gave it.
    void aLoadInPiecesThatAppends() {
        using textstore::CrLf;
        using textstore::Lf;
        using textstore::Cr;
        const QString two(kTwoCodes);
        const QStringList pieces{QStringLiteral("a\r\nbb\r\n"), two + QStringLiteral("\r\n"), QStringLiteral("d\r\n") + two + QStringLiteral("e")};
        const std::vector<std::vector<LineEnd>> ends{{Lf, Cr}, {CrLf}, {Cr}};
        const std::vector<textstore::OtherCodes> codes{{}, {{0, OtherCodeOfTwo()}}, {}};
        TTextStore store;
        size_t next = 0;
        store.Load([&](QString &text, std::vector<LineEnd> &e, textstore::OtherCodes &c, std::vector<int> &starts) {
            if (next == size_t(pieces.size())) return false;
            text = pieces[qsizetype(next)];
            e.insert(e.end(), ends[next].begin(), ends[next].end());
            c.insert(c.end(), codes[next].begin(), codes[next].end());
            for (qsizetype i = 0; i < text.size(); ++i)
                if (text[i] == QLatin1Char('\n')) starts.push_back(int(i + 1));
            ++next;
            return true;
        });
        const quint16 other = OtherCodeOfTwo();
        QByteArray usual;
        QVERIFY(sjis::encode(two, usual, nullptr));
        const QByteArray expected = QByteArray("a\nbb\r") + char(other >> 8) + char(other & 0xFF) + "\r\nd\r" + usual + "e";
        QByteArray out;
        QVERIFY(sourcetext::Encode(&store, CrLf, out, nullptr));
        QCOMPARE(out, expected);
        QCOMPARE(store.LineCount(), 5);
        for (int line = 0; line < 5; ++line) QCOMPARE(store.LineStart(line), QList<int>({0, 3, 7, 10, 13})[line]);
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

QV_TEST_GUILESS_MAIN(TestTextStore)
#include "tst_textstore.moc"
