#pragma once
// Find and replace in an editor's text control, the non-modal find/replace
// dialog, and the go-to-line dialog.
//
// Searching works line by line on the text store's lines, each read where it
// lies (search.h gives the rule): a match lies within one line and is selected
// by its positions. A replacement is an edit like typing: the document
// window's change event marks the caption and recolours the caret's line.

#include <QDialog>
#include <QString>
#include <functional>

#include "search.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class TRichEdit;
class QPushButton;
class QSpinBox;

namespace finding {

enum Result { NotFound, Found, Wrapped };

struct Request {
    QString Pattern;
    search::Options Options;
    bool Backwards = false;
    bool Wrap = true;  // go on from the other end of the text when nothing is left
};

// Finds the next match after the selection (forwards: from its end; backwards:
// ending before its start) and selects it, scrolled into view. NotFound leaves
// the selection alone; Wrapped says the search went past the end (or the top)
// and started again at the other end.
Result FindNext(TRichEdit *control, const Request &request);

// True when the selection is exactly one match.
bool SelectionMatches(const TRichEdit *control, const Request &request);

// Replace: a selection that is a match is replaced by `replacement`, then the
// next match is found and selected. Returns the result of that search; `replaced`
// tells whether a replacement was made.
Result ReplaceNext(TRichEdit *control, const Request &request, const QString &replacement, bool *replaced = nullptr);

// Replaces every match in the whole text as one undo step and returns their
// number. Each changed line is coloured as typing on it would colour it; the
// selection stays where it was.
int ReplaceAll(TRichEdit *control, const Request &request, const QString &replacement);

}  // namespace finding

// The find/replace dialog: non-modal, acting on the control that Target gives
// (the active editor) each time a button is pressed.
class TFindDialog : public QDialog {
    Q_OBJECT
public:
    explicit TFindDialog(QWidget *parent = nullptr);

    QLineEdit *FindText = nullptr;
    QLineEdit *ReplaceText = nullptr;
    QCheckBox *MatchCase = nullptr;
    QCheckBox *WholeWord = nullptr;
    QCheckBox *Backwards = nullptr;
    QCheckBox *WrapAround = nullptr;
    QPushButton *FindButton = nullptr;
    QPushButton *ReplaceButton = nullptr;
    QPushButton *ReplaceAllButton = nullptr;
    QPushButton *CloseButton = nullptr;
    QLabel *Status = nullptr;

    // The control searched; none: the buttons do nothing.
    std::function<TRichEdit *()> Target;

    // Shows the dialog, with or without the replace part, the search text
    // taken from a one-line selection of the target.
    void ShowFor(bool replace);

    finding::Request CurrentRequest(bool backwards) const;
    // Find next (backwards: find previous) with the dialog's settings.
    finding::Result FindAgain(bool backwards);
    void ReplaceClick();
    void ReplaceAllClick();

signals:
    // A note for the main window's status line.
    void Note(const QString &text);

private:
    void Report(finding::Result result, const QString &pattern, bool backwards);
    void Say(const QString &text);
    QLabel *ReplaceLabel = nullptr;
};

// The go-to-line dialog: a line number between 1 and the line count.
class TGoToLineDialog : public QDialog {
    Q_OBJECT
public:
    TGoToLineDialog(int lineCount, int current, QWidget *parent = nullptr);
    QSpinBox *Line = nullptr;
    QLabel *Prompt = nullptr;

    // Runs the dialog; the chosen line, 0 when cancelled.
    static int Ask(QWidget *parent, int lineCount, int current);
};
