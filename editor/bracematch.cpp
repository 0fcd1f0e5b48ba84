// The search for the bracket that pairs with the one beside the caret
// (bracematch.h). Calls the text alone; the view draws the marks
// (richpaint.cpp).
#include "bracematch.h"

#include <QStringView>
#include <algorithm>

namespace {

using TLex = TBraceMatch::TLex;

// The text's characters by position, a piece at a time; -1 outside the text.
struct TReader {
    const TText &T;
    const int Length;
    const QChar *Piece = nullptr;
    int Base = 0, End = 0;  // the positions Piece holds
    explicit TReader(const TText &t) : T(t), Length(t.Length()) {}
    int At(int i) {
        if (i >= Base && i < End) return Piece[i - Base].unicode();
        if (i < 0 || i >= Length) return -1;
        int start = 0;
        const QStringView v = T.PieceAt(i, &start);
        Piece = v.data();
        Base = start;
        End = start + int(v.size());
        return Piece[i - Base].unicode();
    }
};

// Scans from position i, in state s, to the first step that starts at or
// past `to` (or at the end of the text), and returns where that step starts;
// s gets the state there. Each bracket in code goes to found(position, ch);
// a true answer stops the scan at that bracket (*stopped set).
// Whether a character may do something in code: a bracket, a quote or a "/".
bool InCodeCounts(char16_t c) {
    return c < 128 && (c == '/' || c == '"' || c == '\'' || TBraceMatch::IsBracket(c));
}

template <class F>
int Scan(TReader &r, int i, int to, TLex &s, F &&found, bool *stopped = nullptr) {
    to = std::min(to, r.Length);
    while (i < to) {
        // First over the characters that change nothing in this state, in
        // the piece that holds i.
        r.At(i);
        const QChar *piece = r.Piece;
        const int base = r.Base, end = std::min(to, r.End);
        auto at = [&](int k) { return piece[k - base].unicode(); };
        switch (s) {
        case TLex::Code:
            while (i < end && !InCodeCounts(at(i))) ++i;
            break;
        case TLex::Block:
            while (i < end && at(i) != u'*') ++i;
            break;
        case TLex::Line:
            while (i < end && at(i) != u'\n') ++i;
            break;
        default: {
            const char16_t quote = s == TLex::String ? u'"' : u'\'';
            while (i < end && at(i) != quote && at(i) != u'\\' && at(i) != u'\r' && at(i) != u'\n') ++i;
        }
        }
        if (i >= end) continue;
        // Then the one that may.
        const int c = at(i);
        switch (s) {
        case TLex::Code:
            if (c == '/') {
                const int n = r.At(i + 1);
                if (n == '*' || n == '/') {
                    s = n == '*' ? TLex::Block : TLex::Line;
                    i += 2;
                    continue;
                }
            } else if (c == '"') {
                s = TLex::String;
            } else if (c == '\'') {
                s = TLex::Char;
            } else if (TBraceMatch::IsBracket(c) && found(i, c)) {
                if (stopped) *stopped = true;
                return i;
            }
            break;
        case TLex::Block:
            if (c == '*' && r.At(i + 1) == '/') {
                s = TLex::Code;
                i += 2;
                continue;
            }
            break;
        case TLex::Line:
            if (c == '\n') s = TLex::Code;
            break;
        default:  // a literal
            if (c == '\r' || c == '\n') {
                s = TLex::Code;
            } else if (c == '\\') {
                const int n = r.At(i + 1);
                if (n >= 0 && n != '\r' && n != '\n') {
                    i += 2;
                    continue;
                }
            } else if (c == (s == TLex::String ? '"' : '\'')) {
                s = TLex::Code;
            }
            break;
        }
        ++i;
    }
    return i;
}

int OpeningOf(int c) { return c == ')' ? '(' : c == ']' ? '[' : c == '}' ? '{' : c; }
int ClosingOf(int c) { return c == '(' ? ')' : c == '[' ? ']' : c == '{' ? '}' : c; }

}  // namespace

int TBraceMatch::Last(int position) const {
    const auto it = std::upper_bound(Marks.begin(), Marks.end(), position,
                                     [](int p, const TMark &m) { return p < m.Position; });
    return int(it - Marks.begin()) - 1;
}

void TBraceMatch::Edited(const TEditList &edits) {
    if (edits.empty()) return;
    // A mark's state depends on the characters before it and on the one at it.
    const int from = std::max(1, edits.front().Position);
    Marks.erase(std::upper_bound(Marks.begin(), Marks.end(), from - 1,
                                 [](int p, const TMark &m) { return p < m.Position; }),
                Marks.end());
}

bool TBraceMatch::Reach(int position, int *budget) {
    TReader r(*Text);
    while (Marks.back().Position + Stride <= position && Marks.back().Position < r.Length) {
        if (*budget <= 0) return false;
        TLex s = Marks.back().State;
        const int from = Marks.back().Position;
        const int at = Scan(r, from, from + Stride, s, [](int, int) { return false; });
        *budget -= at - from;
        Marks.push_back({at, s});
    }
    return true;
}

bool TBraceMatch::InCode(int position) {
    TReader r(*Text);
    const TMark &m = Marks[size_t(Last(position))];
    TLex s = m.State;
    return Scan(r, m.Position, position, s, [](int, int) { return false; }) == position && s == TLex::Code;
}

int TBraceMatch::Partner(int position) {
    TReader r(*Text);
    const int c = r.At(position);
    const int open = OpeningOf(c), close = ClosingOf(c);
    int depth = 0;
    if (c == open) {
        // Forward, from code just after it.
        TLex s = TLex::Code;
        bool stopped = false;
        const int end = int(std::min<qint64>(r.Length, qint64(position) + 1 + Budget));
        const int at = Scan(r, position + 1, end, s, [&](int, int ch) {
            if (ch == open) ++depth;
            else if (ch == close && depth-- == 0) return true;
            return false;
        }, &stopped);
        if (stopped) return at;
        return end < r.Length ? -2 : -1;
    }
    // Backward, a stretch between two marks at a time, each scanned forward.
    int end = position;
    int read = 0;
    for (int k = Last(position - 1); k >= 0; --k) {
        const TMark &m = Marks[size_t(k)];
        TLex s = m.State;
        Found.clear();
        Scan(r, m.Position, end, s, [&](int p, int ch) {
            if (ch == open || ch == close) Found.push_back(p);
            return false;
        });
        for (auto it = Found.rbegin(); it != Found.rend(); ++it) {
            if (r.At(*it) == close) ++depth;
            else if (depth-- == 0) return *it;
        }
        read += end - m.Position;
        end = m.Position;
        if (read >= Budget && k > 0) return -2;
    }
    return -1;
}

TBraceMatch::TOutcome TBraceMatch::Find(int caret, TBraceMarks &marks) {
    marks = TBraceMarks();
    TReader r(*Text);
    int candidates[2];
    int n = 0;
    if (caret > 0 && IsBracket(r.At(caret - 1))) candidates[n++] = caret - 1;
    if (caret >= 0 && caret < r.Length && IsBracket(r.At(caret))) candidates[n++] = caret;
    if (n == 0) return Known;
    int budget = Budget;
    if (!Reach(candidates[n - 1], &budget)) return Later;
    for (int i = 0; i < n; ++i) {
        if (!InCode(candidates[i])) continue;
        const int partner = Partner(candidates[i]);
        if (partner != -2) marks = {candidates[i], partner};
        return Known;
    }
    return Known;
}
