#pragma once
// The document window's text control: a view of its own over a text store
// (textstore.h) and the colours beside it (colourstore.h). Only the lines on
// the screen are looked at when it paints.
//
// The text is laid out on a grid of half-width columns: a character that
// Shift-JIS writes with two bytes (and any other wide character) takes two
// columns, a tab runs to the next multiple of 8 columns, and lines never wrap.
// Positions are those of T (textstore.h): a line break counts two, and the
// caret never stands between its CR and its LF.
//
// The control's code lives in four files, each by its job: richedit.cpp (its
// making, the selection, the edits and scrolling), richpaint.cpp (layout and
// painting, the caret and the margin), richinput.cpp (keys, mouse, clipboard,
// context menu, drag and drop) and richaccess.cpp (input methods and screen
// readers).

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QInputMethodEvent>
#include <QPointer>
#include <QRawFont>
#include <QString>

#include "bracematch.h"
#include "columns.h"
#include "linemarks.h"
#include "textstore.h"

class QHelpEvent;
class QMenu;
class QMimeData;
class QPainter;
class TColourStore;

// Makes the control known to screen readers (its text, caret and selection);
// every control calls it.
void InstallRichEditAccessibility();

class TRichEdit : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TRichEdit(QWidget *parent = nullptr);
    ~TRichEdit() override;

    TTextStore *Text() const { return Store; }
    TColourStore *Colours() const { return ColourStore; }

    // ---- Selection: the anchor and the caret, positions of T.
    int Anchor() const { return AnchorPos; }
    int Caret() const { return CaretPos; }
    int SelectionStart() const { return std::min(AnchorPos, CaretPos); }
    int SelectionEnd() const { return std::max(AnchorPos, CaretPos); }
    bool HasSelection() const { return AnchorPos != CaretPos; }
    // Selects [anchor, caret) either way round, clipped to T; the caret is
    // not scrolled into view.
    void SetSelection(int anchor, int caret);
    // The selected text with its line breaks as "\n".
    QString SelectedText() const;

    // ---- Edits as the user makes them (each one undo step).
    // Replaces the selection by text (line breaks of any kind).
    void insertPlainText(const QString &text);
    // Replaces the whole text; clears the undo history.
    void setPlainText(const QString &text);
    // The whole text with "\n" line breaks.
    QString toPlainText() const;
    void clear() { setPlainText(QString()); }
    void undo();
    void redo();
    void cut();
    void copy() const;
    void paste();
    void selectAll();
    void DeleteSelection();

    bool isReadOnly() const { return ReadOnly; }
    void setReadOnly(bool readOnly);
    bool isUndoAvailable() const { return Store->CanUndo(); }
    bool isRedoAvailable() const { return Store->CanRedo(); }
    bool isModified() const { return Store->IsModified(); }
    void setModified(bool modified) { Store->SetModified(modified); }

    // ---- Geometry, in viewport coordinates.
    int LineHeight() const { return LineH; }
    qreal ColumnWidth() const { return CellW; }
    int FirstVisibleLine() const;
    // Whole lines that fit in the viewport (at least 1).
    int VisibleLines() const;
    // The position nearest to a point of the viewport.
    int PositionAt(const QPoint &point) const;
    // The caret's rectangle at position (1 pixel wide, the line's height).
    QRect CaretRect(int position) const;
    QRect cursorRect() const { return CaretRect(CaretPos); }
    // Column (0-based, half-width columns) of position within its line.
    int ColumnOf(int position) const;
    // Scrolls so that the caret is in view.
    void ensureCursorVisible();
    // Scrolls so that the lines from first to last (0-based) are wholly in
    // view, with up to `context` lines around them where the text has them,
    // whichever way the view moves; a range taller than the view shows its
    // first line at the top.
    void ShowLines(int first, int last, int context = 0);

    // The standard context menu: 元に戻す, やり直し, 切り取り, コピー, 貼り付け,
    // 削除, すべて選択 (object names edit-undo, edit-redo, edit-cut, edit-copy,
    // edit-paste, edit-delete, select-all).
    QMenu *createStandardContextMenu();

    // The line-number margin at the left, off at first.
    void SetLineNumbers(bool shown);
    bool LineNumbers() const { return NumbersShown; }
    // The width of the margin: the line numbers and a column of line marks
    // while there are any (0 with neither).
    int LineNumberWidth() const;
    // The margin's widget (nullptr while there is no margin).
    QWidget *Margin() const { return Numbers; }

    // ---- Marks on lines (linemarks.h): a column of them at the left of the
    // margin, a mark's message its tip; while there are marks the margin
    // shows, with the line numbers off as well.
    void SetLineMarks(const QString &group, const std::vector<TLineMark> &marks);
    void ClearLineMarks(const QString &group);
    // Every mark, by line.
    std::vector<TLineMark> LineMarks() const;
    // The width of the column of marks (0 while there are none), and the
    // colour of an error's mark and of a warning's.
    int MarkWidth() const;
    static QColor MarkColour(bool warning);

    // ---- The bracket beside the caret and its partner (bracematch.h), drawn
    // on a background of their own: one colour for a pair, another for a
    // bracket without a partner.
    const TBraceMarks &BraceMarks() const { return Braces; }
    static QColor BraceColour(bool matched);
    // The search for them, whose budget and marks may be set.
    TBraceMatch &BraceScanner() { return BraceScan; }

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    // The preedit shown at the caret (empty when none).
    QString Preedit() const { return PreeditText; }

    // Holds textChanged back until the outermost hold ends, so that work
    // that goes with an edit (such as the colouring of an undone step) is
    // done before anyone hears of it.
    class THold {
    public:
        explicit THold(TRichEdit *edit);
        ~THold();
        THold(const THold &) = delete;
        THold &operator=(const THold &) = delete;

    private:
        TRichEdit *Edit;
    };

