#pragma once
// C keyword and comment colouring of an editor's text control.
//
// Words of C keywords and preprocessor keywords turn blue, comments green, other
// words black; the delimiters (blank, tab, CR, LF, "(", ")", ";", ":") keep the
// colour they had. The pass looks at the characters of its range alone: no
// parser, no string literals, nothing kept between runs.

#include <QColor>
#include <QString>
#include <QStringView>
#include <vector>

class QPlainTextEdit;

// Colours T[first .. last] (1-based indexes, both included). Afterwards the
// selection is empty, with the caret where the selection started. The change is
// one of character formatting only: it is no change of the text, raises no
// change event of the document window and joins the undo step of the edit that
// came before it instead of making one of its own.
void ColourRange(QPlainTextEdit *control, int first, int last);

namespace colouring {

inline QColor Black() { return QColor(0, 0, 0); }
inline QColor Green() { return QColor(0, 128, 0); }
inline QColor Blue() { return QColor(0, 0, 255); }

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
bool IsDelimiter(QChar c);

// The scan alone: the runs that ColourRange gives T[first .. last] (1-based).
// text holds T[textBase .. ] (1-based textBase) and must reach last + 2 or the
// end of T; textLength is the length of the whole T.
std::vector<Run> Scan(QStringView text, int textBase, int textLength, int first, int last);

// True while a colouring pass changes character formats (document windows
// ignore the change notifications it causes).
bool Active();

}  // namespace colouring
