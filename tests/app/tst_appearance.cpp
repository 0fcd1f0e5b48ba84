// The program as a desktop application, on the real windows: every caption fits
// the rectangle its layout gives it with the fonts that the set-up installs, the
// standard dialogs speak Japanese, the tool buttons have their own glyphs with a
// greyed disabled state, the windows carry the program's icon, and the project
// tree and the Output pane start at their layout sizes and can be dragged.
#include "appearance.h"
#include "childwin.h"
#include "fontsubst.h"
#include "mainform.h"
#include "newproj.h"
#include "option.h"
#include "tabset.h"
#include "finddialog.h"
#include "projectsearch.h"
#include "modal.h"
#include "testmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QRegularExpression>
#include <QTreeView>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QGlyphRun>
#include <QRawFont>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>
#include <QTest>

namespace {

QString withoutMnemonic(QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    return text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

QString where(const QWidget *w, const QString &text) {
    return QStringLiteral("%1 \"%2\" (%3)").arg(w->objectName(), text, QFontInfo(w->font()).family());
}

// Whether `text`, drawn in `w`'s font into `box` with the alignment `flags` as the
// widget draws it, fits `box`: horizontally every pixel column of its glyphs (of a
// wrapped text, every line's advance); vertically the height of the font's glyph
// bodies (its ascent), and of a wrapped text every line but the last one's descent.
void checkText(QStringList &misfits, const QWidget *w, const QRect &box, int flags, const QString &caption) {
    const QString text = withoutMnemonic(caption);
    if (text.isEmpty()) return;
    const QFontMetrics fm(w->font());
    const QRect laid = fm.boundingRect(box, flags, text);
    const QRect ink = fm.boundingRect(text);
    const bool wrapped = flags & Qt::TextWordWrap;
    const int left = wrapped ? laid.left() : laid.left() + ink.left();
    const int right = wrapped ? laid.right() : laid.left() + ink.left() + ink.width();  // the antialiased edge too
    const int height = wrapped ? laid.height() - fm.descent() : fm.ascent();
    if (left < box.left() || right > box.right() || height > box.height())
        misfits << QStringLiteral("%1: text %2..%3, %4 high in %5..%6, %7 high")
                       .arg(where(w, text))
                       .arg(left).arg(right).arg(height)
                       .arg(box.left()).arg(box.right()).arg(box.height());
}

void checkTabs(QStringList &misfits, QTabBar *bar) {
    for (QWidget *arrow : bar->findChildren<QWidget *>())
        if (arrow->isVisible()) misfits << where(bar, QStringLiteral("scroll arrows"));
    const QFontMetrics fm(bar->font());
    for (int i = 0; i < bar->count(); ++i) {
        const QRect r = bar->tabRect(i);
        if (!bar->rect().contains(r) || r.width() < fm.horizontalAdvance(bar->tabText(i)) + 8 || r.height() < fm.height())
            misfits << where(bar, bar->tabText(i)) + QStringLiteral(": tab %1x%2").arg(r.width()).arg(r.height());
    }
}

// Every caption of the window and its descendants.
QStringList misfitsOf(QWidget *window) {
    QStringList misfits;
    QList<QWidget *> widgets = window->findChildren<QWidget *>();
    widgets.prepend(window);
    for (QWidget *w : std::as_const(widgets)) {
        QStyle *st = w->style();
        if (auto *label = qobject_cast<QLabel *>(w)) {
            const int m = label->margin();
            const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
            checkText(misfits, w, label->contentsRect().adjusted(m, m, -m, -m), flags, label->text());
        } else if (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w) || qobject_cast<QPushButton *>(w)) {
            auto *b = static_cast<QAbstractButton *>(w);
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            const bool push = qobject_cast<QPushButton *>(w);
            const auto element = push ? QStyle::SE_PushButtonContents
                                 : qobject_cast<QCheckBox *>(w) ? QStyle::SE_CheckBoxContents
                                                                : QStyle::SE_RadioButtonContents;
            const int flags = push ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter;
            checkText(misfits, w, st->subElementRect(element, &opt, b), flags, b->text());
        } else if (auto *g = qobject_cast<QGroupBox *>(w)) {
            QStyleOptionGroupBox opt;
            opt.initFrom(g);
            opt.text = g->title();
            opt.textAlignment = g->alignment();
            opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
            const QRect title = st->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
            checkText(misfits, w, title.intersected(g->rect()), Qt::AlignLeft | Qt::AlignVCenter, g->title());
        } else if (auto *bar = qobject_cast<QTabBar *>(w)) {
            checkTabs(misfits, bar);
        } else if (auto *tool = qobject_cast<QToolButton *>(w); tool && !tool->objectName().startsWith(QLatin1String("qt_")) &&
                                                                 !qobject_cast<QTabBar *>(tool->parentWidget())) {
            const QSize glyph = tool->iconSize();
            if (glyph.width() + 4 > tool->width() || glyph.height() + 4 > tool->height())
                misfits << where(w, QStringLiteral("glyph"));
        }
    }
    return misfits;
}

// True when every pixel with some cover is grey, and none is more than half opaque.
bool greyAndFaded(const QImage &image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) == 0) continue;
            if (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p) || qAlpha(p) > 128) return false;
        }
    return true;
}

