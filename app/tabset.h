#pragma once
// The tab strip under the Output list: flat tabs hanging from its top edge, 18
// pixels high. The strip's background and the unchosen tabs are in the button
// shadow colour (QPalette::Dark), plain, without a dithered pattern; the chosen
// tab is in the button face colour and joins the list above it. Captions are in
// the window-text colour.
#include <QTabBar>

class TTabSet : public QTabBar {
    Q_OBJECT
public:
    explicit TTabSet(QWidget *parent = nullptr);

    static constexpr int StripHeight = 18;
    static constexpr int Slant = 4;     // the sides' inward slant
    static constexpr int Padding = 10;  // caption to tab side

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void paintEvent(QPaintEvent *event) override;
};
