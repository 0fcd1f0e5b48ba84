#pragma once
// Marks on lines of an editor's text, drawn in the margin at its left: the
// compiler's errors and warnings, each with its message as the tip. Marks
// come in groups (those of one compile), each set and cleared as a whole.
//
// A mark stays with its line while the text is edited: lines put in or taken
// out above it move it, a line break typed at the line's start moves it down
// with the line's text, and text typed in the line, or a line break typed
// after its start, leaves it there. It goes with its line:
// - a line whose characters and both line breaks an edit takes away;
// - of two lines that an edit joins (the breaks between them taken away),
//   one whose characters it takes away, and an empty one joined to one that
//   keeps characters; the other keeps its marks on the joined line (the text
//   of two joined lines that both keep characters is one line with the marks
//   of both);
// - every line, when the whole text is replaced.

#include <QString>
#include <functional>
#include <vector>

#include "textstore.h"

struct TLineMark {
    int Line = 0;          // 0-based
    bool Warning = false;  // else an error
    QString Text;          // the message
    bool operator==(const TLineMark &o) const { return Line == o.Line && Warning == o.Warning && Text == o.Text; }
};

class TLineMarks {
public:
    // Replaces the marks of group by marks (lines of the text as it is now;
    // a line past its end gets none).
    void Set(const TText &text, const QString &group, const std::vector<TLineMark> &marks);
    // False when the group had no marks.
    bool Clear(const QString &group);
    bool IsEmpty() const { return List.empty(); }

    // Follows edits of the text (positions before them; text as it is after
    // them; removed(k): the text that edit k took away). True when a mark
    // moved to another line or went.
    bool Edited(const TText &text, const TEditList &edits, const std::function<QString(size_t)> &removed);

    // The marks on lines [first, last], in the order of their lines (and, on
    // one line, as they were set).
    std::vector<TLineMark> On(int first, int last) const;

private:
    struct TMark {
        QString Group;
        int Line = 0;
        int Start = 0;  // the line's first character
        int End = 0;    // the line's end (its CR, or the end of the text)
        bool Warning = false;
        QString Text;
    };
    std::vector<TMark> List;  // by line
};
