#pragma once
// The copy of a C source that lcc86.exe hands to the 8086 compiler.
//
// The compiler knows no Shift-JIS: it reads the second byte of a double-byte
// character as the ASCII character of that code, and 0x5C is "\". With -js
// every double-byte character inside a string or character literal keeps both
// its bytes, a second byte 0x5C written as "\\" (so the literal still holds
// that one byte), and every double-byte character inside a comment becomes two
// blanks (a comment's last character can then never join the next line). The
// line breaks stay where they are, so every line keeps its number; a CR right
// before a LF goes. Without -js the bytes are copied as they are, the CRs
// before LFs aside.
//
// The scan also finds what the compiler would trip over or need: the
// "#include" directives (their names are copied unchanged, whatever the
// option), the lines that belong to a preprocessor directive, and a block
// comment that is never closed (the compiler's preprocessor would loop
// forever on it).
#include <QByteArray>
#include <QList>

namespace lcc86 {

struct Include {
    int Line = 0;            // 1-based
    bool Quoted = false;     // "name" (searched beside the file first) or <name>
    QByteArray Name;         // the bytes between the delimiters
    qsizetype NameAt = 0;    // where those bytes stand in the prepared text
};

struct PreparedSource {
    QByteArray Text;
    QList<Include> Includes;
    // Per line (index 0 is line 1): the line starts a preprocessor directive
    // or continues one (after a backslash at the end of the line before).
    QList<bool> DirectiveLines;
    int LineCount = 1;             // lines of the text; an empty text has one
    int UnclosedCommentLine = 0;   // the line where an unclosed "/*" starts, or 0
};

PreparedSource PrepareSource(const QByteArray &source, bool shiftJis);

// The line a preprocessor message about `line` means. The compiler's
// preprocessor reports some directives with the number of the line after
// them (it has read the directive's line break by then): "#error",
// "#warning", a missing include file, a macro defined again, and every
// message given while the line after the directive is already counted. Such a
// message names the directive's last line again: when `line` is past the
// end, or follows a directive line and is no directive itself, or the message
// is one of those read to the end of their line.
int DirectiveMessageLine(const PreparedSource &source, int line, const QByteArray &message);

}  // namespace lcc86
