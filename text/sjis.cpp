#include "sjis.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

#include <QStringDecoder>
#include <QStringEncoder>
#include <bitset>
#include <vector>

namespace sjis {
namespace {

constexpr const char *kCodec = "CP932";
constexpr int kLeads = 31 + 29;  // 81..9F and E0..FC

constexpr int LeadIndex(unsigned char b) { return b <= 0x9F ? b - 0x81 : b - 0xE0 + 31; }

constexpr char16_t Escape(unsigned char b) { return char16_t(0xDC00 + b); }

constexpr char16_t Katakana(unsigned char b) { return char16_t(0xFF61 + (b - 0xA1)); }

// The code page's tables, taken once from the system's converter. Only the
// double-byte codes and the usual code of each character with more than one
// code are asked of it; ASCII and half-width katakana are fixed.
struct Tables {
    char16_t Dec[kLeads][256] = {};  // the character of a double-byte code, 0 when none
    quint16 Enc[0x10000] = {};       // the usual code of a character, 0 when none
    std::bitset<0x10000> Multi;      // the characters with more than one code

    void build() {
        std::vector<unsigned char> count(0x10000, 0);
        for (unsigned b = 0xA1; b <= 0xDF; ++b) {
            Enc[Katakana(b)] = quint16(b);
            ++count[Katakana(b)];
        }
        // One code at a time: an invalid code comes out as one U+FFFD (no valid
        // code has that character), so the converter's sticky error flag is not needed.
        QStringDecoder dec(kCodec, QStringDecoder::Flag::Stateless);
        if (!dec.isValid()) return;  // no converter: every double-byte code stays escaped bytes
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (!IsLeadByte(lead)) continue;
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                if (!IsTrailByte(trail)) continue;
                const char pair[2] = {char(lead), char(trail)};
                QChar out[4];
                const QChar *end = dec.appendToBuffer(out, QByteArrayView(pair, 2));
                const char16_t u = out[0].unicode();
                if (end - out != 1 || u < 0x80 || u == 0xFFFD || QChar::isSurrogate(u)) continue;
                Dec[LeadIndex(lead)][trail] = u;
                if (count[u] < 255) ++count[u];
                if (!Enc[u]) Enc[u] = quint16(lead << 8 | trail);  // the lowest code until told otherwise
            }
        }
        // The usual code of a character with more than one is the one that the
        // converter writes for it.
        for (unsigned u = 0x80; u < 0x10000; ++u) {
            if (count[u] < 2) continue;
            Multi.set(u);
            QStringEncoder enc(kCodec, QStringEncoder::Flag::Stateless);
            const QChar ch{char16_t(u)};
            const QByteArray b = enc.encode(QStringView(&ch, 1));
            if (enc.hasError() || b.size() != 2) continue;
            const auto lead = static_cast<unsigned char>(b[0]), trail = static_cast<unsigned char>(b[1]);
            if (IsLeadByte(lead) && IsTrailByte(trail) && Dec[LeadIndex(lead)][trail] == u)
                Enc[u] = quint16(lead << 8 | trail);
        }
    }

    // The character of a double-byte code, 0 when none.
    char16_t charOf(quint16 code) const {
        const unsigned char lead = code >> 8, trail = code & 0xFF;
        return IsLeadByte(lead) && IsTrailByte(trail) ? Dec[LeadIndex(lead)][trail] : 0;
    }
};

const Tables &tables() {
    static Tables t;  // zero-filled before anything runs; filled once below
    static const bool built = (t.build(), true);
    (void)built;
    return t;
}

// A CR or LF at p[i], just decoded to out[k - 1]. Out of line: the decoding
// loop stays small.
[[gnu::noinline]] void NoteBreak(Breaks &breaks, const unsigned char *p, qsizetype i, qsizetype n, qsizetype k) {
    if (p[i] == '\n') {
        breaks.AfterLf.push_back(int(k));
        if (i == 0 || p[i - 1] != '\r') breaks.AllPairs = false;
    } else if (i + 1 >= n || p[i + 1] != '\n') {
        breaks.AllPairs = false;
        breaks.LoneCr = true;
    }
}

