#include "sjisscan.h"

#include <QString>
#include <algorithm>
#include <cstring>

#include "sjis.h"
#include "sjisbyte.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sjis {
namespace {

// A code and the character it decodes to.
struct Coded {
    char16_t Ch;
    uint16_t Code;
};

int CompareCaseless(char16_t a, char16_t b) {
    return QStringView(&a, 1).compare(QStringView(&b, 1), Qt::CaseInsensitive);
}

// Every code that decodes to a character, ordered so that the characters
// equal without regard to case stand together, and within them each
// character's codes.
const std::vector<Coded> &AllCodes() {
    static const std::vector<Coded> all = [] {
        std::vector<Coded> v;
        for (unsigned b = 0; b < 0x80; ++b) v.push_back({char16_t(b), uint16_t(b)});
        // Every pair of a lead and a trail byte, decoded at once: each pair is
        // one unit, its character or two escaped bytes.
        QByteArray pairs;
        std::vector<uint16_t> codes;
        for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
            if (!IsLeadByte(static_cast<unsigned char>(lead))) {
                if (lead >= 0xA1 && lead <= 0xDF) {
                    pairs += char(lead);  // half-width katakana: one byte
                    codes.push_back(uint16_t(lead));
                }
                continue;
            }
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                if (!IsTrailByte(static_cast<unsigned char>(trail))) continue;
                pairs += char(lead);
                pairs += char(trail);
                codes.push_back(uint16_t(lead << 8 | trail));
            }
        }
        const QString text = decode(pairs);
        qsizetype k = 0;
        for (uint16_t code : codes) {
            const char16_t u = text.at(k).unicode();
            if (isEscapedByte(QChar(u))) {
                k += 2;  // a pair that is no character
                continue;
            }
            v.push_back({u, code});
            ++k;
        }
        std::sort(v.begin(), v.end(), [](const Coded &a, const Coded &b) {
            const int c = CompareCaseless(a.Ch, b.Ch);
            if (c != 0) return c < 0;
            return a.Ch != b.Ch ? a.Ch < b.Ch : a.Code < b.Code;
        });
        return v;
    }();
    return all;
}

bool IsLineBreak(char16_t u) { return u == u'\r' || u == u'\n' || u == 0x2029; }

int CodeLength(uint16_t code) { return code > 0xFF ? 2 : 1; }

// How common a byte is in text, Japanese or C, roughly (more is commoner):
// the scan looks first for the places of a run whose bytes are rarest.
int Commonness(unsigned char b) {
    static const char letters[] = "etaoinsrhldcumfpgwybvkxjqz";  // the most common first
    if (b >= 'a' && b <= 'z') return 90 - 3 * int(std::strchr(letters, b) - letters);
    if (b >= 'A' && b <= 'Z') return (90 - 3 * int(std::strchr(letters, b - 'A' + 'a') - letters)) / 3;
    if (b == ' ') return 100;
    if (b >= '0' && b <= '9') return 30;
    if (b < 0x20 || b == 0x7F) return b == '\t' ? 60 : 5;
    if (b < 0x80) return std::strchr("();,=*_+-.<>[]{}/\"'&#", b) ? 30 : 10;
    if (b >= 0x81 && b <= 0x83) return 100;  // kana and signs lead with these
    if (b >= 0x88 && b <= 0x9F) return 40;   // kanji
    if (b >= 0xA1 && b <= 0xDF) return 25;   // half-width katakana, second bytes
    if (b >= 0xE0 && b <= 0xEA) return 15;
    return 5;
}

constexpr qsizetype kStopEvery = qsizetype(1) << 20;  // bytes scanned between looks at the stop flag

// The number of line ends (CR LF, LF, lone CR) in bytes [from, to); `to` does
// not fall between the CR and the LF of a pair.
qsizetype CountLineEnds(QByteArrayView bytes, qsizetype from, qsizetype to) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype count = 0;
    qsizetype i = from;
