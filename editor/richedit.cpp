// The text control itself: its making, the selection, the edits as the
// user makes them (one undo step each) and what follows every change of the
// text (Edited: the caret, the columns, the marks, the lines drawn anew,
// screen readers), and scrolling to the caret or to given lines.
//
// Calls the text and colour stores below the control and its layout
// (richpaint.cpp: the rows, the lines drawn anew, the caret and the
// margin); the keys and the mouse (richinput.cpp) and the input methods
// (richaccess.cpp) call in here. Making a control installs the screen
// readers' view of it (richaccess.cpp).
#include "richedit.h"

#include <QAccessible>
#include <QApplication>
#include <QScrollBar>
#include <algorithm>

#include "colourstore.h"
#include "columns.h"

TRichEdit::TRichEdit(QWidget *parent)
    : QAbstractScrollArea(parent), Store(new TTextStore(this)), Columns(Store) {
    // The caret follows an edit before anything else hears of it; then the
    // colours move along.
    connect(Store, &TTextStore::Edited, this, &TRichEdit::Edited);
    ColourStore = TColourStore::Of(Store);
    // textChanged comes once the colours have followed the edit as well.
    connect(ColourStore, &TColourStore::EditFollowed, this, &TRichEdit::ChangeHandled);
    connect(ColourStore, &TColourStore::ColoursChanged, this, [this](int first, int end) {
        if (end < 0) {
            viewport()->update();
            return;
        }
        UpdateLines(Store->LineOf(first), Store->LineOf(end));
    });
    connect(Store, &TTextStore::UndoAvailable, this, &TRichEdit::undoAvailable);
    connect(Store, &TTextStore::RedoAvailable, this, &TRichEdit::redoAvailable);
    connect(Store, &TTextStore::ModificationChanged, this, &TRichEdit::modificationChanged);
    InstallRichEditAccessibility();
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAcceptDrops(true);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setInputMethodHints(Qt::ImhMultiLine);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    UpdateMetrics();
    UpdateScrollBars();
}

TRichEdit::~TRichEdit() = default;

// ---- Scrolling ---------------------------------------------------------------

void TRichEdit::scrollContentsBy(int, int dy) {
    viewport()->update();
    if (Numbers && dy) Numbers->update();
}

void TRichEdit::ensureCursorVisible() {
    const int line = Store->LineOf(CaretPos);
    QScrollBar *v = verticalScrollBar();
    if (line < v->value())
        v->setValue(line);
    else if (line >= v->value() + VisibleLines())
        v->setValue(line - VisibleLines() + 1);
    QScrollBar *h = horizontalScrollBar();
    const qreal x = ColumnOf(CaretPos) * CellW;
    const int width = viewport()->width();
    if (x < h->value())
        h->setValue(std::max(0, int(x) - width / 4));
    else if (x + CellW * 2 > h->value() + width) {
        if (x + CellW * 2 > h->maximum() + width) {
            WidestColumns = std::max(WidestColumns, int(x / CellW) + 2);
            UpdateScrollBars();
        }
        h->setValue(int(x + CellW * 2) - width + width / 4);
    }
}

void TRichEdit::ShowLines(int first, int last, int context) {
    const int count = Store->LineCount();
    first = std::clamp(first, 0, count - 1);
    last = std::clamp(last, first, count - 1);
    const int page = VisibleLines();
    QScrollBar *v = verticalScrollBar();
    const int top = v->value();
    const int margin = std::max(0, std::min(context, (page - (last - first + 1)) / 2));
    if (last - first + 1 > page) {
        v->setValue(std::max(0, first - 0));
    } else if (first - margin < top) {
        v->setValue(std::max(0, first - margin));
    } else if (last + margin >= top + page) {
        v->setValue(std::min(last + margin - page + 1, first));
    }
}

// ---- Selection ---------------------------------------------------------------

void TRichEdit::SelectionChangedBy(int oldAnchor, int oldCaret) {
    if (oldAnchor == AnchorPos && oldCaret == CaretPos) return;
    if (oldAnchor != oldCaret || HasSelection()) {
        UpdateLines(Store->LineOf(std::min({oldAnchor, oldCaret, AnchorPos, CaretPos})),
                    Store->LineOf(std::max({oldAnchor, oldCaret, AnchorPos, CaretPos})));
    }
    AfterSelectionMoved(oldAnchor, oldCaret, false);
}

