#pragma once
// The search rule of Find, Replace and Find in the project, on the text of one
// line at a time.
//
// Text is compared character by character, never byte by byte: every
// Shift-JIS character of a decoded line is one QChar, so a Japanese search text
// can only match whole characters, and an escaped byte (a lone surrogate
// U+DC40..U+DCFF kept from the file) matches only the same escaped byte. A
// match never begins or ends between the two halves of a surrogate pair.
//
// Without match case, characters are compared after simple case folding (A
// and a, Ａ and ａ are the same). With whole word, the characters just before
// and just after the match must not be word characters (letters, digits and
// "_"), so that "int" is not found in "print" or "int_1".
//
// An empty search text matches nothing; neither does one that holds a line
// break, since a line holds none.

#include <QStringView>
#include <vector>

namespace search {

struct Options {
    bool MatchCase = false;
    bool WholeWord = false;
};

// True for letters, digits and "_".
bool IsWordChar(char32_t ch);

// True when pattern matches line at column `at` under the options.
bool MatchesAt(QStringView line, qsizetype at, QStringView pattern, const Options &options);

// Column of the first match that starts at or after `from`; -1 when none.
qsizetype Next(QStringView line, QStringView pattern, qsizetype from, const Options &options);

// Column of the last match that starts before `before`; -1 when none.
qsizetype Previous(QStringView line, QStringView pattern, qsizetype before, const Options &options);

// Calls f(column) for each match of the line from the left, matches not
// overlapping (the next one is looked for after the end of the one before).
template <class F>
void ForEach(QStringView line, QStringView pattern, const Options &options, F &&f) {
    if (pattern.isEmpty()) return;
    for (qsizetype at = Next(line, pattern, 0, options); at >= 0;
         at = Next(line, pattern, at + pattern.size(), options))
        f(at);
}

// The matches of one search text through many lines or long stretches of
// text (which may hold line breaks: no match holds one), the same as ForEach
// finds, with what the search text asks for worked out once. Without match
// case the text is scanned for the search text's rarest-looking character in
// each of its case forms, so that a long text goes by at the speed of a scan
// for one character.
class TFinder {
public:
    TFinder(QStringView pattern, const Options &options);
    // Calls f(column) for each match from the left, not overlapping.
    template <class F>
    void ForEach(QStringView text, F &&f) const;

private:
    QStringView Pattern;
    Options Opts;
    bool Usable = false;    // a search text that can match at all
    qsizetype Anchor = -1;  // the character scanned for (-1: the general search)
    std::vector<QChar> Forms;  // every character that is the same as it without match case
};

template <class F>
void TFinder::ForEach(QStringView text, F &&f) const {
    if (!Usable) return;
    if (Anchor < 0) {
        search::ForEach(text, Pattern, Opts, f);
        return;
    }
    // The next place of each form at or after the anchor's place in a
    // match starting at `from`.
    std::vector<qsizetype> next(Forms.size(), -2);
    const qsizetype length = Pattern.size();
    qsizetype from = 0;
    while (from + length <= text.size()) {
        qsizetype at = -1;
        for (size_t i = 0; i < Forms.size(); ++i) {
            if (next[i] != -1 && next[i] < from + Anchor) next[i] = text.indexOf(Forms[i], from + Anchor);
            if (next[i] >= 0 && (at < 0 || next[i] < at)) at = next[i];
        }
        if (at < 0) return;
        const qsizetype start = at - Anchor;
        if (start + length > text.size()) return;
        if (MatchesAt(text, start, Pattern, Opts)) {
            f(start);
            from = start + length;
        } else {
            from = start + 1;
        }
    }
}

}  // namespace search
