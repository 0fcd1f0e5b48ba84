#include "outputpane.h"

#include "sjis.h"
#include "tabset.h"

#include <QBoxLayout>
#include <QEvent>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

namespace {
constexpr int Margin = 2;  // between the pane's left edge and a row's text

// A prefix that doesn't end inside a surrogate pair.
QStringView Prefix(QStringView text, qsizetype length) {
    if (length >= text.size()) return text;
    if (length > 0 && text.at(length - 1).isHighSurrogate()) --length;
    return text.left(length);
}
}  // namespace

TOutputList::TOutputList(QWidget *parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Batch = new QTimer(this);
    Batch->setSingleShot(true);
    Batch->setInterval(BatchMs);
    connect(Batch, &QTimer::timeout, this, &TOutputList::Flush);
}

TOutputList::~TOutputList() {
    if (Decoder.joinable()) Decoder.join();
}

void TOutputList::Append(const QString &row) {
    if (Decoder.joinable())
        Waiting.push_back({row, QByteArray(), false});
    else
        Add(row);
}

void TOutputList::AppendLine(const QByteArray &bytes) {
    if (Decoder.joinable()) {
        Waiting.push_back({QString(), bytes, true});
    } else if (bytes.size() <= DecodeAside) {
        Add(sjis::decode(bytes));
    } else {
        Decoder = std::thread([this, bytes, generation = Generation] {
            QString row = sjis::decode(bytes);
            QMetaObject::invokeMethod(
                this, [this, generation, row = std::move(row)] { Decoded(generation, row); }, Qt::QueuedConnection);
        });
    }
}

void TOutputList::Decoded(int generation, const QString &row) {
    if (generation != Generation) return;  // cleared meanwhile
    Decoder.join();
    Add(row);
    // The rows that waited, up to the next line to decode aside.
    while (!Waiting.empty() && !Decoder.joinable()) {
        TWaiting w = std::move(Waiting.front());
        Waiting.pop_front();
        if (w.Encoded)
            AppendLine(w.Line);
        else
            Add(w.Row);
    }
}

void TOutputList::Add(const QString &row) {
    if (Longest < 0 || row.size() > Rows.at(Longest).size()) Longest = int(Rows.size());
    Rows.append(row);
    if (!Batch->isActive()) Batch->start();
}

