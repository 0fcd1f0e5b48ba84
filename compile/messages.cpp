// The two fields of a compiler message in the Output pane.
#include "compile.h"

#include <limits>

#include "qverror.h"

namespace buildcmd {

namespace {
EQvError NotAnInteger(const QString &text) {
    return EQvError(QStringLiteral("'%1' は整数ではありません").arg(text));
}
}  // namespace

int StrToInt(const QString &text) {
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && text.at(i) == u' ') ++i;
    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    if (i == n) throw NotAnInteger(text);
    // Accumulated as a negative number so that the smallest value fits too.
    constexpr qint64 lowest = std::numeric_limits<qint32>::min();
    qint64 value = 0;
    for (; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9') throw NotAnInteger(text);
        value = value * 10 - (c - u'0');
        if (value < lowest) throw NotAnInteger(text);
    }
    if (!negative) {
        if (value == lowest) throw NotAnInteger(text);
        value = -value;
    }
    return static_cast<int>(value);
}

QString MessageFileName(const QString &row) {
    const qsizetype blank = row.indexOf(u' ');
    if (blank < 0) return QStringLiteral(" ");
    return row.left(blank);
}

int MessageLineNumber(const QString &row) {
    const qsizetype blank = row.indexOf(u' ');
    if (blank < 0) return 0;
    // The row's last character is never looked at.
    for (qsizetype q = blank; q + 1 < row.size(); ++q) {
        if (row.at(q) == u':') return StrToInt(row.mid(blank, q - blank));
    }
    return 0;
}

bool IsOwnRow(const QString &row) {
    if (row.isEmpty()) return true;
    const QChar c = row.at(0);
    return c == u'*' || c == u'-' || c == u'>';
}

}  // namespace buildcmd
