// The text control for input methods and screen readers. An input method
// commits text and shows its preedit at the caret, and asks about the
// caret's line; a screen reader learns the text, the caret, the selection
// and where each character is on the screen, and edits through it. Offsets
// for screen readers are positions of T.
//
// Calls the control's public face, its edits and selection (richedit.cpp)
// and its layout (richpaint.cpp); nothing calls in here but Qt's events and
// the making of a control, which installs the screen readers' view.
#include <QAccessibleWidget>
#include <QScrollBar>
#include <algorithm>

#include "richedit.h"
#include "textpos.h"

// ---- Input methods -----------------------------------------------------------

int TRichEdit::StepChars(int position, int count) const {
    const int length = Store->Length();
    position = Store->Snap(std::clamp(position, 0, length));
    for (; count > 0 && position < length; --count)
        position += Store->At(position) == QLatin1Char('\r') && Store->At(position + 1) == QLatin1Char('\n') ? 2 : 1;
    for (; count < 0 && position > 0; ++count)
        position -= position >= 2 && Store->At(position - 1) == QLatin1Char('\n') && Store->At(position - 2) == QLatin1Char('\r') ? 2 : 1;
    return position;
}

void TRichEdit::inputMethodEvent(QInputMethodEvent *event) {
    if (ReadOnly) {
        event->ignore();
        return;
    }
    const bool commits = !event->commitString().isEmpty() || event->replacementLength() > 0;
    if (commits) {
        // The selection goes with the commit in one step where the commit
        // replaces nothing else.
        if (HasSelection() && event->replacementStart() == 0 && event->replacementLength() == 0) {
            Edit(SelectionStart(), SelectionEnd() - SelectionStart(), event->commitString());
        } else {
            if (HasSelection()) DeleteSelection();
            // The input method counts a line break as one character.
            const int start = StepChars(CaretPos, event->replacementStart());
            const int stop = StepChars(start, std::max(0, event->replacementLength()));
            Edit(start, stop - start, event->commitString());
        }
    } else if (!event->preeditString().isEmpty() && HasSelection()) {
        DeleteSelection();
    }
    PreeditText = event->preeditString();
    PreeditAttributes = event->attributes();
    PreeditCursor = int(PreeditText.size());
    for (const QInputMethodEvent::Attribute &a : std::as_const(PreeditAttributes)) {
        if (a.type == QInputMethodEvent::Cursor) PreeditCursor = std::clamp(a.start, 0, int(PreeditText.size()));
        if (a.type == QInputMethodEvent::Selection && PreeditText.isEmpty()) {
            // A selection set by the input method, relative to the caret's line.
            const int base = Store->LineStart(Store->LineOf(CaretPos));
            SetSelection(base + a.start, base + a.start + a.length);
        }
    }
    const int line = Store->LineOf(CaretPos);
    UpdateLines(line, line);
    if (!PreeditText.isEmpty()) {
        const int column = ColumnOf(CaretPos) + int(PreeditText.size()) * 2;
        if (column > WidestColumns) {
            WidestColumns = column;
            UpdateScrollBars();
        }
    }
    ensureCursorVisible();
    event->accept();
}

