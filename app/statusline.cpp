#include "statusline.h"

#include "richedit.h"

#include <QLabel>
#include <QStatusBar>

TStatusLine::TStatusLine(QStatusBar *bar) : QObject(bar), Bar(bar) {
    CaretField = new QLabel(Bar);
    CaretField->setObjectName(QStringLiteral("CaretField"));
    CaretField->setMinimumWidth(QFontMetrics(Bar->font()).horizontalAdvance(QStringLiteral("行 99999, 桁 9999")) + 8);
    Bar->addPermanentWidget(CaretField);
    // A note that another part shows is no hint: moving the pointer does not clear it.
    connect(Bar, &QStatusBar::messageChanged, this, [this] {
        if (!ShowingHint) HintShown = false;
    });
}

void TStatusLine::ShowHint(const QString &longHint) {
    if (longHint.isEmpty() && !HintShown) return;
    ShowingHint = true;
    Bar->showMessage(longHint);
    ShowingHint = false;
    HintShown = !longHint.isEmpty();
}

QString TStatusLine::Text() const { return Bar->currentMessage(); }

void TStatusLine::Follow(TRichEdit *editor) {
    if (editor != Editor) {
        if (Editor) Editor->disconnect(this);
        Editor = editor;
        if (editor) {
            connect(editor, &TRichEdit::cursorPositionChanged, this, &TStatusLine::UpdateCaretField);
            connect(editor, &TRichEdit::textChanged, this, &TStatusLine::UpdateCaretField);
        }
    }
    UpdateCaretField();
}

void TStatusLine::UpdateCaretField() {
    if (!Editor) {
        CaretField->clear();
        return;
    }
    const int caret = Editor->Caret();
    CaretField->setText(QStringLiteral("行 %1, 桁 %2").arg(Editor->Text()->LineOf(caret) + 1).arg(Editor->ColumnOf(caret) + 1));
}
