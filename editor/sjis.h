#pragma once
// Shift-JIS (code page 932) text, losslessly.
//
// Files, project files and compiler output are Shift-JIS bytes. They are decoded
// through Qt's ICU-backed converter; every byte sequence that would not come back
// byte for byte (invalid or unassigned codes, codes that have a second, canonical
// encoding) is kept as "escaped bytes": one lone low surrogate U+DC00 + byte per
// byte. Encoding turns those back into the very same bytes, so decode followed by
// encode is the identity on every byte string.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace sjis {

// Bytes to text. Never fails. Line ends are left as they are.
QString decode(QByteArrayView bytes);

// Why an encode failed: the first character that Shift-JIS cannot hold.
struct EncodeError {
    qsizetype index = -1;  // index into the encoded QString, -1 when none
    char32_t ch = 0;       // the character (a whole code point)
};

// Text to bytes. Escaped bytes go back as they came. On a character that
// Shift-JIS cannot hold, returns false, fills err and leaves out untouched.
bool encode(QStringView text, QByteArray &out, EncodeError *err = nullptr);

// Encode where a failure is impossible or irrelevant (such characters become '?').
QByteArray encodeLossy(QStringView text);

// True when the character at text[i] is an escaped byte.
inline bool isEscapedByte(QChar c) { return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF; }

// "U+XXXX 'c'" for messages.
QString describeChar(char32_t ch);

}  // namespace sjis
