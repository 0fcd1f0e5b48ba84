#include "richedit.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextCharFormat>
#include <algorithm>
#include <cmath>

#include "colourstore.h"
#include "columns.h"
#include "indent.h"
#include "sjis.h"

namespace {

constexpr int kPad = 4;            // pixels between the viewport's left edge and the first column
constexpr int kSpareColumns = 16;  // beyond the widest line, as room for typing

// The column after the character at i of p[0, n) that starts at column col
// (the second half of a pair takes none).
inline int Advance(const QChar *p, int i, int n, int col) {
    if (QChar::isLowSurrogate(p[i].unicode()) && i > 0 && QChar::isHighSurrogate(p[i - 1].unicode())) return col;
    int units = 1;
    return columns::Step(p, i, n, col, &units);
}

// A position never falls inside a surrogate pair.
inline bool InsidePair(const TText &t, int position) {
    return position > 0 && position < t.Length() && QChar::isLowSurrogate(t.At(position).unicode()) &&
           QChar::isHighSurrogate(t.At(position - 1).unicode());
}

bool IsWordChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c.isMark(); }

// What a character that has no glyph of its own shows: control characters as
// their control pictures, escaped bytes and lone surrogates as U+FFFD.
QChar Shown(QChar c, bool pairHalf) {
    const char16_t u = c.unicode();
    if (u < 0x20) return QChar(char16_t(0x2400 + u));
    if (u == 0x7F) return QChar(char16_t(0x2421));
    if (!pairHalf && QChar::isSurrogate(u)) return QChar(char16_t(0xFFFD));
    return c;
}

}  // namespace

// The margin of line numbers and marks: the view paints it and gives its tips.
class TLineNumbers : public QWidget {
public:
    explicit TLineNumbers(TRichEdit *edit) : QWidget(edit), Edit(edit) { setAttribute(Qt::WA_OpaquePaintEvent); }

protected:
    void paintEvent(QPaintEvent *event) override { Edit->PaintNumbers(event); }
    bool event(QEvent *event) override {
        if (event->type() == QEvent::ToolTip) return Edit->MarginTip(static_cast<QHelpEvent *>(event));
        return QWidget::event(event);
    }

private:
    TRichEdit *Edit;
};

TRichEdit::TRichEdit(QWidget *parent)
    : QAbstractScrollArea(parent), Store(new TTextStore(this)), Columns(Store) {
    // The caret follows an edit before anything else hears of it; then the
    // colours move along.
    connect(Store, &TTextStore::Edited, this, &TRichEdit::Edited);
    ColourStore = TColourStore::Of(Store);
    // textChanged comes once the colours have followed the edit as well.
    connect(ColourStore, &TColourStore::ChangeHandled, this, &TRichEdit::ChangeHandled);
    connect(ColourStore, &TColourStore::ColoursChanged, this, [this](int first, int end) {
        if (end < 0) {
            viewport()->update();
            return;
        }
        UpdateLines(Store->LineOf(first), Store->LineOf(end));
    });
    connect(Store, &TTextStore::UndoAvailable, this, &TRichEdit::undoAvailable);
    connect(Store, &TTextStore::RedoAvailable, this, &TRichEdit::redoAvailable);
    connect(Store, &TTextStore::ModificationChanged, this, &TRichEdit::modificationChanged);
    InstallRichEditAccessibility();
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAcceptDrops(true);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setInputMethodHints(Qt::ImhMultiLine);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    UpdateMetrics();
    UpdateScrollBars();
}

TRichEdit::~TRichEdit() = default;

// ---- Metrics and scrolling --------------------------------------------------

void TRichEdit::UpdateMetrics() {
    const QFontMetricsF fm(font());
    LineH = std::max(1, int(std::ceil(fm.height())));
    Ascent = int(std::ceil(fm.ascent()));
    CellW = std::max<qreal>(1, fm.horizontalAdvance(QString(80, QLatin1Char('x'))) / 80);
    WideW = fm.horizontalAdvance(QString(40, QChar(0x3042))) / 40;
    Raw = QRawFont::fromFont(font());
}

