#pragma once
// Command lines for the runner's tests and benchmark: words written so that
// SplitCommandLine (runner/cmdline.h) gives them back unchanged.
#include <QByteArray>

#include "sjisbyte.h"

namespace qvtest {

// One argument written so that SplitCommandLine gives it back unchanged when
// it is not the first word: bare when it holds no blank, tab or quote and is
// not empty, otherwise quoted with its backslashes and quotes escaped.
inline QByteArray QuoteArgument(const QByteArray &arg) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    bool plain = !arg.isEmpty();
    for (char c : arg)
        if (isBlank(c) || c == '"') plain = false;
    if (plain) return arg;

    QByteArray out = "\"";
    int backslashes = 0;
    for (int i = 0; i < arg.size(); ++i) {
        if (i + 1 < arg.size() && sjis::IsLeadByte(uchar(arg[i])) && sjis::IsTrailByte(uchar(arg[i + 1]))) {
            // A double-byte character: both bytes as they are.
            out += QByteArray(backslashes, '\\');
            backslashes = 0;
            out += arg.mid(i, 2);
            ++i;
        } else if (arg[i] == '\\') {
            ++backslashes;
        } else if (arg[i] == '"') {
            if (backslashes == 0 && i > 0 && sjis::IsLeadByte(uchar(arg[i - 1]))) {
                // A backslash here would pair with the lone lead byte before
                // it; the doubled quote says the same inside quotes.
                out += "\"\"";
            } else {
                out += QByteArray(backslashes * 2 + 1, '\\');
                out += '"';
            }
            backslashes = 0;
        } else {
            out += QByteArray(backslashes, '\\');
            backslashes = 0;
            out += arg[i];
        }
    }
    // Backslashes before the closing quote are doubled so they stay literal.
    out += QByteArray(backslashes * 2, '\\');
    out += '"';
    return out;
}

// The program word: quoted when it holds a blank or tab or is empty. A program
// path can't hold a double quote; one is dropped.
inline QByteArray QuoteProgram(const QByteArray &program) {
    QByteArray p = program;
    p.replace('"', QByteArray());
    bool plain = !p.isEmpty();
    for (char c : p)
        if (c == ' ' || c == '\t') plain = false;
    return plain ? p : '"' + p + '"';
}

}  // namespace qvtest