// Every valid code is its character. With a choice, a code that is not its
// character's chosen or usual code goes into others with its index.
template <bool WithBreaks = false>
QString decodeWith(QByteArrayView bytes, const CodeChoice *choice, OtherCodes *others = nullptr,
                   Breaks *breaks = nullptr) {
    const Tables &t = tables();
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    QString out(n, Qt::Uninitialized);
    auto *o = reinterpret_cast<char16_t *>(out.data());
    qsizetype k = 0;
    if (breaks) {
        breaks->AfterLf.clear();
        breaks->AllPairs = true;
        breaks->LoneCr = false;
    }
    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            o[k++] = b;
            // (No byte of a double-byte code is a CR or an LF.)
            if constexpr (WithBreaks)
                if (b <= '\r' && (b == '\n' || b == '\r')) NoteBreak(*breaks, p, i, n, k);
            ++i;
        } else if (b >= 0xA1 && b <= 0xDF) {
            o[k++] = Katakana(b);
            ++i;
        } else if (IsLeadByte(b) && i + 1 < n && IsTrailByte(p[i + 1])) {
            const unsigned char c = p[i + 1];
            const char16_t u = t.Dec[LeadIndex(b)][c];
            if (u != 0 && others && t.Multi[u]) {
                const quint16 code = quint16(b << 8 | c);
                const quint16 chosen = choice ? choice->code(u) : 0;
                if (!choice || code != (chosen ? chosen : t.Enc[u])) others->push_back({k, code});
            }
            if (u != 0) {
                o[k++] = u;
            } else {
                o[k++] = Escape(b);
                o[k++] = Escape(c);
            }
            i += 2;
        } else {
            o[k++] = Escape(b);
            ++i;
        }
    }
    out.truncate(k);
    return out;
}

}  // namespace

void CodeChoice::set(char16_t ch, quint16 code) {
    const Tables &t = tables();
    if (code == 0 || code == t.Enc[ch]) {
        Codes.remove(ch);
    } else if (t.charOf(code) == ch) {
        Codes.insert(ch, code);
    }
}

CodeChoice chooseCodes(QByteArrayView bytes) {
    const Tables &t = tables();
    QHash<quint32, qsizetype> uses;  // character << 16 | code -> how often
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        if (IsLeadByte(b) && i + 1 < n && IsTrailByte(p[i + 1])) {
            const unsigned char c = p[i + 1];
            const char16_t u = t.Dec[LeadIndex(b)][c];
            if (u && t.Multi[u]) ++uses[quint32(u) << 16 | quint32(b << 8 | c)];
            i += 2;
        } else {
            ++i;
        }
    }
    return chooseFromUses(uses);
}

CodeChoice chooseFromUses(const QHash<quint32, qsizetype> &uses) {
    const Tables &t = tables();
    struct Best {
        quint16 code = 0;
        qsizetype count = 0;
    };
    QHash<char16_t, Best> best;
    for (auto it = uses.cbegin(); it != uses.cend(); ++it) {
        const auto u = char16_t(it.key() >> 16);
        const auto code = quint16(it.key() & 0xFFFF);
        Best &b = best[u];
        const bool better = it.value() > b.count ||
                            (it.value() == b.count && b.code != t.Enc[u] && (code == t.Enc[u] || code < b.code));
        if (better) b = {code, it.value()};
    }
    CodeChoice choice;
    for (auto it = best.cbegin(); it != best.cend(); ++it) choice.set(it.key(), it.value().code);
    return choice;
}

QString decode(QByteArrayView bytes) { return decodeWith(bytes, nullptr); }

QString decodeEvery(QByteArrayView bytes, OtherCodes *multi, Breaks *breaks) {
    if (multi) multi->clear();
    return breaks ? decodeWith<true>(bytes, nullptr, multi, breaks) : decodeWith(bytes, nullptr, multi);
}

QString decode(QByteArrayView bytes, const CodeChoice &choice, OtherCodes *others) {
    if (others) others->clear();
    return decodeWith(bytes, &choice, others);
}

quint16 usualCode(char32_t ch) {
    if (ch < 0x80) return quint16(ch);
    if (ch > 0xFFFF || QChar::isSurrogate(ch)) return 0;
    return tables().Enc[ch];
}

