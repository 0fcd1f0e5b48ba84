#pragma once
// Where the characters of a line stand on the editor's grid of half-width
// columns: a character that Shift-JIS writes with two bytes (and any other
// wide character) takes two columns, a tab runs to the next multiple of 8
// columns, every other character one column, the second half of a surrogate
// pair none.
//
// A short line is walked from its start each time. A long line keeps marks,
// every few thousand characters, of the column where they stand; a question
// walks from the nearest mark, and an edit inside the line moves the marks
// after it along (a tab after the edit takes in any shift that is not a
// multiple of 8), so the caret's column, the blink and a keystroke cost
// nothing in proportion to the line's length. Only the view's own lines are
// kept: a few of them, the last asked for.
//
// Reads the text store; called on the GUI thread.

#include <QtGlobal>
#include <vector>

#include "textstore.h"

namespace columns {

// The column after the character at p[i] (i < n) that starts at column col;
// units gets the code units it takes (2 for a surrogate pair, else 1).
int Step(const QChar *p, int i, int n, int col, int *units);
// The width of a whole code point (1 or 2).
int WidthOf(char32_t c);

// A position never falls inside a surrogate pair: true where it stands
// between the two halves of one.
inline bool InsidePair(const TText &t, int position) {
    return position > 0 && position < t.Length() && QChar::isLowSurrogate(t.At(position).unicode()) &&
           QChar::isHighSurrogate(t.At(position - 1).unicode());
}

}  // namespace columns

class TColumns {
public:
    explicit TColumns(const TText *text) : Text(text) {}

    // Column of position within its line.
    int ColumnOf(int position);
    // The position of line nearest to a column: the first character whose
    // middle lies past it (the line's end past the last).
    int PositionAt(int line, qreal column);
    // The last character of line that starts at or before column, and the
    // column it starts at: where a painter can start walking.
    int StartAt(int line, int column, int *startColumn);

    // The text changed by edits (positions in the text before them); called
    // before any question about the new text.
    void Edited(const TEditList &edits);

private:
    struct Mark {
        int Offset;     // from the line's start, at a character's start
        int Column;     // where that character starts
        bool TabBefore; // a tab lies between the mark before and this one
    };
    struct Line {
        int Number = -1;
        int Start = 0;
        int Length = 0;
        std::vector<Mark> Marks;  // the first at offset 0; the last at the line's end
        unsigned Used = 0;
    };
    Line *Find(int line);
    // Walks T[from, to), which starts at column col; the column at its end.
    int Walk(int from, int to, int col, bool *tab = nullptr) const;
    bool Update(Line &l, const TEdit &e, int shift);

    const TText *Text;
    std::vector<Line> Lines;  // the long lines known
    unsigned Clock = 0;
};
