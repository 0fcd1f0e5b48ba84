// The indentation rules (indent.h). Calls the text alone; the view's Tab
// and Shift+Tab on lines are in richinput.cpp.
#include "indent.h"

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
