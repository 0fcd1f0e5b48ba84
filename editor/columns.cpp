#include "columns.h"

#include <algorithm>

#include "sjis.h"

namespace {

constexpr int kTab = 8;
constexpr int kLong = 4096;   // lines this long and longer keep marks
constexpr int kMark = 2048;   // characters between two marks
constexpr int kWindow = 8192; // characters read at a time
constexpr size_t kLines = 4;  // long lines kept

// Columns a BMP character takes: two for what Shift-JIS writes with two
// bytes and for other wide characters, one for the rest.
const std::uint8_t *WidthTable() {
    static const std::vector<std::uint8_t> table = [] {
        std::vector<std::uint8_t> t(0x10000, 1);
        for (char32_t c = 0x80; c < 0x10000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const quint16 code = sjis::usualCode(c);
            if (code > 0xFF) {
                t[c] = 2;
            } else if (code == 0) {
                const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
                                  (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                                  (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                                  (c >= 0xFFE0 && c <= 0xFFE6);
                t[c] = wide ? 2 : 1;
            }
        }
        return t;
    }();
    return table.data();
}

}  // namespace

int columns::WidthOf(char32_t c) {
    if (c < 0x10000) return WidthTable()[c];
    return (c >= 0x1F300 && c <= 0x1FAFF) || (c >= 0x20000 && c <= 0x3FFFD) ? 2 : 1;
}

int columns::Step(const QChar *p, int i, int n, int col, int *units) {
    const char16_t c = p[i].unicode();
    *units = 1;
    if (c < 0x80) return c == u'\t' ? (col / kTab + 1) * kTab : col + 1;
    if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1].unicode())) {
        *units = 2;
        return col + WidthOf(QChar::surrogateToUcs4(c, p[i + 1].unicode()));
    }
    return col + WidthTable()[c];
}

int TColumns::Walk(int from, int to, int col, bool *tab) const {
    QString buffer;
    while (from < to) {
        const int count = std::min(kWindow, to - from);
        buffer = Text->Slice(from, count + 1);  // one more: the second half of a pair at the end
        const QChar *p = buffer.constData();
        const int n = int(buffer.size());
        int i = 0;
        while (i < count) {
            int units = 1;
            if (tab && p[i].unicode() == u'\t') *tab = true;
            col = columns::Step(p, i, n, col, &units);
            i += units;
        }
        from += i;
    }
    return col;
}

TColumns::Line *TColumns::Find(int number) {
    const int length = Text->LineLength(number);
    if (length < kLong) return nullptr;
    for (Line &l : Lines)
        if (l.Number == number) {
            l.Used = ++Clock;
            return &l;
        }
    // The marks of the whole line, in one walk.
    Line l;
    l.Number = number;
    l.Start = Text->LineStart(number);
    l.Length = length;
    l.Used = ++Clock;
    l.Marks.push_back({0, 0, false});
    QString buffer;
    int at = 0, col = 0, next = kMark;
    bool tab = false;
    while (at < length) {
        const int count = std::min(kWindow, length - at);
        buffer = Text->Slice(l.Start + at, count + 1);
        const QChar *p = buffer.constData();
        const int n = int(buffer.size());
        int i = 0;
        while (i < count) {
            int units = 1;
            tab = tab || p[i].unicode() == u'\t';
            col = columns::Step(p, i, n, col, &units);
            i += units;
            if (at + i >= next && at + i < length) {
                l.Marks.push_back({at + i, col, tab});
                tab = false;
                next = at + i + kMark;
            }
        }
        at += i;
    }
    l.Marks.push_back({length, col, tab});
    if (Lines.size() >= kLines)
        Lines.erase(std::min_element(Lines.begin(), Lines.end(), [](const Line &a, const Line &b) { return a.Used < b.Used; }));
    Lines.push_back(std::move(l));
    return &Lines.back();
}

int TColumns::ColumnOf(int position) {
    position = std::clamp(position, 0, Text->Length());
    const int number = Text->LineOf(position);
    if (Line *l = Find(number)) {
        const int offset = position - l->Start;
        const auto m = std::upper_bound(l->Marks.begin(), l->Marks.end(), offset,
                                        [](int o, const Mark &x) { return o < x.Offset; }) - 1;
        return Walk(l->Start + m->Offset, position, m->Column);
    }
    return Walk(Text->LineStart(number), position, 0);
}

