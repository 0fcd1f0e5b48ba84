#pragma once
// Splitting a command line into a program's arguments. The runner never hands
// a command line to a shell: these words go straight to the program.
//
// The line is a Shift-JIS byte string. Rules:
//  - Blanks and tabs outside double quotes separate words; runs of them count
//    once, and leading and trailing ones make no word.
//  - The first word (the program) is read plainly: a double quote toggles
//    quoting and is dropped, every other byte (backslashes included) is kept,
//    and a blank or tab outside quotes ends it. So a program path can't hold
//    a double quote.
//  - The other words follow these rules:
//      2n backslashes then a quote  -> n backslashes, and the quote toggles quoting;
//      2n+1 backslashes then a quote -> n backslashes and a literal quote;
//      backslashes not followed by a quote are literal;
//      inside a quoted part, two quotes in a row ("") give one literal quote and
//      quoting goes on.
//    A quoted part may sit inside a word (ab"c d"e is one word, abc de), and
//    "" on its own is an empty word.
//  - The second byte of a double-byte character is never a backslash, quote,
//    blank or tab, whatever its value.
// An empty result means there is no program to run.
#include <QByteArray>
#include <QList>

QList<QByteArray> SplitCommandLine(const QByteArray &commandLine);
