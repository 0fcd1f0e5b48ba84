#pragma once
// Finding a text in Shift-JIS bytes before they are decoded: the lines of a
// file that may hold it, found with scans over the raw bytes, so that only
// those lines need decoding.
//
// Each character of the text stands for every code that decodes to it (a
// character with two or three codes, such as ∵ or Ⅰ, for all of them), and,
// without match case, for every code of every character that compares equal
// to it without regard to case (QString's case-insensitive comparison: A and a,
// Ａ and ａ, Α and α, Ⅰ and ⅰ). An escaped byte of the text (sjis.h) stands for
// that byte. A match of the text in the decoded bytes is a run of those codes
// that starts where a character starts: never on the second byte of a
// double-byte code (a lead byte 81..9F or E0..FC followed by a byte 40..FC
// other than 7F), which is why "\" (5C) is not found in 表 (95 5C).
//
// The lines found are a superset: every line whose decoded text holds the text
// is among them, and a line found may still hold none (a whole-word search,
// for one, decides on the decoded line). Lines end at CR LF, LF or a lone CR,
// as everywhere else; no byte of a double-byte code is a CR or an LF, so each
// line decodes on its own to what it reads as in the whole file.

#include <QByteArrayView>
#include <QStringView>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace sjis {

class BytePattern {
public:
    // `text` as the search looks for it; matchCase false: letters without
    // regard to case.
    BytePattern(QStringView text, bool matchCase);

    // Calls line(number, start, end) for each line of `bytes` that may hold the
    // text, in order: its 1-based number and its bytes [start, end) without the
    // line end. None when no decoded text can hold the text: it is empty, holds
    // a line break, or holds a character that no code decodes to (nor, without
    // match case, any character equal to it but for case). Stops when line
    // returns false or once *stop is set (checked every line found and every
    // megabyte scanned); returns false then.
    bool ForEachLine(QByteArrayView bytes, const std::function<bool(int line, qsizetype start, qsizetype end)> &line,
                     const std::atomic<bool> *stop = nullptr) const;

private:
    // One character of the text: the codes it stands for (one or two bytes
    // each, high byte first in a double-byte code). The scan looks at the
    // characters up to the first whose codes differ in length (none do in code
    // page 932); the decoded line decides on the rest.
    struct Unit {
        std::vector<uint16_t> Codes;
        int Length = 1;
        bool Escaped = false;  // an escaped byte: a byte that need not start a character
    };
    qsizetype FindIn(const unsigned char *p, qsizetype n, qsizetype from, qsizetype until) const;
    bool Holds(const unsigned char *p, qsizetype at) const;

    // The bytes that a run can have at one place, for the scan.
    struct Probe {
        qsizetype Offset = 0;
        std::vector<unsigned char> Bytes;
        bool Set[256] = {};
    };

    std::vector<Unit> Units;
    qsizetype Bytes = 0;  // the length in bytes of every run of codes
    bool Impossible = false;
    bool EveryLine = false;  // no run has a length of its own: every line may hold the text
    // Two places of a run (one in a run of one byte) whose bytes are the least
    // common in text: a place where both hold is worth a closer look.
    Probe Rare[2];
};

}  // namespace sjis
