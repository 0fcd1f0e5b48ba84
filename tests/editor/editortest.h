#pragma once
// Helpers shared by the editor's tests.
#include <QByteArray>
#include <QColor>
#include <QFile>
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