QVariant TRichEdit::inputMethodQuery(Qt::InputMethodQuery query) const {
    const int line = Store->LineOf(CaretPos);
    const int lineStart = Store->LineStart(line);
    switch (query) {
    case Qt::ImEnabled: return !ReadOnly;
    case Qt::ImCursorRectangle:
    case Qt::ImAnchorRectangle: {
        const QRect r = CaretRect(query == Qt::ImCursorRectangle ? CaretPos : AnchorPos);
        return QRect(r.topLeft() + viewport()->pos(), r.size());
    }
    case Qt::ImFont: return font();
    case Qt::ImCursorPosition: return CaretPos - lineStart;
    case Qt::ImAnchorPosition: return std::clamp(AnchorPos - lineStart, 0, Store->LineLength(line));
    case Qt::ImSurroundingText: return Store->Line(line);
    case Qt::ImCurrentSelection: return SelectedText();
    case Qt::ImHints: return int(inputMethodHints());
    case Qt::ImMaximumTextLength: return QVariant();
    case Qt::ImAbsolutePosition: return CaretPos;
    case Qt::ImTextBeforeCursor: return Store->Slice(lineStart, CaretPos - lineStart);
    case Qt::ImTextAfterCursor: return Store->Slice(CaretPos, Store->LineEnd(line) - CaretPos);
    case Qt::ImReadOnly: return ReadOnly;
    default: return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- Screen readers ----------------------------------------------------------

namespace {

class TRichEditAccessible : public QAccessibleWidget, public QAccessibleTextInterface,
                            public QAccessibleEditableTextInterface {
public:
    explicit TRichEditAccessible(TRichEdit *edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

    TRichEdit *Edit() const { return static_cast<TRichEdit *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface *>(this);
        if (t == QAccessible::EditableTextInterface) return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = !Edit()->isReadOnly();
        s.readOnly = Edit()->isReadOnly();
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return TextSlice(Edit(), 0, TextLength(Edit()));
        return QAccessibleWidget::text(t);
    }

    // ---- QAccessibleTextInterface
    void selection(int index, int *start, int *end) const override {
        *start = *end = 0;
        if (index != 0 || !Edit()->HasSelection()) return;
        *start = Edit()->SelectionStart();
        *end = Edit()->SelectionEnd();
    }
    int selectionCount() const override { return Edit()->HasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override {
        if (index == 0) Edit()->SetSelection(Edit()->Caret(), Edit()->Caret());
    }
    void setSelection(int index, int start, int end) override {
        if (index == 0) Edit()->SetSelection(start, end);
    }
    int cursorPosition() const override { return Edit()->Caret(); }
    void setCursorPosition(int position) override { Edit()->SetSelection(position, position); }
    QString text(int start, int end) const override { return TextSlice(Edit(), start, end - start); }
    int characterCount() const override { return TextLength(Edit()); }
    QRect characterRect(int offset) const override {
        const QRect caret = Edit()->CaretRect(offset);
        const QRect next = Edit()->CaretRect(std::min(offset + 1, TextLength(Edit())));
        const int width = next.y() == caret.y() && next.x() > caret.x() ? next.x() - caret.x()
                                                                        : int(Edit()->ColumnWidth());
        const QPoint global = Edit()->viewport()->mapToGlobal(caret.topLeft());
        return QRect(global, QSize(width, caret.height()));
    }
    int offsetAtPoint(const QPoint &point) const override {
        return Edit()->PositionAt(Edit()->viewport()->mapFromGlobal(point));
    }
    void scrollToSubstring(int start, int end) override {
        const TTextStore *t = Edit()->Text();
        Edit()->ShowLines(t->LineOf(start), t->LineOf(std::max(start, end)));
    }
    QString attributes(int offset, int *start, int *end) const override {
        *start = *end = offset;
        return QString();
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *start, int *end) const override {
        if (type == QAccessible::LineBoundary) {
            const TTextStore *t = Edit()->Text();
            const int line = t->LineOf(offset);
            *start = t->LineStart(line);
            *end = line + 1 < t->LineCount() ? t->LineStart(line + 1) : t->Length();
            return t->Slice(*start, *end - *start);
        }
        return QAccessibleTextInterface::textAtOffset(offset, type, start, end);
    }

    // ---- QAccessibleEditableTextInterface
    void deleteText(int start, int end) override { replaceText(start, end, QString()); }
    void insertText(int offset, const QString &text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString &text) override {
        if (Edit()->isReadOnly()) return;
        SetSelection(Edit(), start, end - start);
        Edit()->insertPlainText(text);
    }
};

QAccessibleInterface *Factory(const QString &className, QObject *object) {
    if (className == QLatin1String("TRichEdit") && object && object->isWidgetType())
        return new TRichEditAccessible(static_cast<TRichEdit *>(object));
    return nullptr;
}

}  // namespace

void InstallRichEditAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}
