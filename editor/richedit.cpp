#include "richedit.h"

#include <QInputMethodEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <algorithm>
#include <climits>

#include "colourstore.h"

namespace {

// What a block's layout shows: the colours as of Epoch, and for a long block
// only those of [First, End), block-relative. (The block's user state is taken:
// it holds the line's line end.)
struct TShown : QTextBlockUserData {
    int Epoch = 0;
    int First = 0, End = 0;
};

TShown *ShownOf(QTextBlock &b) {
    auto *w = static_cast<TShown *>(b.userData());
    if (!w) {
        w = new TShown;
        b.setUserData(w);
    }
    return w;
}

// More blocks than this changing at once are shown anew when they come into view.
constexpr int kEagerBlocks = 64;

}  // namespace

TRichEdit::TRichEdit(QWidget *parent) : QPlainTextEdit(parent), Store(TColourStore::Of(document())) {
    connect(Store, &TColourStore::ColoursChanged, this, &TRichEdit::ColoursChanged);
    connect(Store, &TColourStore::ChangeHandled, this, [this] { Flush(true); });
}

void TRichEdit::ColoursChanged(int first, int end) {
    if (end < 0 || DirtyEnd < -1) {
        DirtyEnd = -2;  // everything
    } else if (DirtyFirst < 0) {
        DirtyFirst = first;
        DirtyEnd = end;
    } else {
        DirtyFirst = std::min(DirtyFirst, first);
        DirtyEnd = std::max(DirtyEnd, end);
    }
    // Inside a change of the document, the layout that follows the change
    // takes the new formats along; otherwise they are shown now.
    if (!Store->Handling()) Flush(false);
}

void TRichEdit::Flush(bool inDocumentChange) {
    QTextDocument *doc = document();
    const bool all = DirtyEnd < -1;
    const int first = DirtyFirst, end = DirtyEnd;
    DirtyFirst = DirtyEnd = -1;
    if (!all && first < 0) return;
    QTextBlock b = all ? QTextBlock() : doc->findBlock(first);
    const QTextBlock last = all ? QTextBlock() : doc->findBlock(std::min(end, doc->characterCount() - 1));
    if (all || !b.isValid() || !last.isValid() || last.blockNumber() - b.blockNumber() > kEagerBlocks) {
        // Every block shows stale colours until it is painted again.
        Epoch = Epoch == INT_MAX ? 1 : Epoch + 1;
        viewport()->update();
        return;
    }
    const int caret = textCursor().position();
    for (;; b = b.next()) {
        const int around = b.contains(caret) || caret == b.position() + b.length() - 1 ? caret - b.position() : -1;
        if (ShowColours(b, around) && !inDocumentChange) doc->markContentsDirty(b.position(), b.length());
        if (b == last || !b.next().isValid()) break;
    }
}

bool TRichEdit::ShowColours(const QTextBlock &block, int around) {
    QTextBlock b = block;
    QTextLayout *layout = b.layout();
    if (!layout) return false;
    const int pos = b.position();
    const int len = b.length() - 1;
    int from = 0, to = len;
    TShown *w = ShownOf(b);
    if (len > kLongBlock) {
        if (w->End <= w->First && around < 0) around = 0;
        if (around >= 0) {
            w->First = std::max(0, around - kLongBlock);
            w->End = w->First + 2 * kLongBlock;
        }
        from = std::min(w->First, len);
        to = std::min(w->End, len);
    }
    // A preedit shows inside the layout's text: colours after it move along,
    // a colour that reaches it covers it, and its own formats stay.
    const int preeditAt = layout->preeditAreaPosition();
    const int preeditLength = int(layout->preeditAreaText().size());
    QList<QTextLayout::FormatRange> ranges;
    const QColor text = palette().color(QPalette::Text);
    Store->Codes().Runs(pos + from, pos + to, [&](int s, int e, TColourChunks::Code code) {
        const QColor c = Store->ColourOf(code);
        if (!c.isValid() || c == text) return;
        QTextLayout::FormatRange r;
        r.start = s - pos;
        r.length = e - s;
        r.format.setForeground(c);
        if (preeditLength > 0) {
            if (r.start >= preeditAt)
                r.start += preeditLength;
            else if (r.start + r.length >= preeditAt)
                r.length += preeditLength;
        }
        ranges.append(r);
    });
    if (preeditLength > 0)
        for (const QTextLayout::FormatRange &r : layout->formats())
            if (r.start >= preeditAt && r.start + r.length <= preeditAt + preeditLength) ranges.append(r);
    w->Epoch = Epoch;
    if (ranges == layout->formats()) return false;
    layout->setFormats(ranges);
    return true;
}