void TRichEdit::AfterSelectionMoved(int oldAnchor, int oldCaret, bool edited) {
    // The caret is drawn anew where it was painted last and where it is now.
    UpdateCaret();
    if (edited || oldCaret != CaretPos) UpdateBraces();
    const bool hadSelection = oldAnchor != oldCaret;
    const bool selectionMoved = oldAnchor != AnchorPos || oldCaret != CaretPos;
    if (Numbers && (edited || oldCaret != CaretPos) && NumberedLine != Store->LineOf(CaretPos)) Numbers->update();
    if (hadSelection != HasSelection()) emit copyAvailable(HasSelection());
    if (selectionMoved && (hadSelection || HasSelection())) emit selectionChanged();
    if (oldCaret != CaretPos) emit cursorPositionChanged();
    if (!selectionMoved && !edited) return;
    if (hasFocus() || (QApplication::focusObject() == this)) {
        if (QInputMethod *im = QGuiApplication::inputMethod()) im->update(Qt::ImQueryInput);
    }
    if (QAccessible::isActive()) {
        if (selectionMoved && (hadSelection || HasSelection())) {
            QAccessibleTextSelectionEvent ev(this, SelectionStart(), SelectionEnd());
            ev.setCursorPosition(CaretPos);
            QAccessible::updateAccessibility(&ev);
        }
        if (oldCaret != CaretPos || edited) {
            QAccessibleTextCursorEvent ev(this, CaretPos);
            QAccessible::updateAccessibility(&ev);
        }
    }
}

void TRichEdit::SetSelection(int anchor, int caret) {
    anchor = Store->Snap(anchor);
    caret = Store->Snap(caret);
    if (columns::InsidePair(*Store, anchor)) --anchor;
    if (columns::InsidePair(*Store, caret)) --caret;
    const int oldAnchor = AnchorPos, oldCaret = CaretPos;
    AnchorPos = anchor;
    CaretPos = caret;
    GoalX = -1;
    Store->BreakMerge();
    SelectionChangedBy(oldAnchor, oldCaret);
}

void TRichEdit::MoveCaret(int position, bool keepAnchor) {
    // Forgets the column Up and Down kept to: they set it again after moving.
    SetSelection(keepAnchor ? AnchorPos : position, position);
    ensureCursorVisible();
    RestartBlink();
}

QString TRichEdit::SelectedText() const {
    QString s = Store->Slice(SelectionStart(), SelectionEnd() - SelectionStart());
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

void TRichEdit::selectAll() { SetSelection(0, Store->Length()); }

// ---- Edits -------------------------------------------------------------------

void TRichEdit::Edit(int position, int removed, const QString &text, TTextStore::Merge merge, int caretAfter) {
    if (ReadOnly) return;
    position = Store->Snap(position);
    const int end = Store->Snap(std::clamp(position + removed, position, Store->Length()));
    int added = 0;
    {
        // The length of text in T form: a lone LF or CR becomes CR LF.
        const QChar *p = text.constData();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = p[i].unicode();
            if (c == u'\r' && i + 1 < text.size() && p[i + 1].unicode() == u'\n') {
                added += 2;
                ++i;
            } else if (c == u'\r' || c == u'\n' || c == u'\x2029') {
                added += 2;
            } else {
                ++added;
            }
        }
    }
    PendingCaret = caretAfter >= 0 ? caretAfter : position + added;
    struct Done {
        int &Pending;
        ~Done() { Pending = -1; }
    } done{PendingCaret};
    // A text that would grow past the most it holds takes nothing.
    if (!Store->Replace(position, end - position, text, AnchorPos, CaretPos, PendingCaret, merge)) QApplication::beep();
}

