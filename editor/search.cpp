#include "search.h"

#include <QChar>
#include <climits>
#include <QHash>
#include <algorithm>
#include <mutex>

namespace search {

namespace {

bool HasLineBreak(QStringView s) {
    for (QChar c : s)
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar::ParagraphSeparator) return true;
    return false;
}

// The whole character that ends just before `at` (a surrogate pair as one).
char32_t CharBefore(QStringView s, qsizetype at) {
    const QChar c = s[at - 1];
    if (c.isLowSurrogate() && at >= 2 && s[at - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(s[at - 2], c);
    return c.unicode();
}

// The whole character that starts at `at`.
char32_t CharAt(QStringView s, qsizetype at) {
    const QChar c = s[at];
    if (c.isHighSurrogate() && at + 1 < s.size() && s[at + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(c, s[at + 1]);
    return c.unicode();
}

// True when a cut at `at` falls between the halves of a surrogate pair.
bool SplitsPair(QStringView s, qsizetype at) {
    return at > 0 && at < s.size() && s[at - 1].isHighSurrogate() && s[at].isLowSurrogate();
}

// The boundaries of the candidate [at, at + length) are acceptable.
bool Bounded(QStringView line, qsizetype at, qsizetype length, const Options &options) {
    const qsizetype end = at + length;
    if (SplitsPair(line, at) || SplitsPair(line, end)) return false;
    if (!options.WholeWord) return true;
    if (at > 0 && IsWordChar(CharBefore(line, at))) return false;
    if (end < line.size() && IsWordChar(CharAt(line, end))) return false;
    return true;
}

Qt::CaseSensitivity Sensitivity(const Options &options) {
    return options.MatchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

}  // namespace

bool IsWordChar(char32_t ch) {
    if (ch == U'_') return true;
    if (ch >= 0xD800 && ch <= 0xDFFF) return false;  // an escaped byte or half a pair
    return QChar::isLetterOrNumber(ch);
}

bool MatchesAt(QStringView line, qsizetype at, QStringView pattern, const Options &options) {
    if (pattern.isEmpty() || at < 0 || at + pattern.size() > line.size()) return false;
    if (line.mid(at, pattern.size()).compare(pattern, Sensitivity(options)) != 0) return false;
    return Bounded(line, at, pattern.size(), options);
}

qsizetype Next(QStringView line, QStringView pattern, qsizetype from, const Options &options) {
    if (pattern.isEmpty() || HasLineBreak(pattern)) return -1;
    from = std::max<qsizetype>(from, 0);
    while (from + pattern.size() <= line.size()) {
        const qsizetype at = line.indexOf(pattern, from, Sensitivity(options));
        if (at < 0) return -1;
        if (Bounded(line, at, pattern.size(), options)) return at;
        from = at + 1;
    }
    return -1;
}

qsizetype Previous(QStringView line, QStringView pattern, qsizetype before, const Options &options) {
    if (pattern.isEmpty() || HasLineBreak(pattern)) return -1;
    qsizetype from = std::min(before - 1, line.size() - pattern.size());
    while (from >= 0) {
        const qsizetype at = line.lastIndexOf(pattern, from, Sensitivity(options));
        if (at < 0) return -1;
        if (Bounded(line, at, pattern.size(), options)) return at;
        from = at - 1;
    }
    return -1;
}

namespace {

// How common a character is in C source and prose, rarest last: the search
// scans for the character of the search text that comes latest here (any
// character not listed counts as rarest of all).
int Commonness(QChar c) {
    static const char kOrder[] = " etanisorlcdpu;mf(),h=_g\t*b.y01-\"v{}k>x<w2[]&/+j#3q!z4%:58697|'\\^?~@$";
    const char16_t u = c.toLower().unicode();
    if (u >= 128) return -1;
    const char *at = std::char_traits<char>::find(kOrder, sizeof kOrder - 1, char(u));
    return at ? int(sizeof kOrder - (at - kOrder)) : -1;
}

// Every character of the BMP whose simple case folding is ch's.
std::vector<QChar> SameWithoutCase(QChar ch) {
    static std::mutex lock;
    static QHash<char16_t, std::vector<QChar>> known;
    const std::lock_guard<std::mutex> hold(lock);
    const char16_t folded = ch.toCaseFolded().unicode();
    auto it = known.constFind(folded);
    if (it != known.constEnd()) return *it;
    std::vector<QChar> forms;
    for (char32_t u = 0; u <= 0xFFFF; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        if (QChar(char16_t(u)).toCaseFolded().unicode() == folded) forms.push_back(QChar(char16_t(u)));
    }
    known.insert(folded, forms);
    return forms;
}

}  // namespace

TFinder::TFinder(QStringView pattern, const Options &options) : Pattern(pattern), Opts(options) {
    Usable = !pattern.isEmpty() && !HasLineBreak(pattern);
    if (!Usable || options.MatchCase) return;
    int best = INT_MAX;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c.isSurrogate()) continue;
        const int common = Commonness(c);
        if (common < best) {
            best = common;
            Anchor = i;
        }
    }
    if (Anchor < 0) return;
    Forms = SameWithoutCase(pattern[Anchor]);
    if (Forms.empty() || Forms.size() > 4) {
        Anchor = -1;  // many forms: one scan of the general search does better
        Forms.clear();
    }
}

}  // namespace search
