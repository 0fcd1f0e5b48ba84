#include "indent.h"

#include <QApplication>

#include "richedit.h"

namespace indent {

QString Carried(const TText &text, int position) {
    const int start = text.LineStart(text.LineOf(position));
    int p = start;
    while (p < position) {
        const QChar c = text.At(p);
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t')) break;
        ++p;
    }
    return text.Slice(start, p - start);
}

bool TakesLines(const TText &text, int start, int end) {
    if (start >= end) return false;
    const int line = text.LineOf(start);
    if (text.LineOf(end) != line) return true;
    return start == text.LineStart(line) && end == text.LineEnd(line);
}

void Touched(const TText &text, int start, int end, int *first, int *last) {
    *first = text.LineOf(start);
    *last = text.LineOf(end);
    if (*last > *first && end == text.LineStart(*last)) --*last;
}

std::vector<TTextStore::Replacement> Shift(const TText &text, int first, int last, bool out) {
    std::vector<TTextStore::Replacement> edits;
    for (int line = first; line <= last; ++line) {
        const int start = text.LineStart(line), length = text.LineLength(line);
        if (!out) {
            if (length > 0) edits.push_back({start, 0, QStringLiteral("\t")});
            continue;
        }
        int n = 0;
        if (length > 0 && text.At(start) == QLatin1Char('\t')) {
            n = 1;
        } else {
            while (n < kTabWidth && n < length && text.At(start + n) == QLatin1Char(' ')) ++n;
            if (n > 0 && n < kTabWidth && n < length && text.At(start + n) == QLatin1Char('\t')) ++n;
        }
        if (n > 0) edits.push_back({start, n, QString()});
    }
    return edits;
}

}  // namespace indent

// ---- The view's keys -----------------------------------------------------------------

void TRichEdit::ShiftLines(bool out) {
    if (ReadOnly) return;
    const int start = SelectionStart(), end = SelectionEnd();
    const bool lines = indent::TakesLines(*Store, start, end);
    int first = 0, last = 0;
    indent::Touched(*Store, start, end, &first, &last);
    std::vector<TTextStore::Replacement> edits = indent::Shift(*Store, first, last, out);
    int delta = 0;
    TEditList moves;
    for (const TTextStore::Replacement &r : edits) {
        delta += int(r.Text.size()) - r.Removed;
        moves.push_back({r.Position, r.Removed, int(r.Text.size())});
    }
    int anchor = 0, caret = 0;
    if (lines) {
        // The same lines, whole, the caret at the end it was at.
        const int a = Store->LineStart(first);
        const int b = (last + 1 < Store->LineCount() ? Store->LineStart(last + 1) : Store->Length()) + delta;
        anchor = CaretPos < AnchorPos ? b : a;
        caret = CaretPos < AnchorPos ? a : b;
    } else {
        // Blanks taken away from the caret's line: the selection moves with its text.
        anchor = textstore::MovedBy(moves, AnchorPos);
        caret = textstore::MovedBy(moves, CaretPos);
    }
    if (!edits.empty()) {
        PendingAnchor = anchor;
        PendingCaret = caret;
        struct Done {
            int &Anchor, &Caret;
            ~Done() { Anchor = Caret = -1; }
        } done{PendingAnchor, PendingCaret};
        if (!Store->ReplaceMany(std::move(edits), AnchorPos, CaretPos, anchor, caret)) QApplication::beep();
    }
    SetSelection(anchor, caret);
    ensureCursorVisible();
}
