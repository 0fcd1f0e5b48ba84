// The text control's input from the keyboard and the mouse: keys (and the
// shortcuts it keeps from the window), Tab and Shift+Tab on lines, the
// clipboard, the context menu, selecting with the mouse by characters and
// by words, and drag and drop; the timers of the caret's blink, of the
// scrolling while a drag leaves the view and of the bracket scan.
//
// Calls the control's edits, selection and scrolling (richedit.cpp), its
// layout (richpaint.cpp: positions at points, the lines drawn anew) and the
// indentation rules (indent.h); nothing calls in here but Qt's events and
// the menu's actions.
#include "richedit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <algorithm>

#include "columns.h"
#include "indent.h"

namespace {

bool IsWordChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c.isMark(); }

}  // namespace

// ---- The clipboard -----------------------------------------------------------

void TRichEdit::copy() const {
    if (!HasSelection()) return;
    QApplication::clipboard()->setText(SelectedText());
}

void TRichEdit::cut() {
    if (!HasSelection() || ReadOnly) return;
    copy();
    DeleteSelection();
    ensureCursorVisible();
}

void TRichEdit::paste() { InsertFromMimeData(QApplication::clipboard()->mimeData()); }

void TRichEdit::InsertFromMimeData(const QMimeData *source) {
    if (!source || ReadOnly || !source->hasText()) return;
    const QString text = source->text();
    if (text.isEmpty() && !HasSelection()) return;
    insertPlainText(text);
}

// ---- Words -------------------------------------------------------------------

int TRichEdit::WordStart(int position) const {
    const int lineStart = Store->LineStart(Store->LineOf(position));
    int p = position;
    while (p > lineStart && IsWordChar(Store->At(p - 1))) --p;
    return p;
}

int TRichEdit::WordEnd(int position) const {
    const int lineEnd = Store->LineEnd(Store->LineOf(position));
    int p = position;
    while (p < lineEnd && IsWordChar(Store->At(p))) ++p;
    return p;
}

// ---- Keys --------------------------------------------------------------------

bool TRichEdit::focusNextPrevChild(bool) { return false; }