int TRichEdit::FirstVisibleLine() const { return verticalScrollBar()->value(); }

int TRichEdit::VisibleLines() const { return std::max(1, viewport()->height() / LineH); }

int TRichEdit::TopY(int line) const { return (line - FirstVisibleLine()) * LineH; }

int TRichEdit::LineOfY(int y) const {
    const int line = FirstVisibleLine() + (y >= 0 ? y / LineH : -((-y + LineH - 1) / LineH));
    return std::clamp(line, 0, Store->LineCount() - 1);
}

void TRichEdit::UpdateScrollBars() {
    QScrollBar *v = verticalScrollBar();
    const int page = VisibleLines();
    v->setPageStep(page);
    v->setSingleStep(1);
    v->setRange(0, std::max(0, Store->LineCount() - page));
    QScrollBar *h = horizontalScrollBar();
    const int width = int(std::ceil((WidestColumns + 1) * CellW)) + kPad;
    h->setPageStep(std::max(1, viewport()->width()));
    h->setSingleStep(std::max(1, int(CellW) * 2));
    h->setRange(0, std::max(0, width - viewport()->width()));
}

void TRichEdit::WidenFor(int line) {
    const int length = Store->LineLength(line);
    if (length <= WidestColumns / 2) return;  // no line of n characters is wider than 2n columns... but tabs
    const int columns = ColumnOf(Store->LineEnd(line));
    if (columns > WidestColumns) {
        // With room to spare, so that typing at the end of the widest line
        // does not change the scroll bar at every key.
        WidestColumns = columns + kSpareColumns;
        UpdateScrollBars();
    }
}

void TRichEdit::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    PlaceNumbers();
}

void TRichEdit::scrollContentsBy(int, int dy) {
    viewport()->update();
    if (Numbers && dy) Numbers->update();
}

int TRichEdit::LineNumberWidth() const {
    if (!NumbersShown) return MarkWidth();
    int digits = 1;
    for (int n = Store->LineCount(); n >= 10; n /= 10) ++digits;
    return MarkWidth() + int(std::ceil(std::max(digits, 3) * CellW + CellW * 1.5));
}

void TRichEdit::SetLineNumbers(bool shown) {
    if (shown == NumbersShown) return;
    NumbersShown = shown;
    PlaceNumbers();
}

void TRichEdit::PlaceNumbers() {
    // The margin shows while it has numbers or marks to show.
    const bool wanted = NumbersShown || !Marks.IsEmpty();
    if (wanted && !Numbers) {
        Numbers = new TLineNumbers(this);
        Numbers->show();
    } else if (!wanted && Numbers) {
        delete Numbers;
        Numbers = nullptr;
    }
    const int width = LineNumberWidth();
    if (viewportMargins().left() != width) setViewportMargins(width, 0, 0, 0);
    if (!Numbers) return;
    const QRect v = viewport()->geometry();
    Numbers->setGeometry(QRect(v.left() - width, v.top(), width, v.height()));
    Numbers->update();
}

void TRichEdit::PaintNumbers(QPaintEvent *event) {
    QPainter painter(Numbers);
    const QPalette &pal = palette();
    painter.fillRect(event->rect(), pal.color(QPalette::Window));
    painter.setFont(font());
    painter.setPen(pal.color(QPalette::PlaceholderText));
    const int width = Numbers->width();
    const int caretLine = Store->LineOf(CaretPos);
    NumberedLine = caretLine;
    const int first = LineOfY(event->rect().top()), last = std::min(Store->LineCount() - 1, LineOfY(event->rect().bottom()));
    const int marks = MarkWidth();
    for (int line = first; line <= last && NumbersShown; ++line) {
        const QRect r(marks, TopY(line), width - marks - int(CellW / 2) - 2, LineH);
        painter.setPen(line == caretLine ? pal.color(QPalette::Text) : pal.color(QPalette::PlaceholderText));
        painter.drawText(r, Qt::AlignRight | Qt::AlignVCenter, QString::number(line + 1));
    }
    PaintMarks(painter, first, last);
}