int colouredPixels(const QImage &image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += qAlpha(p) > 128 && (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p));
        }
    return n;
}

}  // namespace

class TstAppearance : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { appearance::SetUp(*qApp); }

    void theLayoutFontsMapToTheInstalledOnes() {
        const struct {
            const char *family, *installed;
        } rows[] = {{"ＭＳ Ｐゴシック", "IPAPGothic"},
                    {"ＭＳ ゴシック", "IPAGothic"},
                    {"Terminal", "IPAGothic"},
                    {"MS Sans Serif", "Liberation Sans Narrow"}};
        for (const auto &r : rows) {
            QFont f(QString::fromUtf8(r.family));
            f.setPixelSize(12);
            QCOMPARE(QFontInfo(f).family(), QString::fromLatin1(r.installed));
        }
        // Japanese text, in the layout font and in the Latin dialog font alike, is drawn
        // by the proportional Japanese font alone, no character of it left to a fallback
        // font; the half-width katakana, their voiced marks (ﾞ, ﾟ) too, are half an em.
        const struct {
            const char *family, *text;
        } japanese[] = {{"MS Sans Serif", "スタックサイズ指定"},
                        {"ＭＳ Ｐゴシック", "ｳｨﾝﾄﾞｳﾍﾙﾌﾟ"},
                        {"MS Sans Serif", "ｳｨﾝﾄﾞｳﾍﾙﾌﾟ"}};
        QFont pgothic(QStringLiteral("IPAPGothic"));
        pgothic.setPixelSize(12);
        for (const auto &r : japanese) {
            QFont f(QString::fromUtf8(r.family));
            f.setPixelSize(12);
            const QString text = QString::fromUtf8(r.text);
            const QFontMetrics fm(f);
            QCOMPARE(fm.horizontalAdvance(text), QFontMetrics(pgothic).horizontalAdvance(text));
            QTextLayout layout(text, f);
            layout.beginLayout();
            layout.createLine();
            layout.endLayout();
            QStringList drawnBy;
            for (const QGlyphRun &run : layout.glyphRuns()) drawnBy << run.rawFont().familyName();
            QVERIFY2(drawnBy.size() == 1 && drawnBy[0].compare(QLatin1String("IPAPGothic"), Qt::CaseInsensitive) == 0,
                     qPrintable(text + QLatin1Char(' ') + drawnBy.join(QLatin1Char(','))));
            for (QChar c : text)
                if (c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F) QVERIFY2(fm.horizontalAdvance(c) * 2 == f.pixelSize(), qPrintable(QString(c)));
        }
    }

    // The menu bar's and the menus' captions set each half-width voiced mark
    // against its letter and the next letter against the mark: narrower than the
    // application's style draws them, starting where it starts them, the
    // mnemonic underlined, the shortcut in its place. Captions without a mark
    // are drawn as the application's style draws them.
    void kanaMarksSetClose_data() {
        QTest::addColumn<bool>("entry");  // a menu entry, else a menu bar caption
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("marks");
        QTest::newRow("bar ｳｨﾝﾄﾞｳ") << false << QStringLiteral("ｳｨﾝﾄﾞｳ(&W)") << 1;
        QTest::newRow("bar ﾍﾙﾌﾟ") << false << QStringLiteral("ﾍﾙﾌﾟ(&H)") << 1;
        QTest::newRow("bar without a mark") << false << QStringLiteral("ﾌｧｲﾙ(&F)") << 0;
        QTest::newRow("entry ﾊﾞｰｼﾞｮﾝ情報") << true << QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)") << 2;
        QTest::newRow("entry with a shortcut") << true << QStringLiteral("次のｳｨﾝﾄﾞｳ(&N)\tCtrl+Tab") << 1;
        QTest::newRow("entry without a mark") << true << QStringLiteral("ｱｲｺﾝの整列(&A)\tF9") << 0;
    }
    void kanaMarksSetClose() {
        QFETCH(bool, entry);
        QFETCH(QString, text);
        QFETCH(int, marks);
        QProxyStyle plain;
        QStyle *kana = appearance::KanaMarkStyle(&plain);
        QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
        font.setPixelSize(12);
        const QRect rect(0, 0, 240, 22);
        auto draw = [&](QStyle *style, const QString &t, int flags) {
            QImage image(rect.size(), QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter p(&image);
            p.setFont(font);
            p.setPen(Qt::black);
            if (entry) {
                QStyleOptionMenuItem o;
                o.rect = rect;
                o.text = t;
                o.font = font;
                o.palette = QPalette(Qt::black, Qt::white);
                o.state = QStyle::State_Enabled;
                o.menuItemType = QStyleOptionMenuItem::Normal;
                o.reservedShortcutWidth = 80;
                style->drawControl(QStyle::CE_MenuItem, &o, &p, nullptr);
            } else {
                style->drawItemText(&p, rect, Qt::AlignCenter | flags, QPalette(Qt::black, Qt::white), true, t,
                                    QPalette::WindowText);
            }
            return image;
        };
        // The first and last column with ink (of an entry, left of its shortcut).
        const int captionEnd = entry ? 140 : rect.width();
        auto ink = [&](const QImage &image) {
            int first = -1, last = -1;
            for (int x = 0; x < captionEnd; ++x)
                for (int y = 0; y < image.height(); ++y)
                    if (qGray(image.pixel(x, y)) < 160) {
                        if (first < 0) first = x;
                        last = x;
                        break;
                    }
            return std::make_pair(first, last);
        };
        const QImage mine = draw(kana, text, Qt::TextShowMnemonic), theirs = draw(&plain, text, Qt::TextShowMnemonic);
        if (marks == 0) {
            QCOMPARE(mine, theirs);
            return;
        }
        const auto [myFirst, myLast] = ink(mine);
        const auto [theirFirst, theirLast] = ink(theirs);
        QVERIFY(theirFirst >= 0);
        if (entry) QCOMPARE(myFirst, theirFirst);
        const int narrower = (theirLast - theirFirst) - (myLast - myFirst);
        QVERIFY2(narrower >= 2 * marks && narrower <= 6 * marks, qPrintable(QString::number(narrower)));
        // Everything right of an entry's caption (the shortcut) as the style draws it.
        if (entry) QCOMPARE(mine.copy(captionEnd, 0, 100, 22), theirs.copy(captionEnd, 0, 100, 22));
        // The mnemonic's underline: shown, or hidden.
        const QString unmarked = QString(text).remove(QLatin1Char('&'));
        QVERIFY(mine != draw(kana, unmarked, Qt::TextShowMnemonic));
        if (!entry) QCOMPARE(draw(kana, text, Qt::TextHideMnemonic), draw(kana, unmarked, Qt::TextHideMnemonic));
    }

    void everyCaptionFitsItsRectangle() {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TOption option(&form);
        option.show();
        TNewProjDlg newProj(&form);
        newProj.show();
        QVERIFY(QTest::qWaitForWindowExposed(&newProj));
        QStringList misfits = misfitsOf(&form) + misfitsOf(&newProj);
        for (int page = 0; page < option.PageControl1->count(); ++page) {
            option.PageControl1->setCurrentIndex(page);
            QCoreApplication::processEvents();
            misfits += misfitsOf(option.PageControl1->currentWidget());
        }
        misfits += misfitsOf(option.PageControl1->tabBar()) + misfitsOf(option.Button1) + misfitsOf(option.Button2);
        misfits.removeDuplicates();
        QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QLatin1Char('\n'))));
    }

    // The check itself: the Latin labels of the last page do not fit in a wide font.
    void aWideFontIsCaught() {
        TOption option(nullptr);
        option.setStyleSheet(QStringLiteral("font: 12px \"DejaVu Sans\";"));
        option.show();
        option.PageControl1->setCurrentWidget(option.TabSheet5);
        QCoreApplication::processEvents();
        const QString misfits = misfitsOf(option.TabSheet5).join(QLatin1Char('\n'));
        QVERIFY2(misfits.contains(QStringLiteral("\"Mode:\"")), qPrintable(misfits));
    }

    void theStandardDialogsSpeakJapanese() {
        QVERIFY(appearance::InstallTranslations());
        QFileDialog files(nullptr, QString(), QString(), QString());
        files.setOption(QFileDialog::DontUseNativeDialog);
        files.setAcceptMode(QFileDialog::AcceptSave);
        QStringList texts;
        for (QLabel *l : files.findChildren<QLabel *>()) texts << l->text();
        for (QPushButton *b : files.findChildren<QPushButton *>()) texts << b->text();
        QMessageBox box(QMessageBox::Question, QStringLiteral("Quelvane"), QStringLiteral("?"),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        for (QPushButton *b : box.findChildren<QPushButton *>()) texts << b->text();
        const QStringList english = {"Look in:", "File name:", "Files of type:", "&Save", "Save", "Discard", "Cancel", "&Cancel", "Open", "&Open"};
        for (const QString &t : std::as_const(texts)) QVERIFY2(!english.contains(t), qPrintable(t));
        QVERIFY(texts.size() >= 6);
        const char *notFound = "%1\nFile not found.\nPlease verify the correct file name was given.";
        QVERIFY(QCoreApplication::translate("QFileDialog", notFound) != QString::fromLatin1(notFound));
        QVERIFY(QCoreApplication::translate("QFileDialog", "Save As") != QStringLiteral("Save As"));
    }

    // Dialogs open centred over the main window wherever it is; the project
    // search dialog is wide enough for its title in the title bar.
    void dialogsOverTheMainWindow() {
        TMainForm form;
        form.move(30, 20);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        std::vector<std::unique_ptr<QDialog>> dialogs;
        dialogs.emplace_back(new TGoToLineDialog(100, 1, &form));
        dialogs.emplace_back(new TProjectFindDialog(&form));
        dialogs.emplace_back(new TFindDialog(&form));
        dialogs.emplace_back(new QMessageBox(QMessageBox::Information, QStringLiteral("Quelvane"), QStringLiteral("?"),
                                             QMessageBox::Ok, &form));
        for (const auto &d : dialogs) {
            d->show();
            QVERIFY(QTest::qWaitForWindowExposed(d.get()));
            const QPoint off = d->frameGeometry().center() - form.frameGeometry().center();
            QVERIFY2(off.manhattanLength() <= 2, qPrintable(d->metaObject()->className()));
            const int title = QFontMetrics(QApplication::font()).horizontalAdvance(d->windowTitle());
            if (qobject_cast<TProjectFindDialog *>(d.get())) QVERIFY2(d->width() >= title * 3 / 2 + 140, qPrintable(QString::number(d->width())));
            d->hide();
        }
    }

    // The program's file dialogs: the filters as the layout gives them, the
    // columns in Japanese, nothing clipped at the first size.
    void theFileDialogsInJapanese() {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("a.c")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(241, 'x')) == 241);
        file.close();
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        TMainForm form;
        form.OpenDialog.FileName = dir.filePath(QStringLiteral("a.c"));
        QStringList filters, misfits;
        QMap<QString, QString> cells;  // "column name" -> text
        qvtest::AnswerModal<QFileDialog>([&](QFileDialog &d) {
            auto *details = d.findChild<QTreeView *>(QStringLiteral("treeView"));
            auto *sidebar = d.findChild<QAbstractItemView *>(QStringLiteral("sidebar"));
            QVERIFY(details && sidebar);
            d.setViewMode(QFileDialog::Detail);
            QAbstractItemModel *m = details->model();
            QTRY_VERIFY(m->rowCount(details->rootIndex()) == 2);
            QTRY_VERIFY(!m->index(0, 3, details->rootIndex()).data().toString().isEmpty());
            for (int row = 0; row < 2; ++row) {
                const QString name = m->index(row, 0, details->rootIndex()).data().toString();
                for (int c = 0; c < 4; ++c) {
                    const QString text = m->index(row, c, details->rootIndex()).data().toString();
                    cells[name + QLatin1Char(' ') + m->headerData(c, Qt::Horizontal).toString()] = text;
                    // Fits its column, with the view's margins.
                    if (details->fontMetrics().horizontalAdvance(text) + (c ? 8 : 48) > details->header()->sectionSize(c))
                        misfits << text;
                }
            }
            if (details->header()->length() > details->viewport()->width()) misfits << QStringLiteral("columns");
            const QAbstractItemModel *places = sidebar->model();
            for (int row = 0; row < places->rowCount(); ++row) {
                const QRect r = sidebar->visualRect(places->index(row, 0));
                const QString text = places->index(row, 0).data().toString();
                if (r.left() + sidebar->style()->pixelMetric(QStyle::PM_SmallIconSize) + 8 + sidebar->fontMetrics().horizontalAdvance(text) >
                    sidebar->viewport()->width())
                    misfits << text;
            }
            auto *types = d.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            for (int i = 0; types && i < types->count(); ++i) filters << types->itemText(i);
        });
        // In a desktop's larger font too.
        const QFont font = QApplication::font();
        QFont large(QStringLiteral("IPAPGothic"));
        large.setPixelSize(16);
        QApplication::setFont(large);
        QVERIFY(!form.OpenDialog.Execute(&form));
        QApplication::setFont(font);
        QCOMPARE(filters, (QStringList{"Cソースファイル(*.c)", "Cヘッダファイル(*.h)", "すべてのファイル(*.*)"}));
        const QRegularExpression date(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d{1,2}:\\d\\d$"));
        const struct {
            const char *cell, *text;
        } rows[] = {{"a.c サイズ", "241 バイト"}, {"a.c 種類", "C ソースコード"}, {"sub 種類", "フォルダー"}, {"sub サイズ", ""}};
        for (const auto &r : rows) QCOMPARE(cells.value(QString::fromUtf8(r.cell)), QString::fromUtf8(r.text));
        for (const char *cell : {"a.c 更新日時", "sub 更新日時"})
            QVERIFY2(date.match(cells.value(QString::fromUtf8(cell))).hasMatch(), qPrintable(cells.value(QString::fromUtf8(cell))));
        QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QLatin1Char('\n'))));
        // A label without its patterns gets them once.
        TFileDialog plain(TFileDialog::Open);
        plain.Filter = QStringLiteral("C ファイル|*.c;*.h|Cソース(*.c)|*.c;*.h");
        QCOMPARE(plain.nameFilters(), (QStringList{"C ファイル (*.c *.h)", "Cソース(*.c) (*.c *.h)"}));
    }

    void glyphsAndIcon() {
        TMainForm form;
        for (QToolButton *b : {form.OpenBtn, form.SaveBtn, form.CutBtn, form.CopyBtn, form.PasteBtn, form.ExitBtn}) {
            const QImage normal = b->icon().pixmap(QSize(16, 16), 1.0, QIcon::Normal).toImage();
            const QImage disabled = b->icon().pixmap(QSize(16, 16), 1.0, QIcon::Disabled).toImage();
            QVERIFY2(colouredPixels(normal) > 10, qPrintable(b->objectName()));
            QVERIFY2(greyAndFaded(disabled), qPrintable(b->objectName()));
            QVERIFY(disabled.size() == QSize(16, 16));
        }
        // Six different pictures.
        QSet<QByteArray> pictures;
        for (QToolButton *b : {form.OpenBtn, form.SaveBtn, form.CutBtn, form.CopyBtn, form.PasteBtn, form.ExitBtn}) {
            const QImage img = b->icon().pixmap(QSize(16, 16), 1.0).toImage();
            pictures.insert(QByteArray(reinterpret_cast<const char *>(img.constBits()), img.sizeInBytes()));
        }
        QCOMPARE(pictures.size(), 6);
        QVERIFY(appearance::ToolGlyph(QStringLiteral("nothing")).isNull());
        QVERIFY(appearance::ToolGlyph(QString()).isNull());
        QVERIFY(colouredPixels(form.windowIcon().pixmap(QSize(48, 48), 1.0).toImage()) > 100);
        QVERIFY(colouredPixels(QApplication::windowIcon().pixmap(QSize(32, 32), 1.0).toImage()) > 50);
    }

    // Dragging the borders resizes the tree and the Output pane; resizing the
    // window leaves them as they are.
    void panesStartAtTheLayoutSizesAndCanBeDragged() {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.TreeView1->width(), 137);
        QCOMPARE(form.Panel1->height(), 112);
        QCOMPARE(form.Output->geometry(), QRect(1, 1, form.Panel1->width() - 2, 92));
        QCOMPARE(form.TabSet1->geometry(), QRect(1, 93, form.Panel1->width() - 2, 18));
        // A new document window is never wider or taller than the client area;
        // where the area allows, it shows 80 columns by 25 lines.
        const QSize first = form.size();
        for (const QSize &size : {first, QSize(1100, 800)}) {
            form.resize(size);
            QTRY_COMPARE(form.size(), size);
            form.FileNewItemClick();
            const TMDIChild *doc = form.ActiveMDIChild();
            const QRect area = form.ClientArea->viewport()->rect();
            QVERIFY2(area.contains(doc->geometry()), qPrintable(QStringLiteral("%1 %2").arg(doc->width()).arg(area.width())));
            const bool room = size.width() > 1000;
            QCOMPARE(doc->RichEdit1->viewport()->width() >= 80 * doc->RichEdit1->ColumnWidth(), room);
            QCOMPARE(doc->RichEdit1->VisibleLines() >= 25, room);
        }
        form.resize(first);
        QTRY_COMPARE(form.size(), first);

        form.resize(form.width() + 120, form.height() + 90);
        QTRY_COMPARE(form.ClientArea->width() > 300 + 120, true);
        QCOMPARE(form.TreeView1->width(), 137);
        QCOMPARE(form.Panel1->height(), 112);

        auto drag = [](QSplitterHandle *h, QPoint by) {
            const QPoint c = h->rect().center();
            QTest::mousePress(h, Qt::LeftButton, {}, c);
            QMouseEvent move(QEvent::MouseMove, QPointF(c + by), h->mapToGlobal(QPointF(c + by)), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(h, &move);
            QTest::mouseRelease(h, Qt::LeftButton, {}, c + by);
        };
        // The handle follows the pointer to within the pixel where it was taken.
        drag(form.TreeSplitter->handle(1), QPoint(40, 0));
        QVERIFY2(qAbs(form.TreeView1->width() - 177) <= 1, qPrintable(QString::number(form.TreeView1->width())));
        drag(form.PaneSplitter->handle(1), QPoint(0, -30));
        QVERIFY2(qAbs(form.Panel1->height() - 142) <= 1, qPrintable(QString::number(form.Panel1->height())));
        QCOMPARE(form.Output->height(), form.Panel1->height() - 20);
        QCOMPARE(form.TabSet1->height(), 18);
    }

    // `cmake --install` of the program's component puts the program, the compiler,
    // the menu entry and the icon under the prefix.
    void installsLikeADesktopProgram() {
        QTemporaryDir prefix;
        QProcess install;
        install.start(QStringLiteral(QV_CMAKE_COMMAND),
                      {QStringLiteral("--install"), QStringLiteral(QV_BINARY_DIR), QStringLiteral("--prefix"), prefix.path(),
                       QStringLiteral("--component"), QStringLiteral("quelvane")});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
        for (const char *exe : {"bin/quelvane", "bin/lcc86.exe"})
            QVERIFY2(QFileInfo(prefix.filePath(QString::fromLatin1(exe))).isExecutable(), exe);
        QFile icon(prefix.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/quelvane.svg")));
        QVERIFY(icon.open(QIODevice::ReadOnly));
        QVERIFY(icon.readAll().contains("<svg"));
        QFile desktop(prefix.filePath(QStringLiteral("share/applications/quelvane.desktop")));
        QVERIFY(desktop.open(QIODevice::ReadOnly));
        QMap<QString, QString> entry;
        for (const QString &line : QString::fromUtf8(desktop.readAll()).split(QLatin1Char('\n')))
            if (line.contains(QLatin1Char('='))) entry[line.section(QLatin1Char('='), 0, 0)] = line.section(QLatin1Char('='), 1);
        QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(entry.value(QStringLiteral("Exec")), QStringLiteral("quelvane %F"));
        QCOMPARE(entry.value(QStringLiteral("MimeType")), QStringLiteral("text/x-csrc;text/x-chdr;"));
        QCOMPARE(entry.value(QStringLiteral("Icon")), QStringLiteral("quelvane"));
        QCOMPARE(entry.value(QStringLiteral("Categories")), QStringLiteral("Development;IDE;"));
        for (const char *key : {"Name[ja]", "Comment[ja]", "Comment"}) {
            const QString text = entry.value(QString::fromLatin1(key));
            QVERIFY2(std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x3000; }), key);
        }
    }

    // The tab strip's background and its unchosen tab in the button shadow
    // colour, plain; the chosen tab in the button face colour.
    void theTabStripColours() {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TTabSet *tabs = form.TabSet1;
        const QColor shadow = tabs->palette().color(QPalette::Dark);
        const QColor face = tabs->palette().color(QPalette::Button);
        QVERIFY(shadow != face);
        for (int chosen : {0, 1}) {
            tabs->setCurrentIndex(chosen);
            const QImage img = tabs->grab().toImage();
            const QRect last = tabs->tabRect(tabs->count() - 1);
            for (int x = last.right() + 4; x < img.width(); x += 3)
                for (int y = 1; y < img.height(); y += 2) QCOMPARE(img.pixel(x, y), shadow.rgb());
            for (int i = 0; i < tabs->count(); ++i) {
                const QRect r = tabs->tabRect(i);
                const QPoint inside(r.left() + TTabSet::Slant + 3, r.center().y());  // left of the caption
                QCOMPARE(img.pixel(inside), (i == chosen ? face : shadow).rgb());
            }
        }
        QCOMPARE(tabs->font().pixelSize(), 12);
        QCOMPARE(tabs->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    }
};

QV_TEST_MAIN(TstAppearance)
#include "tst_appearance.moc"
