#pragma once
// The whole text of an editor control as the editor counts it (T in
// editor/textpos.h: lines joined by CR LF), for the tests to compare.
#include "richedit.h"

#include "textpos.h"

inline QString TextOf(const TRichEdit *control) { return TextSlice(control, 0, TextLength(control)); }