void TRichEdit::changeEvent(QEvent *event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        UpdateScrollBars();
        PlaceNumbers();
        viewport()->update();
    }
}

int TRichEdit::ColumnOf(int position) const { return Columns.ColumnOf(position); }

qreal TRichEdit::XOf(int position) const { return ColumnOf(position) * CellW - horizontalScrollBar()->value() + kPad; }

QRect TRichEdit::CaretRect(int position) const {
    position = std::clamp(position, 0, Store->Length());
    const int line = Store->LineOf(position);
    qreal x = XOf(position);
    if (!PreeditText.isEmpty() && position == CaretPos) {
        int col = 0;
        for (int i = 0; i < PreeditCursor && i < PreeditText.size(); ++i)
            col = Advance(PreeditText.constData(), i, int(PreeditText.size()), col);
        x += col * CellW;
    }
    return QRect(int(std::floor(x)), TopY(line), 1, LineH);
}

int TRichEdit::PositionAtColumn(int line, qreal column) const { return Columns.PositionAt(line, column); }

int TRichEdit::PositionAt(const QPoint &point) const {
    const int line = LineOfY(point.y());
    const qreal column = (point.x() - kPad + horizontalScrollBar()->value()) / CellW;
    return PositionAtColumn(line, column);
}

void TRichEdit::ensureCursorVisible() {
    const int line = Store->LineOf(CaretPos);
    QScrollBar *v = verticalScrollBar();
    if (line < v->value())
        v->setValue(line);
    else if (line >= v->value() + VisibleLines())
        v->setValue(line - VisibleLines() + 1);
    QScrollBar *h = horizontalScrollBar();
    const qreal x = ColumnOf(CaretPos) * CellW;
    const int width = viewport()->width();
    if (x < h->value())
        h->setValue(std::max(0, int(x) - width / 4));
    else if (x + CellW * 2 > h->value() + width) {
        if (x + CellW * 2 > h->maximum() + width) {
            WidestColumns = std::max(WidestColumns, int(x / CellW) + 2);
            UpdateScrollBars();
        }
        h->setValue(int(x + CellW * 2) - width + width / 4);
    }
}

void TRichEdit::ShowLines(int first, int last, int context) {
    const int count = Store->LineCount();
    first = std::clamp(first, 0, count - 1);
    last = std::clamp(last, first, count - 1);
    const int page = VisibleLines();
    QScrollBar *v = verticalScrollBar();
    const int top = v->value();
    const int margin = std::max(0, std::min(context, (page - (last - first + 1)) / 2));
    if (last - first + 1 > page) {
        v->setValue(std::max(0, first - 0));
    } else if (first - margin < top) {
        v->setValue(std::max(0, first - margin));
    } else if (last + margin >= top + page) {
        v->setValue(std::min(last + margin - page + 1, first));
    }
}

// ---- Selection ---------------------------------------------------------------

void TRichEdit::SelectionChangedBy(int oldAnchor, int oldCaret) {
    if (oldAnchor == AnchorPos && oldCaret == CaretPos) return;
    if (oldAnchor != oldCaret || HasSelection()) {
        UpdateLines(Store->LineOf(std::min({oldAnchor, oldCaret, AnchorPos, CaretPos})),
                    Store->LineOf(std::max({oldAnchor, oldCaret, AnchorPos, CaretPos})));
    }
    AfterSelectionMoved(oldAnchor, oldCaret, false);
}

