#pragma once
// The build settings dialog "ビルド設定". It is a form only: its controls keep
// whatever the user does to them while it is open, nothing reacts to them, no
// value is read when it closes, and each opening starts again from the layout
// in option.ui.
#include <QDialog>
#include <QGroupBox>
#include <QStringList>
#include <QWidget>

class QRadioButton;

// A titled frame holding one radio button per item. The buttons are stacked
// top to bottom in Columns columns (the first column filled first) and share
// the space below the title evenly. ItemIndex is the chosen item, -1 for none.
// Tab and Shift+Tab enter the group at its chosen item.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(int Columns READ Columns WRITE setColumns)
    Q_PROPERTY(QStringList Items READ Items WRITE setItems)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE setItemIndex)
public:
    explicit TRadioGroup(QWidget *parent = nullptr);

    int Columns() const { return FColumns; }
    // Fewer than 1 column is taken as 1.
    void setColumns(int columns);

    QStringList Items() const { return FItems; }
    // Replaces the buttons; the chosen item stays chosen if it still exists.
    void setItems(const QStringList &items);

    int ItemIndex() const;
    // An index outside the items chooses nothing (-1).
    void setItemIndex(int index);

    // The button of item index, or nullptr outside the items.
    QRadioButton *Button(int index) const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ArrangeButtons();

    int FColumns = 1;
    QStringList FItems;
    QList<QRadioButton *> FButtons;
};

// A pair of arrow buttons, up over down, that step Position between Min and
// Max by Increment: the upper arrow towards Max, the lower towards Min. At a
// bound the position stays put, or with Wrap jumps to the other bound. It is
// attached to no other control and never takes the keyboard focus.
class TUpDown : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Min READ Min WRITE setMin)
    Q_PROPERTY(int Max READ Max WRITE setMax)
    Q_PROPERTY(int Position READ Position WRITE setPosition)
    Q_PROPERTY(int Increment READ Increment WRITE setIncrement)
    Q_PROPERTY(bool Wrap READ Wrap WRITE setWrap)
public:
    explicit TUpDown(QWidget *parent = nullptr);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    int Increment() const { return FIncrement; }
    bool Wrap() const { return FWrap; }

    // Min may lie above Max: the upper arrow then counts down. Changing a
    // bound pulls Position back between the two bounds.
    void setMin(int value);
    void setMax(int value);
    // A position outside the bounds is set to the nearer bound.
    void setPosition(int value);
    // An increment below 1 is taken as 1.
    void setIncrement(int value);
    void setWrap(bool value) { FWrap = value; }

    // One step as a click on the upper (up = true) or lower arrow gives.
    void Step(bool up);

    QSize sizeHint() const override { return QSize(16, 20); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int FMin = 0;
    int FMax = 100;
    int FPosition = 0;
    int FIncrement = 1;
    bool FWrap = false;
    int FPressed = 0;  // 1 upper arrow held, -1 lower arrow held, 0 none
};

// The dialog's controls are the members of Ui::TOption, named as in option.ui
// (which declares TRadioGroup and TUpDown, above, as the classes of its own
// controls).
#include "ui_option.h"

class TOption : public QDialog, public Ui::TOption {
    Q_OBJECT
public:
    explicit TOption(QWidget *owner);
    ~TOption() override;

protected:
    // Centres the window, frame included, on its screen.
    void showEvent(QShowEvent *event) override;
};

// The Project menu's "設定(&O)...": a fresh TOption owned by owner, shown
// modally; its result is ignored and it is destroyed when it closes.
void ProjOptClick(QWidget *owner);
