#pragma once
// Indentation: the blanks and tabs at the start of a line.
// - A line break typed into a line carries on its indentation, as far as the
//   caret: the new line starts with the same blanks and tabs.
// - Tab on a selection that holds a line break or a whole line indents each
//   line it touches by one tab (an empty line stays empty); Shift+Tab takes
//   one level away: a leading tab, or up to 8 leading blanks together with a
//   tab that follows fewer than 8 of them (the blanks inside one tab stop).
//   A selection that ends at the very start of a line does not touch it.

#include <QString>
#include <vector>

#include "textstore.h"

namespace indent {

constexpr int kTabWidth = 8;

// The blanks and tabs that start position's line, up to position.
QString Carried(const TText &text, int position);

// Whether Tab on the selection [start, end) indents lines rather than
// typing a tab over it: it holds a line break, or all of a line that is not empty.
bool TakesLines(const TText &text, int start, int end);

// The lines that the selection [start, end) touches.
void Touched(const TText &text, int start, int end, int *first, int *last);

// The edits that indent lines first..last by one tab (out: that take one
// level away from them), ascending.
std::vector<TTextStore::Replacement> Shift(const TText &text, int first, int last, bool out);

}  // namespace indent
