#pragma once
// The lists of the Output pane: the compile's rows (TOutputList, `Output`) and
// the rows of a search in the project (TSearchList, `SearchList`), one above
// the tab strip at a time.
//
// A list of text rows, only ever appended to or emptied at once, at any
// volume: a row costs its text and nothing else, and adding one costs the
// same however many there are, because every row has the font's height and
// nothing is laid out per row. Rows count from the moment they are added; the
// screen and the scroll bars follow in batches, at most every BatchMs while
// rows stream in. The horizontal scroll bar reaches the end of the widest row
// seen: the longest of each batch and every row that has been on screen.
//
// Reading and copying: the full text of a row is its tooltip (wrapped; a very
// long row's tooltip stops where its drawing stops); a click selects a row,
// Shift extends the selection to a range, Ctrl+A or the context menu's
// "すべて選択" selects every row, and Ctrl+C or "コピー" copies the selected
// rows, one per line. Of a row longer than ShownLength characters only the
// first ShownLength are drawn, then "…"; its text and what is copied stay whole.
#include "projectsearch.h"

#include <QAbstractScrollArea>
#include <QFrame>
#include <QStringList>

#include <deque>
#include <thread>
#include <vector>

class QMenu;
class QTimer;
class TTabSet;

class TOutputList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TOutputList(QWidget *parent = nullptr);

    static constexpr int ShownLength = 4000;  // characters drawn of one row
    static constexpr int BatchMs = 25;        // new rows reach the screen at most this often
    static constexpr int TipWidth = 120;      // characters per line of a tooltip

    ~TOutputList() override;

    int count() const { return int(Rows.size()); }
    const QString &Row(int row) const { return Rows.at(row); }
    void Append(const QString &row);
    // A line of Shift-JIS bytes as a row, decoded whole. A line longer than
    // DecodeAside bytes is decoded on a thread of its own, so that the window
    // goes on responding; rows appended meanwhile wait and follow in order.
    static constexpr int DecodeAside = 1 << 20;
    void AppendLine(const QByteArray &bytes);
    virtual void clear();  // also drops the rows that wait

    // The selection: the rows from the anchor to the current row, both included.
    int CurrentRow() const { return Current; }
    bool IsSelected(int row) const;
    void SelectRow(int row, bool extend = false);  // -1: nothing selected
    void selectAll();
    QString SelectedText() const;  // the selected rows, each followed by a line break
    void CopySelection() const;    // to the clipboard; nothing selected changes nothing

    // Where rows are, in the viewport's coordinates.
    int RowHeight() const;
    int TopRow() const;                          // the first row in view
    int RowAt(const QPoint &point) const;        // -1 where there is no row
    QRect RowRect(int row) const;
    void ScrollToRow(int row);                   // into view, the least scrolling

    // The text drawn of a row, and its tooltip.
    static QString ShownText(const QString &row);
    static QString TipText(const QString &row);

    // The context menu, made afresh for each use.
    QMenu *CreateContextMenu();

signals:
    void RowDoubleClicked(int row);

protected:
    bool event(QEvent *e) override;
    bool viewportEvent(QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void changeEvent(QEvent *e) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    void Add(const QString &row);
    void Decoded(int generation, const QString &row);  // the line decoded aside
    void Flush();             // the rows added since the last batch to the screen
    void UpdateScrollBars();
    void Widen(const QString &row);
    int RowsInView() const;   // whole rows that fit

    QStringList Rows;
    int Anchor = -1;
    int Current = -1;
    int Widest = 0;           // pixels, margins included
    int Longest = -1;         // the longest row added since the last batch
    QTimer *Batch = nullptr;
    // Rows behind a line being decoded aside: a row, or a line still to decode.
    struct TWaiting {
        QString Row;
        QByteArray Line;
        bool Encoded = false;
    };
    std::deque<TWaiting> Waiting;
    std::thread Decoder;  // joinable while a line is decoded aside
    int Generation = 0;   // a clear() makes a decode under way stale
};

// The search results: a row may be a match, whose place the list keeps.
class TSearchList : public TOutputList {
    Q_OBJECT
public:
    using TOutputList::TOutputList;
    void AppendRows(const std::vector<TSearchRow> &rows);
    // The match of a row; its Path is empty for a row that is no match.
    const TSearchRow &Match(int row) const { return Matches.at(size_t(row)); }
    void clear() override;

private:
    std::vector<TSearchRow> Matches;  // without their texts, which are the rows
};

// The Output pane (`Panel1`): the compile's list `Output` above the tab strip
// `TabSet1` ("アウトプット", "検索結果"), and the search list in Output's place
// while the second tab is chosen. The layout makes the pane and its two
// children; Setup() finds them and adds the rest.
class TOutputPane : public QFrame {
    Q_OBJECT
public:
    using QFrame::QFrame;
    void Setup();

    TOutputList *Output = nullptr;
    TSearchList *SearchList = nullptr;
    TTabSet *TabSet1 = nullptr;

    // Shows the list of tab `index` (0: Output, 1: SearchList).
    void ShowOutputTab(int index);

signals:
    // A double-click in Output's rows.
    void OutputDoubleClicked();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