void TRichEdit::ShowVisibleColours() {
    const QPointF offset = contentOffset();
    const int height = viewport()->height();
    const int width = viewport()->width();
    QList<QTextBlock> changed;
    for (QTextBlock b = firstVisibleBlock(); b.isValid(); b = b.next()) {
        const QRectF r = blockBoundingGeometry(b).translated(offset);
        if (r.top() > height) break;
        if (!b.isVisible()) continue;
        const auto *w = static_cast<const TShown *>(b.userData());
        bool stale = !w || w->Epoch != Epoch;
        int around = -1;
        if (b.length() - 1 > kLongBlock) {
            // The part of a long line on the screen must lie in its window.
            int lo = INT_MAX, hi = -1;
            const QTextLayout *layout = b.layout();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                const qreal y = r.top() + line.y();
                if (y + line.height() < 0 || y > height) continue;
                lo = std::min(lo, line.xToCursor(-offset.x()));
                hi = std::max(hi, line.xToCursor(-offset.x() + width));
            }
            if (hi >= 0 && (!w || lo < w->First || hi > w->End)) {
                stale = true;
                around = lo + (hi - lo) / 2;
            }
        }
        if (stale && ShowColours(b, around)) changed.append(b);
    }
    for (const QTextBlock &b : std::as_const(changed)) document()->markContentsDirty(b.position(), b.length());
}

void TRichEdit::paintEvent(QPaintEvent *event) {
    ShowVisibleColours();
    QPlainTextEdit::paintEvent(event);
}

void TRichEdit::inputMethodEvent(QInputMethodEvent *event) {
    const bool commits = !event->commitString().isEmpty() || event->replacementLength() > 0;
    if (isReadOnly() || !commits) {
        // A preedit alone changes the layout, never the text.
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    // The commit is made here as an edit of the text like typing, so that the
    // document reports exactly what changed; the preedit that comes with it
    // is then the control's own business.
    QTextDocument *doc = document();
    QTextCursor selection = textCursor();
    const bool selected = selection.hasSelection();
    const bool oneStep = selected && event->replacementStart() == 0 && event->replacementLength() == 0;
    QTextCursor edit(doc);
    if (oneStep) edit.beginEditBlock();  // the selection and the commit: one undo step
    if (selected) selection.removeSelectedText();
    const int at = textCursor().position();
    const int last = doc->characterCount() - 1;
    const int start = std::clamp(at + event->replacementStart(), 0, last);
    const int stop = std::clamp(start + std::max(0, event->replacementLength()), start, last);
    edit.setPosition(start);
    edit.setPosition(stop, QTextCursor::KeepAnchor);
    edit.insertText(event->commitString());
    if (oneStep) edit.endEditBlock();
    QInputMethodEvent rest(event->preeditString(), event->attributes());
    QPlainTextEdit::inputMethodEvent(&rest);
    event->setAccepted(true);
}

void TRichEdit::insertFromMimeData(const QMimeData *source) {
    // Pasted and dropped text goes in as typed text: the document then reports
    // exactly the characters that changed (a pasted fragment would report its
    // whole first line as replaced, and so take that line's colours away).
    if (!source || isReadOnly() || !source->hasText()) return;
    QTextCursor c = textCursor();
    c.beginEditBlock();  // an undo step of its own, not joined to the typing before it
    c.insertText(source->text());
    c.endEditBlock();
    setTextCursor(c);
    ensureCursorVisible();
}
