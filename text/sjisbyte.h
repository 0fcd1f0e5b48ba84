#pragma once
// Which bytes of a Shift-JIS (code page 932) string pair up: a lead byte and
// the byte after it form one double-byte unit when that byte can follow a lead.
// The codec and the command-line splitter share this one rule, so that a byte
// the editor shows as half of a character is never taken for a delimiter
// elsewhere.

namespace sjis {

// 81..9F and E0..FC start a double-byte unit.
constexpr bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// 40..7E and 80..FC can be the second byte of a double-byte unit.
constexpr bool IsTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

}  // namespace sjis