bool TRichEdit::event(QEvent *event) {
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        const auto mods = key->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
        if (Typed(*key)) {  // (the common case first: no look-up of the standard keys)
            event->accept();
            return true;
        }
        const bool standard = key == QKeySequence::Copy || key == QKeySequence::Cut || key == QKeySequence::Paste ||
                              key == QKeySequence::SelectAll || key == QKeySequence::Undo || key == QKeySequence::Redo ||
                              key == QKeySequence::Delete;
        bool ours = standard;
        switch (key->key()) {
        case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_Home:
        case Qt::Key_End: case Qt::Key_PageUp: case Qt::Key_PageDown: case Qt::Key_Backspace:
        case Qt::Key_Delete: case Qt::Key_Return: case Qt::Key_Enter:
            ours = ours || !(mods & (Qt::AltModifier | Qt::MetaModifier));
            break;
        case Qt::Key_Tab:  // Ctrl+Tab and Ctrl+Shift+Tab belong to the window
        case Qt::Key_Backtab:
            ours = ours || !(mods & (Qt::AltModifier | Qt::MetaModifier | Qt::ControlModifier));
            break;
        default:
            if (!key->text().isEmpty() && key->text().at(0).isPrint() && !(mods & (Qt::ControlModifier | Qt::AltModifier)))
                ours = true;
        }
        if (ours) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

bool TRichEdit::Typed(const QKeyEvent &e) {
    if (e.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = e.text();
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
    return true;
}

void TRichEdit::keyPressEvent(QKeyEvent *e) {
    if (Typed(*e)) {
        // Text typed: the common case, before any look-up of the standard keys.
        if (ReadOnly) {
            e->ignore();
            return;
        }
        Edit(SelectionStart(), SelectionEnd() - SelectionStart(), e->text(), TTextStore::TypingRun);
        ensureCursorVisible();
        RestartBlink();
        e->accept();
        return;
    }
    const auto mods = e->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const int length = Store->Length();
    auto prevChar = [&](int p) {
        if (p <= 0) return 0;
        if (p >= 2 && Store->At(p - 1) == QLatin1Char('\n') && Store->At(p - 2) == QLatin1Char('\r')) return p - 2;
        return columns::InsidePair(*Store, p - 1) ? p - 2 : p - 1;
    };
    auto nextChar = [&](int p) {
        if (p >= length) return length;
        if (Store->At(p) == QLatin1Char('\r') && Store->At(p + 1) == QLatin1Char('\n')) return p + 2;
        return columns::InsidePair(*Store, p + 1) ? p + 2 : p + 1;
    };
    auto prevWord = [&](int p) {
        // Back over blanks, then over a word (or over one run of other characters).
        p = prevChar(p);
        while (p > 0 && Store->At(p).isSpace() && Store->At(p) != QLatin1Char('\n') && Store->At(p) != QLatin1Char('\r'))
            p = prevChar(p);
        if (IsWordChar(Store->At(p)))
            while (p > 0 && IsWordChar(Store->At(p - 1))) --p;
        return std::max(p, 0);
    };
    auto nextWord = [&](int p) {
        if (p >= length) return length;
        const QChar c = Store->At(p);
        if (c == QLatin1Char('\r')) return nextChar(p);
        if (IsWordChar(c))
            while (p < length && IsWordChar(Store->At(p))) ++p;
        else if (!c.isSpace())
            p = nextChar(p);
        while (p < length && Store->At(p).isSpace() && Store->At(p) != QLatin1Char('\r')) ++p;
        return p;
    };
    auto vertical = [&](int lines) {
        const int line = Store->LineOf(CaretPos);
        const qreal goal = GoalX >= 0 ? GoalX : ColumnOf(CaretPos);
        const int target = std::clamp(line + lines, 0, Store->LineCount() - 1);
        int p = PositionAtColumn(target, goal);
        if (lines < 0 && line == 0) p = 0;
        if (lines > 0 && line == Store->LineCount() - 1) p = length;
        MoveCaret(p, shift);
        GoalX = goal;
    };

    if (e == QKeySequence::Copy || (ctrl && e->key() == Qt::Key_Insert && !shift)) {
        copy();
    } else if (e == QKeySequence::Cut || (shift && !ctrl && e->key() == Qt::Key_Delete)) {
        cut();
    } else if (e == QKeySequence::Paste || (shift && !ctrl && e->key() == Qt::Key_Insert)) {
        paste();
    } else if (e == QKeySequence::SelectAll) {
        selectAll();
    } else if (e == QKeySequence::Undo) {
        undo();
    } else if (e == QKeySequence::Redo) {
        redo();
    } else {
        switch (e->key()) {
        case Qt::Key_Left:
            if (HasSelection() && !shift && !ctrl)
                MoveCaret(SelectionStart(), false);
            else
                MoveCaret(ctrl ? prevWord(CaretPos) : prevChar(CaretPos), shift);
            break;
        case Qt::Key_Right:
            if (HasSelection() && !shift && !ctrl)
                MoveCaret(SelectionEnd(), false);
            else
                MoveCaret(ctrl ? nextWord(CaretPos) : nextChar(CaretPos), shift);
            break;
        case Qt::Key_Up:
            if (ctrl) {
                verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
            } else {
                vertical(-1);
            }
            break;
        case Qt::Key_Down:
            if (ctrl)
                verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            else
                vertical(1);
            break;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown: {
            const int page = VisibleLines();
            const int sign = e->key() == Qt::Key_PageUp ? -1 : 1;
            verticalScrollBar()->setValue(verticalScrollBar()->value() + sign * page);
            vertical(sign * page);
            break;
        }
        case Qt::Key_Home:
            if (ctrl)
                MoveCaret(0, shift);
            else
                MoveCaret(Store->LineStart(Store->LineOf(CaretPos)), shift);
            break;
        case Qt::Key_End:
            MoveCaret(ctrl ? length : Store->LineEnd(Store->LineOf(CaretPos)), shift);
            break;
        case Qt::Key_Backspace:
            if (ReadOnly) break;
            if (HasSelection())
                DeleteSelection();
            else if (CaretPos > 0) {
                const int from = ctrl ? prevWord(CaretPos) : prevChar(CaretPos);
                Edit(from, CaretPos - from, QString(), ctrl ? TTextStore::NoMerge : TTextStore::BackspaceRun);
            }
            ensureCursorVisible();
            break;
        case Qt::Key_Delete:
            if (ReadOnly) break;
            if (HasSelection())
                DeleteSelection();
            else if (CaretPos < length) {
                const int to = ctrl ? nextWord(CaretPos) : nextChar(CaretPos);
                Edit(CaretPos, to - CaretPos, QString(), ctrl ? TTextStore::NoMerge : TTextStore::DeleteRun);
            }
            ensureCursorVisible();
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (ReadOnly) break;
            // The new line starts as indented as the one it leaves.
            Edit(SelectionStart(), SelectionEnd() - SelectionStart(),
                 QStringLiteral("\r\n") + indent::Carried(*Store, SelectionStart()), TTextStore::TypingRun);
            ensureCursorVisible();
            break;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            if (ReadOnly || ctrl) {
                e->ignore();
                return;
            }
            if (shift || e->key() == Qt::Key_Backtab || indent::TakesLines(*Store, SelectionStart(), SelectionEnd())) {
                ShiftLines(shift || e->key() == Qt::Key_Backtab);
                break;
            }
            Edit(SelectionStart(), SelectionEnd() - SelectionStart(), QStringLiteral("\t"), TTextStore::TypingRun);
            ensureCursorVisible();
            break;
        default: {
            QString text = e->text();
            bool printable = !text.isEmpty() && !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
            for (QChar c : std::as_const(text))
                if (c.unicode() < 0x20 || c.unicode() == 0x7F) printable = false;
            if (!printable || ReadOnly) {
                e->ignore();
                return;
            }
            Edit(SelectionStart(), SelectionEnd() - SelectionStart(), text, TTextStore::TypingRun);
            ensureCursorVisible();
        }
        }
    }
    RestartBlink();
    e->accept();
}

// ---- Tab and Shift+Tab on lines ----------------------------------------------

void TRichEdit::ShiftLines(bool out) {
    if (ReadOnly) return;
    const int start = SelectionStart(), end = SelectionEnd();
    const bool lines = indent::TakesLines(*Store, start, end);
    int first = 0, last = 0;
    indent::Touched(*Store, start, end, &first, &last);
    std::vector<TTextStore::Replacement> edits = indent::Shift(*Store, first, last, out);
    int delta = 0;
    TEditList moves;
    for (const TTextStore::Replacement &r : edits) {
        delta += int(r.Text.size()) - r.Removed;
        moves.push_back({r.Position, r.Removed, int(r.Text.size())});
    }
    int anchor = 0, caret = 0;
    if (lines) {
        // The same lines, whole, the caret at the end it was at.
        const int a = Store->LineStart(first);
        const int b = (last + 1 < Store->LineCount() ? Store->LineStart(last + 1) : Store->Length()) + delta;
        anchor = CaretPos < AnchorPos ? b : a;
        caret = CaretPos < AnchorPos ? a : b;
    } else {
        // Blanks taken away from the caret's line: the selection moves with its text.
        anchor = textstore::MovedBy(moves, AnchorPos);
        caret = textstore::MovedBy(moves, CaretPos);
    }
    if (!edits.empty()) {
        PendingAnchor = anchor;
        PendingCaret = caret;
        struct Done {
            int &Anchor, &Caret;
            ~Done() { Anchor = Caret = -1; }
        } done{PendingAnchor, PendingCaret};
        if (!Store->ReplaceMany(std::move(edits), AnchorPos, CaretPos, anchor, caret)) QApplication::beep();
    }
    SetSelection(anchor, caret);
    ensureCursorVisible();
}

// ---- Mouse and drag and drop -------------------------------------------------

void TRichEdit::mousePressEvent(QMouseEvent *e) {
    if (e->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(e);
        return;
    }
    const int p = PositionAt(e->position().toPoint());
    PressPoint = e->position().toPoint();
    if (HasSelection() && !(e->modifiers() & Qt::ShiftModifier) && p >= SelectionStart() && p < SelectionEnd()) {
        Pressed = Press::MaybeDrag;
        return;
    }
    Pressed = Press::Select;
    MoveCaret(p, e->modifiers() & Qt::ShiftModifier);
}

void TRichEdit::mouseMoveEvent(QMouseEvent *e) {
    const QPoint at = e->position().toPoint();
    if (Pressed == Press::MaybeDrag) {
        if ((at - PressPoint).manhattanLength() < QApplication::startDragDistance()) return;
        Pressed = Press::None;
        auto *mime = new QMimeData;
        mime->setText(SelectedText());
        auto *drag = new QDrag(this);
        drag->setMimeData(mime);
        const int start = SelectionStart(), end = SelectionEnd();
        const int revision = Store->Revision();
        const Qt::DropAction action = drag->exec(ReadOnly ? Qt::CopyAction : Qt::CopyAction | Qt::MoveAction,
                                                 Qt::MoveAction);
        // A move to another window takes the text away here; a move within
        // this one was made by the drop.
        if (action == Qt::MoveAction && drag->target() != viewport() && Store->Revision() == revision)
            Edit(start, end - start, QString());
        return;
    }
    if (Pressed == Press::None || !(e->buttons() & Qt::LeftButton)) return;
    int p = PositionAt(at);
    if (Pressed == Press::Words) {
        if (p < WordAnchorStart) {
            SetSelection(WordAnchorEnd, WordStart(p));
        } else {
            SetSelection(WordAnchorStart, std::max(WordEnd(p), WordAnchorEnd));
        }
        ensureCursorVisible();
    } else {
        MoveCaret(p, true);
    }
    if (!viewport()->rect().contains(at)) {
        if (!Scroller.isActive()) Scroller.start(50, this);
    } else {
        Scroller.stop();
    }
}

void TRichEdit::AutoScroll() {
    const QPoint at = viewport()->mapFromGlobal(QCursor::pos());
    QScrollBar *v = verticalScrollBar();
    if (at.y() < 0)
        v->setValue(v->value() - 1);
    else if (at.y() > viewport()->height())
        v->setValue(v->value() + 1);
    QScrollBar *h = horizontalScrollBar();
    if (at.x() < 0)
        h->setValue(h->value() - int(CellW) * 2);
    else if (at.x() > viewport()->width())
        h->setValue(h->value() + int(CellW) * 2);
    const QPoint clipped(std::clamp(at.x(), 0, viewport()->width()), std::clamp(at.y(), -1, viewport()->height() + 1));
    const int p = PositionAt(clipped);
    const qreal goal = GoalX;
    SetSelection(AnchorPos, p);
    GoalX = goal;
}

void TRichEdit::mouseReleaseEvent(QMouseEvent *e) {
    Scroller.stop();
    if (Pressed == Press::MaybeDrag) MoveCaret(PositionAt(e->position().toPoint()), false);
    Pressed = Press::None;
    if (HasSelection() && QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText(SelectedText(), QClipboard::Selection);
}

void TRichEdit::mouseDoubleClickEvent(QMouseEvent *e) {
    if (e->button() != Qt::LeftButton) return;
    const int p = PositionAt(e->position().toPoint());
    int a = p, b = p;
    if (IsWordChar(Store->At(p))) {
        a = WordStart(p);
        b = WordEnd(p);
    } else if (p > 0 && IsWordChar(Store->At(p - 1))) {
        a = WordStart(p);
        b = p;
    } else if (p < Store->Length() && Store->At(p) != QLatin1Char('\r')) {
        b = p + 1;
    }
    WordAnchorStart = a;
    WordAnchorEnd = b;
    SetSelection(a, b);
    Pressed = Press::Words;
}

void TRichEdit::dragEnterEvent(QDragEnterEvent *e) {
    if (ReadOnly || !e->mimeData()->hasText()) {
        e->ignore();
        return;
    }
    e->acceptProposedAction();
}

void TRichEdit::dragMoveEvent(QDragMoveEvent *e) {
    if (ReadOnly || !e->mimeData()->hasText()) {
        e->ignore();
        return;
    }
    const int p = PositionAt(e->position().toPoint());
    if (DropCaret != p) {
        const int old = DropCaret;
        DropCaret = p;
        if (old >= 0) UpdateLines(Store->LineOf(old), Store->LineOf(old));
        UpdateLines(Store->LineOf(p), Store->LineOf(p));
    }
    e->acceptProposedAction();
}

void TRichEdit::dragLeaveEvent(QDragLeaveEvent *) {
    if (DropCaret >= 0) UpdateLines(Store->LineOf(DropCaret), Store->LineOf(DropCaret));
    DropCaret = -1;
}

void TRichEdit::dropEvent(QDropEvent *e) {
    const int oldDrop = DropCaret;
    DropCaret = -1;
    if (oldDrop >= 0) UpdateLines(Store->LineOf(oldDrop), Store->LineOf(oldDrop));
    if (ReadOnly || !e->mimeData()->hasText()) {
        e->ignore();
        return;
    }
    const int p = Store->Snap(PositionAt(e->position().toPoint()));
    const QString text = e->mimeData()->text();
    const bool inside = e->source() == this || e->source() == viewport();
    if (inside && e->dropAction() == Qt::MoveAction) {
        const int start = SelectionStart(), end = SelectionEnd();
        if (p >= start && p <= end) {
            e->setDropAction(Qt::IgnoreAction);
            e->accept();
            return;
        }
        // The move is one step: the text leaves its place and arrives at the drop.
        std::vector<TTextStore::Replacement> edits;
        if (p < start)
            edits = {{p, 0, text}, {start, end - start, QString()}};
        else
            edits = {{start, end - start, QString()}, {p, 0, text}};
        const int removed = end - start;
        if (!Store->ReplaceMany(std::move(edits), AnchorPos, CaretPos)) return;
        const int at = p < start ? p : p - removed;
        SetSelection(at, at + removed);
        e->acceptProposedAction();
        return;
    }
    // Undo brings back the selection from before the drop.
    const int before = Store->Length();
    Edit(p, 0, text);
    SetSelection(p, p + (Store->Length() - before));
    ensureCursorVisible();
    e->acceptProposedAction();
}

// ---- Timers ------------------------------------------------------------------

void TRichEdit::timerEvent(QTimerEvent *e) {
    if (e->timerId() == Blink.timerId()) {
        CaretShown = !CaretShown;
        UpdateCaret();
    } else if (e->timerId() == Scroller.timerId()) {
        AutoScroll();
    } else if (e->timerId() == BraceLater.timerId()) {
        UpdateBraces();
    } else {
        QAbstractScrollArea::timerEvent(e);
    }
}

// ---- The context menu --------------------------------------------------------

QMenu *TRichEdit::createStandardContextMenu() {
    auto *menu = new QMenu(this);
    auto add = [&](const QString &text, const char *name, QKeySequence::StandardKey key, bool enabled, auto slot) {
        QAction *a = menu->addAction(text);
        a->setObjectName(QLatin1String(name));
        if (key != QKeySequence::UnknownKey) a->setShortcut(key);
        a->setEnabled(enabled);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    const bool canPaste = !ReadOnly && QApplication::clipboard()->mimeData() &&
                          QApplication::clipboard()->mimeData()->hasText();
    add(QStringLiteral("元に戻す(&U)"), "edit-undo", QKeySequence::Undo, !ReadOnly && isUndoAvailable(), &TRichEdit::undo);
    add(QStringLiteral("やり直し(&R)"), "edit-redo", QKeySequence::Redo, !ReadOnly && isRedoAvailable(), &TRichEdit::redo);
    menu->addSeparator();
    add(QStringLiteral("切り取り(&T)"), "edit-cut", QKeySequence::Cut, !ReadOnly && HasSelection(), &TRichEdit::cut);
    add(QStringLiteral("コピー(&C)"), "edit-copy", QKeySequence::Copy, HasSelection(), [this] { copy(); });
    add(QStringLiteral("貼り付け(&P)"), "edit-paste", QKeySequence::Paste, canPaste, &TRichEdit::paste);
    add(QStringLiteral("削除(&D)"), "edit-delete", QKeySequence::UnknownKey, !ReadOnly && HasSelection(),
        &TRichEdit::DeleteSelection);
    menu->addSeparator();
    add(QStringLiteral("すべて選択(&A)"), "select-all", QKeySequence::SelectAll, Store->Length() > 0, &TRichEdit::selectAll);
    return menu;
}
