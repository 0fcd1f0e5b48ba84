#pragma once
// The main window's status line: the hints, and the lasting field at its
// right with the active document's caret.
//
// A hint (a menu entry's or a control's long hint, while it is pointed at)
// shows in the status line; an empty one clears only a hint, never a note
// that another part put there (a search's count, what start-up left alone),
// which stays until something else is shown.
//
// The caret field: "行 N, 桁 M" of the followed editor's caret (1-based; a
// full-width character takes two columns), empty without one.
#include <QObject>
#include <QPointer>

class QLabel;
class QStatusBar;
class TRichEdit;

class TStatusLine : public QObject {
    Q_OBJECT
public:
    explicit TStatusLine(QStatusBar *bar);

    QLabel *CaretField = nullptr;

    void ShowHint(const QString &longHint);
    // The text shown (the current long hint, or a note).
    QString Text() const;
    // The caret field follows `editor` (the active document's; none: empty).
    void Follow(TRichEdit *editor);

private:
    void UpdateCaretField();

    QStatusBar *const Bar;
    bool HintShown = false;    // the status line shows a hint
    bool ShowingHint = false;  // a hint is being put there now
    QPointer<TRichEdit> Editor;
};
