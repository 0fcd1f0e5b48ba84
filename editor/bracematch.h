#pragma once
// The bracket that pairs with the one beside the caret: "(" with ")", "["
// with "]", "{" with "}", counting brackets of that kind alone. Brackets in
// comments and in string and character literals count for nothing:
// - a comment is what the colouring takes for one: "/*" to the next "*/"
//   (the "*" of the opening closes nothing), "//" to the end of its line;
// - a literal runs from a '"' or a "'" to the next one of its kind that no
//   backslash escapes, or to the end of its line;
// - a comment's opening inside a literal, and a quote inside a comment, open
//   nothing.
//
// What lies before a position is known from marks of the scan's state, one
// every few thousand characters, kept until an edit before them: a question
// reads from the nearest mark before it. The marks not made yet are made a
// budget of characters at a time, and the search for the partner reads no
// more than the budget either way, so no question reads much of a large text.

#include <QtGlobal>
#include <cstdint>
#include <vector>

#include "textstore.h"

// The brackets marked: the one beside the caret and its partner.
struct TBraceMarks {
    int Bracket = -1;  // position of the bracket beside the caret; -1: nothing marked
    int Partner = -1;  // position of its partner; -1: it has none (when Bracket >= 0)
    bool Matched() const { return Bracket >= 0 && Partner >= 0; }
    bool operator==(const TBraceMarks &o) const { return Bracket == o.Bracket && Partner == o.Partner; }
    bool operator!=(const TBraceMarks &o) const { return !(*this == o); }
};

class TBraceMatch {
public:
    explicit TBraceMatch(const TText *text) : Text(text) {}

    enum TOutcome {
        Known,  // marks holds the answer
        Later   // the marks of the scan do not reach the caret yet: ask again
    };
    // The marks for a caret: the bracket just before it, or else the one just
    // after it (the first of them that is no comment or literal), and its
    // partner. A partner that the search does not reach within the budget
    // leaves the bracket unmarked (whether it has one is not known).
    TOutcome Find(int caret, TBraceMarks &marks);

    // The text changed by edits (positions in the text before them): the
    // scan's marks from the first edit on are gone.
    void Edited(const TEditList &edits);

    // Characters that one question reads at most, on the way to the caret and
    // in the search for the partner each; characters between two marks.
    int Budget = 1 << 20;
    int Stride = 1 << 12;

    static bool IsBracket(int c) { return c == '(' || c == ')' || c == '[' || c == ']' || c == '{' || c == '}'; }

    // What the scan is in at a position.
    enum class TLex : std::uint8_t { Code, Block, Line, String, Char };

private:
    struct TMark {
        int Position;  // where a step of the scan starts
        TLex State;
    };
    // Makes marks toward position, reading at most *budget characters; true
    // when the marks reach it.
    bool Reach(int position, int *budget);
    // Whether the character at position is code (after Reach).
    bool InCode(int position);
    // The partner of the bracket at position; -1: none; -2: not found within the budget.
    int Partner(int position);
    int Last(int position) const;  // index of the last mark at or before position

    const TText *Text;
    std::vector<TMark> Marks{{0, TLex::Code}};
    std::vector<int> Found;  // brackets of one stretch, scratch
};
