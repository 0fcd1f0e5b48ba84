#include "appearance.h"

#include "fontsubst.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>
#include <QTranslator>

#include <algorithm>

static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace appearance {

bool InstallTranslations() {
    static QTranslator *translator = nullptr;
    if (translator) return true;
    auto *t = new QTranslator(QCoreApplication::instance());
    if (!t->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete t;
        return false;
    }
    QCoreApplication::installTranslator(t);
    translator = t;
    return true;
}

void SetUp(QApplication &app) {
    qvfonts::InstallSubstitutes();
    // Texts that Qt builds from the locale (the file dialogs' sizes, dates and
    // file types) in Japanese. The program compares paths and names without
    // regard to any locale, so nothing else changes.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    InstallTranslations();
    app.setWindowIcon(ProgramIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("quelvane"));
}

QIcon ProgramIcon() {
    InitIconResources();
    return QIcon(QStringLiteral(":/icons/quelvane.svg"));
}

QImage Greyed(const QImage &image) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = line[x];
            const int v = 112 + qGray(p) * 128 / 255;  // light grey, 112..240
            line[x] = qRgba(v, v, v, qAlpha(p) * 45 / 100);
        }
    }
    return out;
}

QIcon ToolGlyph(const QString &name) {
    InitIconResources();
    const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
    if (name.isEmpty() || !QFile::exists(path)) return QIcon();
    const QIcon source(path);
    QIcon glyph;
    for (int size : {16, 20, 24, 32, 48}) {
        const QPixmap normal = source.pixmap(QSize(size, size), 1.0);
        if (normal.isNull()) continue;
        glyph.addPixmap(normal, QIcon::Normal);
        glyph.addPixmap(QPixmap::fromImage(Greyed(normal.toImage())), QIcon::Disabled);
    }
    return glyph;
}

}  // namespace appearance

namespace {

bool IsMark(QChar c) { return c == QChar(0xFF9E) || c == QChar(0xFF9F); }
bool HasMark(const QString &text) { return std::any_of(text.cbegin(), text.cend(), IsMark); }

// Draws a one-line text in `box` (aligned by `flags`) character by character:
// a mark one pixel into the cell of the letter before it, the next letter one
// pixel after the mark's ink (the fonts draw a mark at the left of a cell as
// wide as a letter's). "&" marks the mnemonic, underlined
// when the flags show mnemonics; "&&" stands for "&".
void DrawTight(QPainter *painter, const QRect &box, int flags, const QString &text) {
    QString shown;
    int mnemonic = -1;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
            if (text[i] != QLatin1Char('&') && mnemonic < 0) mnemonic = int(shown.size());
        }
        shown += text[i];
    }
    const QFontMetricsF fm(painter->font());
    QList<qreal> xs;
    qreal x = 0;
    for (int i = 0; i < shown.size(); ++i) {
        const QChar c = shown[i];
        if (IsMark(c) && i > 0 && !shown[i - 1].isSpace()) {
            xs << x - 1;
            x = xs.last() + std::max<qreal>(1, fm.boundingRect(c).right() + 1);
        } else {
            xs << x;
            x += fm.horizontalAdvance(c);
        }
    }    const QRect place = QStyle::alignedRect(Qt::LeftToRight,
                                            Qt::Alignment(flags & (Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask)),
                                            QSizeF(x, fm.height()).toSize(), box);
    const qreal baseline = place.top() + fm.ascent();
    for (int i = 0; i < shown.size(); ++i) painter->drawText(QPointF(place.left() + xs[i], baseline), QString(shown[i]));
    if (mnemonic >= 0 && (flags & Qt::TextShowMnemonic) && !(flags & Qt::TextHideMnemonic))
        painter->fillRect(QRectF(place.left() + xs[mnemonic], baseline + fm.underlinePos(),
                                 fm.horizontalAdvance(shown[mnemonic]), std::max<qreal>(1, fm.lineWidth())),
                          painter->pen().color());
}

class TKanaMarkStyle : public QProxyStyle {
public:
    // Menu bar captions.
    void drawItemText(QPainter *painter, const QRect &rect, int flags, const QPalette &pal, bool enabled,
                      const QString &text, QPalette::ColorRole textRole) const override {
        if (!HasMark(text) || text.contains(QLatin1Char('\n')))
            return QProxyStyle::drawItemText(painter, rect, flags, pal, enabled, text, textRole);
        painter->save();
        if (textRole != QPalette::NoRole)
            painter->setPen(pal.color(enabled ? QPalette::Active : QPalette::Disabled, textRole));
        DrawTight(painter, rect, flags, text);
        painter->restore();
    }

    // Menu entries: the style draws the entry without its caption, then the
    // caption goes where the style puts one.
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override {
        const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
        const qsizetype tab = item ? item->text.indexOf(QLatin1Char('\t')) : -1;
        const QString caption = item ? (tab < 0 ? item->text : item->text.left(tab)) : QString();
        if (element != CE_MenuItem || !HasMark(caption))
            return QProxyStyle::drawControl(element, option, painter, widget);
        QStyleOptionMenuItem rest(*item);
        rest.text = tab < 0 ? QString() : item->text.mid(tab);
        QProxyStyle::drawControl(element, &rest, painter, widget);
        const bool enabled = item->state & State_Enabled;
        const bool selected = item->state & State_Selected;
        painter->save();
        painter->setFont(item->font);
        painter->setPen(item->palette.color(enabled ? QPalette::Active : QPalette::Disabled,
                                            selected && enabled ? QPalette::HighlightedText : QPalette::Text));
        const int left = CaptionLeft(rest, widget);
        const int flags = Qt::AlignLeft | Qt::AlignVCenter |
                          (styleHint(SH_UnderlineShortcut, item, widget) ? Qt::TextShowMnemonic : Qt::TextHideMnemonic);
        DrawTight(painter, item->rect.adjusted(left, 0, 0, 0), flags, caption);
        painter->restore();
    }

private:
    // Where the style draws an entry's caption, from the left of the entry: the
    // first column where a caption of one block changes the drawing.
    int CaptionLeft(const QStyleOptionMenuItem &blank, const QWidget *widget) const {
        QStyleOptionMenuItem probe(blank);
        probe.state &= ~State_Selected;
        probe.rect.moveTo(0, 0);
        QStyleOptionMenuItem empty(probe);
        probe.text = QString(QChar(0x2588)) + blank.text;
        auto draw = [&](const QStyleOptionMenuItem &o) {
            QImage image(o.rect.size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter p(&image);
            QProxyStyle::drawControl(CE_MenuItem, &o, &p, widget);
            return image;
        };
        const QImage a = draw(empty), b = draw(probe);
        // The block's ink starts at its own left bearing from where the caption starts.
        const int bearing = qRound(QFontMetricsF(blank.font).boundingRect(QChar(0x2588)).left());
        for (int x = 0; x < a.width(); ++x)
            for (int y = 0; y < a.height(); ++y)
                if (a.pixel(x, y) != b.pixel(x, y)) return x - bearing;
        return 0;
    }
};

}  // namespace

namespace appearance {

QStyle *KanaMarkStyle(QObject *parent) {
    auto *style = new TKanaMarkStyle;
    style->setParent(parent);
    return style;
}

}  // namespace appearance
