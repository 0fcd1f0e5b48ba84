#include "colouring.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "colourstore.h"
#include "richedit.h"
#include "textpos.h"

namespace colouring {
namespace {

constexpr int kNone = -1;  // no character: past the end of T

// T as the scan reads it from the store: the character at a 1-based index
// (kNone outside the text), and the characters of a word.
struct StoreSource {
    const TText &T;
    int Length;
    mutable QStringView Piece;
    mutable int PieceBase = 1;  // index of Piece[0]
    StoreSource(const TText &t) : T(t), Length(t.Length()) {}
    int At(int i) const {
        const int off = i - PieceBase;
        if (off >= 0 && off < Piece.size()) return Piece[off].unicode();
        if (i < 1 || i > Length) return kNone;
        int start = 0;
        Piece = T.PieceAt(i - 1, &start);
        PieceBase = start + 1;
        return Piece[i - PieceBase].unicode();
    }
    mutable QString Buffer;
    QStringView Word(int start, int end) const {
        if (end - start > 11) return {};  // longer than any keyword
        const int off = start - PieceBase;
        if (off >= 0 && off + (end - start) <= Piece.size()) return Piece.mid(off, end - start);
        Buffer = T.Slice(start - 1, end - start);
        return Buffer;
    }
};

bool IsDelimiter(int c) {
    // Blank, tab, CR, LF, "(", ")", ";" and ":": all at or below ";".
    return c <= ';' && (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '(' || c == ')' || c == ';' || c == ':');
}

// The scan over T[first .. last], handing each run to sink(run). At each
// index i where the scan stands outside a comment and a word, stop(i, T[i - 1])
// may end it early (stopped gets i; past the range: last + 1).
template <class Source, class Sink, class Stop>
void ScanRuns(const Source &src, int textLength, int first, int last, Sink &&sink, Stop &&stop, int *stopped = nullptr) {
    if (stopped) *stopped = last + 1;
    auto at = [&](int i) -> int { return src.At(i); };
    auto isDelim = IsDelimiter;
    bool pending = false;
    int wordStart = 0;
    auto colourWord = [&](int end) {  // the pending word is T[wordStart .. end - 1]
        const QStringView word = src.Word(wordStart, end);
        sink(Run{wordStart - 1, end - wordStart, IsKeyword(word) ? BlueRun : BlackRun});
        pending = false;
    };
    int i = first;
    while (i <= last) {
        if (!pending && i > first && stop(i, at(i - 1))) {
            if (stopped) *stopped = i;
            return;
        }
        const int c = at(i);
        const int next = c == '/' ? at(i + 1) : kNone;
        if (c == '/' && next == '*') {
            pending = false;
            int k = i + 2;
            while (k <= last + 1 && !(at(k) == '*' && at(k + 1) == '/')) ++k;
            if (k <= last + 1) {
                sink(Run{i - 1, k + 2 - i, GreenRun});
                i = k + 2;
                continue;
            }
            sink(Run{i - 1, last - i + 1, GreenRun});
            return;
        }
        if (c == '/' && next == '/') {
            pending = false;
            int k = i + 2;
            while (k <= last + 1 && at(k) != '\n') ++k;
            if (k <= last + 1) {
                sink(Run{i - 1, k - i + 1, GreenRun});
                i = k;  // the LF is looked at again, as a delimiter
                continue;
            }
            const int end = std::min(last + 1, textLength);
            sink(Run{i - 1, end - i + 1, GreenRun});
            return;
        }
        if (isDelim(c)) {
            const bool closed = pending;
            if (pending) colourWord(i);
            // A CR that closed a word passes over the character after it too.
            i += (closed && c == '\r') ? 2 : 1;
            continue;
        }
        if (!pending) {
            pending = true;
            wordStart = i;
        }
        ++i;
    }
    // A word still pending at the end of the range keeps its colours.
}

}  // namespace

const std::vector<QString> &Keywords() {
    static const std::vector<QString> table = {
        // preprocessor
        QStringLiteral("#include"), QStringLiteral("#if"), QStringLiteral("#ifdef"), QStringLiteral("#ifndef"),
        QStringLiteral("#elif"), QStringLiteral("#else"), QStringLiteral("#endif"), QStringLiteral("#define"),
        QStringLiteral("#undef"), QStringLiteral("#line"), QStringLiteral("#pragma"),
        // storage
        QStringLiteral("typedef"), QStringLiteral("static"), QStringLiteral("extern"), QStringLiteral("const"),
        QStringLiteral("register"), QStringLiteral("auto"), QStringLiteral("far"), QStringLiteral("near"),
        // types
        QStringLiteral("void"), QStringLiteral("char"), QStringLiteral("int"), QStringLiteral("short"),
        QStringLiteral("long"), QStringLiteral("float"), QStringLiteral("double"), QStringLiteral("struct"),
        QStringLiteral("union"), QStringLiteral("enum"), QStringLiteral("unsigned"), QStringLiteral("signed"),
        // statements
        QStringLiteral("if"), QStringLiteral("else"), QStringLiteral("for"), QStringLiteral("do"),
        QStringLiteral("while"), QStringLiteral("switch"), QStringLiteral("case"), QStringLiteral("default"),
        QStringLiteral("break"), QStringLiteral("continue"), QStringLiteral("return"), QStringLiteral("sizeof"),
        // compiler extensions
        QStringLiteral("_asm_inline"), QStringLiteral("new"), QStringLiteral("delete"),
    };
    return table;
}

bool IsKeyword(QStringView word) {
    // The table by length, and which characters begin an entry of each
    // length: most words are no keyword and are turned away by that alone.
    struct Table {
        std::vector<std::u16string> byLength[12];
        quint64 starts[12][2] = {};
    };
    static const Table table = [] {
        Table t;
        for (const QString &k : Keywords()) {
            const size_t n = size_t(k.size());
            t.byLength[n].emplace_back(reinterpret_cast<const char16_t *>(k.utf16()), n);
            const ushort c = k[0].unicode();
            t.starts[n][c / 64] |= quint64(1) << (c % 64);
        }
        return t;
    }();
    const qsizetype n = word.size();
    if (n < 2 || n > 11) return false;
    const ushort c = word[0].unicode();
    if (c >= 128 || !(table.starts[n][c / 64] & (quint64(1) << (c % 64)))) return false;
    for (const std::u16string &k : table.byLength[n])
        if (std::memcmp(k.data(), word.data(), size_t(n) * sizeof(char16_t)) == 0) return true;
    return false;
}

void LineRange(const TText &text, int line, int &first, int &last) {
    const int start = text.LineStart(line);
    first = line == 0 ? 1 : start;
    last = line + 1 < text.LineCount() ? text.LineEnd(line) + 1 : text.Length();
}

}  // namespace colouring

