#!/usr/bin/env python3
"""Writes cp932.txt, the reference table of code page 932 for tst_sjis.

One line per valid code, "XX U+YYYY" for a single byte and "XXXX U+YYYY" for a
double-byte code, the character from python3's cp932 codec. A character with
more than one code gets a third field on each of its codes: its usual code,
the one that code page 932 writes for it (a code in rows 81..EA first, the
lowest of them; then the IBM extensions FA..FC; the NEC-selected ED..EE last).

The single bytes 80, A0 and FD..FF are left out: the codec gives them control
or private-use characters, but no character of the code page has them as its
code, so the editor keeps them as escaped bytes.

Run: python3 tests/editor/make_cp932_table.py > tests/editor/cp932.txt
"""
import collections
import sys

NO_CHARACTER = {0x80, 0xA0, 0xFD, 0xFE, 0xFF}


def is_lead(b):
    return 0x81 <= b <= 0x9F or 0xE0 <= b <= 0xFC


def is_trail(b):
    return 0x40 <= b <= 0xFC and b != 0x7F


def char_of(code_bytes):
    try:
        text = code_bytes.decode("cp932")
    except UnicodeDecodeError:
        return None
    return ord(text) if len(text) == 1 else None


def rank(code):
    lead = code >> 8
    return (0 if lead < 0xED else 1 if lead >= 0xFA else 2, code)


def main():
    codes = []  # (code, width, character)
    for b in range(256):
        if b in NO_CHARACTER or is_lead(b):
            continue
        codes.append((b, 1, char_of(bytes([b]))))
    for lead in range(256):
        if not is_lead(lead):
            continue
        for trail in range(256):
            if not is_trail(trail):
                continue
            ch = char_of(bytes([lead, trail]))
            if ch is not None:
                codes.append((lead << 8 | trail, 2, ch))
    by_char = collections.defaultdict(list)
    for code, _, ch in codes:
        by_char[ch].append(code)
    out = sys.stdout
    out.write("# code page 932: code, character[, usual code of a character with more than one]\n")
    out.write("# made by make_cp932_table.py from python3's cp932 codec\n")
    for code, width, ch in codes:
        line = "%0*X U+%04X" % (width * 2, code, ch)
        if len(by_char[ch]) > 1:
            line += " %04X" % min(by_char[ch], key=rank)
        out.write(line + "\n")


if __name__ == "__main__":
    main()