void TRichEdit::AfterSelectionMoved(int oldAnchor, int oldCaret, bool edited) {
    // The caret is drawn anew where it was painted last and where it is now.
    UpdateCaret();
    if (edited || oldCaret != CaretPos) UpdateBraces();
    const bool hadSelection = oldAnchor != oldCaret;
    const bool selectionMoved = oldAnchor != AnchorPos || oldCaret != CaretPos;
    if (Numbers && (edited || oldCaret != CaretPos) && NumberedLine != Store->LineOf(CaretPos)) Numbers->update();
    if (hadSelection != HasSelection()) emit copyAvailable(HasSelection());
    if (selectionMoved && (hadSelection || HasSelection())) emit selectionChanged();
    if (oldCaret != CaretPos) emit cursorPositionChanged();
    if (!selectionMoved && !edited) return;
    if (hasFocus() || (QApplication::focusObject() == this)) {
        if (QInputMethod *im = QGuiApplication::inputMethod()) im->update(Qt::ImQueryInput);
    }
    if (QAccessible::isActive()) {
        if (selectionMoved && (hadSelection || HasSelection())) {
            QAccessibleTextSelectionEvent ev(this, SelectionStart(), SelectionEnd());
            ev.setCursorPosition(CaretPos);
            QAccessible::updateAccessibility(&ev);
        }
        if (oldCaret != CaretPos || edited) {
            QAccessibleTextCursorEvent ev(this, CaretPos);
            QAccessible::updateAccessibility(&ev);
        }
    }
}

void TRichEdit::SetSelection(int anchor, int caret) {
    anchor = Store->Snap(anchor);
    caret = Store->Snap(caret);
    if (InsidePair(*Store, anchor)) --anchor;
    if (InsidePair(*Store, caret)) --caret;
    const int oldAnchor = AnchorPos, oldCaret = CaretPos;
    AnchorPos = anchor;
    CaretPos = caret;
    GoalX = -1;
    Store->BreakMerge();
    SelectionChangedBy(oldAnchor, oldCaret);
}

void TRichEdit::MoveCaret(int position, bool keepAnchor) {
    // Forgets the column Up and Down kept to: they set it again after moving.
    SetSelection(keepAnchor ? AnchorPos : position, position);
    ensureCursorVisible();
    RestartBlink();
}

QString TRichEdit::SelectedText() const {
    QString s = Store->Slice(SelectionStart(), SelectionEnd() - SelectionStart());
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

void TRichEdit::selectAll() { SetSelection(0, Store->Length()); }

// ---- Edits -------------------------------------------------------------------

void TRichEdit::Edit(int position, int removed, const QString &text, TTextStore::Merge merge, int caretAfter) {
    if (ReadOnly) return;
    position = Store->Snap(position);
    const int end = Store->Snap(std::clamp(position + removed, position, Store->Length()));
    int added = 0;
    {
        // The length of text in T form: a lone LF or CR becomes CR LF.
        const QChar *p = text.constData();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = p[i].unicode();
            if (c == u'\r' && i + 1 < text.size() && p[i + 1].unicode() == u'\n') {
                added += 2;
                ++i;
            } else if (c == u'\r' || c == u'\n' || c == u'\x2029') {
                added += 2;
            } else {
                ++added;
            }
        }
    }
    PendingCaret = caretAfter >= 0 ? caretAfter : position + added;
    struct Done {
        int &Pending;
        ~Done() { Pending = -1; }
    } done{PendingCaret};
    // A text that would grow past the most it holds takes nothing.
    if (!Store->Replace(position, end - position, text, AnchorPos, CaretPos, PendingCaret, merge)) QApplication::beep();
}

