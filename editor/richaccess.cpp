// What a screen reader learns of the text control: its text, the caret, the
// selection, where each character is on the screen, and edits made through it.
// Offsets are positions of T.
#include <QAccessibleWidget>
#include <QScrollBar>

#include "richedit.h"
#include "textpos.h"

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