#if defined(__SSE2__)
    // LFs and CRs, less the CRs right before an LF, counted in each byte's
    // lane (one a turn at most, so 127 turns fit) and summed now and then.
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), zero = _mm_setzero_si128();
    while (i + 17 <= to) {
        __m128i lanes = zero;
        for (int turn = 0; turn < 127 && i + 17 <= to; ++turn, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + 1));
            const __m128i crs = _mm_cmpeq_epi8(v, cr);
            const __m128i pairs = _mm_and_si128(crs, _mm_cmpeq_epi8(next, lf));
            lanes = _mm_sub_epi8(lanes, _mm_or_si128(_mm_cmpeq_epi8(v, lf), crs));
            lanes = _mm_add_epi8(lanes, pairs);
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums));
    }
    // (A CR LF that the last turn ended between: the pair was taken off,
    // and its LF counts below.)
#endif
    for (; i < to; ++i) {
        if (p[i] == '\n') {
            ++count;
        } else if (p[i] == '\r') {
            ++count;
            if (i + 1 < to && p[i + 1] == '\n') ++i;
        }
    }
    return count;
}

// True when a character starts at `at` in bytes (decoding from the start).
// `known`, at or before `at`, is a place where a character is known to start;
// it is moved on to a later one, so that a run of calls with rising `at` costs
// no more than one pass over the bytes.
bool StartsCharacter(QByteArrayView bytes, qsizetype at, qsizetype &known) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    // Back over lead bytes: a character starts just after any other byte.
    qsizetype q = at;
    while (q > known && IsLeadByte(p[q - 1])) --q;
    // Forward from there one character at a time, as a decoder goes.
    while (q < at) q += IsLeadByte(p[q]) && q + 1 < n && IsTrailByte(p[q + 1]) ? 2 : 1;
    known = q;
    return q == at;
}

}  // namespace

BytePattern::BytePattern(QStringView text, bool matchCase) {
    Impossible = text.isEmpty();
    const std::vector<Coded> &all = AllCodes();
    for (const QChar qc : text) {
        if (Impossible) break;
        const char16_t u = qc.unicode();
        Unit unit;
        if (IsLineBreak(u)) {
            Impossible = true;
        } else if (isEscapedByte(qc)) {
            unit.Codes.push_back(uint16_t(u - 0xDC00));
            unit.Escaped = true;
        } else {
            const auto range = std::equal_range(all.begin(), all.end(), Coded{u, 0}, [](const Coded &a, const Coded &b) {
                return CompareCaseless(a.Ch, b.Ch) < 0;
            });
            for (auto it = range.first; it != range.second; ++it)
                if (!matchCase || it->Ch == u) unit.Codes.push_back(it->Code);
            Impossible = unit.Codes.empty();
        }
        Units.push_back(std::move(unit));
    }
    if (Impossible) {
        Units.clear();
        return;
    }
    size_t fixed = 0;
    for (Unit &unit : Units) {
        unit.Length = CodeLength(unit.Codes.front());
        const bool even = std::all_of(unit.Codes.begin(), unit.Codes.end(),
                                      [&](uint16_t c) { return CodeLength(c) == unit.Length; });
        if (!even) break;
        Bytes += unit.Length;
        ++fixed;
    }
    if (fixed == 0) {
        EveryLine = true;
        return;
    }
    Units.resize(fixed);
    // The bytes each place of a run can hold, and how common they are.
    std::vector<Probe> places(static_cast<size_t>(Bytes));
    qsizetype at = 0;
    for (const Unit &unit : Units) {
        for (uint16_t c : unit.Codes) {
            if (unit.Length == 2) places[size_t(at)].Set[c >> 8] = true;
            places[size_t(at + unit.Length - 1)].Set[c & 0xFF] = true;
        }
        at += unit.Length;
    }
    std::vector<std::pair<int, qsizetype>> scores;
    for (qsizetype i = 0; i < Bytes; ++i) {
        Probe &place = places[size_t(i)];
        place.Offset = i;
        int score = 0;
        for (unsigned b = 0; b < 256; ++b) {
            if (!place.Set[b]) continue;
            place.Bytes.push_back(static_cast<unsigned char>(b));
            score += Commonness(static_cast<unsigned char>(b));
        }
        scores.push_back({score, i});
    }
    std::stable_sort(scores.begin(), scores.end());
    Rare[0] = places[size_t(scores[0].second)];
    Rare[1] = places[size_t(scores[scores.size() > 1 ? 1 : 0].second)];
}