int colouring::ColourSlice(TColourStore *store, int first, int stopAfter) {
    const TTextStore *text = store->Text();
    const int length = text->Length();
    int stopped = length + 1;
    int changedFirst = -1, changedEnd = -1;
    // The text after the slice has no colours yet: its black words need nothing.
    ScanRuns(
        StoreSource(*text), length, first, length,
        [&](const Run &r) {
            if (r.colour == BlackRun) return;
            store->Fill(r.start, r.start + r.length, r.colour == GreenRun ? TColourStore::Green : TColourStore::Blue);
            if (changedFirst < 0) changedFirst = r.start;
            changedEnd = std::max(changedEnd, r.start + r.length);
        },
        // Just past a line break, outside a comment and a word, the scan may
        // stop and go on later from here with the same result.
        [&](int i, int before) { return i > stopAfter && before == '\n'; }, &stopped);
    if (changedFirst >= 0) store->Notify(changedFirst, changedEnd);
    return stopped;
}

namespace colouring {
namespace {

using Spans = std::vector<std::pair<int, int>>;

// The comment run of spans that holds position, or none.
const std::pair<int, int> *SpanAt(const Spans &spans, int position) {
    auto it = std::upper_bound(spans.begin(), spans.end(), position,
                               [](int p, const std::pair<int, int> &s) { return p < s.first; });
    if (it == spans.begin()) return nullptr;
    --it;
    return position < it->second ? &*it : nullptr;
}

// Colours T[first .. last] (1-based) from `from` on, handing each run to fill
// and each comment run to spans; the scan may end at stop.
template <class Fill, class Stop>
int Scan(const TTextStore *text, int from, int last, Spans &spans, Fill &&fill, Stop &&stop) {
    int stopped = last + 1;
    ScanRuns(StoreSource(*text), text->Length(), from, last, [&](const Run &r) {
        if (r.colour == GreenRun) spans.push_back({r.start, r.start + r.length});
        fill(r);
    }, stop, &stopped);
    return stopped;
}

}  // namespace
}  // namespace colouring

