#include "richedit.h"

#include <QKeyEvent>
#include <QTextCursor>

namespace {

// Keys that only move the caret: kept out of edit blocks, where Qt forgets the
// column that up and down keep to.
bool Moves(const QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down:
    case Qt::Key_Home: case Qt::Key_End: case Qt::Key_PageUp: case Qt::Key_PageDown:
    case Qt::Key_Shift: case Qt::Key_Control: case Qt::Key_Alt: case Qt::Key_Meta:
        return true;
    default:
        return false;
    }
}

template <class F>
void InEditBlock(QPlainTextEdit *edit, F &&f) {
    QTextCursor block(edit->document());
    block.beginEditBlock();
    f();
    block.endEditBlock();
}

}  // namespace

TRichEdit::TRichEdit(QWidget *parent) : QPlainTextEdit(parent) {}

void TRichEdit::keyPressEvent(QKeyEvent *event) {
    if (Moves(event)) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    InEditBlock(this, [&] { QPlainTextEdit::keyPressEvent(event); });
}

void TRichEdit::inputMethodEvent(QInputMethodEvent *event) {
    InEditBlock(this, [&] { QPlainTextEdit::inputMethodEvent(event); });
}

void TRichEdit::dropEvent(QDropEvent *event) {
    InEditBlock(this, [&] { QPlainTextEdit::dropEvent(event); });
}
