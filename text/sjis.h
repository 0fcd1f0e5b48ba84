#pragma once
// Shift-JIS (code page 932) text, losslessly.
//
// Files, project files and compiler output are Shift-JIS bytes. Every valid
// code decodes to the character that code page 932 gives it: ASCII, half-width
// katakana A1..DF and every valid double-byte code (NEC row 13, the NEC-selected
// and the IBM extensions and the user-defined area included). What is no valid
// code is kept as "escaped bytes", one lone low surrogate U+DC00 + byte per
// byte: the single bytes 80, A0 and FD..FF, a lead byte that nothing valid
// follows, and both bytes of a lead and trail pair that has no character.
// Encoding turns escaped bytes back into the very same bytes.
//
// Some characters have two or three codes (Ⅰ is 8754 and FA4A, ∵ is 81E6, 879A
// and FA5B, 纊 is FA5C and ED40). The encoder writes such a character with its
// usual code (the one code page 932 writes for it) unless a CodeChoice names
// another: a file's choice is taken when it is loaded (chooseCodes) and given
// back when it is saved. Where a file writes one character with two codes, the
// uses of the code that is not its choice are listed beside the text
// (OtherCodes), so that decode and encode with the same choice and list are the
// identity on every byte string.

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <vector>

#include "sjisbyte.h"

namespace sjis {

// For characters that have more than one code: the code that a file uses,
// where it is not the usual one.
class CodeChoice {
public:
    // The code chosen for ch (a double-byte code, lead byte high), 0 when ch
    // takes its usual code.
    quint16 code(char16_t ch) const { return Codes.value(ch, 0); }
    // Chooses code for ch; 0 or ch's usual code drops the choice.
    void set(char16_t ch, quint16 code);
    bool isEmpty() const { return Codes.isEmpty(); }
    qsizetype size() const { return Codes.size(); }
    bool operator==(const CodeChoice &o) const { return Codes == o.Codes; }

private:
    QHash<char16_t, quint16> Codes;
};

// The codes that `bytes` use: for each character with more than one code, the
// code used most often; a tie goes to the usual code, then to the lowest code.
CodeChoice chooseCodes(QByteArrayView bytes);
// The same from counts of uses: character << 16 | code -> how often.
CodeChoice chooseFromUses(const QHash<quint32, qsizetype> &uses);

// Bytes to text: every valid code as its character. Never fails. Line ends
// are left as they are.
QString decode(QByteArrayView bytes);

// A character written with a code other than its document's code for it: its
// index in the text and the code. Lists are in ascending order of Index.
struct CodeAt {
    qsizetype Index;
    quint16 Code;
};
using OtherCodes = std::vector<CodeAt>;

// The line breaks met on the way: the index just past each LF, and whether
// every CR and LF stood in a CR LF pair.
struct Breaks {
    std::vector<int> AfterLf;
    bool AllPairs = true;
    bool LoneCr = false;  // a CR without an LF after it
};

// Bytes to text, every valid code as its character, and every character that
// has more than one code into multi with the code it came with (for a choice
// made after the decoding); breaks, when given, gets the line breaks.
QString decodeEvery(QByteArrayView bytes, OtherCodes *multi, Breaks *breaks = nullptr);

// Bytes to text as a document with this choice holds them: every valid code
// is its character, and each code other than its character's chosen code (its
// usual code when the choice names none) goes into others. encode with the
// same choice and others gives the bytes back.
QString decode(QByteArrayView bytes, const CodeChoice &choice, OtherCodes *others);

// Why an encode failed.
struct EncodeError {
    qsizetype index = -1;  // index into the encoded QString, -1 when none
    char32_t ch = 0;       // the character there (a whole code point)
    // False: ch is a character that Shift-JIS cannot hold. True: ch is an
    // escaped byte that would pair up with the bytes around it, so the bytes
    // would read back as other text.
    bool joins = false;
};

// Text to bytes. Escaped bytes go back as they came; a character with more
// than one code takes the code in `choice`, else its usual code. On a
// character that Shift-JIS cannot hold, or on escaped bytes whose bytes would
// not read back as the same text (decode with the same choice), returns
// false, fills err and leaves out untouched.
// A character listed in others (and not replaced since: the code must still
// be one of its own) is written with the code listed.
bool encode(QStringView text, QByteArray &out, EncodeError *err = nullptr, const CodeChoice *choice = nullptr,
            const OtherCodes *others = nullptr);

// For bytes made a piece at a time: appends the bytes of text to out as encode
// writes them (others' indexes count from text's start); with breaks, each CR
// LF of text goes out as the next of breaks (at most two bytes each) instead.
// Returns false, and leaves out as it was, where text holds a character that
// Shift-JIS cannot hold or an escaped byte (whether that reads back depends on
// the bytes around it): encode of the whole text tells which and where.
bool encodeAppend(QStringView text, QByteArray &out, const CodeChoice *choice = nullptr,
                  const OtherCodes *others = nullptr, const QByteArrayView *breaks = nullptr);

// Encode where a failure is impossible or irrelevant (such characters become '?').
QByteArray encodeLossy(QStringView text);

// True when c is an escaped byte (U+DC40..U+DCFF: bytes 40..FF; ASCII below 40
// never needs one).
inline bool isEscapedByte(QChar c) { return c.unicode() >= 0xDC40 && c.unicode() <= 0xDCFF; }

// The usual code of ch: one byte (A1..DF) or a double-byte code; 0 when
// Shift-JIS cannot hold ch. ASCII is its own code.
quint16 usualCode(char32_t ch);

// "U+XXXX 'c'" for messages.
QString describeChar(char32_t ch);

}  // namespace sjis
