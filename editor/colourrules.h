#pragma once
// The C keyword and comment colouring rules, over a text alone: no control,
// no colour store. What the rules find comes out as runs of one colour; the
// colour store (colourstore.h) and the control's colouring (colouring.h)
// write them where they belong.
//
// Words of C keywords and preprocessor keywords turn blue, comments green, other
// words black; the delimiters (blank, tab, CR, LF, "(", ")", ";", ":") keep the
// colour they had. The pass looks at the characters of its range alone: no
// parser, no string literals, nothing kept between runs.
//
// Indexes of T are 1-based here (index i is position i - 1), runs 0-based.

#include <QColor>
#include <QString>
#include <QStringView>
#include <algorithm>
#include <vector>

#include "textstore.h"

namespace colouring {

inline QColor Black() { return QColor(0, 0, 0); }

enum Colour : unsigned char { BlackRun, GreenRun, BlueRun };

// One coloured run: T[start .. start + length - 1], 0-based.
struct Run {
    int start;
    int length;
    Colour colour;
};

// The 46 keywords, in table order.
const std::vector<QString> &Keywords();
bool IsKeyword(QStringView word);

// The whole text's colouring (the colouring of all of T on a text that has no
// colours yet) from the 1-based index first on, as far as the first line
// break past stopAfter: each green and blue run goes to take(run), in the
// order of the text (the black words of a text without colours need
// nothing). Returns the index where it stopped (past the end: done); a slice
// that goes on from there gives what one pass over the whole text gives.
template <class Take>
int ColourSlice(const TText &text, int first, int stopAfter, Take &&take);

// The range that colours one line as typing on it does (1-based, for
// ColourRange): from the LF before it (or the start of T) to its CR (or the
// end of T).
void LineRange(const TText &text, int line, int &first, int &last);

// ---- The scan itself, for the colourings built on it: a template, so that
// what each caller does with a run and where it may stop cost no call per
// character or run.

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

inline bool IsDelimiter(int c) {
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

template <class Take>
int ColourSlice(const TText &text, int first, int stopAfter, Take &&take) {
    const int length = text.Length();
    int stopped = length + 1;
    // The text after the slice has no colours yet: its black words need nothing.
    ScanRuns(
        StoreSource(text), length, first, length,
        [&](const Run &r) {
            if (r.colour != BlackRun) take(r);
        },
        // Just past a line break, outside a comment and a word, the scan may
        // stop and go on later from here with the same result.
        [&](int i, int before) { return i > stopAfter && before == '\n'; }, &stopped);
    return stopped;
}

}  // namespace colouring
