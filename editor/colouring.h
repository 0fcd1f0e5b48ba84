#pragma once
// C keyword and comment colouring of an editor's text control: the rules
// (colourrules.h) applied to the control's text, its colours kept in its
// colour store (colourstore.h), and the selection as the colouring leaves it.

#include <QColor>

#include "colourrules.h"

class TRichEdit;

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
