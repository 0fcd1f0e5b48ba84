#pragma once
// The Window menu's additions: the line-number switch, the steps to the next
// and the previous document window, and the list of the document windows,
// most recently activated first (the order Ctrl+Tab goes through), the
// active one checked; choosing an entry brings its window forward.
#include <QObject>

#include <functional>

class QAction;
class QMdiArea;
class QMenu;
class QWidget;
class TDocuments;

class TWindowMenu : public QObject {
    Q_OBJECT
public:
    TWindowMenu(QMenu *menu, TDocuments &docs, QMdiArea *area, QWidget *window);

    // The line-number margin of every editor, off at first.
    QAction *LineNumbersItem = nullptr;
    // The next and the previous document window (Ctrl+Tab, Ctrl+Shift+Tab),
    // in the order of their last activation; held Ctrl goes on through that
    // order (TDocuments::StepWindow).
    QAction *NextWindowItem = nullptr;
    QAction *PrevWindowItem = nullptr;

    // Every editor shows the margin as the switch says.
    void LineNumbersItemClick();
    // The switch was turned by the user.
    std::function<void(bool shown)> OnLineNumbers;

private:
    void FillWindowList();

    QMenu *const Window1;
    TDocuments &Docs;
    QMdiArea *const Area;
};
