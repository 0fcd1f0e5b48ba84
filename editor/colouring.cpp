// The colouring of a text control: ColourRange, ColourAt and PaintColour.
// Calls the rules (colourrules.h), the control's colour store
// (colourstore.h) and the control itself (richedit.h, textpos.h) for its
// text and selection; nothing calls back into it from below.
#include "colouring.h"

#include <algorithm>

#include "colourstore.h"
#include "richedit.h"
#include "textpos.h"

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
