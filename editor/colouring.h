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

class TRichEdit;
class TColourStore;
#include "textstore.h"

// Colours T[first .. last] (1-based indexes, both included). Afterwards the
// selection is empty, with the caret where the selection started. The colours
// live beside the document (see colourstore.h): colouring is no change of the
// text, raises no change event and is no step of the undo history.
void ColourRange(TRichEdit *control, int first, int last);

// The text colour shown for the character at a 0-based position of T (a CR or
// LF gives the colour of its line break); an invalid QColor outside T. A
// character that was never coloured shows the control's default text colour.
QColor ColourAt(const TRichEdit *control, int position);

// Gives T[start .. start + length - 1] (0-based, clipped to T) the colour
// colour, as the colouring would; for marking text in tests and tools.
void PaintColour(TRichEdit *control, int start, int length, const QColor &colour);

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

// The whole text's colouring (ColourRange over all of T on a text that has no
// colours yet) from the 1-based index first on, as far as the first line
// break past stopAfter; returns the index where it stopped (past the end: done).
int ColourSlice(TColourStore *store, int first, int stopAfter);

// The range that colours one line as typing on it does (1-based, for
// ColourRange): from the LF before it (or the start of T) to its CR (or the
// end of T).
void LineRange(const TText &text, int line, int &first, int &last);

}  // namespace colouring