void TRichEdit::Edited(const TEditList &edits) {
    Columns.Edited(edits);
    BraceScan.Edited(edits);
    if (Marks.Edited(*Store, edits, [this](size_t k) { return Store->RemovedText(k); })) PlaceNumbers();
    const int oldAnchor = AnchorPos, oldCaret = CaretPos;
    if (PendingCaret >= 0) {
        CaretPos = std::clamp(PendingCaret, 0, Store->Length());
        AnchorPos = PendingAnchor >= 0 ? std::clamp(PendingAnchor, 0, Store->Length()) : CaretPos;
    } else {
        // Positions move along with the text, as the caret of another view would.
        auto move = [&](int p) { return std::clamp(textstore::MovedBy(edits, p), 0, Store->Length()); };
        AnchorPos = move(AnchorPos);
        CaretPos = move(CaretPos);
    }
    // The lines from the first edit to the end of the last are drawn anew; a
    // change of the line count moves everything below, down to the foot of
    // the view (where the lines of a longer text were).
    const TEdit &first = edits.front();
    const TEdit &last = edits.back();
    int delta = 0;
    for (const TEdit &e : edits) delta += e.Added - e.Removed;
    const int firstLine = Store->LineOf(first.Position);
    const int lastLine = Store->LineOf(last.Position + last.Added + delta - (last.Added - last.Removed));
    if (edits.size() == 1 && first.Position == 0 && first.Removed > 0 && first.Added == Store->Length() &&
        first.Removed != first.Added) {
        WidestColumns = 0;
    }
    if (edits.size() <= 64) {
        const int a = Store->LineOf(first.Position), b = std::max(a, lastLine);
        for (int l = a; l <= b && l - a < 256; ++l) WidenFor(l);
    }
    if (WidestColumns == 0) {
        // After a load: the longest line by its characters, widened when a
        // line with tabs or wide characters comes into view.
        int widest = 0;
        const int lines = Store->LineCount();
        int previous = 0;
        for (int l = 1; l <= lines; ++l) {
            const int start = l < lines ? Store->LineStart(l) : Store->Length() + 2;
            widest = std::max(widest, start - 2 - previous);
            previous = start;
        }
        WidestColumns = std::max(widest, 1);
    }
    const bool moved = Store->LineCount() != ShownLines;
    ShownLines = Store->LineCount();
    if (moved) UpdateScrollBars();
    if (moved && Numbers) PlaceNumbers();
    if (moved)
        UpdateLines(firstLine, FirstVisibleLine() + VisibleLines() + 1);
    else
        UpdateLines(firstLine, lastLine);
    GoalX = -1;
    // What a screen reader hears: each edit in turn, at its place in the text
    // as the edits before it have left it, with the text it took away and the
    // text it put in.
    if (QAccessible::isActive()) {
        int shift = 0;
        for (size_t i = 0; i < edits.size(); ++i) {
            const TEdit &e = edits[i];
            const int at = e.Position + shift;
            if (e.Removed) {
                QAccessibleTextRemoveEvent ev(this, at, Store->RemovedText(i));
                QAccessible::updateAccessibility(&ev);
            }
            if (e.Added) {
                QAccessibleTextInsertEvent ev(this, at, Store->Slice(at, e.Added));
                QAccessible::updateAccessibility(&ev);
            }
            shift += e.Added - e.Removed;
        }
    }
    AfterSelectionMoved(oldAnchor, oldCaret, true);
}

void TRichEdit::ChangeHandled() {
    if (Holding)
        ChangedWhileHeld = true;
    else
        emit textChanged();
}

TRichEdit::THold::THold(TRichEdit *edit) : Edit(edit) { ++Edit->Holding; }

TRichEdit::THold::~THold() {
    if (--Edit->Holding > 0 || !Edit->ChangedWhileHeld) return;
    Edit->ChangedWhileHeld = false;
    emit Edit->textChanged();
}

void TRichEdit::insertPlainText(const QString &text) {
    Edit(SelectionStart(), SelectionEnd() - SelectionStart(), text);
    ensureCursorVisible();
}

