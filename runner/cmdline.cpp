#include "cmdline.h"

#include "sjisbyte.h"

namespace {

using sjis::IsLeadByte;
using sjis::IsTrailByte;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A double-byte character starts at i: both bytes belong to the word as they are.
bool IsDoubleByte(const QByteArray &s, int i) {
    return i + 1 < s.size() && IsLeadByte(uchar(s[i])) && IsTrailByte(uchar(s[i + 1]));
}

}  // namespace

QList<QByteArray> SplitCommandLine(const QByteArray &line) {
    QList<QByteArray> words;
    const int n = line.size();
    int i = 0;
    auto skipBlanks = [&] {
        while (i < n && IsBlank(line[i])) ++i;
    };

    // The program: quotes toggle, nothing is escaped.
    skipBlanks();
    if (i >= n) return words;
    {
        QByteArray word;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(line[i]))) {
            if (IsDoubleByte(line, i)) {
                word += line.mid(i, 2);
                i += 2;
            } else if (line[i] == '"') {
                quoted = !quoted;
                ++i;
            } else {
                word += line[i++];
            }
        }
        words << word;
    }

    for (;;) {
        skipBlanks();
        if (i >= n) break;
        QByteArray word;
        bool quoted = false;
        while (i < n) {
            if (IsDoubleByte(line, i)) {
                word += line.mid(i, 2);
                i += 2;
                continue;
            }
            int backslashes = 0;
            while (i < n && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < n && line[i] == '"') {
                word += QByteArray(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    word += '"';
                    ++i;
                } else if (quoted && i + 1 < n && line[i + 1] == '"') {
                    word += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
                continue;
            }
            word += QByteArray(backslashes, '\\');
            if (i >= n || (!quoted && IsBlank(line[i]))) break;
            if (IsDoubleByte(line, i)) continue;
            word += line[i++];
        }
        words << word;
    }
    return words;
}
