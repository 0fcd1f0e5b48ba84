#include "tabset.h"

#include <QPainter>
#include <QPolygon>

TTabSet::TTabSet(QWidget *parent) : QTabBar(parent) {
    setDrawBase(false);
    setExpanding(false);
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize TTabSet::tabSizeHint(int index) const {
    return QSize(fontMetrics().horizontalAdvance(tabText(index)) + 2 * (Padding + Slant), StripHeight);
}

QSize TTabSet::minimumTabSizeHint(int index) const { return tabSizeHint(index); }

QSize TTabSet::sizeHint() const {
    int width = 0;
    for (int i = 0; i < count(); ++i) width += tabSizeHint(i).width();
    return QSize(width, StripHeight);
}

QSize TTabSet::minimumSizeHint() const { return QSize(0, StripHeight); }

void TTabSet::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QPalette &pal = palette();
    const QColor shadow = pal.color(QPalette::Dark);
    p.fillRect(rect(), shadow);

    const int chosen = currentIndex();
    auto outline = [&](int i) {
        const QRect r = tabRect(i);
        return QPolygon({QPoint(r.left(), 0), QPoint(r.left() + Slant, r.bottom() - 1),
                         QPoint(r.right() - Slant, r.bottom() - 1), QPoint(r.right(), 0)});
    };
    // The line along the top that the chosen tab breaks.
    p.setPen(pal.color(QPalette::Shadow));
    p.drawLine(0, 0, width() - 1, 0);
    // Unchosen tabs first, from the right, so that each overlaps the next; the chosen one last.
    for (int i = count() - 1; i >= -1; --i) {
        const int tab = i < 0 ? chosen : i;
        if (tab < 0 || (i >= 0 && tab == chosen)) continue;
        const QPolygon shape = outline(tab);
        p.setPen(Qt::NoPen);
        p.setBrush(tab == chosen ? pal.color(QPalette::Button) : shadow);
        p.drawPolygon(shape);
        p.setPen(pal.color(QPalette::Shadow));
        p.drawPolyline(shape);
        if (tab == chosen) {  // open towards the list above
            p.setPen(pal.color(QPalette::Button));
            p.drawLine(shape[0] + QPoint(1, 0), shape[3] - QPoint(1, 0));
        }
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(tabRect(tab).adjusted(Slant, 0, -Slant, -1), Qt::AlignCenter, tabText(tab));
    }
}