namespace {

// Writes the bytes of text at o (room for two bytes a character) and returns
// how many it wrote; -1 - i where text[i] has no code. Sets escapes when an
// escaped byte went out. With breaks, each CR LF goes out as the next of them.
qsizetype EncodeInto(QStringView text, char *o, const CodeChoice *choice, const OtherCodes *others, bool &escapes,
                     const QByteArrayView *breaks = nullptr) {
    const CodeAt *other = others && !others->empty() ? others->data() : nullptr;
    const CodeAt *const otherEnd = other ? other + others->size() : nullptr;
    const Tables &t = tables();
    const qsizetype n = text.size();
    const QChar *p = text.data();
    qsizetype k = 0;
    for (qsizetype i = 0; i < n; ++i) {
#if defined(__SSE2__)
        // Sixteen characters at a time, up to the first that is not ASCII or
        // is a CR. The sixteen bytes are stored whole (o has room for two
        // bytes a character): those past that character are written over.
        const __m128i notAscii = _mm_set1_epi16(short(0xFF80)), cr = _mm_set1_epi16(0x000D), zero = _mm_setzero_si128();
        while (i + 16 <= n) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + 8));
            // 0xFFFF in each lane that is ASCII and no CR.
            const __m128i plainA = _mm_andnot_si128(_mm_cmpeq_epi16(a, cr), _mm_cmpeq_epi16(_mm_and_si128(a, notAscii), zero));
            const __m128i plainB = _mm_andnot_si128(_mm_cmpeq_epi16(b, cr), _mm_cmpeq_epi16(_mm_and_si128(b, notAscii), zero));
            const unsigned plain = unsigned(_mm_movemask_epi8(_mm_packs_epi16(plainA, plainB)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(o + k), _mm_packus_epi16(a, b));
            if (plain == 0xFFFF) {
                i += 16;
                k += 16;
                continue;
            }
            const int first = __builtin_ctz(~plain);
            i += first;
            k += first;
            break;
        }
#else
        // Four ASCII characters at a time, none of them a CR.
        for (; Q_BYTE_ORDER == Q_LITTLE_ENDIAN && i + 4 <= n; i += 4) {
            quint64 w;
            std::memcpy(&w, p + i, sizeof w);
            const quint64 cr = w ^ 0x000D000D000D000Dull;
            if ((w & 0xFF80FF80FF80FF80ull) || ((cr - 0x0001000100010001ull) & ~cr & 0x8000800080008000ull)) break;
            o[k] = char(w);
            o[k + 1] = char(w >> 16);
            o[k + 2] = char(w >> 32);
            o[k + 3] = char(w >> 48);
            k += 4;
        }
#endif
        if (i >= n) break;
        const char16_t u = p[i].unicode();
        if (u < 0x80) {
            if (u == u'\r' && breaks && i + 1 < n && p[i + 1].unicode() == u'\n') {
                for (char b : *breaks) o[k++] = b;
                ++breaks;
                ++i;
                continue;
            }
            o[k++] = char(u);
            continue;
        }
        if (isEscapedByte(QChar(u))) {
            o[k++] = char(u - 0xDC00);
            escapes = true;
            continue;
        }
        quint16 code = 0;
        if (!QChar::isSurrogate(u)) {
            while (other && other != otherEnd && other->Index < i) ++other;
            if (other && other != otherEnd && other->Index == i && t.charOf(other->Code) == u) code = other->Code;
            if (!code && choice) code = choice->code(u);
            if (!code) code = t.Enc[u];
        }
        if (!code) return -1 - i;
        if (code <= 0xFF) {
            o[k++] = char(code);
        } else {
            o[k++] = char(code >> 8);
            o[k++] = char(code & 0xFF);
        }
    }
    return k;
}

}  // namespace

bool encode(QStringView text, QByteArray &out, EncodeError *err, const CodeChoice *choice, const OtherCodes *others) {
    const qsizetype n = text.size();
    QByteArray result(n * 2, Qt::Uninitialized);
    bool escapes = false;
    const qsizetype k = EncodeInto(text, result.data(), choice, others, escapes);
    if (k < 0) {
        const qsizetype i = -1 - k;
        if (err) {
            const char16_t u = text[i].unicode();
            const bool pair = QChar::isHighSurrogate(u) && i + 1 < n && text[i + 1].isLowSurrogate();
            *err = {i, pair ? QChar::surrogateToUcs4(u, text[i + 1].unicode()) : char32_t(u), false};
        }
        return false;
    }
    result.truncate(k);
    // Characters always read back as themselves; escaped bytes only when the
    // bytes next to them do not pair up with them.
    if (escapes) {
        const QString back = decodeWith(result, nullptr);
        if (back != text) {
            // The first difference is the escaped byte or the character right
            // after it (an escaped lead byte and an ASCII byte became one code).
            qsizetype d = 0;
            while (d < n && d < back.size() && back[d] == text[d]) ++d;
            if (d >= n || (!isEscapedByte(text[d]) && d > 0)) d = qMax<qsizetype>(d - 1, 0);
            if (err) *err = {d, char32_t(text[d].unicode()), true};
            return false;
        }
    }
    out = std::move(result);
    return true;
}

bool encodeAppend(QStringView text, QByteArray &out, const CodeChoice *choice, const OtherCodes *others,
                  const QByteArrayView *breaks) {
    const qsizetype old = out.size();
    out.resize(old + 2 * text.size());
    bool escapes = false;
    const qsizetype k = EncodeInto(text, out.data() + old, choice, others, escapes, breaks);
    if (k < 0 || escapes) {
        out.truncate(old);
        return false;
    }
    out.truncate(old + k);
    return true;
}

QByteArray encodeLossy(QStringView text) {
    QByteArray out;
    EncodeError e;
    if (encode(text, out, &e)) return out;
    QString copy = text.toString();
    while (!encode(copy, out, &e)) {
        copy.replace(e.index, e.ch > 0xFFFF ? 2 : 1, QLatin1Char('?'));
    }
    return out;
}

QString describeChar(char32_t ch) {
    const QString code = QStringLiteral("U+") + QStringLiteral("%1").arg(uint(ch), 4, 16, QLatin1Char('0')).toUpper();
    char32_t one[1] = {ch};
    return QStringLiteral("%1 '%2'").arg(code, QString::fromUcs4(one, 1));
}

}  // namespace sjis
