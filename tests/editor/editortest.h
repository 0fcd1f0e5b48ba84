#pragma once
// Helpers shared by the editor's tests.
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include "richedit.h"
#include <QString>
#include <QTest>
#include <QTextCursor>

#include "../testfiles.h"
#include <QMdiArea>
#include <QTemporaryDir>

#include "childwin.h"
#include "colouring.h"
#include "qverror.h"
#include "textof.h"
#include "textpos.h"

namespace edtest {

using qvtest::ReadFile;
using qvtest::WriteFile;

// A colour as one mask letter: K blue (keyword), G green (comment), B black,
// R red (the marker colour that untouched characters keep), ? anything else.
inline QChar Letter(const QColor &c) {
    if (c == QColor(0, 0, 255)) return QLatin1Char('K');
    if (c == QColor(0, 128, 0)) return QLatin1Char('G');
    if (c == QColor(0, 0, 0)) return QLatin1Char('B');
    if (c == QColor(255, 0, 0)) return QLatin1Char('R');
    return QLatin1Char('?');
}

// The colour of every character of T, one letter each.
inline QString Mask(const TRichEdit *control) {
    QString m;
    const int n = TextLength(control);
    for (int i = 0; i < n; ++i) m += Letter(ColourAt(control, i));
    return m;
}

// What the view paints for each character of T on the screen, one letter
// each: that of its glyph's colour (the darkest pixel of its cell), '-' for a
// cell without ink, ' ' off the screen, for line breaks and for a pair's
// second half. Expected: Mask, with '-' for blanks and tabs (see Shown).
inline QString Painted(TRichEdit *e) {
    const QImage img = e->viewport()->grab().toImage();
    const TTextStore *t = e->Text();
    QString out(t->Length(), QLatin1Char(' '));
    const int caret = e->Caret(), caretLine = t->LineOf(caret);
    int preedit = 0;  // the preedit's columns, drawn before the character at the caret
    for (QChar c : e->Preedit()) preedit += c.isLowSurrogate() ? 0 : c.unicode() < 0x80 ? 1 : 2;
    const int last = std::min(t->LineCount(), e->FirstVisibleLine() + e->VisibleLines());
    for (int line = e->FirstVisibleLine(); line < last; ++line) {
        for (int p = t->LineStart(line), end = t->LineEnd(line); p < end; ++p) {
            if (t->At(p).isLowSurrogate() && p > 0 && t->At(p - 1).isHighSurrogate()) continue;
            const int next = p + (t->At(p).isHighSurrogate() && t->At(p + 1).isLowSurrogate() ? 2 : 1);
            const QRect r = e->CaretRect(p);
            const int x = r.x() + (line == caretLine && p > caret ? int(preedit * e->ColumnWidth()) : 0);
            const int w = int((e->ColumnOf(next) - e->ColumnOf(p)) * e->ColumnWidth());
            if (x < 0 || x + w > img.width()) continue;
            int ink = 0;
            QRgb darkest = 0;
            for (int y = r.top(); y <= r.bottom() && y < img.height(); ++y)
                for (int i = x + 2; i < x + w - 1; ++i) {  // (not the caret's two columns)
                    const QRgb c = img.pixel(i, y);
                    const int k = 255 - std::min({qRed(c), qGreen(c), qBlue(c)});
                    if (k > ink) ink = k, darkest = c;
                }
            const int r0 = qRed(darkest), g0 = qGreen(darkest), b0 = qBlue(darkest), d = ink / 4;
            QChar letter = QLatin1Char('?');
            if (ink < 96) letter = QLatin1Char('-');
            else if (b0 - r0 > d && std::abs(r0 - g0) < d) letter = QLatin1Char('K');
            else if (g0 - r0 > d && std::abs(r0 - b0) < d) letter = QLatin1Char('G');
            else if (r0 - g0 > d && std::abs(g0 - b0) < d) letter = QLatin1Char('R');
            else if (std::max({r0, g0, b0}) - std::min({r0, g0, b0}) < d) letter = QLatin1Char('B');
            out[p] = letter;
        }
    }
    return out;
}

// What Painted should give: the colours of Mask where a glyph is on the screen.
inline QString PaintedExpected(TRichEdit *e, const QString &painted) {
    QString want = painted;
    for (int p = 0; p < want.size(); ++p) {
        if (want[p] == QLatin1Char(' ')) continue;
        const QChar c = e->Text()->At(p);
        want[p] = c == QLatin1Char(' ') || c == QLatin1Char('\t') ? QLatin1Char('-') : Letter(ColourAt(e, p));
    }
    return want;
}

// Paints the whole text (line breaks included) red.
inline void PaintRed(TRichEdit *control) { PaintColour(control, 0, TextLength(control), QColor(255, 0, 0)); }

// The message of the EQvError that fn throws, "<no error>" when none.
template <class F>
QString Failure(F &&fn) {
    try {
        fn();
    } catch (const EQvError &e) {
        return e.Message;
    }
    return QStringLiteral("<no error>");
}

// A document window in area with `bytes` loaded from a new file in dir.
inline TMDIChild *OpenInArea(QMdiArea &area, const QTemporaryDir &dir, const QByteArray &bytes) {
    static int n = 0;
    const QString path = dir.filePath(QStringLiteral("doc%1.c").arg(++n));
    if (!WriteFile(path, bytes)) return nullptr;
    auto *w = new TMDIChild;
    area.addSubWindow(w);
    w->LoadFile(path);
    area.show();
    return w;
}

}  // namespace edtest
