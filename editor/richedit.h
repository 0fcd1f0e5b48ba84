#pragma once
// The document window's text control: a QPlainTextEdit whose keyboard and drop
// edits each run as one edit block, so that the colouring that follows an edit
// joins it and undo takes both back in one step.
#include <QPlainTextEdit>

class TRichEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TRichEdit(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};
