// The two fields of a compiler message in the Output pane.
#include "compile.h"

#include <algorithm>
#include <limits>
#include <vector>

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

int MessageLineNumberAt(const QString &row, qsizetype blank) {
    if (blank < 0) return 0;
    // The row's last character is never looked at.
    for (qsizetype q = blank; q + 1 < row.size(); ++q) {
        if (row.at(q) == u':') return StrToInt(row.mid(blank, q - blank));
    }
    return 0;
}

int MessageLineNumber(const QString &row) { return MessageLineNumberAt(row, row.indexOf(u' ')); }

TMessageFile FindMessageFile(const QString &row, const QStringList &fileNames) {
    TMessageFile found;
    if (IsOwnRow(row)) return found;
    const QString F = MessageFileName(row);
    for (int i = 0; i < fileNames.size(); ++i) {
        if (ShortPath(fileNames.at(i)) != F) continue;
        found.Index = i;
        found.Blank = row.indexOf(u' ');
        return found;
    }
    // A path with blanks: the longest prefix before a blank that is a
    // document's path. No prefix longer than the longest path can be one.
    qsizetype longest = 0;
    for (const QString &name : fileNames) longest = std::max(longest, name.size());
    for (qsizetype p = row.indexOf(u' '); p >= 0 && p <= longest; p = row.indexOf(u' ', p + 1)) {
        const QStringView prefix = QStringView(row).left(p);
        for (int i = 0; i < fileNames.size(); ++i) {
            if (fileNames.at(i).isEmpty() || fileNames.at(i) != prefix) continue;
            found.Index = i;
            found.Blank = p;
            break;
        }
    }
    return found;
}

namespace {
// Whether the line field that starts at the blank at `blank` reads as a
// number of at least 1 that a ":" ends (the row's last character excluded),
// as StrToInt reads it; its value, or 0. `digitsAt` is where the blanks after
// `blank` end, found once for a run of blanks.
int LineAt(const QString &row, qsizetype digitsAt) {
    const qsizetype n = row.size();
    qsizetype i = digitsAt;
    bool negative = false;
    if (i < n && (row.at(i) == u'+' || row.at(i) == u'-')) negative = row.at(i++) == u'-';
    const qsizetype first = i;
    qint64 value = 0;
    while (i < n && row.at(i) >= u'0' && row.at(i) <= u'9') {
        value = value * 10 + (row.at(i).unicode() - u'0');
        if (value > std::numeric_limits<qint32>::max()) return 0;
        ++i;
    }
    if (i == first || i + 1 >= n || row.at(i) != u':' || negative) return 0;
    return int(value);
}
}  // namespace

bool ParseMessage(const QString &row, const std::function<bool(const QString &)> &isFile,
                  TCompilerMessage *message) {
    if (IsOwnRow(row)) return false;
    const qsizetype n = row.size();
    // Each blank that could end a file field, with the line that follows it;
    // the first one, then the others from the longest prefix down.
    std::vector<std::pair<qsizetype, int>> candidates;
    qsizetype afterBlanks = 0;  // where the run of blanks at the current one ends
    int lineThere = 0;
    for (qsizetype p = row.indexOf(u' '); p >= 0; p = row.indexOf(u' ', p + 1)) {
        if (afterBlanks <= p) {
            afterBlanks = p;
            while (afterBlanks < n && row.at(afterBlanks) == u' ') ++afterBlanks;
            lineThere = LineAt(row, afterBlanks);
        }
        if (p > 0 && lineThere > 0) candidates.emplace_back(p, lineThere);
    }
    if (candidates.empty()) return false;
    const qsizetype firstBlank = row.indexOf(u' ');
    auto take = [&](qsizetype p, int line) {
        const QString file = row.left(p);
        if (!isFile(file)) return false;
        message->File = file;
        message->Line = line;
        const qsizetype colon = row.indexOf(u':', p);
        qsizetype t = colon + 1;
        while (t < n && row.at(t) == u' ') ++t;
        message->Text = row.mid(t);
        message->Warning = message->Text.startsWith(QLatin1String("warning"), Qt::CaseInsensitive) ||
                           message->Text.startsWith(QStringLiteral("警告"));
        return true;
    };
    if (candidates.front().first == firstBlank && take(candidates.front().first, candidates.front().second))
        return true;
    for (auto c = candidates.rbegin(); c != candidates.rend(); ++c)
        if (c->first != firstBlank && take(c->first, c->second)) return true;
    return false;
}

bool IsOwnRow(const QString &row) {
    if (row.isEmpty()) return true;
    const QChar c = row.at(0);
    return c == u'*' || c == u'-' || c == u'>';
}

}  // namespace buildcmd
