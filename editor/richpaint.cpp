// The text control's layout and painting: the lines' rows and the
// characters' columns (a position and its point on the screen, either way),
// the scroll bars' ranges, the glyphs placed column by column in runs of one
// colour, the selection, the bracket marks and the caret drawn over them,
// the caret's blink, and the margin of line numbers and marks.
//
// Calls the text and colour stores, the columns, the line marks and the
// bracket scan below the control; none of the control's other files (its
// edits, its keys and mouse, its input methods): they call in here.
#include "richedit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "colourstore.h"
#include "columns.h"

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

// ---- Metrics and geometry -----------------------------------------------------

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

// ---- The marks on lines in the margin ----------------------------------------

QColor TRichEdit::MarkColour(bool warning) { return warning ? QColor(240, 160, 0) : QColor(220, 40, 40); }

int TRichEdit::MarkWidth() const { return Marks.IsEmpty() ? 0 : std::max(LineH, int(CellW * 2)); }

void TRichEdit::SetLineMarks(const QString &group, const std::vector<TLineMark> &marks) {
    Marks.Set(*Store, group, marks);
    PlaceNumbers();
}

void TRichEdit::ClearLineMarks(const QString &group) {
    if (Marks.Clear(group)) PlaceNumbers();
}

std::vector<TLineMark> TRichEdit::LineMarks() const { return Marks.On(0, Store->LineCount() - 1); }

void TRichEdit::PaintMarks(QPainter &painter, int first, int last) {
    const int w = MarkWidth();
    if (w == 0) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const std::vector<TLineMark> marks = Marks.On(first, last);
    for (size_t i = 0; i < marks.size(); ++i) {
        // An error on a line outweighs its warnings.
        const int line = marks[i].Line;
        bool warning = marks[i].Warning;
        while (i + 1 < marks.size() && marks[i + 1].Line == line) {
            ++i;
            warning = warning && marks[i].Warning;
        }
        const qreal size = std::min(w, LineH) - 4;
        const QRectF box((w - size) / 2, TopY(line) + (LineH - size) / 2, size, size);
        const QColor colour = MarkColour(warning);
        painter.setPen(QPen(colour.darker(140), 1));
        painter.setBrush(colour);
        if (warning) {
            QPainterPath triangle;
            triangle.moveTo(box.center().x(), box.top());
            triangle.lineTo(box.right(), box.bottom());
            triangle.lineTo(box.left(), box.bottom());
            triangle.closeSubpath();
            painter.drawPath(triangle);
        } else {
            painter.drawEllipse(box);
        }
    }
    painter.restore();
}

bool TRichEdit::MarginTip(QHelpEvent *event) {
    const int line = LineOfY(event->pos().y());
    QStringList texts;
    if (event->pos().y() < Store->LineCount() * LineH - FirstVisibleLine() * LineH)
        for (const TLineMark &m : Marks.On(line, line)) texts << m.Text;
    if (texts.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(event->globalPos(), texts.join(QLatin1Char('\n')), Numbers,
                       QRect(0, TopY(line), Numbers->width(), LineH));
    return true;
}

// ---- The bracket marks -------------------------------------------------------

QColor TRichEdit::BraceColour(bool matched) { return matched ? QColor(176, 226, 255) : QColor(255, 186, 186); }

void TRichEdit::UpdateBraces() {
    TBraceMarks now;
    if (BraceScan.Find(CaretPos, now) == TBraceMatch::Later)
        BraceLater.start(0, this);  // the scan goes on when the program is idle
    else
        BraceLater.stop();
    if (now == Braces) return;
    // The lines where the marks were drawn, and where they go.
    for (int &line : BraceLines) {
        if (line >= 0) UpdateLines(line, line);
        line = -1;
    }
    Braces = now;
    if (Braces.Bracket >= 0) BraceLines[0] = Store->LineOf(Braces.Bracket);
    if (Braces.Partner >= 0) BraceLines[1] = Store->LineOf(Braces.Partner);
    for (int line : BraceLines)
        if (line >= 0) UpdateLines(line, line);
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
