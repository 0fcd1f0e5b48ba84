#pragma once
// Positions in an editor's text.
//
// The editor works on the text T: the lines of the document joined by CR LF, a
// line break counting two positions (CR and LF). Selection positions are 0-based
// into T; the colouring rules index T from 1 (colourrules.h), and index i is
// position i - 1. The text store (textstore.h) holds T as it is, so these are
// its positions too.

#include <QString>

class TRichEdit;

// Length of T.
int TextLength(const TRichEdit *control);

// T.mid(start, length): the part of [start, start + length) that lies in T.
QString TextSlice(const TRichEdit *control, int start, int length);

// The selection in T positions.
int SelStart(const TRichEdit *control);
int SelLength(const TRichEdit *control);
// Selects T[start .. start + length - 1] (0-based), the caret at its end; a
// length of 0 puts the caret at start. Clipped to T; a position between a CR
// and its LF stands for the CR's.
void SetSelection(TRichEdit *control, int start, int length);