signals:
    // The text changed; the caret, the selection and the colours have
    // followed it already.
    void textChanged();
    void cursorPositionChanged();
    void selectionChanged();
    void copyAvailable(bool available);
    void undoAvailable(bool available);
    void redoAvailable(bool available);
    void modificationChanged(bool modified);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool event(QEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // One edit of the user's: T[position, position + removed) becomes text,
    // the caret afterwards at caretAfter (-1: after the new text).
    void Edit(int position, int removed, const QString &text, TTextStore::Merge merge = TTextStore::NoMerge,
              int caretAfter = -1);
    void Edited(const TEditList &edits);
    // True for a key that types its text (printable, without Ctrl, Alt or Meta).
    static bool Typed(const QKeyEvent &e);
    void InsertFromMimeData(const QMimeData *source);
    // position moved by count characters, a line break counting one.
    int StepChars(int position, int count) const;
    void MoveCaret(int position, bool keepAnchor);
    void UpdateMetrics();
    void UpdateScrollBars();
    void WidenFor(int line);
    void RestartBlink();
    void UpdateCaret();
    void UpdateLines(int firstLine, int lastLine);
    void AutoScroll();
    int WordStart(int position) const;
    int WordEnd(int position) const;
    int PositionAtColumn(int line, qreal column) const;
    int LineOfY(int y) const;
    int TopY(int line) const;
    qreal XOf(int position) const;
    void SelectionChangedBy(int oldAnchor, int oldCaret);
    // What follows any move of the selection, by the user or with an edit:
    // the caret drawn anew, the signals, the input method and screen readers.
    void AfterSelectionMoved(int oldAnchor, int oldCaret, bool edited);

    TTextStore *Store;
    TColourStore *ColourStore;
    mutable TColumns Columns;         // the columns of the long lines
    int AnchorPos = 0, CaretPos = 0;
    int PendingCaret = -1;            // where an edit under way leaves the caret
    int PendingAnchor = -1;           // and the anchor (-1: at the caret)
    qreal GoalX = -1;                 // the column that Up and Down keep to
    bool ReadOnly = false;
    bool CaretShown = true;
    QRect CaretPainted;               // where the caret was painted last (null: nowhere)
    int Holding = 0;                  // holds of textChanged (see THold)
    bool ChangedWhileHeld = false;
    void ChangeHandled();
    int NumberedLine = -1;            // the caret's line as the margin last showed it
    QBasicTimer Blink, Scroller;
    int LineH = 16;
    int Ascent = 12;
    qreal CellW = 7;
    qreal WideW = 14;                 // a wide character's own advance in the font
    QRawFont Raw;                     // the font's glyphs, placed on the columns one by one
    int WidestColumns = 0;            // the widest line seen, in columns
    int ShownLines = 1;               // the line count the scroll bars were last set for
    QString PreeditText;
    QList<QInputMethodEvent::Attribute> PreeditAttributes;
    int PreeditCursor = 0;
    // Mouse: selecting by drag, by words after a double-click, or a drag of the selection.
    enum class Press { None, Select, Words, MaybeDrag } Pressed = Press::None;
    QPoint PressPoint;
    int WordAnchorStart = 0, WordAnchorEnd = 0;
    int DropCaret = -1;               // where a drag over the control would drop
    friend class TLineNumbers;
    QWidget *Numbers = nullptr;       // the margin, when shown
    bool NumbersShown = false;
    void PaintNumbers(QPaintEvent *event);
    void PlaceNumbers();
    TLineMarks Marks;
    void PaintMarks(QPainter &painter, int first, int last);
    bool MarginTip(QHelpEvent *event);
    // Tab and Shift+Tab on lines (indent.h).
    void ShiftLines(bool out);
    TBraceMatch BraceScan{Store};
    TBraceMarks Braces;
    int BraceLines[2] = {-1, -1};     // the lines of the marks drawn
    QBasicTimer BraceLater;           // the scan toward the caret goes on
    void UpdateBraces();
};