void ColourRange(TRichEdit *control, int first, int last) {
    using namespace colouring;
    if (!control) return;
    TTextStore *text = control->Text();
    TColourStore *store = control->Colours();
    // After the whole text's colours as far as the range goes.
    store->CatchUp(std::min(last, text->Length()));
    const int length = text->Length();
    const int p0 = SelStart(control);
    first = std::max(first, 1);
    last = std::min(last, length);
    if (first <= last) {
        int changedFirst = -1, changedEnd = -1;
        // Text that has no colours yet shows black already (the whole text
        // after a load): its black words need nothing.
        const bool blank = store->Blank();
        auto fill = [&](const Run &r) {
            if (blank && r.colour == BlackRun) return;
            const int a = r.start, b = r.start + r.length;
            store->Fill(a, b, r.colour == GreenRun ? TColourStore::Green
                              : r.colour == BlueRun ? TColourStore::Blue
                                                    : TColourStore::Default);
            if (a >= b) return;
            if (changedFirst < 0) changedFirst = a;
            changedEnd = std::max(changedEnd, b);
        };
        TColourStore::TLineScan &line = store->Scanned;
        const TColourStore::TLineScan::TWriting writing(line);
        if (line.First == first - 1 && line.Last == last - 1 && line.EditFrom < 0) {
            // The line as its last colouring left it: the same result again.
        } else if (line.First == first - 1 && line.Last == last - 1) {
            // The line was coloured whole, then edited in one stretch: the
            // scan goes again from a point before the stretch where it stood
            // outside a comment and a word, and ends where, past the stretch,
            // it stands as the last one did; its colours from there on stand.
            const int d0 = line.EditFrom, d1 = line.EditTo;
            Spans &spans = line.Comments;
            const std::pair<int, int> *inside = SpanAt(spans, d0 - 1);
            const bool block = inside && text->At(inside->first + 1) == QLatin1Char('*');
            const QString around = text->Slice(d0 - 1, d1 - d0 + 2);
            if (inside && inside->first + 2 <= d0 - 1 && (block ? d1 + 2 <= inside->second && !around.contains(QLatin1String("*/"))
                                                               : true)) {
                // Inside a comment, away from its ends, nothing that ends
                // one: what was typed took the comment's colour.
            } else {
                // A delimiter outside every comment, before the stretch (and
                // before a comment it lies in, whose start may have ended a
                // word that it no longer ends).
                int from = -1;
                const int before = inside ? inside->first - 1 : d0 - 1;
                for (int q = before; q >= first - 1 && q > before - 65536; --q)
                    if (IsDelimiter(text->At(q).unicode()) && !SpanAt(spans, q)) {
                        from = q;
                        break;
                    }
                if (from < 0) from = first - 1;
                Spans found;
                // Index i stands just after T[i - 1], at 0-based position i - 2.
                const int stopped = Scan(text, from + 1, last, found, fill, [&](int i, int before) {
                    return i - 2 >= d1 && IsDelimiter(before) && !SpanAt(spans, i - 2);
                });
                // The comments: those before the new scan, those it found,
                // and those after where it stopped.
                // (In place: the runs are in order and do not overlap, so those
                // replaced are one stretch of them.)
                const auto keptBefore = std::partition_point(spans.begin(), spans.end(),
                                                             [&](const std::pair<int, int> &c) { return c.second <= from; });
                const int after = std::max(stopped - 1, d1);
                const auto keptAfter = std::partition_point(keptBefore, spans.end(),
                                                            [&](const std::pair<int, int> &c) { return c.first < after; });
                const auto at = spans.erase(keptBefore, keptAfter);
                spans.insert(at, found.begin(), found.end());
            }
            line.EditFrom = line.EditTo = -1;
        } else {
            Spans found;
            Scan(text, first, last, found, fill, [](int, int) { return false; });
            // A range of one line is kept for the next colouring of that line.
            const int lineOfFirst = text->LineOf(first == 1 ? 0 : first);
            if (text->LineOf(last - 1) == lineOfFirst && (first == 1 || text->At(first - 1) == QLatin1Char('\n')))
                line.Keep(first - 1, last - 1, text->LineStart(lineOfFirst), text->LineEnd(lineOfFirst), std::move(found));
            else
                line.Drop();
        }
        if (changedFirst >= 0) store->Notify(changedFirst, changedEnd);
    }
    if (control->HasSelection() || control->Caret() != p0) SetSelection(control, p0, 0);
}

QColor ColourAt(const TRichEdit *control, int position) {
    if (position < 0 || position >= TextLength(control)) return QColor();
    TColourStore *store = control->Colours();
    store->CatchUp(position + 1);
    const QColor c = store->ColourOf(store->At(position));
    return c.isValid() ? c : control->palette().color(QPalette::Text);
}

void PaintColour(TRichEdit *control, int start, int length, const QColor &colour) {
    TColourStore *store = control->Colours();
    const int total = TextLength(control);
    store->CatchUp(std::min(total, start + std::max(length, 0)));
    start = std::clamp(start, 0, total);
    length = std::clamp(length, 0, total - start);
    if (length == 0) return;
    store->Fill(start, start + length, store->CodeOf(colour));
    store->Notify(start, start + length);
}