void TOutputList::clear() {
    if (Decoder.joinable()) Decoder.join();
    ++Generation;
    Waiting.clear();
    Rows.clear();
    Anchor = Current = -1;
    Widest = 0;
    Longest = -1;
    Batch->stop();
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void TOutputList::Flush() {
    Batch->stop();
    if (Longest >= 0) Widen(Rows.at(Longest));
    Longest = -1;
    UpdateScrollBars();
    viewport()->update();
}

void TOutputList::Widen(const QString &row) {
    // Wider than the widest row known only if it could be: no character is
    // wider than the font's widest.
    if (row.size() * qsizetype(fontMetrics().maxWidth()) + 2 * Margin <= Widest) return;
    Widest = std::max(Widest, fontMetrics().horizontalAdvance(ShownText(row)) + 2 * Margin);
}

int TOutputList::RowHeight() const { return std::max(1, fontMetrics().height()); }

int TOutputList::RowsInView() const { return std::max(1, viewport()->height() / RowHeight()); }

void TOutputList::UpdateScrollBars() {
    const int inView = RowsInView();
    verticalScrollBar()->setRange(0, std::max(0, count() - inView));
    verticalScrollBar()->setPageStep(inView);
    verticalScrollBar()->setSingleStep(1);
    const int width = viewport()->width();
    horizontalScrollBar()->setRange(0, std::max(0, Widest - width));
    horizontalScrollBar()->setPageStep(width);
    horizontalScrollBar()->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
}

int TOutputList::TopRow() const { return verticalScrollBar()->value(); }

int TOutputList::RowAt(const QPoint &point) const {
    if (point.y() < 0) return -1;
    const qint64 row = qint64(TopRow()) + point.y() / RowHeight();
    return row < count() ? int(row) : -1;
}

QRect TOutputList::RowRect(int row) const {
    const int h = RowHeight();
    return QRect(0, (row - TopRow()) * h, viewport()->width(), h);
}

void TOutputList::ScrollToRow(int row) {
    if (row < 0 || row >= count()) return;
    Flush();
    const int top = TopRow(), inView = RowsInView();
    if (row < top)
        verticalScrollBar()->setValue(row);
    else if (row >= top + inView)
        verticalScrollBar()->setValue(row - inView + 1);
}

bool TOutputList::IsSelected(int row) const {
    return Current >= 0 && row >= std::min(Anchor, Current) && row <= std::max(Anchor, Current);
}

void TOutputList::SelectRow(int row, bool extend) {
    if (row < 0 || row >= count()) {
        Anchor = Current = -1;
    } else {
        if (!extend || Current < 0) Anchor = row;
        Current = row;
    }
    viewport()->update();
}

void TOutputList::selectAll() {
    if (count() == 0) return;
    Anchor = 0;
    Current = count() - 1;
    viewport()->update();
}

QString TOutputList::SelectedText() const {
    if (Current < 0) return QString();
    const int first = std::min(Anchor, Current), last = std::max(Anchor, Current);
    qsizetype size = 0;
    for (int i = first; i <= last; ++i) size += Rows.at(i).size() + 1;
    QString text;
    text.reserve(size);
    for (int i = first; i <= last; ++i) {
        text += Rows.at(i);
        text += u'\n';
    }
    return text;
}

void TOutputList::CopySelection() const {
    if (Current >= 0) QApplication::clipboard()->setText(SelectedText());
}

QString TOutputList::ShownText(const QString &row) {
    if (row.size() <= ShownLength) return row;
    return Prefix(row, ShownLength).toString() + QStringLiteral("…");
}

QString TOutputList::TipText(const QString &row) {
    const QString shown = ShownText(row);
    QString tip;
    tip.reserve(shown.size() + shown.size() / TipWidth + 1);
    for (qsizetype at = 0; at < shown.size();) {
        const QStringView piece = Prefix(QStringView(shown).mid(at), TipWidth);
        if (at > 0) tip += u'\n';
        tip += piece;
        at += std::max<qsizetype>(1, piece.size());
    }
    return tip;
}

QMenu *TOutputList::CreateContextMenu() {
    auto *menu = new QMenu(this);
    QAction *copy = menu->addAction(QStringLiteral("コピー"), this, &TOutputList::CopySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(Current >= 0);
    QAction *all = menu->addAction(QStringLiteral("すべて選択"), this, &TOutputList::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(count() > 0);
    return menu;
}

bool TOutputList::event(QEvent *e) {
    // Ctrl+C and Ctrl+A act on the list while it has the focus, before the
    // main window's shortcuts for the same keys.
    if (e->type() == QEvent::ShortcutOverride) {
        auto *k = static_cast<QKeyEvent *>(e);
        if (k->matches(QKeySequence::Copy) || k->matches(QKeySequence::SelectAll)) {
            e->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

bool TOutputList::viewportEvent(QEvent *e) {
    if (e->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(e);
        const int row = RowAt(help->pos());
        if (row < 0 || Rows.at(row).isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), TipText(Rows.at(row)), viewport(), RowRect(row));
        return true;
    }
    return QAbstractScrollArea::viewportEvent(e);
}

void TOutputList::paintEvent(QPaintEvent *e) {
    QPainter p(viewport());
    const QPalette &pal = palette();
    const int h = RowHeight();
    const int x = Margin - horizontalScrollBar()->value();
    const int ascent = fontMetrics().ascent();
    const int first = TopRow() + std::max(0, e->rect().top()) / h;
    const int last = std::min(count() - 1, TopRow() + e->rect().bottom() / h);
    const int widest = Widest;
    for (int row = first; row <= last; ++row) {
        const QRect r = RowRect(row);
        const bool selected = IsSelected(row);
        if (selected) p.fillRect(r, pal.brush(QPalette::Highlight));
        p.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QString &text = Rows.at(row);
        if (!text.isEmpty()) p.drawText(x, r.top() + ascent, ShownText(text));
        if (row == Current && hasFocus()) {
            p.setPen(QPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text), 1, Qt::DotLine));
            p.drawRect(r.adjusted(0, 0, -1, -1));
        }
        Widen(text);
    }
    // A row on screen turned out wider than any before: the scroll bar follows.
    if (Widest != widest && !Batch->isActive()) Batch->start();
}

void TOutputList::resizeEvent(QResizeEvent *e) {
    QAbstractScrollArea::resizeEvent(e);
    UpdateScrollBars();
}

void TOutputList::changeEvent(QEvent *e) {
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange) {
        // Widths were measured in the old font.
        Widest = 0;
        for (int row = TopRow(), end = std::min(count(), TopRow() + RowsInView() + 1); row < end; ++row)
            Widen(Rows.at(row));
        UpdateScrollBars();
    }
}

void TOutputList::scrollContentsBy(int, int) { viewport()->update(); }

void TOutputList::keyPressEvent(QKeyEvent *e) {
    if (e->matches(QKeySequence::Copy)) return CopySelection();
    if (e->matches(QKeySequence::SelectAll)) return selectAll();
    const bool extend = e->modifiers() & Qt::ShiftModifier;
    const int at = std::max(0, Current);
    int to = -1;
    switch (e->key()) {
    case Qt::Key_Up:
        to = at - 1;
        break;
    case Qt::Key_Down:
        to = Current < 0 ? 0 : at + 1;
        break;
    case Qt::Key_PageUp:
        to = at - RowsInView();
        break;
    case Qt::Key_PageDown:
        to = at + RowsInView();
        break;
    case Qt::Key_Home:
        to = 0;
        break;
    case Qt::Key_End:
        to = count() - 1;
        break;
    case Qt::Key_Left:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        return;
    case Qt::Key_Right:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }
    if (count() == 0) return;
    to = std::clamp(to, 0, count() - 1);
    SelectRow(to, extend);
    ScrollToRow(to);
}

void TOutputList::mousePressEvent(QMouseEvent *e) {
    const int row = RowAt(e->position().toPoint());
    if (row < 0) return;
    if (e->button() == Qt::LeftButton)
        SelectRow(row, e->modifiers() & Qt::ShiftModifier);
    else if (e->button() == Qt::RightButton && !IsSelected(row))
        SelectRow(row);
}

void TOutputList::mouseMoveEvent(QMouseEvent *e) {
    if (!(e->buttons() & Qt::LeftButton) || Current < 0 || count() == 0) return;
    const int y = std::clamp(e->position().toPoint().y(), 0, viewport()->height() - 1);
    const int row = RowAt(QPoint(0, y));
    SelectRow(row < 0 ? count() - 1 : row, true);
    ScrollToRow(Current);
}

void TOutputList::mouseDoubleClickEvent(QMouseEvent *e) {
    const int row = RowAt(e->position().toPoint());
    if (row < 0 || e->button() != Qt::LeftButton) return;
    SelectRow(row);
    emit RowDoubleClicked(row);
}

void TOutputList::contextMenuEvent(QContextMenuEvent *e) {
    QMenu *menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}

void TSearchList::AppendRows(const std::vector<TSearchRow> &rows) {
    for (const TSearchRow &r : rows) {
        Append(r.Text);
        Matches.push_back(TSearchRow{QString(), r.Path, r.Line, r.Column, r.Length});
    }
}

void TSearchList::clear() {
    Matches.clear();
    TOutputList::clear();
}

// ---- The pane -------------------------------------------------------------------

void TOutputPane::Setup() {
    Output = findChild<TOutputList *>(QStringLiteral("Output"));
    TabSet1 = findChild<TTabSet *>(QStringLiteral("TabSet1"));
    Q_ASSERT(Output && TabSet1);
    QFont terminal(QStringLiteral("Terminal"));
    terminal.setPixelSize(13);
    Output->setFont(terminal);
    QFont tabs(QStringLiteral("ＭＳ Ｐゴシック"));
    tabs.setPixelSize(12);
    TabSet1->setFont(tabs);
    TabSet1->addTab(QStringLiteral("アウトプット"));
    TabSet1->addTab(QStringLiteral("検索結果"));
    TabSet1->setCurrentIndex(0);
    // The "検索結果" tab's own list, in the same place and font as Output.
    SearchList = new TSearchList(this);
    SearchList->setObjectName(QStringLiteral("SearchList"));
    SearchList->setFont(Output->font());
    SearchList->hide();
    auto *box = qobject_cast<QBoxLayout *>(layout());
    box->insertWidget(box->indexOf(Output) + 1, SearchList);
    connect(TabSet1, &QTabBar::currentChanged, this, &TOutputPane::ShowOutputTab);
    Output->viewport()->installEventFilter(this);
}

void TOutputPane::ShowOutputTab(int index) {
    Output->setVisible(index != 1);
    SearchList->setVisible(index == 1);
}

bool TOutputPane::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseButtonDblClick && Output && watched == Output->viewport()) {
        emit OutputDoubleClicked();
        return true;
    }
    return QFrame::eventFilter(watched, event);
}
