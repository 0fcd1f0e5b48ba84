#pragma once
// The document window's text control: a QPlainTextEdit that shows the colours
// of its text's colour store (colourstore.h). The colours reach the screen as
// formats of the blocks' layouts, set when a block is shown or its colours
// change; they never enter the document.
#include <QPlainTextEdit>

class TColourStore;

class TRichEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TRichEdit(QWidget *parent = nullptr);

    // Blocks longer than this show their colours only around what is on the
    // screen and around the caret, so that laying out an enormous line does not
    // also cost a format change per word.
    static constexpr int kLongBlock = 8192;

protected:
    void paintEvent(QPaintEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    void ColoursChanged(int first, int end);
    void Flush(bool inDocumentChange);
    // Gives the block's layout the formats of its colours; true when they changed.
    bool ShowColours(const QTextBlock &block, int around);
    void ShowVisibleColours();

    TColourStore *Store;
    int Epoch = 1;                      // blocks whose user state differs show stale colours
    int DirtyFirst = -1, DirtyEnd = -1;  // document range whose colours changed (end -1: all)
};
