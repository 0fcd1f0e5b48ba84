#include "textpos.h"

#include <algorithm>

#include "richedit.h"

int TextLength(const TRichEdit *control) { return control->Text()->Length(); }

QString TextSlice(const TRichEdit *control, int start, int length) { return control->Text()->Slice(start, length); }

int SelStart(const TRichEdit *control) { return control->SelectionStart(); }

int SelLength(const TRichEdit *control) { return control->SelectionEnd() - control->SelectionStart(); }

void SetSelection(TRichEdit *control, int start, int length) {
    const int total = TextLength(control);
    start = std::clamp(start, 0, total);
    const int end = std::clamp(start + std::max(length, 0), start, total);
    control->SetSelection(start, end);
}