int TColumns::StartAt(int number, int column, int *startColumn) {
    int at = Text->LineStart(number), col = 0;
    const int end = Text->LineEnd(number);
    if (Line *l = Find(number)) {
        const auto m = std::upper_bound(l->Marks.begin(), l->Marks.end(), column,
                                        [](int c, const Mark &x) { return c < x.Column; }) - 1;
        at = l->Start + m->Offset;
        col = m->Column;
    }
    QString buffer;
    while (at < end) {
        const int count = std::min(kWindow, end - at);
        buffer = Text->Slice(at, count + 1);
        const QChar *p = buffer.constData();
        const int n = int(buffer.size());
        int i = 0;
        while (i < count) {
            int units = 1;
            const int next = columns::Step(p, i, n, col, &units);
            if (next > column) {
                *startColumn = col;
                return at + i;
            }
            col = next;
            i += units;
        }
        at += i;
    }
    *startColumn = col;
    return end;
}

int TColumns::PositionAt(int number, qreal column) {
    int col = 0;
    int at = StartAt(number, std::max(0, int(column)), &col);
    const int end = Text->LineEnd(number);
    // The character that starts at or before the column, or the one after it.
    QString buffer = Text->Slice(at, 3);
    const QChar *p = buffer.constData();
    int units = 1;
    const int n = int(buffer.size());
    if (at < end && n > 0) {
        const int next = columns::Step(p, 0, n, col, &units);
        if (next > col && column >= (col + next) / 2.0) at += units;
    }
    return std::min(at, end);
}

bool TColumns::Update(Line &l, const TEdit &e, int position) {
    const int off = position - l.Start;
    const int removed = e.Removed, added = e.Added;
    std::vector<Mark> &marks = l.Marks;
    // The last mark at or before the edit; the first one at or after its end.
    const size_t m0 = size_t(std::upper_bound(marks.begin(), marks.end(), off,
                                              [](int o, const Mark &x) { return o < x.Offset; }) - marks.begin()) - 1;
    size_t m1 = m0 + 1;
    while (m1 < marks.size() && marks[m1].Offset < off + removed) ++m1;
    if (m1 >= marks.size()) return false;
    marks.erase(marks.begin() + std::ptrdiff_t(m0 + 1), marks.begin() + std::ptrdiff_t(m1));
    m1 = m0 + 1;
    const int delta = added - removed;
    for (size_t j = m1; j < marks.size(); ++j) marks[j].Offset += delta;
    if (marks[m1].Offset - marks[m0].Offset > 4 * kMark) return false;  // a long stretch pasted: marks anew
    l.Length += delta;
    // The first mark after the edit, walked to; the ones after it move by
    // the same number of columns up to the first tab, which takes in any
    // shift that is not a multiple of 8.
    bool tab = false;
    const int col = Walk(l.Start + marks[m0].Offset, l.Start + marks[m1].Offset, marks[m0].Column, &tab);
    int shift = col - marks[m1].Column;
    marks[m1].Column = col;
    marks[m1].TabBefore = tab;
    for (size_t j = m1 + 1; j < marks.size() && shift != 0; ++j) {
        if (shift % kTab != 0 && marks[j].TabBefore) {
            const int now = Walk(l.Start + marks[j - 1].Offset, l.Start + marks[j].Offset, marks[j - 1].Column);
            shift = now - marks[j].Column;
            marks[j].Column = now;
        } else {
            marks[j].Column += shift;
        }
    }
    return true;
}

void TColumns::Edited(const TEditList &edits) {
    if (Lines.empty()) return;
    std::vector<Line> kept;
    for (Line &l : Lines) {
        bool keep = true;
        int shift = 0;          // of the edits before the one looked at
        const TEdit *inside = nullptr;
        int insideAt = 0;
        for (const TEdit &e : edits) {
            const int at = e.Position + shift;  // where the edit is in the text as the ones before left it
            if (at + e.Removed <= l.Start - 2) {
                l.Start += e.Added - e.Removed;
            } else if (at > l.Start + l.Length) {
                break;
            } else if (at >= l.Start && at + e.Removed <= l.Start + l.Length && !inside) {
                inside = &e;
                insideAt = at;
            } else {
                keep = false;
                break;
            }
            shift += e.Added - e.Removed;
        }
        if (!keep) continue;
        if (inside) {
            // An edit inside the line that put in no line break.
            if (Text->Slice(insideAt, inside->Added).contains(QLatin1Char('\n'))) continue;
            if (!Update(l, *inside, insideAt)) continue;
        }
        l.Number = Text->LineOf(l.Start);
        if (Text->LineStart(l.Number) != l.Start || Text->LineLength(l.Number) != l.Length) continue;
        kept.push_back(std::move(l));
    }
    Lines = std::move(kept);
}