bool BytePattern::Holds(const unsigned char *p, qsizetype at) const {
    for (const Unit &unit : Units) {
        const uint16_t code = unit.Length == 2 ? uint16_t(p[at] << 8 | p[at + 1]) : p[at];
        if (std::find(unit.Codes.begin(), unit.Codes.end(), code) == unit.Codes.end()) return false;
        at += unit.Length;
    }
    return true;
}

qsizetype BytePattern::FindIn(const unsigned char *p, qsizetype n, qsizetype from, qsizetype until) const {
    // A run starts at or before n - Bytes; `until` bounds where it starts.
    until = std::min(until, n - Bytes + 1);
    const Probe &a = Rare[0], &b = Rare[1];
    qsizetype i = from;
#if defined(__SSE2__)
    // Sixteen places at once: those where the two rare places of a run hold
    // bytes that the run can have there.
    if (a.Bytes.size() <= 8 && b.Bytes.size() <= 8) {
        __m128i av[8], bv[8];
        const size_t na = a.Bytes.size(), nb = b.Bytes.size();
        for (size_t k = 0; k < na; ++k) av[k] = _mm_set1_epi8(char(a.Bytes[k]));
        for (size_t k = 0; k < nb; ++k) bv[k] = _mm_set1_epi8(char(b.Bytes[k]));
        const qsizetype reach = std::max(a.Offset, b.Offset) + 16;
        for (; i + 16 <= until && i + reach <= n; i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + a.Offset));
            __m128i ax = _mm_cmpeq_epi8(x, av[0]);
            for (size_t k = 1; k < na; ++k) ax = _mm_or_si128(ax, _mm_cmpeq_epi8(x, av[k]));
            unsigned mask = unsigned(_mm_movemask_epi8(ax));
            if (!mask) continue;
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + b.Offset));
            __m128i by = _mm_cmpeq_epi8(y, bv[0]);
            for (size_t k = 1; k < nb; ++k) by = _mm_or_si128(by, _mm_cmpeq_epi8(y, bv[k]));
            mask &= unsigned(_mm_movemask_epi8(by));
            while (mask) {
                const qsizetype at = i + __builtin_ctz(mask);
                if (Holds(p, at)) return at;
                mask &= mask - 1;
            }
        }
    }
#endif
    for (; i < until; ++i)
        if (a.Set[p[i + a.Offset]] && b.Set[p[i + b.Offset]] && Holds(p, i)) return i;
    return -1;
}

bool BytePattern::ForEachLine(QByteArrayView bytes,
                              const std::function<bool(int line, qsizetype start, qsizetype end)> &line,
                              const std::atomic<bool> *stop) const {
    if (Impossible) return true;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    if (EveryLine) {
        int number = 1;
        for (qsizetype start = 0;; ++number) {
            if (stop && (number & 4095) == 0 && stop->load(std::memory_order_relaxed)) return false;
            qsizetype end = start;
            while (end < n && p[end] != '\n' && p[end] != '\r') ++end;
            if (!line(number, start, end)) return false;
            if (end == n) return true;
            start = end + (p[end] == '\r' && end + 1 < n && p[end + 1] == '\n' ? 2 : 1);
        }
    }
    const bool anywhere = Units.front().Escaped;  // an escaped byte may be the second of a pair
    qsizetype from = 0;     // where the scan goes on
    qsizetype floor = 0;    // a line starts here or later for every run still to come
    qsizetype counted = 0;  // the line ends before this are counted...
    int number = 1;         // ...and this is the line that starts there
    qsizetype known = 0;    // a character starts here
    while (from < n) {
        if (stop && stop->load(std::memory_order_relaxed)) return false;
        const qsizetype until = std::min(n, from + kStopEvery);
        const qsizetype at = FindIn(p, n, from, until);
        if (at < 0) {
            from = until;
            continue;
        }
        if (!anywhere && !StartsCharacter(bytes, at, known)) {
            from = at + 1;
            continue;
        }
        qsizetype start = at;
        while (start > floor && p[start - 1] != '\n' && p[start - 1] != '\r') --start;
        qsizetype end = at + Bytes;
        while (end < n && p[end] != '\n' && p[end] != '\r') ++end;
        number += int(CountLineEnds(bytes, counted, start));
        counted = start;
        if (!line(number, start, end)) return false;
        // A line end starts a character, and no run holds one.
        from = floor = known = end;
    }
    return !(stop && stop->load(std::memory_order_relaxed));
}

}  // namespace sjis
