#pragma once
// Helpers shared by the editor's tests.
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QPlainTextEdit>
#include <QString>
#include <QTest>
#include <QTextCursor>

#include "../testfiles.h"
#include "colouring.h"
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
inline QString Mask(const QPlainTextEdit *control) {
    QString m;
    const int n = TextLength(control);
    for (int i = 0; i < n; ++i) m += Letter(ColourAt(control, i));
    return m;
}

// Paints the whole text (line breaks included) red.
inline void PaintRed(QPlainTextEdit *control) { PaintColour(control, 0, TextLength(control), QColor(255, 0, 0)); }

}  // namespace edtest