void TRichEdit::Edited(const TEditList &edits) {
    Columns.Edited(edits);
    BraceScan.Edited(edits);
    if (Marks.Edited(*Store, edits, [this](size_t k) { return Store->RemovedText(k); })) PlaceNumbers();
    const int oldAnchor = AnchorPos, oldCaret = CaretPos;
    if (PendingCaret >= 0) {
        CaretPos = std::clamp(PendingCaret, 0, Store->Length());
        AnchorPos = PendingAnchor >= 0 ? std::clamp(PendingAnchor, 0, Store->Length()) : CaretPos;
    } else {
        // Positions move along with the text, as the caret of another view would.
        auto move = [&](int p) { return std::clamp(textstore::MovedBy(edits, p), 0, Store->Length()); };
        AnchorPos = move(AnchorPos);
        CaretPos = move(CaretPos);
    }
    // The lines from the first edit to the end of the last are drawn anew; a
    // change of the line count moves everything below, down to the foot of
    // the view (where the lines of a longer text were).
    const TEdit &first = edits.front();
    const TEdit &last = edits.back();
    int delta = 0;
    for (const TEdit &e : edits) delta += e.Added - e.Removed;
    const int firstLine = Store->LineOf(first.Position);
    const int lastLine = Store->LineOf(last.Position + last.Added + delta - (last.Added - last.Removed));
    if (edits.size() == 1 && first.Position == 0 && first.Removed > 0 && first.Added == Store->Length() &&
        first.Removed != first.Added) {
        WidestColumns = 0;
    }
    if (edits.size() <= 64) {
        const int a = Store->LineOf(first.Position), b = std::max(a, lastLine);
        for (int l = a; l <= b && l - a < 256; ++l) WidenFor(l);
    }
    if (WidestColumns == 0) {
        // After a load: the longest line by its characters, widened when a
        // line with tabs or wide characters comes into view.
        int widest = 0;
        const int lines = Store->LineCount();
        int previous = 0;
        for (int l = 1; l <= lines; ++l) {
            const int start = l < lines ? Store->LineStart(l) : Store->Length() + 2;
            widest = std::max(widest, start - 2 - previous);
            previous = start;
        }
        WidestColumns = std::max(widest, 1);
    }
    const bool moved = Store->LineCount() != ShownLines;
    ShownLines = Store->LineCount();
    if (moved) UpdateScrollBars();
    if (moved && Numbers) PlaceNumbers();
    if (moved)
        UpdateLines(firstLine, FirstVisibleLine() + VisibleLines() + 1);
    else
        UpdateLines(firstLine, lastLine);
    GoalX = -1;
    // What a screen reader hears: each edit in turn, at its place in the text
    // as the edits before it have left it, with the text it took away and the
    // text it put in.
    if (QAccessible::isActive()) {
        int shift = 0;
        for (size_t i = 0; i < edits.size(); ++i) {
            const TEdit &e = edits[i];
            const int at = e.Position + shift;
            if (e.Removed) {
                QAccessibleTextRemoveEvent ev(this, at, Store->RemovedText(i));
                QAccessible::updateAccessibility(&ev);
            }
            if (e.Added) {
                QAccessibleTextInsertEvent ev(this, at, Store->Slice(at, e.Added));
                QAccessible::updateAccessibility(&ev);
            }
            shift += e.Added - e.Removed;
        }
    }
    AfterSelectionMoved(oldAnchor, oldCaret, true);
}

void TRichEdit::ChangeHandled() {
    if (Holding)
        ChangedWhileHeld = true;
    else
        emit textChanged();
}

TRichEdit::THold::THold(TRichEdit *edit) : Edit(edit) { ++Edit->Holding; }

TRichEdit::THold::~THold() {
    if (--Edit->Holding > 0 || !Edit->ChangedWhileHeld) return;
    Edit->ChangedWhileHeld = false;
    emit Edit->textChanged();
}

void TRichEdit::insertPlainText(const QString &text) {
    Edit(SelectionStart(), SelectionEnd() - SelectionStart(), text);
    ensureCursorVisible();
}

void TRichEdit::setPlainText(const QString &text) {
    PendingCaret = 0;
    WidestColumns = 0;
    Store->Load(text);
    PendingCaret = -1;
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

QString TRichEdit::toPlainText() const {
    QString s = Store->Slice(0, Store->Length());
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

void TRichEdit::setReadOnly(bool readOnly) {
    ReadOnly = readOnly;
    setAttribute(Qt::WA_InputMethodEnabled, !readOnly);
    viewport()->update();
}

void TRichEdit::DeleteSelection() {
    if (HasSelection()) Edit(SelectionStart(), SelectionEnd() - SelectionStart(), QString());
}

void TRichEdit::undo() {
    int anchor = 0, caret = 0;
    PendingCaret = -1;
    if (ReadOnly || !Store->Undo(anchor, caret)) return;
    SetSelection(anchor, caret);
    ensureCursorVisible();
}

void TRichEdit::redo() {
    int anchor = 0, caret = 0;
    if (ReadOnly || !Store->Redo(anchor, caret)) return;
    SetSelection(anchor, caret);
    ensureCursorVisible();
}
