#pragma once
// The whole text of an editor control as the editor counts it (T in
// editor/textpos.h: lines joined by CR LF), for the tests to compare.
#include <QPlainTextEdit>

#include "textpos.h"

inline QString TextOf(const QPlainTextEdit *control) { return TextSlice(control, 0, TextLength(control)); }