void TRichEdit::setPlainText(const QString &text) {
    PendingCaret = 0;
    WidestColumns = 0;
    Store->Load(text);
    PendingCaret = -1;
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

QString TRichEdit::toPlainText() const {
    QString s = Store->Slice(0, Store->Length());
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

void TRichEdit::setReadOnly(bool readOnly) {
    ReadOnly = readOnly;
    setAttribute(Qt::WA_InputMethodEnabled, !readOnly);
    viewport()->update();
}

void TRichEdit::DeleteSelection() {
    if (HasSelection()) Edit(SelectionStart(), SelectionEnd() - SelectionStart(), QString());
}

void TRichEdit::undo() {
    int anchor = 0, caret = 0;
    PendingCaret = -1;
    if (ReadOnly || !Store->Undo(anchor, caret)) return;
    SetSelection(anchor, caret);
    ensureCursorVisible();
}

void TRichEdit::redo() {
    int anchor = 0, caret = 0;
    if (ReadOnly || !Store->Redo(anchor, caret)) return;
    SetSelection(anchor, caret);
    ensureCursorVisible();
}

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
        return InsidePair(*Store, p - 1) ? p - 2 : p - 1;
    };
    auto nextChar = [&](int p) {
        if (p >= length) return length;
        if (Store->At(p) == QLatin1Char('\r') && Store->At(p + 1) == QLatin1Char('\n')) return p + 2;
        return InsidePair(*Store, p + 1) ? p + 2 : p + 1;
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

// ---- Focus and the caret -----------------------------------------------------

void TRichEdit::focusInEvent(QFocusEvent *e) {
    QAbstractScrollArea::focusInEvent(e);
    RestartBlink();
    UpdateLines(Store->LineOf(SelectionStart()), Store->LineOf(SelectionEnd()));
}

void TRichEdit::focusOutEvent(QFocusEvent *e) {
    QAbstractScrollArea::focusOutEvent(e);
    Blink.stop();
    CaretShown = false;
    UpdateCaret();
}

void TRichEdit::RestartBlink() {
    CaretShown = true;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0)
        Blink.start(flash / 2, this);
    else
        Blink.stop();
    UpdateCaret();
}

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

void TRichEdit::UpdateCaret() {
    if (!CaretPainted.isNull()) viewport()->update(CaretPainted);
    const QRect r = CaretRect(CaretPos);
    viewport()->update(QRect(r.x() - 2, r.y(), r.width() + 4, r.height()));
}

void TRichEdit::UpdateLines(int firstLine, int lastLine) {
    const int top = FirstVisibleLine();
    const int bottom = top + VisibleLines() + 1;
    firstLine = std::max(firstLine, top);
    lastLine = std::min(lastLine, bottom);
    if (firstLine > lastLine) return;
    viewport()->update(QRect(0, TopY(firstLine), viewport()->width(), (lastLine - firstLine + 1) * LineH));
}

// ---- Painting ----------------------------------------------------------------

void TRichEdit::paintEvent(QPaintEvent *event) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QRect clip = event->rect();
    const QPalette &pal = palette();
    const QColor textColour = pal.color(QPalette::Text);
    const QColor selBack = pal.color(QPalette::Highlight);
    const QColor selText = pal.color(QPalette::HighlightedText);
    const int hscroll = horizontalScrollBar()->value() - kPad;
    const int width = viewport()->width();
    const int firstLine = std::max(0, LineOfY(clip.top()));
    const int lastLine = std::min(Store->LineCount() - 1, LineOfY(clip.bottom()));
    ColourStore->CatchUp(Store->LineEnd(lastLine));
    const int selStart = SelectionStart(), selEnd = SelectionEnd();
    const int caretLine = Store->LineOf(CaretPos);
    const int firstColumn = int(hscroll / CellW);
    const int lastColumn = int((hscroll + width) / CellW) + 2;

    struct Glyph {
        QChar Ch;
        int Column;
        int Cells;
        std::uint8_t Code;     // colour code
        bool Selected;
        bool Preedit;
        bool Special;          // drawn by itself
        QTextCharFormat Format;
    };
    std::vector<Glyph> glyphs;
    std::vector<TColourChunks::Code> codes;
    QString text;

    for (int line = firstLine; line <= lastLine; ++line) {
        const int y = TopY(line);
        const int end = Store->LineEnd(line);
        // The characters from the first one on the screen, at their columns:
        // a line scrolled sideways starts at the character under the left
        // edge (the caret's line with a preedit at its start, to place it).
        glyphs.clear();
        int col = 0;
        const bool hasPreedit = line == caretLine && !PreeditText.isEmpty();
        const int start = firstColumn > 0 && !hasPreedit ? Columns.StartAt(line, firstColumn, &col) : Store->LineStart(line);
        int pos = start;
        // No character past twice the columns to the last one can be on the
        // screen (every character but the second half of a pair takes a column).
        const int shownEnd = int(std::min<qint64>(end, start + 2 * qint64(lastColumn - col) + 16));
        text = Store->Slice(start, shownEnd - start);
        const QChar *p = text.constData();
        const int n = int(text.size());
        codes.assign(size_t(n), 0);
        ColourStore->Codes().Runs(start, shownEnd, [&](int a, int b, TColourChunks::Code c) {
            std::fill(codes.begin() + (a - start), codes.begin() + (b - start), c);
        });
        auto addPreedit = [&]() {
            const int pn = int(PreeditText.size());
            for (int i = 0; i < pn; ++i) {
                const int next = Advance(PreeditText.constData(), i, pn, col);
                QTextCharFormat f;
                for (const QInputMethodEvent::Attribute &a : std::as_const(PreeditAttributes))
                    if (a.type == QInputMethodEvent::TextFormat && i >= a.start && i < a.start + a.length)
                        f = a.value.value<QTextFormat>().toCharFormat();
                const bool pair = QChar::isSurrogate(PreeditText[i].unicode()) && next == col;
                if (!pair) glyphs.push_back({PreeditText[i], col, next - col, 0, false, true, false, f});
                else if (!glyphs.empty()) glyphs.back().Special = true;
                col = next;
            }
        };
        for (int i = 0; i < n; ++i, ++pos) {
            if (hasPreedit && pos == CaretPos) addPreedit();
            if (col > lastColumn) break;
            const int next = Advance(p, i, n, col);
            const char16_t c = p[i].unicode();
            const bool lowHalf = QChar::isLowSurrogate(c) && i > 0 && QChar::isHighSurrogate(p[i - 1].unicode());
            if (next >= firstColumn && c != u'\t' && !lowHalf) {
                const bool highHalf = QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(p[i + 1].unicode());
                Glyph g{Shown(p[i], highHalf), col, next - col, codes[size_t(i)], pos >= selStart && pos < selEnd,
                        false, highHalf || Shown(p[i], highHalf) != p[i], {}};
                if ((pos == Braces.Bracket || pos == Braces.Partner) && pos >= 0 && !g.Selected)
                    painter.fillRect(QRectF(col * CellW - hscroll, y, (next - col) * CellW, LineH), BraceColour(Braces.Matched()));
                glyphs.push_back(g);
                if (highHalf) {
                    glyphs.push_back({p[i + 1], col, 0, codes[size_t(i)], g.Selected, false, true, {}});
                }
            } else if (c == u'\t' && next >= firstColumn && pos >= selStart && pos < selEnd) {
                glyphs.push_back({QLatin1Char(' '), col, next - col, 0, true, false, true, {}});
            }
            col = next;
        }
        if (hasPreedit && CaretPos == end && col <= lastColumn && shownEnd == end) addPreedit();
        if (line + 1 < Store->LineCount() && end >= selStart && end < selEnd && shownEnd == end && col <= lastColumn) {
            // The selected line break.
            const qreal x = col * CellW - hscroll;
            painter.fillRect(QRectF(x, y, CellW, LineH), selBack);
        }
        if (col > WidestColumns && !hasPreedit && shownEnd == end) {
            WidestColumns = col + kSpareColumns;
            QMetaObject::invokeMethod(this, [this] { UpdateScrollBars(); }, Qt::QueuedConnection);
        }
        // Selection backgrounds, then the text in runs of one colour.
        for (const Glyph &g : glyphs)
            if (g.Selected && g.Cells > 0)
                painter.fillRect(QRectF(g.Column * CellW - hscroll, y, g.Cells * CellW, LineH), selBack);
        size_t i = 0;
        while (i < glyphs.size()) {
            const Glyph &g = glyphs[i];
            QColor fg = g.Selected ? selText : (g.Preedit ? textColour : ColourStore->ColourOf(g.Code));
            if (!fg.isValid()) fg = textColour;
            const qreal x = g.Column * CellW - hscroll;
            if (g.Preedit) {
                const QTextCharFormat &f = g.Format;
                if (f.background().style() != Qt::NoBrush)
                    painter.fillRect(QRectF(x, y, g.Cells * CellW, LineH), f.background());
                if (f.foreground().style() != Qt::NoBrush) fg = f.foreground().color();
                painter.setPen(fg);
                QString s(g.Ch);
                if (i + 1 < glyphs.size() && glyphs[i + 1].Preedit && glyphs[i + 1].Cells == 0) s += glyphs[++i].Ch;
                painter.drawText(QPointF(x, y + Ascent), s);
                painter.drawLine(QPointF(x, y + LineH - 1), QPointF(x + g.Cells * CellW, y + LineH - 1));
                ++i;
                continue;
            }
            if (g.Special) {
                painter.setPen(fg);
                QString s(g.Ch);
                if (i + 1 < glyphs.size() && glyphs[i + 1].Cells == 0 && !glyphs[i + 1].Preedit) s += glyphs[++i].Ch;
                if (g.Ch == QLatin1Char(' ')) {
                    ++i;
                    continue;
                }
                painter.drawText(QPointF(x, y + Ascent), s);
                ++i;
                continue;
            }
            // A run: the same colour and selection, columns in a row.
            QString run(g.Ch);
            size_t j = i + 1;
            int nextColumn = g.Column + g.Cells;
            while (j < glyphs.size() && !glyphs[j].Special && !glyphs[j].Preedit && glyphs[j].Column == nextColumn &&
                   glyphs[j].Selected == g.Selected && (g.Selected || glyphs[j].Code == g.Code)) {
                run += glyphs[j].Ch;
                nextColumn += glyphs[j].Cells;
                ++j;
            }
            if (!(run.size() == 1 && run[0] == QLatin1Char(' '))) {
                painter.setPen(fg);
                // Each glyph at its own column, whatever the font's advances:
                // the caret and the mouse count in columns.
                const QList<quint32> indexes = Raw.glyphIndexesForString(run);
                bool missing = indexes.size() != run.size();
                for (quint32 index : indexes) missing = missing || index == 0;
                if (!Raw.isValid() || missing) {
                    for (size_t k = i; k < j; ++k)
                        painter.drawText(QPointF(glyphs[k].Column * CellW - hscroll, y + Ascent), QString(glyphs[k].Ch));
                } else {
                    QList<QPointF> positions;
                    positions.reserve(run.size());
                    for (size_t k = i; k < j; ++k) positions.append(QPointF((glyphs[k].Column - g.Column) * CellW, 0));
                    QGlyphRun glyphRun;
                    glyphRun.setRawFont(Raw);
                    glyphRun.setGlyphIndexes(indexes);
                    glyphRun.setPositions(positions);
                    painter.drawGlyphRun(QPointF(x, y + Ascent), glyphRun);
                }
            }
            i = j;
        }
    }
    // The caret, and where a drag would drop.
    const bool focused = hasFocus();
    if ((focused && CaretShown) || DropCaret >= 0) {
        const QRect r = CaretRect(DropCaret >= 0 ? DropCaret : CaretPos);
        const QRect bar(r.x(), r.y(), 2, r.height());
        if (r.intersects(clip.adjusted(-2, 0, 2, 0))) {
            painter.fillRect(bar, textColour);
            CaretPainted = bar;
        }
    } else if (clip.contains(CaretPainted)) {
        CaretPainted = QRect();
    }
}

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
